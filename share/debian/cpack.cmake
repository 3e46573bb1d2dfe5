# The Debian package, made by `cpack -G DEB` in a release build (./setup.sh package).
set(CPACK_PACKAGE_NAME popuran)
set(CPACK_PACKAGE_VENDOR "The popuran developers")
set(CPACK_PACKAGE_CONTACT "The popuran developers <popuran@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "batch replacement of texts, extensions and file-name case (Japanese)")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # popuran_VERSION_ARCH.deb
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://popuran.example.org/")
# The extended description; CPack puts the summary before it and indents it for the control file.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "ぽぷらん (popuran) is a desktop utility with a Japanese user interface for
batch work on the files of a folder tree: it replaces a text inside files,
in each file's own encoding (Shift_JIS, UTF-8, EUC-JP or UTF-16) and keeping
a .BAK copy of each changed file; it replaces file extensions, or picks them
from the files' contents; and it turns file names to lower or upper case.

Runs can be previewed and undone. popuran-cli does the same work from a
terminal and from scripts.")
# The libraries the programs link (Qt 6, ICU, xxHash) are found by dpkg-shlibdeps. Qt's own
# texts in Japanese come from the translations package, and the window wants a Japanese font.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk | fonts-ipafont-gothic | fonts-vlgothic")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_GENERATOR DEB)
include(CPack)
