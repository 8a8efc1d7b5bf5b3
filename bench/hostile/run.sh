#!/bin/sh
# Small files that claim huge pictures: each must be written or refused
# within 10 s and 256 MB, with a reason when refused. Makes them (a blank
# 30000x20000 G4 TIFF page, an animated WebP on a 65535x10922 canvas, a PNG
# of 300 zTXt chunks inflating to 2.4 GB) and times `kestrix max-width` on
# each, with the default memory limit unless MEMORY_LIMIT is set.
#
#   bench/hostile/run.sh [KESTRIX]     default build/cli/kestrix
# Environment: WORK (scratch folder, default /tmp/kestrix-hostile).
set -eu

HERE=$(cd "$(dirname "$0")" && pwd)
KESTRIX=$(realpath "${1:-$HERE/../../build/cli/kestrix}")
WORK=${WORK:-/tmp/kestrix-hostile}
mkdir -p "$WORK"
[ -x /usr/bin/time ] || apt-get install -y -q time >/dev/null

RECIPE=$(md5sum < "$HERE/make_hostile.cpp")
if [ "$(cat "$WORK/recipe" 2>/dev/null)" != "$RECIPE" ]; then
    c++ -O2 -std=c++20 -o "$WORK/make_hostile" "$HERE/make_hostile.cpp" -ltiff -lwebpmux -lwebp -lz
    "$WORK/make_hostile" "$WORK"
    echo "$RECIPE" > "$WORK/recipe"
fi

LIMIT=${MEMORY_LIMIT:+--memory-limit $MEMORY_LIMIT}
printf '%-12s %8s %10s %10s  %s\n' file size seconds 'peak MB' outcome
for file in g4.tif canvas.webp ztxt.png; do
    rm -f "$WORK/out.jpg"
    # shellcheck disable=SC2086 # LIMIT is two words or none
    /usr/bin/time -f '%e %M' -o "$WORK/time" "$KESTRIX" max-width "$WORK/$file" "$WORK/out.jpg" 1024 \
        $LIMIT 2> "$WORK/stderr" && outcome=written || outcome="refused: $(tail -1 "$WORK/stderr")"
    read -r seconds kilobytes <<EOF
$(tail -1 "$WORK/time")
EOF
    printf '%-12s %7sK %10s %10s  %s\n' "$file" "$(( $(stat -c %s "$WORK/$file") / 1024 ))" "$seconds" \
        "$((kilobytes / 1024))" "$outcome"
done
