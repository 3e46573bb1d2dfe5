// ExtensionByContent: a file's type told from its bytes, as a lower-case extension.
#pragma once

#include <string>
#include <string_view>

#include "folder/services/failure.h"
#include "folder/services/file_services.h"

namespace popuran::filetype {

// "html", "txt", "jpg", ... or empty when the contents are not recognised. Fails with the
// file's read error, or with ERANGE when a signature test reads past the head (a binary file
// shorter than 7 bytes, an empty file). Reads large files in pieces. Never yields.
folder::Result<std::u16string> ExtensionByContent(folder::FileServices& files,
                                                  std::u16string_view path);

}  // namespace popuran::filetype
