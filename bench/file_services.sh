#!/usr/bin/env bash
# Builds and runs bench/file_services_bench.cpp (optimised, no sanitizers).
#   bench/file_services.sh [folder on the file system to measure] [entries] [files to replace]
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
g++ -std=c++20 -O2 -DNDEBUG -Isrc bench/file_services_bench.cpp src/folder/services/file_services.cpp \
    src/folder/services/{utf8,text_search,path_helpers,wildcard,failure}.cpp -o "$out/file_services_bench" $(pkg-config --libs icu-uc icu-i18n)
"$out/file_services_bench" "${1:-/tmp/popuran-bench-files}" "${2:-100000}" "${3:-2000}"
