// Code page 932 conversion by lookup tables that are built once from ICU's windows-31j table
// (read out of ICU when the program is built).
#include "folder/services/cp932.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "folder/services/code_units.h"
#include "folder/services/icu_tables.h"

namespace popuran::folder {
namespace {

// A byte that is no character on its own becomes this plus the byte.
constexpr char16_t kByteEscapeBase = 0xDC00;
// A lead/trail pair without a character becomes this plus (lead << 8 | trail): plane 15, so that
// the pair stays one character and its trail byte is never taken for an ASCII character.
constexpr char32_t kPairEscapeBase = 0xF0000;
constexpr char32_t kPairEscapeFirst = kPairEscapeBase + 0x8140;
constexpr char32_t kPairEscapeLast = kPairEscapeBase + 0xFCFC;
// No code page 932 code has the lead byte 0xFF, so this marks "no code" in the encode table.
constexpr std::uint16_t kNoCode = 0xFFFF;
// Marks of the decoder's pair table; no pair decodes to U+0000 or U+FFFF.
constexpr char16_t kNotTrail = 0x0000;
constexpr char16_t kUnmappedPair = 0xFFFF;
constexpr std::uint16_t kNotLead = 0xFFFF;
constexpr std::size_t kLeadRows = 31 + 29;  // 0x81-0x9F and 0xE0-0xFC

enum class ByteKind : std::uint8_t { kCharacter, kLead, kInvalid };

constexpr bool IsLeadByte(unsigned b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
constexpr bool IsTrailByte(unsigned b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }
constexpr std::size_t LeadRow(unsigned lead) {
    return lead <= 0x9F ? lead - 0x81 : lead - 0xE0 + 31;
}

struct Tables {
    std::array<char16_t, 256> single{};  // the character of a byte of kind kCharacter
    std::array<ByteKind, 256> kind{};
    std::vector<char16_t> pair;         // [LeadRow(lead) * 256 + trail]; 0 when unmapped
    std::vector<std::uint16_t> encode;  // [BMP character]: byte, lead << 8 | trail, or kNoCode

    // The decoder's view, one lookup per step: what a byte that is no lead byte decodes to (a
    // character or its escape); for a lead byte its row in decode_pair, indexed by the next
    // byte: the character, kUnmappedPair, or kNotTrail.
    std::array<char16_t, 256> decode_single{};
    std::array<std::uint16_t, 256> row_base{};
    std::vector<char16_t> decode_pair;

    char16_t Pair(unsigned lead, unsigned trail_byte) const {
        return pair[LeadRow(lead) * 256 + trail_byte];
    }
    // True when the code (a byte, or lead << 8 | trail) decodes to c.
    bool Decodes(std::uint16_t code, char16_t c) const {
        if (code < 0x100) {
            return kind[code] == ByteKind::kCharacter && single[code] == c;
        }
        unsigned lead = code >> 8;
        unsigned trail_byte = code & 0xFFu;
        return IsLeadByte(lead) && IsTrailByte(trail_byte) && Pair(lead, trail_byte) == c;
    }
};

// The code page's own table, as ICU reads it.
void ReadIcuTable(Tables& t) {
    // Half-width katakana. ICU may also offer fallbacks for 0x80, 0xA0 and 0xFD-0xFF; those are
    // no characters of the code page and stay escapes.
    for (unsigned b = 0xA1; b <= 0xDF; ++b) {
        if (const char16_t c = icu_tables::kCp932Single[b - 0xA1]; c != 0) {
            t.single[b] = c;
            t.kind[b] = ByteKind::kCharacter;
        }
    }
    t.pair.assign(std::begin(icu_tables::kCp932Pair), std::end(icu_tables::kCp932Pair));
    // A character with two codes gets ICU's choice (the IBM-extension code) when that code
    // decodes back to it, else the first code that decodes to it, so encoding always inverts
    // decoding.
    auto add = [&](std::uint16_t code, char16_t c) {
        if (t.encode[c] != kNoCode) {
            return;
        }
        const std::uint16_t preferred = icu_tables::kCp932Code[c];
        t.encode[c] = preferred != kNoCode && t.Decodes(preferred, c) ? preferred : code;
    };
    for (unsigned b = 0xA1; b <= 0xDF; ++b) {
        if (t.kind[b] == ByteKind::kCharacter) {
            add(static_cast<std::uint16_t>(b), t.single[b]);
        }
    }
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
        for (unsigned trail_byte = 0x40; IsLeadByte(lead) && trail_byte <= 0xFC; ++trail_byte) {
            if (IsTrailByte(trail_byte)) {
                if (char16_t c = t.Pair(lead, trail_byte); c != 0) {
                    add(static_cast<std::uint16_t>(lead << 8 | trail_byte), c);
                }
            }
        }
    }
}

Tables BuildTables() {
    Tables t;
    t.pair.assign(kLeadRows * 256, 0);
    t.encode.assign(0x10000, kNoCode);
    for (unsigned b = 0; b < 256; ++b) {
        t.kind[b] = IsLeadByte(b) ? ByteKind::kLead : ByteKind::kInvalid;
    }
    // ASCII is taken as is: windows-31j swaps the control bytes 0x1A, 0x1C and 0x7F, which the
    // code page itself maps to U+001A, U+001C and U+007F; every other ASCII byte is the same.
    for (unsigned b = 0; b < 0x80; ++b) {
        t.single[b] = static_cast<char16_t>(b);
        t.kind[b] = ByteKind::kCharacter;
        t.encode[b] = static_cast<std::uint16_t>(b);
    }
    ReadIcuTable(t);
    t.decode_pair.assign(kLeadRows * 256, kNotTrail);
    for (unsigned b = 0; b < 256; ++b) {
        t.decode_single[b] = t.kind[b] == ByteKind::kCharacter
                                 ? t.single[b]
                                 : static_cast<char16_t>(kByteEscapeBase + b);
        t.row_base[b] = IsLeadByte(b) ? static_cast<std::uint16_t>(LeadRow(b) * 256) : kNotLead;
        for (unsigned trail_byte = 0; IsLeadByte(b) && trail_byte < 256; ++trail_byte) {
            if (IsTrailByte(trail_byte)) {
                const char16_t c = t.Pair(b, trail_byte);
                t.decode_pair[t.row_base[b] + trail_byte] = c != 0 ? c : kUnmappedPair;
            }
        }
    }
    return t;
}

const Tables& GetTables() {
    static const Tables tables = BuildTables();
    return tables;
}

// Decodes into out (room for bytes.size() units: no byte yields more than one unit, a pair at
// most two) and, when offsets is not null, the start offset of each unit's character. Returns
// the number of units written.
template <bool kWithOffsets>
std::size_t DecodeInto(std::string_view bytes, char16_t* out, std::uint32_t* offsets) {
    const Tables& t = GetTables();
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    std::size_t o = 0;
    while (i < n) {
        const unsigned b = p[i];
        if (b < 0x80) {
            // ASCII runs are copied eight bytes at a time.
            std::uint64_t word;
            if (i + 8 <= n && (std::memcpy(&word, p + i, 8), (word & 0x8080808080808080u) == 0)) {
                for (std::size_t k = 0; k < 8; ++k) {
                    out[o + k] = p[i + k];
                    if constexpr (kWithOffsets) {
                        offsets[o + k] = static_cast<std::uint32_t>(i + k);
                    }
                }
                i += 8;
                o += 8;
                continue;
            }
        }
        if constexpr (kWithOffsets) {
            offsets[o] = static_cast<std::uint32_t>(i);
        }
        const std::uint16_t row = t.row_base[b];
        const char16_t c =
            row == kNotLead || i + 1 == n ? kNotTrail : t.decode_pair[row + p[i + 1]];
        if (c == kNotTrail) {
            out[o++] = t.decode_single[b];  // also the escape of a lead byte standing alone
            ++i;
        } else if (c != kUnmappedPair) {
            out[o++] = c;
            i += 2;
        } else {
            const char32_t escape = kPairEscapeBase + (b << 8 | p[i + 1]) - 0x10000;
            out[o++] = static_cast<char16_t>(0xD800 + (escape >> 10));
            if constexpr (kWithOffsets) {
                offsets[o] = static_cast<std::uint32_t>(i);
            }
            out[o++] = static_cast<char16_t>(0xDC00 + (escape & 0x3FF));
            i += 2;
        }
    }
    return o;
}

}  // namespace

std::u16string Cp932Decode(std::string_view bytes) {
    std::u16string text(bytes.size(), u'\0');
    text.resize(DecodeInto<false>(bytes, text.data(), nullptr));
    return text;
}

void Cp932DecodeWithOffsets(std::string_view bytes, std::u16string& text,
                            std::vector<std::uint32_t>& offsets) {
    // Offsets are 32 bits wide; a wrapped offset would splice bytes at the wrong place.
    if (bytes.size() >= std::numeric_limits<std::uint32_t>::max()) {
        throw std::length_error("code page 932 text too long for byte offsets");
    }
    text.assign(bytes.size(), u'\0');
    offsets.assign(bytes.size() + 1, 0);
    const std::size_t units = DecodeInto<true>(bytes, text.data(), offsets.data());
    text.resize(units);
    offsets.resize(units + 1);
    offsets[units] = static_cast<std::uint32_t>(bytes.size());
}

std::uint16_t Cp932CodeOf(char16_t c) { return GetTables().encode[c]; }

std::string Cp932Encode(std::u16string_view text) {
    const Tables& t = GetTables();
    std::string bytes(text.size() * 2, '\0');
    std::size_t o = 0;
    auto put = [&](unsigned b) { bytes[o++] = static_cast<char>(b); };
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t c = text[i];
        if (c < 0x80) {
            put(c);
            continue;
        }
        if (!IsSurrogate(c)) {
            const std::uint16_t code = t.encode[c];
            if (code == kNoCode) {
                put('?');
            } else if (code < 0x100) {
                put(code);
            } else {
                put(code >> 8u);
                put(code & 0xFFu);
            }
            continue;
        }
        if (IsHighSurrogate(c) && i + 1 < n && IsLowSurrogate(text[i + 1])) {
            const char32_t cp = 0x10000 + ((c - 0xD800u) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
            const unsigned lead = (cp - kPairEscapeBase) >> 8;
            const unsigned trail_byte = (cp - kPairEscapeBase) & 0xFFu;
            // Only a pair that decodes to this escape is written back, so that encoding never
            // produces a code that decodes to something else.
            if (cp >= kPairEscapeFirst && cp <= kPairEscapeLast && IsLeadByte(lead) &&
                IsTrailByte(trail_byte) && t.Pair(lead, trail_byte) == 0) {
                put(lead);
                put(trail_byte);
            } else {
                put('?');
            }
            continue;
        }
        // A lone surrogate: the escape of a byte that is no character on its own.
        const unsigned b = c - kByteEscapeBase;
        if (c >= kByteEscapeBase + 0x80 && c <= kByteEscapeBase + 0xFF &&
            t.kind[b] != ByteKind::kCharacter) {
            put(b);
        } else {
            put('?');
        }
    }
    bytes.resize(o);
    return bytes;
}

bool Cp932CanEncode(std::u16string_view text) {
    const Tables& t = GetTables();
    for (char16_t c : text) {
        // No code page 932 character lies outside the BMP, so every surrogate is an escape or
        // unpaired.
        if (IsSurrogate(c) || t.encode[c] == kNoCode) {
            return false;
        }
    }
    return true;
}

std::size_t Cp932CharLength(const unsigned char* bytes, std::size_t avail) {
    return avail >= 2 && IsLeadByte(bytes[0]) && IsTrailByte(bytes[1]) ? 2 : 1;
}

}  // namespace popuran::folder
