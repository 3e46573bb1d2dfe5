#!/usr/bin/env bash
# What journalling costs, and how fast an undo is: the release build of this checkout against
# the release build of BEFORE (default: the last commit without the journal), run in
# alternation on the sparse, dense and filled-names corpora of the shared harness; then a
# 100,000-file lower-case run and its undo.
#   bench/journal/run.sh [rounds]        (default 7)
# Environment: BEFORE (a commit), HARNESS (../shared/bench beside the checkout), CORPUS
# (/tmp/bench-corpus-journal), BUILDS (/tmp/bench-journal-builds).
set -euo pipefail
REPO=$(cd "$(dirname "$0")/../.." && pwd)
HARNESS=${HARNESS:-$REPO/../shared/bench}
CORPUS=${CORPUS:-/tmp/bench-corpus-journal}
BUILDS=${BUILDS:-/tmp/bench-journal-builds}
ROUNDS=${1:-7}
BEFORE=${BEFORE:-$(git -C "$REPO" log --format=%H -1 --diff-filter=A -- src/folder/services/journal.cpp)^}

build() {  # build NAME COMMIT
    local src=$BUILDS/$1-src
    rm -rf "$src"
    mkdir -p "$src"
    git -C "$REPO" archive "$2" | tar -x -C "$src"
    cmake -S "$src" -B "$BUILDS/$1" -DCMAKE_BUILD_TYPE=Release -DPOPURAN_TESTS=OFF \
        -DPOPURAN_WINDOW=OFF >/dev/null
    cmake --build "$BUILDS/$1" -j "$(nproc)" --target popuran-cli >/dev/null
}
build before "$BEFORE"
build after HEAD
before=$BUILDS/before/src/popuran-cli
after=$BUILDS/after/src/popuran-cli

for what in sparse dense; do
    [ -d "$CORPUS/$what" ] || python3 "$HARNESS/make_corpus.py" --out "$CORPUS" --what "$what" >/dev/null
done
[ -d "$CORPUS/names" ] || python3 "$HARNESS/make_corpus.py" --out "$CORPUS" --what names \
    --names-filled >/dev/null

export XDG_STATE_HOME=/tmp/bench-journal-state
export CORPUS WORK=/tmp/bench-ab-journal
replace="--mode replace --subfolders --pattern '*.txt' --search needle --replace haystack --folder {dir}"
for what in sparse dense; do
    python3 "$REPO/bench/mode0/ab.py" "$what" "$ROUNDS" "before=$before $replace" "after=$after $replace"
done
lower="--mode lower --subfolders --pattern '*' --folder {dir}"
python3 "$REPO/bench/mode0/ab.py" names "$ROUNDS" "before=$before $lower" "after=$after $lower"

# Undo of a whole 100,000-file lower-case run, against the run itself.
work=/tmp/bench-undo-names
rm -rf "$work" "$XDG_STATE_HOME"
cp -a "$CORPUS/names" "$work"
sync
run_s=$( { /usr/bin/time -f %e "$after" --mode lower --subfolders --pattern '*' --folder "$work" \
    >/dev/null; } 2>&1 | tail -1)
undo_s=$( { /usr/bin/time -f %e "$after" --undo >/dev/null; } 2>&1 | tail -1)
echo "| 100,000-file lower-case run | ${run_s} s | its undo | ${undo_s} s |"
rm -rf "$work" "$XDG_STATE_HOME" "$BUILDS"
