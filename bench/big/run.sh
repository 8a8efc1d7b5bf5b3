#!/bin/sh
# Reduces one large photo-like picture, stored as JPEG, PNG, TIFF (LZW) and
# WebP, to width 1024 with `kestrix max-width` and with vipsthumbnail, side by
# side in one run. Prints the median time and the peak memory of each.
#
#   bench/big/run.sh [KESTRIX]      KESTRIX: default build/cli/kestrix
# Environment: SIZE (default 16000x12000), RUNS (default 3), WORK (scratch
# folder, default /tmp/kestrix-big). vipsthumbnail (libvips-tools) and GNU
# time (time) are installed from Debian when missing (needs root).
set -eu

HERE=$(cd "$(dirname "$0")" && pwd)
KESTRIX=$(realpath "${1:-$HERE/../../build/cli/kestrix}")
SIZE=${SIZE:-16000x12000}
RUNS=${RUNS:-3}
WORK=${WORK:-/tmp/kestrix-big}
WIDTH=${SIZE%x*}
HEIGHT=${SIZE#*x}

[ -x "$KESTRIX" ] || { echo "run.sh: no kestrix program at $KESTRIX" >&2; exit 1; }
command -v vipsthumbnail >/dev/null || apt-get install -y -q libvips-tools >/dev/null
[ -x /usr/bin/time ] || apt-get install -y -q time >/dev/null

mkdir -p "$WORK"
RECIPE="$WIDTH $HEIGHT $(md5sum < "$HERE/make_big.cpp")"
if [ "$(cat "$WORK/recipe" 2>/dev/null)" != "$RECIPE" ]; then
    c++ -O2 -std=c++20 -o "$WORK/make_big" "$HERE/make_big.cpp" -lturbojpeg -lpng -ltiff -lwebp
    "$WORK/make_big" "$WIDTH" "$HEIGHT" "$WORK/big"
    echo "$RECIPE" > "$WORK/recipe"
fi

# cell TOOL FORMAT COMMAND...: RUNS timed runs; prints median seconds and peak MB.
cell()
{
    tool=$1 format=$2
    shift 2
    times= peak=0 i=0
    while [ $i -lt "$RUNS" ]; do
        rm -f "$WORK"/out*
        /usr/bin/time -f "%e %M" -o "$WORK/time.txt" "$@" >/dev/null 2>"$WORK/err.txt" ||
            { echo "run.sh: $tool failed on $format:" >&2; cat "$WORK/err.txt" >&2; exit 1; }
        read -r seconds kilobytes < "$WORK/time.txt"
        times="$times $seconds"
        [ "$kilobytes" -gt "$peak" ] && peak=$kilobytes
        i=$((i + 1))
    done
    median=$(echo $times | tr ' ' '\n' | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
    echo "$format $tool $median $((peak / 1024))" >> "$WORK/results.txt"
}

: > "$WORK/results.txt"
for format in jpg png tif webp; do
    in=$WORK/big.$format
    cell kestrix $format "$KESTRIX" max-width "$in" "$WORK/out-k.jpg" 1024
    cell vipsthumbnail $format vipsthumbnail "$in" -s 1024x -o "$WORK/out-v.jpg[Q=90]"
done
echo "Picture ${WIDTH}x$HEIGHT to width 1024, median of $RUNS runs" \
     "(JPEG $(du -m "$WORK/big.jpg" | cut -f1) MB, PNG $(du -m "$WORK/big.png" | cut -f1) MB," \
     "TIFF $(du -m "$WORK/big.tif" | cut -f1) MB, WebP $(du -m "$WORK/big.webp" | cut -f1) MB)"
awk '{ t[$1 " " $2] = $3; m[$1 " " $2] = $4; if (!seen[$1]++) f[++n] = $1 }
    END {
        printf "| input | kestrix | vipsthumbnail | time vips / kestrix |\n|---|---|---|---|\n"
        for (i = 1; i <= n; i++) {
            k = f[i] " kestrix"; v = f[i] " vipsthumbnail"
            printf "| %s | %.2f s, %d MB | %.2f s, %d MB | %.2f |\n", f[i], t[k], m[k], t[v], m[v], t[v] / t[k]
        }
    }' "$WORK/results.txt"
