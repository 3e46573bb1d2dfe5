#!/usr/bin/env bash
# Mode 1 with "*" on a folder of real files from this system, side by side with file(1).
#   bench/filetype/real_files.sh [TREE] [CLI]
# TREE (default /tmp/popuran-real-files) is made by make_tree.py when it does not exist yet;
# CLI defaults to build/src/popuran-cli. The run is a dry run (--dry-run --json): it reads the
# same bytes as a real run and changes nothing. Results go to TREE.results/: ours.json,
# files.tsv (every file, its new name and file's answers) and summary.md. Exits 1 when a file
# is renamed to a type that file contradicts or fewer than 95% of the files with an extension
# known to file get one of them.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tree=${1:-/tmp/popuran-real-files}
cli=${2:-$here/../../build/src/popuran-cli}

[ -d "$tree" ] || python3 "$here/make_tree.py" "$tree"
out=$tree.results
mkdir -p "$out"
"$cli" --mode ext --folder "$tree/files" --pattern '*' --search '*' --replace '*' \
    --dry-run --json >"$out/ours.json"
python3 "$here/compare.py" "$tree" "$out/ours.json" --markdown "$out/summary.md"
