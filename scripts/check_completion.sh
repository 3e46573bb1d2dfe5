#!/usr/bin/env bash
# The bash completion of popuran-cli, as bash calls it: what Tab offers after each kind of word.
#   check_completion.sh COMPLETION-FILE POPURAN-CLI
set -euo pipefail
source "$1"
cli=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir "a folder" abc
echo x > abd.txt
failures=0

# expect "what Tab offers, one per line" WORD... (the last word is the one being completed)
expect() {
    local want=$1
    shift
    COMP_WORDS=("$cli" "$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _popuran_cli || true  # compopt fails outside a real completion
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}")
    if [ "$got" != "$want" ]; then
        echo "after '$*': want [$want], got [$got]" >&2
        failures=$((failures + 1))
    fi
}

expect $'--dry-run\n--diff' --d
expect $'-0' --mode lower -0
expect $'lower' --mode l
expect $'upper' --mode = u
expect $'euc-jp' --encoding e
expect $'a folder\nabc' --folder a
expect '' --search a
# The ids after --undo are those that --history lists, here of one real run.
XDG_STATE_HOME=$work/state "$cli" --mode upper --pattern '*.txt' --folder . >/dev/null
id=$(XDG_STATE_HOME=$work/state "$cli" --history | cut -f1)
[ -n "$id" ] || { echo "no run journalled" >&2; exit 1; }
XDG_STATE_HOME=$work/state expect "$id" --undo ''
expect $'--json' --undo --j
exit $((failures > 0))
