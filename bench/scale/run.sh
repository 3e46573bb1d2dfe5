#!/usr/bin/env bash
# Time per file and peak memory of popuran-cli at 10,000, 100,000 and 1,000,000 files: mode 2
# (lower case) and mode 0 ("needle" in about 1 % of small files); MODES=loop times the bare
# rename loop (bench/rename_loop.c) on the same trees, to show the kernel's own share. Each run
# gets a freshly made tree (make_tree.py) on tmpfs; /usr/bin/time -v gives the cpu time (user +
# system) and the maximum resident set size. Prints one table row per size and mode: medians of
# REPEAT runs, the largest peak. On a shared machine the cpu time per file is the steadier figure.
#
#   bench/scale/run.sh                      everything (the 1,000,000-file trees need ~2 GB of /dev/shm)
#   SIZES="10000 100000" bench/scale/run.sh
#
# Environment: BUILD (<repo>/build-bench), CLI (a popuran-cli to use instead of building one),
# ROOT (/dev/shm/popuran-scale, removed afterwards), SIZES, MODES (lower replace; loop), REPEAT (3).
set -euo pipefail
export LC_ALL=C

REPO=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${BUILD:-$REPO/build-bench}
ROOT=${ROOT:-/dev/shm/popuran-scale}
SIZES=${SIZES:-10000 100000 1000000}
MODES=${MODES:-lower replace}
REPEAT=${REPEAT:-3}

. "$REPO/bench/build_cli.sh"
case $ROOT in /tmp/* | /dev/shm/*) ;; *) echo "ROOT must be under /tmp or /dev/shm" >&2; exit 2 ;; esac
rm -rf "$ROOT"
mkdir -p "$ROOT/state"
# The journal of every run goes to the tmpfs too, and away with it.
export XDG_STATE_HOME=$ROOT/state

echo "| files | mode | wall s | wall µs/file | cpu s | cpu µs/file | max RSS MB | runs | load |"
echo "|---:|---|---:|---:|---:|---:|---:|---:|---:|"
for n in $SIZES; do
    for mode in $MODES; do
        case $mode in
            lower) args=(--mode lower --pattern '*') ;;
            replace) args=(--mode replace --pattern '*.txt' --search needle --replace haystack) ;;
            loop) args=() ;;
            *) echo "unknown mode $mode" >&2; exit 2 ;;
        esac
        times=()
        cpus=()
        rss=0
        for _ in $(seq "$REPEAT"); do
            rm -rf "$ROOT/tree" "$ROOT/state/popuran"
            python3 "$REPO/bench/scale/make_tree.py" "$ROOT/tree" "$n"
            sync
            # time -v gives the wall time in hundredths only: the clock is read here.
            start=$(date +%s%N)
            if [ "$mode" = loop ]; then
                /usr/bin/time -v -o "$ROOT/time.txt" "$BUILD/rename_loop" lower "$ROOT/tree" >/dev/null
            else
                /usr/bin/time -v -o "$ROOT/time.txt" "$CLI" "${args[@]}" --subfolders \
                    --folder "$ROOT/tree" >/dev/null
            fi
            end=$(date +%s%N)
            t=$(awk -v a="$start" -v b="$end" 'BEGIN { print (b - a) / 1e9 }')
            r=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$ROOT/time.txt")
            c=$(awk -F': ' '/User time|System time/ { s += $2 } END { print s }' "$ROOT/time.txt")
            times+=("$t")
            cpus+=("$c")
            [ "$r" -gt "$rss" ] && rss=$r
        done
        median() { printf '%s\n' "$@" | sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
        awk -v n="$n" -v m="$mode" -v s="$(median "${times[@]}")" -v c="$(median "${cpus[@]}")" \
            -v r="$rss" -v k="$REPEAT" -v l="$(cut -d' ' -f1 /proc/loadavg)" \
            'BEGIN { printf "| %d | %s | %.2f | %.1f | %.2f | %.1f | %.0f | %d | %s |\n",
                     n, m, s, s * 1e6 / n, c, c * 1e6 / n, r / 1024, k, l }'
    done
done
rm -rf "$ROOT"
