#!/bin/sh
# Times the memory-to-memory paths on one generated 12 MP JPEG (4032x3024),
# job: width 640, JPEG quality 90, modern mode:
#  - kestrix max-width - - 640 --format jpeg, standard input to standard
#    output, against vips thumbnail_source on the same stream (both read a
#    pipe and write a pipe);
#  - the Python module's thumbnail_bytes against its file call thumbnail
#    (bytes.py), in one process.
# Prints medians and ratios.
#
#   bench/streams/run.sh [BUILD]      BUILD: the build folder, default build
# Environment: RUNS (timed runs, default 15), WORK (scratch folder, default
# /tmp/kestrix-streams). vips comes from Debian's libvips-tools.
set -eu

HERE=$(cd "$(dirname "$0")" && pwd)
BUILD=$(realpath "${1:-$HERE/../../build}")
RUNS=${RUNS:-15}
WORK=${WORK:-/tmp/kestrix-streams}
mkdir -p "$WORK" && WORK=$(cd "$WORK" && pwd)
. "$HERE/../timing.sh"
bench_tools "$HERE/.."
if [ ! -f "$WORK/photo.jpg" ]; then
    rm -rf "$WORK/made" && mkdir -p "$WORK/made"
    "$WORK/make_folder" "$WORK/made" 1 4032 3024
    cp "$(ls "$WORK"/made/*.jpg | head -n 1)" "$WORK/photo.jpg"
fi
PHOTO=$WORK/photo.jpg

# timed COMMAND: the wall time and CPU time (user + system, the pipe's
# cat included) in seconds of one run of the shell command.
timed()
{
    /usr/bin/time -f "%e %U %S" -o "$WORK/time" sh -c "$1"
    awk '{ printf "%s %.2f\n", $1, $2 + $3 }' "$WORK/time"
}
# median COLUMN: the median of that column of the lines read.
median() { awk "{ print \$$1 }" | bench_median; }

K="cat '$PHOTO' | '$BUILD/cli/kestrix' max-width - - 640 --format jpeg --quality 90 > '$WORK/k.jpg'"
V="cat '$PHOTO' | vips thumbnail_source '[descriptor=0]' '.jpg[Q=90]' 640 > '$WORK/v.jpg'"
sh -c "$K" && sh -c "$V"  # warm the caches
# The two alternate, so that a change of load on the machine meets both alike.
: > "$WORK/k.times" && : > "$WORK/v.times"
for _ in $(seq "$RUNS"); do
    timed "$K" >> "$WORK/k.times"
    timed "$V" >> "$WORK/v.times"
done
k=$(median 1 < "$WORK/k.times") kc=$(median 2 < "$WORK/k.times")
v=$(median 1 < "$WORK/v.times") vc=$(median 2 < "$WORK/v.times")
echo "stdin to stdout, 4032x3024 JPEG to width 640, median of $RUNS:   wall     CPU"
echo "  kestrix max-width - -       $k s  $kc s"
echo "  vips thumbnail_source       $v s  $vc s"
echo "  kestrix / vips              $(echo "scale=2; $k / $v" | bc)     $(echo "scale=2; $kc / $vc" | bc)"
KESTRIX_LIBRARY="$BUILD/engine/component/libkestrix.so.1" PYTHONPATH="$HERE/../../python" \
    PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 "$HERE/bytes.py" "$PHOTO" "$WORK" "$RUNS"
