# Shared by the benchmark scripts (sourced, POSIX sh): timed runs with their
# medians, peers installed when missing, generated folders made again only
# when their recipe changed, and how many cores are really free.
# The script sets RUNS (timed runs per cell) and WORK (a scratch folder).

# bench_need PROGRAM PACKAGE...: installs the Debian packages when PROGRAM
# is missing (needs root).
bench_need()
{
    command -v "$1" >/dev/null 2>&1 && return 0
    shift
    apt-get install -y -q "$@" >/dev/null
}
bench_need /usr/bin/time time

# bench_median: the median of the numbers read, one a line.
bench_median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# bench_tools BENCH: compiles the picture maker and the floor of
# BENCH/peers (make_folder.cpp, floor.cpp) into $WORK when missing or older
# than their source.
bench_tools()
{
    for tool in make_folder floor; do
        [ -n "$(find "$WORK/$tool" -newer "$1/peers/$tool.cpp" 2>/dev/null)" ] ||
            c++ -O2 -std=c++20 -pthread -o "$WORK/$tool" "$1/peers/$tool.cpp" -lturbojpeg -lgif -lpng -lwebp
    done
}

# bench_photos BENCH: the peers' folder of everyday photos ($COUNT JPEGs of
# $SIZE, two BMPs and two GIFs) in $WORK/photos, made again when its recipe
# changed. Sets PHOTOS, WIDTH and HEIGHT.
bench_photos()
{
    WIDTH=${SIZE%x*} HEIGHT=${SIZE#*x}
    bench_tools "$1"
    PHOTOS=$WORK/photos
    bench_remake "$PHOTOS" "$COUNT $WIDTH $HEIGHT $(md5sum < "$1/peers/make_folder.cpp")" \
        "$WORK/make_folder" "$PHOTOS" "$COUNT" "$WIDTH" "$HEIGHT"
}

# bench_remake FOLDER RECIPE COMMAND...: empties FOLDER and runs COMMAND when
# RECIPE is not the one FOLDER was made with.
bench_remake()
{
    made=$1 recipe=$2
    shift 2
    [ "$(cat "$made.recipe" 2>/dev/null)" = "$recipe" ] && return 0
    rm -rf "$made" "$made.recipe" && mkdir -p "$made"
    "$@" || { echo "$0: cannot make $made" >&2; exit 1; }
    echo "$recipe" > "$made.recipe"
}

# bench_before: run untimed before every timed run; a script defines its
# own (to empty the output folder, say).
bench_before() { :; }

# bench_cell NAME COMMAND...: RUNS timed runs of COMMAND (stop on a
# failure). Sets WALL and CPU, the medians in seconds (CPU: user + system
# time of the command and every process it waited for), and PEAK, the
# largest resident size of one of those processes in MB.
bench_cell()
{
    name=$1
    shift
    : > "$WORK/cell.txt"
    PEAK=0 i=0
    while [ $i -lt "$RUNS" ]; do
        bench_before
        /usr/bin/time -f "%e %U %S %M" -o "$WORK/time.txt" "$@" >/dev/null 2>"$WORK/err.txt" ||
            { echo "$0: $name failed:" >&2; cat "$WORK/err.txt" >&2; exit 1; }
        read -r wall user system kilobytes < "$WORK/time.txt"
        echo "$wall $user $system" >> "$WORK/cell.txt"
        [ $((kilobytes / 1024)) -gt "$PEAK" ] && PEAK=$((kilobytes / 1024))
        i=$((i + 1))
    done
    WALL=$(awk '{ print $1 }' "$WORK/cell.txt" | bench_median)
    CPU=$(awk '{ printf "%.2f\n", $2 + $3 }' "$WORK/cell.txt" | bench_median)
}

# bench_free_cores: how many cores are really free, from a busy loop alone
# and then one per core at once. On a loaded machine parallel rows mean little.
bench_free_cores()
{
    spin() { awk 'BEGIN { for (i = 0; i < 3e7; i++) s += i }'; }
    now() { date +%s.%N; }
    cores=$(nproc)
    t0=$(now); spin; t1=$(now)
    i=0; while [ $i -lt "$cores" ]; do spin & i=$((i + 1)); done; wait; t2=$(now)
    echo "$t0 $t1 $t2 $cores" | awk '{ printf "%.1f\n", $4 * ($2 - $1) / ($3 - $2) }'
}
