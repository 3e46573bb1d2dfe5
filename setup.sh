#!/usr/bin/env bash
# Installs what is missing (Debian 12), builds, and then opens the window or runs every test.
#   ./setup.sh window   build and open the window
#   ./setup.sh test     build with warnings as errors and sanitizers, run every test and the
#                       formatting check, then the three fuzzers side by side for 20 seconds
#   ./setup.sh package  build the Debian package into build-package/ and check it (CI does this
#                       after the tests)
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake g++ make pkg-config qt6-base-dev libicu-dev libgtest-dev libgmock-dev
          libexpected-dev libxxhash-dev libmagic-dev clang-format fonts-noto-cjk clang
          libclang-rt-14-dev qt6-translations-l10n dpkg-dev file lintian appstream
          desktop-file-utils man-db dosfstools fusefat)

install_missing() {
    local missing=()
    for p in "${packages[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$p")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return
    fi
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo=(sudo)
    fi
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends \
        "${missing[@]}"
}

jobs=$(nproc 2>/dev/null || echo 2)

# A release build of the two programs, packaged by CPack with Debian's hardening flags (without
# debug information: the package is stripped anyway).
build_package() {
    flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
    local cxxflags
    cxxflags="$(flags CPPFLAGS) $(flags CXXFLAGS)"
    cxxflags=${cxxflags/ -g / }
    local ldflags
    ldflags=$(flags LDFLAGS)
    cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DPOPURAN_TESTS=OFF \
        -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags"
    cmake --build build-package -j "$jobs" --target popuran popuran-cli popuran_docs
    rm -f build-package/popuran_*.deb
    (cd build-package && cpack -G DEB)
    scripts/check_package.sh build-package/popuran_*.deb
}

case "${1:-}" in
window)
    install_missing
    cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPOPURAN_TESTS=OFF
    cmake --build build -j "$jobs" --target popuran popuran-cli
    exec build/src/ui/popuran
    ;;
test)
    install_missing
    cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Debug -DPOPURAN_WERROR=ON -DPOPURAN_SANITIZE=ON
    cmake --build build-test -j "$jobs"
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    export LSAN_OPTIONS=suppressions="$PWD/tests/lsan.supp"
    ctest --test-dir build-test --output-on-failure -j "$jobs"
    echo "Checking formatting"
    git ls-files -- 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' 'bench/*.h' \
        'fuzz/*.cpp' 'fuzz/*.h' |
        xargs -r clang-format --dry-run --Werror
    scripts/fuzz.sh 20
    ;;
package)
    install_missing
    build_package
    ;;
*)
    echo "usage: $0 window|test|package" >&2
    exit 2
    ;;
esac
