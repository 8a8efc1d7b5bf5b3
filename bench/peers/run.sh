#!/bin/sh
# Times `kestrix batch` against ImageMagick (mogrify), GraphicsMagick
# (gm mogrify), vipsthumbnail and a bare libjpeg-turbo floor, all on the same
# generated folder, for two jobs (scale to width 640; fit within 1024x768),
# single-threaded and with every core. Prints medians, peak memory and ratios.
#
#   bench/peers/run.sh [KESTRIX]        KESTRIX: the kestrix program to time,
#                                        default build/cli/kestrix
# Environment: COUNT (JPEGs in the folder, default 8; two BMPs and two GIFs
# are added), SIZE (default 4000x3000), RUNS (timed runs per cell, default 3),
# WORK (scratch folder, default /tmp/kestrix-peers). The peers are installed
# from Debian when missing (needs root).
set -eu

HERE=$(cd "$(dirname "$0")" && pwd)
KESTRIX=$(realpath "${1:-$HERE/../../build/cli/kestrix}")
COUNT=${COUNT:-8}
SIZE=${SIZE:-4000x3000}
RUNS=${RUNS:-3}
WORK=${WORK:-/tmp/kestrix-peers}
CORES=$(nproc)

[ -x "$KESTRIX" ] || { echo "run.sh: no kestrix program at $KESTRIX" >&2; exit 1; }
mkdir -p "$WORK" && WORK=$(cd "$WORK" && pwd)
. "$HERE/../timing.sh"
bench_need mogrify imagemagick
bench_need gm graphicsmagick
bench_need vipsthumbnail libvips-tools
bench_photos "$HERE/.."

FILES=$(cd "$PHOTOS" && ls *.jpg *.bmp *.gif)
PICTURES=$(echo "$FILES" | wc -w)
OUT=$WORK/out
RESULTS=$WORK/results.txt
: > "$RESULTS"
bench_before() { rm -rf "$OUT" "$PHOTOS/Resized" && mkdir -p "$OUT"; }

# time_cell TOOL JOB THREADS COMMAND...: RUNS timed runs into an empty $OUT;
# appends "TOOL JOB THREADS median_seconds peak_megabytes" to $RESULTS.
time_cell()
{
    tool=$1 job=$2 threads=$3
    shift 3
    bench_cell "$tool" "$@"
    written=$(ls "$OUT" "$PHOTOS/Resized" 2>/dev/null | grep -c '\.jpg$' || true)
    [ "$written" -eq "$PICTURES" ] || { echo "run.sh: $tool wrote $written of $PICTURES pictures" >&2; exit 1; }
    echo "$tool $job $threads $WALL $PEAK" >> "$RESULTS"
    printf '  %-14s %-9s %-5s %7.2f s %7d MB\n' "$tool" "$job" "$threads" "$WALL" "$PEAK" >&2
}

cd "$PHOTOS"
FREE=$(bench_free_cores)

echo "Folder: $PICTURES pictures of ${WIDTH}x$HEIGHT ($COUNT JPEG, 2 BMP, 2 GIF) in $PHOTOS; $CORES cores;" \
     "median of $RUNS runs; about $FREE of $CORES cores free" >&2
for job in width640 fit1024; do
    if [ $job = width640 ]; then
        k="--max-width 640"; f="--width 640"; m="640x"; v="640x100000"
    else
        k="--fit 1024x768"; f="--fit 1024x768"; m="1024x768>"; v="1024x768>"
    fi
    for threads in 1 all; do
        if [ $threads = 1 ]; then
            j=1; limit="MAGICK_THREAD_LIMIT=1 OMP_NUM_THREADS=1 VIPS_CONCURRENCY=1"; gmlimit="-limit threads 1"
        else
            j=$CORES; limit=; gmlimit=
        fi
        # $k, $f, $limit and $gmlimit are split into words on purpose.
        time_cell kestrix $job $threads "$KESTRIX" batch "$PHOTOS" $k -j $j
        time_cell floor $job $threads "$WORK/floor" -j $j $f "$PHOTOS" "$OUT"
        time_cell mogrify $job $threads env $limit mogrify -path "$OUT" -resize "$m" -quality 90 -format jpg $FILES
        time_cell gm $job $threads env $limit gm mogrify $gmlimit -output-directory "$OUT" -resize "$m" \
            -quality 90 -format jpg $FILES
        time_cell vipsthumbnail $job $threads env $limit vipsthumbnail --size "$v" -o "$OUT/%s.jpg[Q=90]" $FILES
    done
done

# Ratios: each tool's time over kestrix's in the same cell (above 1: kestrix
# is faster), kestrix over the floor, and kestrix's speed-up from 1 to all cores.
echo
awk -v cores="$CORES" -v mp="$((WIDTH * HEIGHT))" '
    { t[$1 " " $2 " " $3] = $4; m[$1 " " $2 " " $3] = $5; if (!seen[$1]++) tools[++n] = $1 }
    END {
        printf "| Tool | Job | Threads | Median s | Peak MB | Time / kestrix |\n|---|---|---|---|---|---|\n"
        split("width640 fit1024", jobs, " ")
        split("1 all", threads, " ")
        for (a = 1; a <= 2; a++) for (b = 1; b <= 2; b++) for (i = 1; i <= n; i++) {
            key = tools[i] " " jobs[a] " " threads[b]
            ref = t["kestrix " jobs[a] " " threads[b]]
            printf "| %s | %s | %s | %.2f | %.0f | %.2f |\n", tools[i], jobs[a], threads[b] == "all" ? cores : 1,
                   t[key], m[key], (ref > 0 ? t[key] / ref : 0)
        }
        printf "\n"
        for (a = 1; a <= 2; a++) {
            j = jobs[a]
            printf "%s: kestrix 1 -> %d workers %.2fx; kestrix / floor %.2f (1 thread), %.2f (all); " \
                   "peak %.0f MB (bound: %d decoded pictures + 64 MB = %.0f MB)\n",
                   j, cores, t["kestrix " j " 1"] / t["kestrix " j " all"], t["kestrix " j " 1"] / t["floor " j " 1"],
                   t["kestrix " j " all"] / t["floor " j " all"], m["kestrix " j " all"], cores,
                   cores * mp * 3 / 1048576 + 64
        }
    }' "$RESULTS"
