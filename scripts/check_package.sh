#!/usr/bin/env bash
# Checks a built Debian package the way the distribution would: lintian on the package, then the
# menu entry, the software-centre metadata, the manual pages and the completion file as they
# are installed. Fails on the first error; lintian's warnings are shown but do not fail.
#   scripts/check_package.sh build-package/popuran_VERSION_ARCH.deb
set -euo pipefail
deb=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

echo "lintian $deb"
lintian --fail-on error --display-level '>=warning' "$deb"

echo "desktop-file-validate, appstreamcli validate and validate-tree"
desktop-file-validate "$root"/usr/share/applications/*.desktop
appstreamcli validate --pedantic --no-net "$root"/usr/share/metainfo/*.metainfo.xml
appstreamcli validate-tree --pedantic --no-net "$root"  # the metadata with its menu entry and icon

# man --warnings runs the page through groff with every warning on; the Japanese texts need
# preconv (-k) and a device that has their glyphs (utf8).
echo "manual pages"
for page in "$root"/usr/share/man/man1/*.1.gz; do
    warnings=$( { man --warnings -E UTF-8 -l -Tutf8 "$page" >/dev/null; } 2>&1)
    warnings+=$( { zcat "$page" | groff -k -Tutf8 -man -ww -z; } 2>&1)
    if [ -n "$warnings" ]; then
        echo "$page: $warnings" >&2
        exit 1
    fi
done

echo "bash completion"
bash -n "$root"/usr/share/bash-completion/completions/popuran-cli
"$(dirname "$0")"/check_completion.sh "$root"/usr/share/bash-completion/completions/popuran-cli \
    "$root"/usr/bin/popuran-cli
"$root"/usr/bin/popuran-cli --version
echo "package checked: $deb"
