#!/usr/bin/env bash
# Renaming benchmarks side by side: popuran-cli in modes 1 to 3 against mmv, perl rename and
# file(1), on the names and types corpora of the shared harness, plus a bare C rename loop as
# the limit of mode 2/3. Ratios matter, not absolute times.
#
#   bench/modes13/run.sh                 build, make corpora if missing, run everything
#   STEPS="names" bench/modes13/run.sh   one part: names, names-full, loop, types
#
# The names corpus is 90 % empty files, which popuran leaves alone by design (an empty file is
# never renamed), so "names-full" repeats the names workload on a copy where every file holds
# at least one byte: only there do all tools do the same renames.
#
# Environment: HARNESS (../shared/bench beside the checkout), CORPUS (/tmp/m13-corpus), FULL (/tmp/m13-corpus-full),
# WORK (/tmp/m13-work), RESULTS (/tmp/m13-results/DATE), BUILD (<repo>/build-bench), CLI (a
# popuran-cli to use instead of building one), and the
# knobs of the harness's run_peers.sh (RUNS, NAMES_RUNS, WAIT_QUIET, ...).
set -euo pipefail
export LC_ALL=C

REPO=$(cd "$(dirname "$0")/../.." && pwd)
HARNESS=${HARNESS:-$REPO/../shared/bench}
CORPUS=${CORPUS:-/tmp/m13-corpus}
FULL=${FULL:-/tmp/m13-corpus-full}
WORK=${WORK:-/tmp/m13-work}
RESULTS=${RESULTS:-/tmp/m13-results/$(date +%Y%m%d-%H%M%S)}
BUILD=${BUILD:-$REPO/build-bench}
STEPS=${STEPS:-names names-full loop types}
NAMES_RUNS=${NAMES_RUNS:-3}
mkdir -p "$RESULTS"

. "$REPO/bench/build_cli.sh"

[ -f "$CORPUS/manifest.json" ] ||
    python3 "$HARNESS/make_corpus.py" --out "$CORPUS" --what names,types
if [ ! -d "$FULL/names" ]; then
    mkdir -p "$FULL"
    cp -a "$CORPUS/names" "$FULL/names"
    cp "$CORPUS/manifest.json" "$FULL/"
    find "$FULL/names" -type f -empty -exec sh -c 'for f; do printf x > "$f"; done' sh {} +
fi

OURS=(
    OURS_LOWER="$CLI --mode lower --subfolders --pattern '*' --folder {dir}"
    OURS_UPPER="$CLI --mode upper --subfolders --pattern '*' --folder {dir}"
    OURS_EXT="$CLI --mode ext --subfolders --pattern '*' --search htm --replace html --folder {dir}"
    OURS_SNIFF="$CLI --mode ext --subfolders --pattern '*' --search '*' --replace '*' --folder {dir}"
)

for step in $STEPS; do
    case $step in
        names | types)
            env "${OURS[@]}" CORPUS="$CORPUS" WORK="$WORK" RESULTS="$RESULTS/$step" \
                NAMES_RUNS="$NAMES_RUNS" "$HARNESS/run_peers.sh" "$step" || true
            ;;
        names-full)
            env "${OURS[@]}" CORPUS="$FULL" WORK="$WORK" RESULTS="$RESULTS/$step" \
                NAMES_RUNS="$NAMES_RUNS" "$HARNESS/run_peers.sh" names || true
            ;;
        loop)
            # The bare loop, with the same restore before every run as the names peers.
            for corpus in "$CORPUS" "$FULL"; do
                w=$WORK/loop-names
                rm -rf "$w" && cp -a "$corpus/names" "$w" && sync
                prep="python3 $HARNESS/ref_rename.py restore $w $corpus/names && sync"
                hyperfine --runs "$NAMES_RUNS" --warmup 1 --style basic --prepare "$prep" \
                    --export-json "$RESULTS/loop-$(basename "$corpus").json" \
                    --command-name "rename_loop lower ($(basename "$corpus"))" \
                    "$BUILD/rename_loop lower $w" \
                    --command-name "popuran-cli lower ($(basename "$corpus"))" \
                    "$CLI --mode lower --subfolders --pattern '*' --folder $w"
                rm -rf "$w"
            done
            ;;
        *) echo "unknown step $step" >&2 ;;
    esac
done
python3 "$REPO/bench/modes13/ratios.py" "$RESULTS"
