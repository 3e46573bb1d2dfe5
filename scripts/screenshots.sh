#!/usr/bin/env bash
# Takes the README's pictures of the window (modes 0, 1 and 2) on a virtual X display and
# refreshes the installed icon from the program's own.
#   scripts/screenshots.sh [build folder]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

packages=(xvfb xauth fonts-noto-cjk)
missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo=(sudo)
    fi
    "${sudo[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends \
        "${missing[@]}"
fi

if [ ! -x "$build/src/ui/popuran" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPOPURAN_TESTS=OFF
    cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target popuran
fi
program=$PWD/$build/src/ui/popuran

mkdir -p docs/screenshots share/icons
export ASAN_OPTIONS=detect_leaks=0
run() {
    # A fresh display per picture, at 96 dpi, so that the window has its designed size.
    xvfb-run --auto-servernum --server-args='-screen 0 1024x768x24 -dpi 96' \
        env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM LANG=ja_JP.UTF-8 "$program" "$@"
}
for mode in 0 1 2; do
    run --screenshot-mode "$mode" --screenshot "$PWD/docs/screenshots/mode$mode.png"
    echo "docs/screenshots/mode$mode.png"
done
# The preview window, over a small sample folder: mode 0 with its changed lines, and renames.
sample=$(mktemp -d)
trap 'rm -rf "$sample"' EXIT
printf '旧製品名の取扱説明書\r\n\r\n旧製品名は、お使いのパソコンで動きます。\r\n' | iconv -t CP932 >"$sample/manual.txt"
printf '# 旧製品名 README\n\n旧製品名 を使うには…\n' >"$sample/README.txt"
printf '価格表: 旧製品名 1,000円\r\n' | iconv -t CP932 >"$sample/price.txt"
printf 'no match here\n' >"$sample/other.txt"
run --screenshot-mode 0 --preview-of "$sample" --screenshot "$PWD/docs/screenshots/preview0.png"
echo "docs/screenshots/preview0.png"
rename_sample=$sample/names
mkdir "$rename_sample"
for n in README.TXT Photo.JPG Notes.Txt DATA.CSV readme.txt; do
    printf 'x' >"$rename_sample/$n"
done
run --screenshot-mode 2 --preview-of "$rename_sample" --screenshot "$PWD/docs/screenshots/preview2.png"
echo "docs/screenshots/preview2.png"
run --write-icon "$PWD/share/icons/popuran.png"
echo "share/icons/popuran.png"
