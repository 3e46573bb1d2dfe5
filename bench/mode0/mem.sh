#!/usr/bin/env bash
# Peak memory and time of mode 0 on one large file with a match every ~200 bytes, next to sd
# and sed on the same file (/usr/bin/time -v).
#
#   bench/mode0/mem.sh            500 MB file (BIG_MB=1000 for 1 GB)
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
REPO=$(cd "$HERE/../.." && pwd)
HARNESS=${HARNESS:-$REPO/../shared/bench}
BUILD=${BUILD:-$REPO/build-bench}
BIG_MB=${BIG_MB:-500}
CORPUS=${CORPUS:-/tmp/bench-corpus-mode0-big$BIG_MB}
WORK=${WORK:-/tmp/bench-work-mode0-big}
case "$WORK" in /tmp/?*) ;; *) echo "WORK must be under /tmp" >&2; exit 2;; esac

cmake -S "$REPO" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DPOPURAN_WINDOW=OFF \
    -DPOPURAN_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j2 --target popuran-cli >/dev/null
[ -f "$CORPUS/big/big.txt" ] ||
    python3 "$HARNESS/make_corpus.py" --out "$CORPUS" --what big --big-mb "$BIG_MB" >/dev/null

measure() {  # NAME COMMAND...
    local name=$1
    shift
    rm -rf "$WORK" && mkdir -p "$WORK" && cp "$CORPUS/big/big.txt" "$WORK/big.txt" && sync
    local log
    log=$(mktemp)
    /usr/bin/time -v "$@" >/dev/null 2>"$log"
    printf '| %-5s | %8.1f | %8s | %s |\n' "$name" \
        "$(awk -F': ' '/Maximum resident/ {print $2 / 1024}' "$log")" \
        "$(awk -F': ' '/Elapsed/ {print $2}' "$log")" "$(ls -l "$WORK/big.txt" | awk '{print $5}')"
    rm -f "$log"
}

echo "file: $(ls -l "$CORPUS/big/big.txt" | awk '{print $5}') bytes"
echo "| tool  | peak MiB | wall     | bytes after |"
echo "|-------|----------|----------|-------------|"
measure ours "$BUILD/src/popuran-cli" --mode replace --pattern '*.txt' --search needle \
    --replace haystack --folder "$WORK"
command -v sd >/dev/null && measure sd sd -s needle haystack "$WORK/big.txt"
LC_ALL=C measure sed sed -i.BAK s/needle/haystack/g "$WORK/big.txt"
rm -rf "$WORK"
