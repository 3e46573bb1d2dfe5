#!/usr/bin/env bash
# Mode 0 against the peers in alternation (ab.py), on the 400 MB sparse corpus (4,000 files) and
# the dense one, with an earlier build of ours beside the current one when BEFORE names it:
#
#   BEFORE=/tmp/popuran-cli-before bench/mode0/ab.sh          sparse 9 rounds, dense 7
#   ROUNDS=5 bench/mode0/ab.sh sparse
#
# Environment: HARNESS (the peer harness folder), CORPUS (/tmp/bench-corpus-mode0-400, made on
# first use), WORK (/tmp/bench-ab-mode0), BUILD (a release build of popuran-cli, made here).
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
REPO=$(cd "$HERE/../.." && pwd)
HARNESS=${HARNESS:-$REPO/../shared/bench}
BUILD=${BUILD:-$REPO/build-bench}
export CORPUS=${CORPUS:-/tmp/bench-corpus-mode0-400}
export WORK=${WORK:-/tmp/bench-ab-mode0}

cmake -S "$REPO" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DPOPURAN_WINDOW=OFF \
    -DPOPURAN_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j2 --target popuran-cli >/dev/null
[ -d "$CORPUS/sparse" ] ||
    python3 "$HARNESS/make_corpus.py" --out "$CORPUS" --what sparse,dense --sparse-mb 400

args="--mode replace --subfolders --pattern '*.txt' --search needle --replace haystack --folder {dir}"
ours=("ours=$BUILD/src/popuran-cli $args")
if [ -n "${BEFORE:-}" ]; then
    ours=("before=$BEFORE $args" "${ours[@]}")
fi
if [ $# -eq 0 ]; then
    set -- sparse dense
fi
for workload in "$@"; do
    case $workload in
        sparse)
            python3 "$HERE/ab.py" sparse "${ROUNDS:-9}" "${ours[@]}" \
                "rg-sed=rg -uu -l0 -F -g '*.txt' -- needle {dir} | xargs -0r sed -i.BAK s/needle/haystack/g"
            ;;
        dense)
            python3 "$HERE/ab.py" dense "${ROUNDS:-7}" "${ours[@]}" \
                "find-sd=find {dir} -type f -name '*.txt' -print0 | xargs -0 sd -s -- needle haystack"
            ;;
    esac
done
