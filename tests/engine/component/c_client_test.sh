#!/usr/bin/env bash
# Installs the library into a scratch prefix, builds a plain C program
# against it with pkg-config (two lines, as a user would), and runs it.
set -euo pipefail
build_dir=$1
client_source=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

cmake --install "$build_dir" --prefix "$scratch/prefix" >/dev/null
export PKG_CONFIG_PATH="$scratch/prefix/lib/pkgconfig"
cc -std=c99 -Wall -Wextra -Werror -o "$scratch/client" "$client_source" $(pkg-config --cflags --libs kestrix)

# A small BMP (8 x 2, 24 bits) to resize.
printf 'BM\x66\x00\x00\x00\x00\x00\x00\x00\x36\x00\x00\x00\x28\x00\x00\x00\x08\x00\x00\x00\x02\x00\x00\x00\x01\x00\x18\x00\x00\x00\x00\x00\x30\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00' >"$scratch/in.bmp"
head -c 48 /dev/zero | tr '\0' '\200' >>"$scratch/in.bmp"

output=$(LD_LIBRARY_PATH="$scratch/prefix/lib" "$scratch/client" "$scratch/in.bmp" "$scratch/out.jpg")
echo "$output"
[[ "$output" == "version 1.0.0 result -1 code 0" ]]
[[ -s "$scratch/out.jpg" ]]
