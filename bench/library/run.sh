#!/usr/bin/env bash
# The aims of `kestrix batch` on a photo library, on this machine:
#   1. --recursive over a tree against the bare floor (decode, nearest-
#      neighbour shrink, encode: bench/peers/floor.cpp) over the same
#      pictures in one flat folder, both on all cores; and against kestrix on
#      that flat folder (what the tree itself costs). Peak memory for the
#      whole tree and for a quarter of it.
#   2. A second run with --skip-existing over the finished tree.
#   3. Two shards as two processes (one worker each) against one run with
#      two workers.
#
#   bench/library/run.sh build/cli/kestrix      COUNT=20000 FOLDERS=200 SIZE=800x600 RUNS=1
#
# The tree holds COUNT pictures in FOLDERS folders, hard links to DISTINCT
# (default 100) photo-like JPEGs, so it costs little disk while every picture
# is still decoded, resized and encoded. Outputs are 320 pixels wide.
set -euo pipefail
kestrix=$(realpath "${1:?usage: bench/library/run.sh path/to/kestrix}")
here=$(cd "$(dirname "$0")" && pwd)
COUNT=${COUNT:-20000} FOLDERS=${FOLDERS:-200} SIZE=${SIZE:-800x600} RUNS=${RUNS:-1} DISTINCT=${DISTINCT:-100}
work=${WORK:-/tmp/kestrix-library-bench}
mkdir -p "$work" && work=$(cd "$work" && pwd)
WORK=$work
. "$here/../timing.sh"
bench_tools "$here/.."

recipe="$COUNT $FOLDERS $SIZE $DISTINCT $(md5sum < "$here/../peers/make_folder.cpp")"
if [[ "$(cat "$work/recipe" 2>/dev/null)" != "$recipe" ]]; then
    rm -rf "$work/src" "$work/tree" "$work/flat" "$work/quarter"
    mkdir -p "$work/src"
    "$work/make_folder" "$work/src" "$DISTINCT" "${SIZE%x*}" "${SIZE#*x}" >/dev/null
    mapfile -t pictures < <(cd "$work/src" && ls *.jpg)
    mkdir -p "$work/flat"
    for ((f = 0; f < FOLDERS; f++)); do
        printf -v folder 'f%03d' "$f"
        mkdir -p "$work/tree/$folder" "$work/quarter/$folder"
    done
    # Hard links, made by one process (perl is part of every Debian system).
    perl -e '($work, $count, $folders, @pictures) = @ARGV;
        for $i (0 .. $count - 1) {
            $p = "$work/src/" . $pictures[$i % @pictures];
            $f = sprintf("f%03d", $i % $folders); $n = sprintf("p%06d.jpg", $i);
            link($p, "$work/tree/$f/$n") && link($p, "$work/flat/$n") or die "$n: $!";
            $i % 4 == 0 and (link($p, "$work/quarter/$f/$n") or die "$n: $!");
        }' "$work" "$COUNT" "$FOLDERS" "${pictures[@]}"
    echo "$recipe" > "$work/recipe"
fi

# seconds peak-kB of one command line, the median over RUNS; `before` runs
# first, untimed, each time.
measure() {
    local before=$1; shift
    local times=() peaks=()
    for ((r = 0; r < RUNS; r++)); do
        eval "$before"
        local start end
        start=$(date +%s.%N)
        /usr/bin/time -f %M -o "$work/peak" bash -c "$*" >/dev/null 2>&1 || echo "failed: $*" >&2
        end=$(date +%s.%N)
        times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')")
        peaks+=("$(cat "$work/peak")")
    done
    echo "$(printf '%s\n' "${times[@]}" | bench_median) $(printf '%s\n' "${peaks[@]}" | bench_median)"
}
clean='rm -rf "$work/out"; mkdir -p "$work/out"; sync'
k="'$kestrix' batch"

read -r floor floor_mem < <(measure "$clean" "'$work/floor' -j 2 --width 320 '$work/flat' '$work/out'")
read -r flat flat_mem < <(measure "$clean" "$k '$work/flat' --output '$work/out' --max-width 320 -j 2")
read -r quarter quarter_mem < <(measure "$clean" "$k '$work/quarter' --recursive --output '$work/out' --max-width 320 -j 2")
read -r tree tree_mem < <(measure "$clean" "$k '$work/tree' --recursive --output '$work/out' --max-width 320 -j 2")
# Over the tree the run above finished.
read -r again again_mem < <(measure "" "$k '$work/tree' --recursive --output '$work/out' --max-width 320 -j 2 --skip-existing")
read -r shards shards_mem < <(measure "$clean" "$k '$work/tree' --recursive --output '$work/out' --max-width 320 -j 1 --shard 0/2 & $k '$work/tree' --recursive --output '$work/out' --max-width 320 -j 1 --shard 1/2; wait")
rm -rf "$work/out"

printf '%s pictures of %s in %s folders; load average before: %s\n' "$COUNT" "$SIZE" "$FOLDERS" "$(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-44s %9s %10s\n' "run" "seconds" "peak kB"
printf '%-44s %9.2f %10s\n' "floor, flat folder, 2 threads" "$floor" "$floor_mem" \
    "kestrix batch, flat folder, -j 2" "$flat" "$flat_mem" \
    "kestrix batch --recursive, tree, -j 2" "$tree" "$tree_mem" \
    "kestrix batch --recursive, quarter tree, -j 2" "$quarter" "$quarter_mem" \
    "again with --skip-existing" "$again" "$again_mem" \
    "two shards, two processes, -j 1 each" "$shards" "$shards_mem"
awk -v f="$floor" -v fl="$flat" -v t="$tree" -v a="$again" -v s="$shards" -v n="$COUNT" 'BEGIN {
    printf "tree / floor %.2fx; tree / flat kestrix %.3fx; --skip-existing %.2f s per 10,000 pictures; two shards / one run %.3fx\n",
           t / f, t / fl, a * 10000 / n, s / t }'
echo "(peak kB of the shards line is the larger process)"
