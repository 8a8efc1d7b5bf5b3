#!/usr/bin/env bash
# The library's ABI against that of its first release (tests/data/abi, made
# with abidw): functions may be added, but no exported function may change
# or go, nor any type it uses.
#   abi_test.sh LIBRARY BASELINE HEADERS
set -euo pipefail
library=$1
baseline=$2
headers=$3
if ! command -v abidiff >/dev/null; then
  echo "abidiff not found (Debian package abigail-tools): the ABI is not checked"
  exit 77
fi
if ! readelf -S "$library" | grep -q '\.debug_info'; then
  echo "$library has no debug information (build type RelWithDebInfo or Debug): the ABI is not checked"
  exit 77
fi
status=0
abidiff --no-added-syms --fail-no-debug-info --exported-interfaces-only --headers-dir2 "$headers" \
  "$baseline" "$library" || status=$?
# abidiff's status is a bit field: 1 an error, 2 a usage error, 4 a change, 8 an incompatible one.
# Added functions alone leave it 0 with --no-added-syms.
exit $status
