#!/bin/sh
# Times kestrix's single-file path in the modern mode (Lanczos with
# shrink-on-load, true proportions) and in --classic against vipsthumbnail at
# its default threading and the bare libjpeg-turbo floor, on the folder that
# run.sh makes (8 JPEGs, 2 BMPs, 2 GIFs of 4000x3000), job: width 640.
# kestrix runs once per picture, -j N at a time (default: one per core), so
# its figures include a process start per picture.
#
#   bench/peers/modern.sh [KESTRIX]      default build/cli/kestrix
# Environment: COUNT, SIZE, RUNS, WORK as for run.sh; J (kestrix processes
# at a time, default the number of cores).
set -eu

HERE=$(cd "$(dirname "$0")" && pwd)
KESTRIX=$(realpath "${1:-$HERE/../../build/cli/kestrix}")
COUNT=${COUNT:-8}
SIZE=${SIZE:-4000x3000}
RUNS=${RUNS:-3}
WORK=${WORK:-/tmp/kestrix-peers}
J=${J:-$(nproc)}

mkdir -p "$WORK" && WORK=$(cd "$WORK" && pwd)
. "$HERE/../timing.sh"
bench_photos "$HERE/.."
FILES=$(cd "$PHOTOS" && ls *.jpg *.bmp *.gif)
OUT=$WORK/out
bench_before() { rm -rf "$OUT" && mkdir -p "$OUT"; }
# median TOOL COMMAND...: prints the median wall time of RUNS runs.
median() { bench_cell "$@" && echo "$WALL"; }
cd "$PHOTOS"

export KESTRIX OUT FILES J

modern=$(median kestrix sh -c "echo \"\$FILES\" | xargs -P \"\$J\" -I{} \"\$KESTRIX\" max-width {} \"\$OUT/{}.jpg\" --width 640")
classic=$(median classic sh -c "echo \"\$FILES\" | xargs -P \"\$J\" -I{} \"\$KESTRIX\" max-width {} \"\$OUT/{}.jpg\" --width 640 --classic")
vips=$(median vipsthumbnail vipsthumbnail --size 640x100000 -o "$OUT/%s.jpg[Q=90]" $FILES)
floor=$(median floor "$WORK/floor" -j "$J" --width 640 "$PHOTOS" "$OUT")
load=$(cut -d' ' -f1 /proc/loadavg)

echo "$(echo "$FILES" | wc -w) pictures of ${WIDTH}x$HEIGHT, width 640, median of $RUNS runs, load average $load"
awk -v m="$modern" -v c="$classic" -v v="$vips" -v f="$floor" -v j="$J" 'BEGIN {
    printf "| Tool | Seconds | Ratio |\n|---|---|---|\n"
    printf "| kestrix modern (-j %d single-file runs) | %.2f | |\n", j, m
    printf "| kestrix --classic (same) | %.2f | |\n", c
    printf "| vipsthumbnail (default threading) | %.2f | vips / modern %.2f |\n", v, v / m
    printf "| floor (full decode, -j %d) | %.2f | modern / floor %.2f; classic / floor %.2f |\n", j, f, m / f, c / f
}'
