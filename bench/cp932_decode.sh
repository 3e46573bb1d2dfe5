#!/bin/sh
# Times our code page 932 decoder against `iconv -f CP932 -t UTF-16LE` and ICU's streaming
# converter on the same ~100 MB Shift-JIS file, side by side, and prints the ratios.
#   bench/cp932_decode.sh            (knobs: BUILD, CORPUS, MB, RUNS)
# "ours" decodes the whole file in memory as the replacement mode does; "ours-stream" decodes
# 1 MiB pieces and writes each at once, as iconv does.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
BUILD=${BUILD:-$here/../build-bench}
CORPUS=${CORPUS:-/tmp/popuran-cp932-corpus}
MB=${MB:-100}
RUNS=${RUNS:-10}

cmake -S "$here" -B "$BUILD" >/dev/null
cmake --build "$BUILD" --target cp932_decode >/dev/null
tool=$BUILD/cp932_decode

file=$CORPUS/big/big.txt
if [ ! -f "$file" ]; then
    python3 "$here/../../shared/bench/make_corpus.py" --out "$CORPUS" --what big --big-mb "$MB" >/dev/null
fi
echo "corpus: $file ($(stat -c %s "$file") bytes)"

# The same output as iconv (the corpus is valid code page 932, so iconv decodes all of it).
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
iconv -f CP932 -t UTF-16LE "$file" >"$out/iconv"
for mode in "" --stream --icu; do
    if "$tool" $mode "$file" | cmp -s - "$out/iconv"; then
        echo "cp932_decode $mode: output identical to iconv"
    else
        echo "cp932_decode $mode: output DIFFERS from iconv"
    fi
    "$tool" $mode --time "$file" >/dev/null
done
rm -f "$out/iconv"

hyperfine --warmup 2 --runs "$RUNS" --export-json "$out/times.json" \
    -n ours "$tool $file" \
    -n ours-stream "$tool --stream $file" \
    -n iconv "iconv -f CP932 -t UTF-16LE $file" \
    -n icu "$tool --icu $file"
python3 - "$out/times.json" <<'PY'
import json, sys
r = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
cpu = lambda x: r[x]["user"] + r[x]["system"]
for ours in ("ours", "ours-stream"):
    for other in ("iconv", "icu"):
        print(f"{other} / {ours}: median wall {r[other]['median'] / r[ours]['median']:.2f}"
              f" ({r[other]['median']:.3f} s vs {r[ours]['median']:.3f} s),"
              f" cpu {cpu(other) / cpu(ours):.2f} ({cpu(other):.3f} s vs {cpu(ours):.3f} s)")
PY
