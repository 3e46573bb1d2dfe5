#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs them side by side for N seconds.
#   scripts/fuzz.sh [seconds]   default 20 seconds, every target for all of them
# Seeds come from fuzz/corpus/<target>/ and are never written to; what a run learns is kept
# in build-fuzz/corpus/<target>/ for the next run. A failing input is saved as
# build-fuzz/artifacts/<target>-crash-... and the script fails.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
    echo "usage: $0 [seconds per target]" >&2
    exit 2
fi
jobs=$(nproc 2>/dev/null || echo 2)
build=build-fuzz

# -O1 keeps the fuzzers quick without hiding what the sanitizers need; the work library and the
# targets get their fuzzer and sanitizer flags from fuzz/CMakeLists.txt.
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" -DPOPURAN_FUZZ=ON -DPOPURAN_TESTS=OFF \
    -DPOPURAN_WINDOW=OFF -DPOPURAN_SANITIZE=OFF -DPOPURAN_WERROR=OFF >/dev/null

targets=()
for source in fuzz/*_fuzz.cpp; do
    targets+=("$(basename "$source" .cpp)")
done
cmake --build "$build" -j "$jobs" --target fuzzers

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "$build/artifacts"
# What a failure's log says: the failed check, the sanitizer's verdict and the saved input.
report='check failed|ERROR:|SUMMARY|Test unit written'
# The targets run side by side, each for the whole time, so that the cores share them.
pids=()
for target in "${targets[@]}"; do
    mkdir -p "$build/corpus/$target" "fuzz/corpus/$target"
    echo "Fuzzing $target for ${seconds}s"
    "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len=4096 -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" \
        "$build/corpus/$target" "fuzz/corpus/$target" >"$build/artifacts/$target.log" 2>&1 &
    pids+=($!)
done
failed=()
for i in "${!targets[@]}"; do
    target=${targets[$i]}
    log="$build/artifacts/$target.log"
    if wait "${pids[$i]}"; then
        echo "$target: $(grep -E '^stat::number_of_executed_units|^Done' "$log" | tail -1 || true)"
    else
        echo "FAILED: $target (log: $log)"
        grep -E "$report" "$log" | head -20 || true
        failed+=("$target")
    fi
done

if [ ${#failed[@]} -ne 0 ]; then
    echo "Fuzzing found failures in: ${failed[*]}" >&2
    exit 1
fi
echo "Fuzzing passed: ${targets[*]}"
