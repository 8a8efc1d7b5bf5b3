#!/usr/bin/env bash
# Builds a plain C program against the installed library with pkg-config
# (two lines, as a user would) and runs it:
#   c_client_test.sh BUILD_DIR CLIENT_SOURCE [PREFIX]
# installs the build into a scratch prefix first; with PREFIX, uses the
# library already installed there (the packages' test unpacks them so).
set -euo pipefail
source "$(dirname "$0")/../../support/pictures.sh"
build_dir=$1
client_source=$2
prefix=${3:-}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

if [[ -z $prefix ]]; then
  prefix=$scratch/prefix
  cmake --install "$build_dir" --prefix "$prefix" >/dev/null
fi
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
cc -std=c99 -Wall -Wextra -Werror -o "$scratch/client" "$client_source" $(pkg-config --cflags --libs kestrix)

write_grey_bmp "$scratch/in.bmp"
output=$(LD_LIBRARY_PATH="$(pkg-config --variable=libdir kestrix)" "$scratch/client" "$scratch/in.bmp" "$scratch/out.jpg")
echo "$output"
[[ "$output" == "version $(pkg-config --modversion kestrix) result -1 code 0" ]]
[[ -s "$scratch/out.jpg" ]]
