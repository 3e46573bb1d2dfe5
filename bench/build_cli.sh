# Sourced by the renaming benchmarks: an optimised popuran-cli without sanitizers (CLI=path
# skips the build) and the bare rename loop, both in $BUILD. Needs REPO and BUILD set.
if [ -z "${CLI:-}" ]; then
    cmake -S "$REPO" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DPOPURAN_TESTS=OFF \
        -DPOPURAN_WINDOW=OFF >/dev/null
    cmake --build "$BUILD" -j2 --target popuran-cli >/dev/null
    CLI=$BUILD/src/popuran-cli
fi
mkdir -p "$BUILD"
cc -O2 -o "$BUILD/rename_loop" "$REPO/bench/rename_loop.c"
