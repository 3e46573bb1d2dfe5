// Code page 932 and EUC-JP as ICU's converters read them, taken out of ICU when the program is
// built (generate/icu_tables.cpp), so that a run needs no converter to build its tables.
#pragma once

#include <cstdint>

namespace popuran::folder::icu_tables {

// Code page 932 ("windows-31j"): the character of each byte 0xA1-0xDF, and of each pair at
// [row * 256 + trail], the rows being the lead bytes 0x81-0x9F and 0xE0-0xFC; 0 where there is
// none. kCp932Code: ICU's own code of each BMP character (a byte, or lead << 8 | trail), 0xFFFF
// where it has none.
extern const char16_t kCp932Single[63];
extern const char16_t kCp932Pair[60 * 256];
extern const std::uint16_t kCp932Code[0x10000];

// EUC-JP: two-byte codes at [(b0 - 0xA1) * 94 + b1 - 0xA1], three-byte codes after 0x8F
// likewise, half-width katakana after 0x8E at [b1 - 0xA1]; 0 where there is no character or
// the system's converter would not read it back.
extern const char16_t kEucTwo[94 * 94];
extern const char16_t kEucThree[94 * 94];
extern const char16_t kEucKana[63];

// Simple case folding of every BMP unit (surrogates and units that fold outside the BMP map to
// themselves), and for each unit the next unit that folds alike, in a ring in increasing order.
extern const char16_t kFold[0x10000];
extern const char16_t kNextAlike[0x10000];

}  // namespace popuran::folder::icu_tables
