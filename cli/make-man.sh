#!/bin/sh
# Writes the kestrix manual page (or, with --completion SHELL, a shell's
# completion script), which the program makes from the same option tables
# as its --help:
#   make-man.sh KESTRIX OUTPUT [--man | --completion=SHELL]
set -eu
program=$1
output=$2
shift 2
[ $# -gt 0 ] || set -- --man
# A build with AddressSanitizer runs the program here too; its exit-time
# leak check has nothing to do with the page.
ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0
export ASAN_OPTIONS
"$program" help "$@" > "$output.new"
mv "$output.new" "$output"
