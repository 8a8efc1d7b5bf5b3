#!/usr/bin/env bash
# The Debian packages, made from the build folder as scripts/package makes
# them: lintian finds no error in them, and unpacked into a scratch root
# they work from there (the tool, its completions, a C program through
# pkg-config, the Python module):
#   packages_test.sh BUILD_DIR VERSION C_CLIENT_TEST C_CLIENT_SOURCE
# Skipped (77) where dpkg-deb, dpkg-shlibdeps or lintian is missing.
set -euo pipefail
source "$(dirname "$0")/../support/pictures.sh"
build_dir=$1
version=$2
client_test=$3
client_source=$4
for tool in dpkg-deb dpkg-shlibdeps lintian cpack; do
  if ! command -v $tool >/dev/null; then
    echo "SKIPPED: $tool is not installed (scripts/install-deps installs it)"
    exit 77
  fi
done
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$scratch/debs" >"$scratch/cpack.log" ||
  { cat "$scratch/cpack.log"; exit 1; }
architecture=$(dpkg --print-architecture)
expected=(libkestrix1 libkestrix-dev kestrix)
[[ ! -d $build_dir/frontend ]] || expected+=(folvane)
for package in "${expected[@]}"; do
  file="$scratch/debs/${package}_${version}-1_$architecture.deb"
  [[ -f $file ]] || { echo "missing: $file"; ls "$scratch/debs"; exit 1; }
done
debs=("$scratch"/debs/*.deb)
for deb in "${debs[@]}"; do
  echo "== $(basename "$deb")"
  dpkg-deb -f "$deb" Package Version Depends
done
# kestrix and folvane take exactly this build's library.
dpkg-deb -f "$scratch/debs/kestrix_${version}-1_$architecture.deb" Depends | grep -q "libkestrix1 (= $version-1)"

echo "== lintian"
lintian --fail-on error --suppress-tags-from-file /dev/null "${debs[@]}" | tee "$scratch/lintian.log"
echo "lintian: $(grep -c '^E:' "$scratch/lintian.log" || true) errors," \
  "$(grep -c '^W:' "$scratch/lintian.log" || true) warnings"

root=$scratch/root
for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$root"; done
export LD_LIBRARY_PATH=$root/usr/lib
kestrix=$root/usr/bin/kestrix
"$kestrix" --version | grep -q "^kestrix $version"
write_grey_bmp "$scratch/in.bmp"
"$kestrix" resize "$scratch/in.bmp" "$scratch/out.png" 4x1
# The PNG's header: 4 wide, 1 high.
[[ $(od -An -tx1 -j16 -N8 "$scratch/out.png" | tr -d ' \n') == 0000000400000001 ]]

echo "== the C client through pkg-config"
"$client_test" "" "$client_source" "$root/usr"

echo "== manual page and completions"
"$(dirname "$0")/../cli/completion_test.sh" "$root/usr/share/bash-completion/completions/kestrix" \
  "$root/usr/share/zsh/vendor-completions/_kestrix" "$root/usr/share/fish/vendor_completions.d/kestrix.fish"
[[ -f $root/usr/share/man/man1/kestrix.1.gz ]]

if [[ -d $root/usr/lib/python3/dist-packages/kestrix ]]; then
  echo "== python3 -c 'import kestrix'"
  PYTHONPATH=$root/usr/lib/python3/dist-packages python3 -c 'import kestrix'
fi
echo "packages: ${#debs[@]} made, unpacked and run"
