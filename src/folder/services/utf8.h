// UTF-8 to text and back, losslessly: names, arguments and terminal output.
#pragma once

#include <string>
#include <string_view>

namespace popuran::folder {

// UTF-8 to UTF-16 where invalid bytes become lone U+DC00 + byte, and back, losslessly. File
// names, command-line arguments and terminal output go through these.
std::u16string Utf8ToText(std::string_view bytes);
std::string TextToUtf8(std::u16string_view text);

}  // namespace popuran::folder
