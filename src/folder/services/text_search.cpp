// Search, case mapping and blanks on UTF-16 texts, by ICU's simple (one-to-one) mappings.
#include "folder/services/text_search.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include "folder/services/code_units.h"
#include "folder/services/icu_tables.h"

namespace popuran::folder {
namespace {

// Simple case folding of every BMP unit (surrogates map to themselves), and for each unit the
// next unit of its folding class, so that the units folding alike form a ring: both read out of
// ICU when the program is built.
struct FoldTables {
    const char16_t* fold;
    const char16_t* next_alike;
};

const FoldTables& GetFoldTables() {
    static const FoldTables tables{icu_tables::kFold, icu_tables::kNextAlike};
    return tables;
}

// The code point starting at text[i] and its length in units (an unpaired surrogate is one).
UChar32 CodePointAt(std::u16string_view text, std::size_t i, std::size_t& length) {
    const char16_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
        length = 2;
        return U16_GET_SUPPLEMENTARY(c, text[i + 1]);
    }
    length = 1;
    return c;
}

// Maps every code point of text by map, keeping a code point whose image would change the
// length (none does in the simple mappings, but the length is part of the contract).
template <typename Map>
std::u16string MapCodePoints(std::u16string_view text, Map map) {
    std::u16string out(text);
    for (std::size_t i = 0; i < out.size();) {
        const char16_t c = out[i];
        if (!U16_IS_SURROGATE(c)) {
            out[i] = static_cast<char16_t>(map(c, true));
            ++i;
            continue;
        }
        std::size_t length = 0;
        const UChar32 cp = CodePointAt(out, i, length);
        if (length == 2) {
            const UChar32 mapped = map(cp, false);
            if (mapped > 0xFFFF) {
                out[i] = U16_LEAD(mapped);
                out[i + 1] = U16_TRAIL(mapped);
            }
        }
        i += length;
    }
    return out;
}

// A BMP image of a BMP character, or the character itself.
UChar32 KeepBmp(UChar32 c, UChar32 mapped) { return mapped <= 0xFFFF ? mapped : c; }

bool StartsInsidePair(std::u16string_view text, std::size_t pos) {
    return pos > 0 && pos < text.size() && IsLowSurrogate(text[pos]) &&
           IsHighSurrogate(text[pos - 1]);
}

bool EndsInsidePair(std::u16string_view text, std::size_t end) {
    return end > 0 && end < text.size() && IsHighSurrogate(text[end - 1]) &&
           IsLowSurrogate(text[end]);
}

// Whether the folded needle stands at pos, comparing code point by code point so that a match
// neither starts nor ends inside a surrogate pair of the haystack.
bool FoldedMatchAt(std::u16string_view haystack, std::u16string_view folded_needle, std::size_t pos,
                   const FoldTables& t) {
    if (haystack.size() - pos < folded_needle.size() || StartsInsidePair(haystack, pos)) {
        return false;
    }
    std::size_t i = pos;
    std::size_t k = 0;
    while (k < folded_needle.size()) {
        const char16_t c = haystack[i];
        if (!U16_IS_SURROGATE(c)) {
            if (t.fold[c] != folded_needle[k]) {
                return false;
            }
            ++i;
            ++k;
            continue;
        }
        std::size_t length = 0;
        const UChar32 cp = CodePointAt(haystack, i, length);
        if (length == 1) {
            if (c != folded_needle[k]) {
                return false;
            }
        } else {
            if (k + 2 > folded_needle.size()) {
                return false;  // The match would end inside the pair.
            }
            const UChar32 folded = u_foldCase(cp, U_FOLD_CASE_DEFAULT);
            const UChar32 image = folded > 0xFFFF ? folded : cp;
            if (U16_LEAD(image) != folded_needle[k] || U16_TRAIL(image) != folded_needle[k + 1]) {
                return false;
            }
        }
        i += length;
        k += length;
    }
    return true;
}

bool IsOneOf(char16_t c, const char16_t* set, std::size_t count) {
    for (std::size_t j = 0; j < count; ++j) {
        if (c == set[j]) {
            return true;
        }
    }
    return false;
}

std::size_t FindExact(std::u16string_view haystack, std::u16string_view needle, std::size_t from) {
    for (std::size_t pos = haystack.find(needle, from); pos != std::u16string_view::npos;
         pos = haystack.find(needle, pos + 1)) {
        if (!StartsInsidePair(haystack, pos) && !EndsInsidePair(haystack, pos + needle.size())) {
            return pos;
        }
    }
    return kNotFound;
}

std::size_t FindFolded(std::u16string_view haystack, std::u16string_view needle, std::size_t from) {
    const FoldTables& t = GetFoldTables();
    const std::u16string folded = FoldCase(needle);
    const std::size_t last = haystack.size() - folded.size();
    // The first unit of a match is one of the few units that fold to the needle's first unit
    // (at most four), so candidates are found by plain comparison. A needle starting with a
    // surrogate is rare: every position is tried then.
    std::array<char16_t, 8> firsts{};
    std::size_t first_count = 0;
    if (!U16_IS_SURROGATE(folded[0])) {
        char16_t u = folded[0];
        do {
            firsts[first_count++] = u;
            u = t.next_alike[u];
        } while (u != folded[0] && first_count < firsts.size());
        if (u != folded[0]) {
            first_count = 0;  // A class too big for the scan.
        }
    }
    for (std::size_t pos = from; pos <= last; ++pos) {
        if (first_count == 1) {
            pos = haystack.find(firsts[0], pos);
            if (pos == std::u16string_view::npos || pos > last) {
                return kNotFound;
            }
        } else if (first_count > 1) {
            while (pos <= last && !IsOneOf(haystack[pos], firsts.data(), first_count)) {
                ++pos;
            }
            if (pos > last) {
                return kNotFound;
            }
        }
        if (FoldedMatchAt(haystack, folded, pos, t)) {
            return pos;
        }
    }
    return kNotFound;
}

}  // namespace

std::size_t FindText(std::u16string_view haystack, std::u16string_view needle, std::size_t from,
                     bool case_sensitive) {
    // An empty needle is never found: a caller looping over matches would never advance.
    if (needle.empty() || from > haystack.size() || haystack.size() - from < needle.size()) {
        return kNotFound;
    }
    return case_sensitive ? FindExact(haystack, needle, from) : FindFolded(haystack, needle, from);
}

char32_t FoldCodePoint(char32_t c) {
    if (c < 0x10000) {
        return GetFoldTables().fold[c];
    }
    const UChar32 folded = u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT);
    return folded > 0xFFFF ? static_cast<char32_t>(folded) : c;
}

std::u16string FoldCase(std::u16string_view text) {
    const FoldTables& t = GetFoldTables();
    return MapCodePoints(text, [&t](UChar32 c, bool bmp) -> UChar32 {
        return bmp ? t.fold[static_cast<std::size_t>(c)] : u_foldCase(c, U_FOLD_CASE_DEFAULT);
    });
}

std::u16string ToUpper(std::u16string_view text) {
    return MapCodePoints(text, [](UChar32 c, bool bmp) -> UChar32 {
        if (c < 0x80) {
            return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c;
        }
        return bmp ? KeepBmp(c, u_toupper(c)) : u_toupper(c);
    });
}

std::u16string ToLower(std::u16string_view text) {
    return MapCodePoints(text, [](UChar32 c, bool bmp) -> UChar32 {
        if (c < 0x80) {
            return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
        }
        return bmp ? KeepBmp(c, u_tolower(c)) : u_tolower(c);
    });
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\u3000'; }

std::u16string TrimBlanks(std::u16string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(text[end - 1])) {
        --end;
    }
    return std::u16string(text.substr(begin, end - begin));
}

std::u16string TrimTrailingBlanks(std::u16string_view text) {
    std::size_t end = text.size();
    while (end > 0 && IsBlank(text[end - 1])) {
        --end;
    }
    return std::u16string(text.substr(0, end));
}

}  // namespace popuran::folder
