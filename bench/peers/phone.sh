#!/bin/sh
# Times `kestrix batch` (modern mode) against vipsthumbnail on two everyday
# jobs, both to width 640, JPEG quality 90:
#  - a phone folder: PHONE photo-like 4032x3024 JPEGs as a phone stores them
#    (every fourth turned by EXIF orientation 6, every fourth by 8) and HEIC
#    pictures of the same kind (made by heif-enc);
#  - a tree of TREE pictures of 1 to 3 megapixels (JPEG, PNG, WebP) in
#    folders by year and month, read with -r.
# kestrix runs with -j 1 and -j J; vipsthumbnail (which takes many files in
# one process) as one process at its default threading, and as J processes
# (xargs -P J) over shares of the files. Prints medians of RUNS runs of wall
# and CPU time (user + system), the peak memory of the largest process, and
# each time over kestrix's at the same parallelism.
#
#   bench/peers/phone.sh [KESTRIX]      KESTRIX: default build/cli/kestrix
# Environment: PHONE (JPEGs, default 20), HEIC (default 20), TREE (default
# 500), RUNS (default 3), J (default the number of cores), WORK (scratch
# folder, default /tmp/kestrix-phone). vipsthumbnail (libvips-tools),
# heif-enc (libheif-examples) and GNU time are installed when missing.
set -eu

HERE=$(cd "$(dirname "$0")" && pwd)
KESTRIX=$(realpath "${1:-$HERE/../../build/cli/kestrix}")
PHONE=${PHONE:-20}
HEIC=${HEIC:-20}
TREE=${TREE:-500}
RUNS=${RUNS:-3}
J=${J:-$(nproc)}
WORK=${WORK:-/tmp/kestrix-phone}

[ -x "$KESTRIX" ] || { echo "phone.sh: no kestrix program at $KESTRIX" >&2; exit 1; }
mkdir -p "$WORK" && WORK=$(cd "$WORK" && pwd)
. "$HERE/../timing.sh"
bench_need vipsthumbnail libvips-tools
bench_need heif-enc libheif-examples
bench_tools "$HERE/.."
MADE_BY=$(md5sum < "$HERE/make_folder.cpp")

# The HEIC pictures are made from upright JPEGs (HEIF keeps a turn in its
# own boxes, not in EXIF), at the encoder's fastest preset.
make_phone()
{
    "$WORK/make_folder" --phone "$WORK/phone" "$PHONE" || return 1
    rm -rf "$WORK/heic-source" && mkdir -p "$WORK/heic-source"
    "$WORK/make_folder" --phone "$WORK/heic-source" "$HEIC" 1001 || return 1
    for jpeg in "$WORK"/heic-source/*.jpg; do
        name=$(basename "$jpeg" .jpg)
        heif-enc -q 80 -p preset=ultrafast -o "$WORK/phone/$name.heic" "$jpeg" >/dev/null || return 1
    done
    rm -rf "$WORK/heic-source"
}
bench_remake "$WORK/phone" "$PHONE $HEIC $MADE_BY" make_phone
bench_remake "$WORK/tree" "$TREE $MADE_BY" "$WORK/make_folder" --tree "$WORK/tree" "$TREE"

OUT=$WORK/out
RESULTS=$WORK/results.txt
: > "$RESULTS"
bench_before() { rm -rf "$OUT" && mkdir -p "$OUT"; }

# cell SET TOOL PARALLEL COMMAND...: times COMMAND, checks that it wrote a
# JPEG for every picture of SET, and appends a line to $RESULTS.
cell()
{
    set=$1 tool=$2 parallel=$3
    shift 3
    bench_cell "$tool on $set" "$@"
    written=$(find "$OUT" -name '*.jpg' | wc -l)
    [ "$written" -eq "$PICTURES" ] || { echo "phone.sh: $tool wrote $written of $PICTURES pictures" >&2; exit 1; }
    echo "$set $tool $parallel $WALL $CPU $PEAK" >> "$RESULTS"
    printf '  %-6s %-14s %-3s %7.2f s wall %7.2f s CPU %5d MB\n' "$set" "$tool" "$parallel" "$WALL" "$CPU" "$PEAK" >&2
}

FREE=$(bench_free_cores)
echo "phone: $PHONE JPEG + $HEIC HEIC of 4032x3024; tree: $TREE pictures of 1 to 3 MP;" \
     "width 640; median of $RUNS runs; about $FREE of $(nproc) cores free" >&2
for set in phone tree; do
    cd "$WORK/$set"
    find . -type f \( -name '*.jpg' -o -name '*.heic' -o -name '*.png' -o -name '*.webp' \) | sort > "$WORK/files"
    PICTURES=$(wc -l < "$WORK/files")
    share=$(((PICTURES + J - 1) / J))
    recursive=
    [ $set = tree ] && recursive=-r
    # $recursive is split into words on purpose. vipsthumbnail's names are
    # unique in both sets, so its flat output folder holds them all.
    cell $set kestrix 1 "$KESTRIX" batch . $recursive -o "$OUT" --max-width 640 -j 1
    cell $set kestrix "$J" "$KESTRIX" batch . $recursive -o "$OUT" --max-width 640 -j "$J"
    cell $set vipsthumbnail 1 xargs -d '\n' -a "$WORK/files" vipsthumbnail -s 640x -o "$OUT/%s.jpg[Q=90]"
    cell $set vipsthumbnail "$J" xargs -d '\n' -a "$WORK/files" -P "$J" -n "$share" \
        vipsthumbnail -s 640x -o "$OUT/%s.jpg[Q=90]"
done

echo
echo "load average $(cut -d' ' -f1-3 /proc/loadavg); ratios over kestrix at the same parallelism (above 1: kestrix is faster)"
awk '{ key = $1 " " $2 " " $3; w[key] = $4; c[key] = $5; m[key] = $6; order[++n] = key }
    END {
        printf "| Set | Tool | Processes or workers | Wall s | CPU s | Peak MB | Wall / kestrix | CPU / kestrix |\n"
        printf "|---|---|---|---|---|---|---|---|\n"
        for (i = 1; i <= n; i++) {
            split(order[i], f, " ")
            ref = f[1] " kestrix " f[3]
            printf "| %s | %s | %s | %.2f | %.2f | %d | %.2f | %.2f |\n", f[1], f[2], f[3], w[order[i]], c[order[i]],
                   m[order[i]], w[order[i]] / w[ref], c[order[i]] / c[ref]
        }
    }' "$RESULTS"
