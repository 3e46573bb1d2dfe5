#!/usr/bin/env bash
# Mode 0 (string replacement) timed side by side with the ordinary tools, on the shared
# benchmark corpora, through the peer harness (hyperfine; every result verified).
#
#   bench/mode0/run.sh                 sparse and dense: ours, rg | sed, sd, rg | sd
#   bench/mode0/run.sh sparse          one workload
#   ONLY="ours find-sed" bench/mode0/run.sh dense
#
# Environment: HARNESS (the peer harness folder with run_peers.sh and make_corpus.py),
# CORPUS (/tmp/bench-corpus-mode0, made on first use), BUILD (a release build of popuran-cli),
# and everything run_peers.sh reads (RUNS, WARMUP, WAIT_QUIET, ...).
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
REPO=$(cd "$HERE/../.." && pwd)
HARNESS=${HARNESS:-$REPO/../shared/bench}
BUILD=${BUILD:-$REPO/build-bench}
export CORPUS=${CORPUS:-/tmp/bench-corpus-mode0}
export WORK=${WORK:-/tmp/bench-work-mode0}

cmake -S "$REPO" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DPOPURAN_WINDOW=OFF \
    -DPOPURAN_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j2 --target popuran-cli >/dev/null
[ -d "$CORPUS/sparse" ] || python3 "$HARNESS/make_corpus.py" --out "$CORPUS" --what sparse,dense

export OURS_REPLACE="$BUILD/src/popuran-cli --mode replace --subfolders --pattern {glob} --search {word} --replace {repl} --folder {dir}"
export ONLY=${ONLY:-ours rg-sed find-sd rg-sd}
if [ $# -eq 0 ]; then
    set -- sparse dense
fi
exec "$HARNESS/run_peers.sh" "$@"
