#!/usr/bin/env bash
# The encoding benchmarks: accuracy against nkf and uchardet, mode 0 on the whole set, and the
# detector's speed. Needs the Debian packages manpages-ja, nkf and uchardet:
#   sudo apt-get install manpages-ja nkf uchardet
#   bench/encodings/run.sh [OUT]        (OUT default /tmp/popuran-encodings)
set -euo pipefail
cd "$(dirname "$0")/../.."
out=${1:-/tmp/popuran-encodings}
here=bench/encodings

cmake -S bench -B build-bench -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j2 --target detect_bench >/dev/null
cmake -S . -B build-rel -DCMAKE_BUILD_TYPE=Release -DPOPURAN_TESTS=OFF -DPOPURAN_WINDOW=OFF \
    >/dev/null
cmake --build build-rel -j2 --target popuran-cli >/dev/null

rm -rf "$out" && mkdir -p "$out"
python3 $here/make_set.py "$out/set"
paths=$(cut -f1 "$out/set/manifest.tsv" | sed "s|^|$out/set/|")
# shellcheck disable=SC2086
build-bench/detect_bench $paths >"$out/ours.tsv"
# shellcheck disable=SC2086
build-bench/detect_bench --icu $paths >"$out/icu.tsv"
for f in $paths; do printf '%s\t%s\n' "$f" "$(nkf --guess "$f" | head -1)"; done >"$out/nkf.tsv"
for f in $paths; do printf '%s\t%s\n' "$f" "$(uchardet "$f" | head -1)"; done >"$out/uchardet.tsv"
python3 $here/accuracy.py "$out/set/manifest.tsv" "$out/ours.tsv" "$out/nkf.tsv" \
    "$out/uchardet.tsv" "$out/icu.tsv"
python3 $here/replace_check.py "$out/set" build-rel/src/popuran-cli "$out/check"

# Speed: every whole page of one encoding, ten times over, held in memory.
for enc in utf-8 euc-jp utf-16le cp932; do
    for _ in 1 2 3 4 5 6 7 8 9 10; do cat "$out/set/$enc-whole/"*; done >"$out/big-$enc.txt"
    printf '%s: ' "$enc"
    build-bench/detect_bench --speed "$out/big-$enc.txt"
done
