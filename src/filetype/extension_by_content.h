// ExtensionByContent: a file's type told from its bytes, as a lower-case extension.
#pragma once

#include <string>
#include <string_view>

#include "filetype/magic_database.h"
#include "folder/services/failure.h"
#include "folder/services/file_services.h"

namespace popuran::filetype {

// "html", "txt", "jpg", "mp3", ... or empty when the contents are not recognised. The built-in
// rules answer first. With a database, a binary file that they do not name is named by it (with
// the extension the file already carries when the database lists it), and so are text that it
// knows by a fixed opening (SVG, PGP armour) and formats built on zip (jar, docx). Fails with
// the file's read error, or with ERANGE when a signature test reads past the head (a binary
// file shorter than 7 bytes, an empty file). Reads large files in pieces. Never yields.
folder::Result<std::u16string> ExtensionByContent(folder::FileServices& files,
                                                  std::u16string_view path,
                                                  MagicDatabase* database = nullptr);

}  // namespace popuran::filetype
