// Text search, simple case mapping and folding, and blanks.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace popuran::folder {

inline constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

// The first code-unit index >= from where needle stands in haystack, or kNotFound. Ignoring
// letter case compares simple case foldings (full-width letters included, width never), so a
// match is always exactly needle.size() code units long. Never matches inside a surrogate pair;
// an empty needle is never found.
std::size_t FindText(std::u16string_view haystack, std::u16string_view needle, std::size_t from,
                     bool case_sensitive);
// Simple case folding of one code point (a BMP character folds to a BMP character).
char32_t FoldCodePoint(char32_t c);
// Simple case folding, code point by code point; the length never changes.
std::u16string FoldCase(std::u16string_view text);
// Simple upper/lower case mapping, code point by code point ('ß' stays 'ß'); characters without
// case and unpaired surrogates stay as they are.
std::u16string ToUpper(std::u16string_view text);
std::u16string ToLower(std::u16string_view text);
// Blanks are the ASCII space and the ideographic space U+3000.
bool IsBlank(char16_t c);
std::u16string TrimBlanks(std::u16string_view text);          // both ends
std::u16string TrimTrailingBlanks(std::u16string_view text);  // the end only

}  // namespace popuran::folder
