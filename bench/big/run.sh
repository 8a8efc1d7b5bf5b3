#!/bin/sh
# Reduces one large photo-like picture, stored as JPEG, PNG, TIFF (LZW) and
# WebP, to width 1024 with `kestrix max-width` and with vipsthumbnail, side by
# side in one run. Prints the median time and the peak memory of each.
#
#   bench/big/run.sh [KESTRIX]      KESTRIX: default build/cli/kestrix
# Environment: SIZE (default 16000x12000), RUNS (default 3), WORK (scratch
# folder, default /tmp/kestrix-big). vipsthumbnail (libvips-tools) and GNU
# time (time) are installed from Debian when missing (needs root).
# Timing: bench/timing.sh.
set -eu

HERE=$(cd "$(dirname "$0")" && pwd)
KESTRIX=$(realpath "${1:-$HERE/../../build/cli/kestrix}")
SIZE=${SIZE:-16000x12000}
RUNS=${RUNS:-3}
WORK=${WORK:-/tmp/kestrix-big}
WIDTH=${SIZE%x*}
HEIGHT=${SIZE#*x}

[ -x "$KESTRIX" ] || { echo "run.sh: no kestrix program at $KESTRIX" >&2; exit 1; }
mkdir -p "$WORK" && WORK=$(cd "$WORK" && pwd)
. "$HERE/../timing.sh"
bench_need vipsthumbnail libvips-tools
make_big()
{
    c++ -O2 -std=c++20 -o "$WORK/make_big" "$HERE/make_big.cpp" -lturbojpeg -lpng -ltiff -lwebp &&
        "$WORK/make_big" "$WIDTH" "$HEIGHT" "$WORK/big/big"
}
bench_remake "$WORK/big" "$WIDTH $HEIGHT $(md5sum < "$HERE/make_big.cpp")" make_big
bench_before() { rm -f "$WORK"/out*; }

# cell TOOL FORMAT COMMAND...: RUNS timed runs; records median seconds and peak MB.
cell()
{
    tool=$1 format=$2
    shift 2
    bench_cell "$tool on $format" "$@"
    echo "$format $tool $WALL $PEAK" >> "$WORK/results.txt"
}

: > "$WORK/results.txt"
for format in jpg png tif webp; do
    in=$WORK/big/big.$format
    cell kestrix $format "$KESTRIX" max-width "$in" "$WORK/out-k.jpg" 1024
    cell vipsthumbnail $format vipsthumbnail "$in" -s 1024x -o "$WORK/out-v.jpg[Q=90]"
done
echo "Picture ${WIDTH}x$HEIGHT to width 1024, median of $RUNS runs" \
     "(JPEG $(du -m "$WORK/big/big.jpg" | cut -f1) MB, PNG $(du -m "$WORK/big/big.png" | cut -f1) MB," \
     "TIFF $(du -m "$WORK/big/big.tif" | cut -f1) MB, WebP $(du -m "$WORK/big/big.webp" | cut -f1) MB)"
awk '{ t[$1 " " $2] = $3; m[$1 " " $2] = $4; if (!seen[$1]++) f[++n] = $1 }
    END {
        printf "| input | kestrix | vipsthumbnail | time vips / kestrix |\n|---|---|---|---|\n"
        for (i = 1; i <= n; i++) {
            k = f[i] " kestrix"; v = f[i] " vipsthumbnail"
            printf "| %s | %.2f s, %d MB | %.2f s, %d MB | %.2f |\n", f[i], t[k], m[k], t[v], m[v], t[v] / t[k]
        }
    }' "$WORK/results.txt"
