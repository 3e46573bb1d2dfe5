// UnifiedDiff: the changed lines of a file as `diff -u` and `git diff` show them.
#pragma once

#include <string>
#include <string_view>

namespace popuran::folder {

// A unified diff from old_text to new_text with three lines of context, headed by
// "--- label" and "+++ label"; empty when the texts are equal. Lines end at '\n'; a last line
// without one is marked "\ No newline at end of file".
std::string UnifiedDiff(std::string_view old_text, std::string_view new_text,
                        std::string_view label);

// File contents as UTF-8 for reading, decoded in the encoding named as in a change ("cp932",
// "utf-8", "euc-jp", "utf-16le", ...; code page 932 when the name is unknown or empty).
std::string ReadableText(std::string_view encoding_name, std::string_view bytes);

}  // namespace popuran::folder
