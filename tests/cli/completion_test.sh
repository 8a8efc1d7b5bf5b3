#!/usr/bin/env bash
# kestrix's shell completions, as written from its option tables: sub-command
# names, option names, and the words an option's value may be (formats,
# places, colours) complete in bash and fish; zsh reads its script.
#   completion_test.sh BASH_SCRIPT ZSH_SCRIPT FISH_SCRIPT
# zsh and fish are checked where they are installed.
set -euo pipefail
bash_completion=$1
zsh_completion=$2
fish_completion=$3

complete_words() {
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMPREPLY=()
  _kestrix
  echo "${COMPREPLY[*]}"
}
source "$bash_completion"
[[ $(complete_words kestrix fi) == "fit fill" ]]
[[ $(complete_words kestrix --ver) == "--version" ]]
[[ $(complete_words kestrix fit in.jpg out.jpg --forma) == "--format" ]]
[[ $(complete_words kestrix fit in.jpg out.jpg --format w) == "webp" ]]
[[ $(complete_words kestrix text-at in.jpg out.jpg hi --at bottom-r) == "bottom-right" ]]
[[ $(complete_words kestrix border a.jpg b.jpg --colour pu) == "purple" ]]
[[ $(complete_words kestrix max-width a.jpg b.jpg --filter e) == "exact" ]]
[[ $(complete_words kestrix batch photos --rec) == "--recursive" ]]
[[ $(complete_words kestrix help ba) == "batch" ]]
# A free value (a number) is not completed with file names.
[[ -z $(complete_words kestrix fit a.jpg b.jpg --quality /) ]]
echo "bash: completes"

if command -v zsh >/dev/null; then
  zsh -n "$zsh_completion"
  echo "zsh: reads its script"
fi
if command -v fish >/dev/null; then
  fish_words() { fish -c "source $fish_completion; complete -C '$*'" | cut -f1 | tr '\n' ' '; }
  [[ $(fish_words kestrix fi) == "fill fit " ]]
  [[ $(fish_words kestrix fit a.jpg b.jpg --format w) == "webp " ]]
  [[ $(fish_words kestrix text-at a.jpg b.jpg hi --at bottom-r) == "bottom-right " ]]
  [[ $(fish_words kestrix batch photos --rec) == "--recursive " ]]
  echo "fish: completes"
fi
