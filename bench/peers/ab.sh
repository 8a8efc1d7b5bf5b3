#!/bin/sh
# Times two kestrix builds against each other on the peers' folder of
# everyday photos: both jobs (width 640; fit 1024x768), on one worker and on
# every core, runs interleaved so that a drift of the machine falls on both.
# Prints the medians and the new build's time over the old one's.
#
#   bench/peers/ab.sh OLD_KESTRIX NEW_KESTRIX
# Environment: COUNT (default 8), SIZE (default 4000x3000), RUNS (default 7),
# WORK (scratch folder, default /tmp/kestrix-peers), as bench/peers/run.sh.
set -eu

HERE=$(cd "$(dirname "$0")" && pwd)
[ $# -eq 2 ] || { echo "usage: ab.sh OLD_KESTRIX NEW_KESTRIX" >&2; exit 2; }
OLD=$(realpath "$1") NEW=$(realpath "$2")
COUNT=${COUNT:-8}
SIZE=${SIZE:-4000x3000}
RUNS=${RUNS:-7}
WORK=${WORK:-/tmp/kestrix-peers}
mkdir -p "$WORK" && WORK=$(cd "$WORK" && pwd)
. "$HERE/../timing.sh"
bench_photos "$HERE/.."

# once LABEL PROGRAM JOB WORKERS: one timed batch; appends "LABEL JOB WORKERS wall cpu".
once()
{
    rm -rf "$PHOTOS/Resized"
    /usr/bin/time -f "%e %U %S" -o "$WORK/time.txt" "$2" batch "$PHOTOS" "$3" -j "$4" >/dev/null
    read -r wall user system < "$WORK/time.txt"
    echo "$1 $3 $4 $wall $(echo "$user $system" | awk '{ print $1 + $2 }')" >> "$WORK/ab.txt"
}

: > "$WORK/ab.txt"
i=0
while [ $i -lt "$RUNS" ]; do
    for job in "--max-width=640" "--fit=1024x768"; do
        for workers in 1 "$(nproc)"; do
            # The order alternates from run to run.
            if [ $((i % 2)) -eq 0 ]; then
                once OLD "$OLD" "$job" "$workers"; once NEW "$NEW" "$job" "$workers"
            else
                once NEW "$NEW" "$job" "$workers"; once OLD "$OLD" "$job" "$workers"
            fi
        done
    done
    i=$((i + 1))
done
echo "$(find "$PHOTOS" -maxdepth 1 -type f | wc -l) pictures of ${WIDTH}x$HEIGHT, median of $RUNS interleaved runs"
echo "| job | workers | old s (cpu) | new s (cpu) | new / old |"
echo "|---|---|---|---|---|"
for job in "--max-width=640" "--fit=1024x768"; do
    for workers in 1 "$(nproc)"; do
        old=$(awk -v j="$job" -v w="$workers" '$1 == "OLD" && $2 == j && $3 == w { print $4 }' "$WORK/ab.txt" | bench_median)
        new=$(awk -v j="$job" -v w="$workers" '$1 == "NEW" && $2 == j && $3 == w { print $4 }' "$WORK/ab.txt" | bench_median)
        oldc=$(awk -v j="$job" -v w="$workers" '$1 == "OLD" && $2 == j && $3 == w { print $5 }' "$WORK/ab.txt" | bench_median)
        newc=$(awk -v j="$job" -v w="$workers" '$1 == "NEW" && $2 == j && $3 == w { print $5 }' "$WORK/ab.txt" | bench_median)
        echo "$job $workers $old $oldc $new $newc" |
            awk '{ printf "| %s | %s | %.2f (%.2f) | %.2f (%.2f) | %.3f |\n", $1, $2, $3, $4, $5, $6, $5 / $3 }'
    done
done
