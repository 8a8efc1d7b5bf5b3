#!/bin/sh
# Writes the kestrix manual page from the program's own help texts:
#   make-man.sh KESTRIX OUTPUT
# help2man turns `kestrix --help` into the page; every sub-command's --help
# follows as a section of its own, so the page never disagrees with the
# program.
set -eu
program=$1
output=$2
include=$(mktemp)
trap 'rm -f "$include"' EXIT
# A build with AddressSanitizer runs the program here too; its exit-time
# leak check has nothing to do with the page.
ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0
export ASAN_OPTIONS

{
    printf '[DESCRIPTION]\n'
    printf 'kestrix resizes, frames and labels pictures, one picture per run, or a whole folder or photo library with \\fBkestrix batch\\fR.\n'
    "$program" --help | sed -n '/^Subcommands:/,/^$/s/^  \([a-z-][a-z-]*\) .*/\1/p' | while read -r sub; do
        printf '[SUB-COMMAND %s]\n' "$(echo "$sub" | tr a-z A-Z)"
        printf '.nf\n'
        "$program" "$sub" --help | sed -e 's/\\/\\e/g' -e "s/^\\([.']\\)/\\\\\&\\1/"
        printf '.fi\n'
    done
    printf '[SEE ALSO]\nThe scale-out recipes (GNU parallel, Slurm, Kubernetes) in the deploy/ folder and docs/scale-out.md of the source tree.\n'
} > "$include"

help2man --no-info --section 1 --name 'resize, frame and label pictures; whole photo libraries at once' \
    --include "$include" --output "$output" "$program"
