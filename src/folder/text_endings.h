// TextKindByName: whether mode 0 takes a file for text by the last characters of its path.
#pragma once

#include <string_view>

namespace popuran::folder {

enum class TextKind { kText, kBinary, kUnknown };

// Text for paths ending in TXT, INI, HTM or HTML, binary for the known binary endings (EXE, ZIP,
// JPG, JPEG, ...), letter case ignored; unknown otherwise, and then the contents decide. The last
// characters count, not a separated extension, so "notes_txt" is text too.
TextKind TextKindByName(std::u16string_view path);

}  // namespace popuran::folder
