// Fuzzes the code page 932 and UTF-8 conversions with arbitrary bytes.
//
// Code page 932: decoding never loses a byte. Re-encoding the decoded text gives the same
// bytes, except that a character with two codes (the vendor extension rows) is written with
// its preferred code: the JIS row's where there is one, the NEC row 13 code for the Roman
// numerals and the like, the IBM code for the rest, never the NEC-selected IBM copy (0xED,
// 0xEE). Either way the re-encoded bytes decode to the same text again. Offsets
// start at 0, never decrease, end at the byte count, and each character's bytes decode to that
// character alone.
//
// UTF-8: any byte string comes back unchanged from Utf8ToText and TextToUtf8.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "folder/services/cp932.h"
#include "folder/services/utf8.h"
#include "fuzz_check.h"

namespace {

using popuran::fuzz::AsBytes;
namespace folder = popuran::folder;

bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
bool IsSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// Lead bytes of the rows that hold a character also found elsewhere in the code page: the NEC
// special characters (0x87), the NEC-selected IBM extensions (0xED, 0xEE) and the IBM
// extensions (0xFA-0xFC).
bool InDuplicateRow(unsigned char lead) {
    return lead == 0x87 || lead == 0xED || lead == 0xEE || (lead >= 0xFA && lead <= 0xFC);
}

void CheckCp932(std::string_view bytes) {
    const std::u16string text = folder::Cp932Decode(bytes);
    std::u16string text2;
    std::vector<std::uint32_t> offsets;
    folder::Cp932DecodeWithOffsets(bytes, text2, offsets);
    FUZZ_CHECK(text2 == text);
    FUZZ_CHECK(offsets.size() == text.size() + 1);
    FUZZ_CHECK(offsets.front() == 0);
    FUZZ_CHECK(offsets.back() == bytes.size());
    for (std::size_t i = 1; i < offsets.size(); ++i) {
        FUZZ_CHECK(offsets[i - 1] <= offsets[i]);
    }

    const auto* raw = reinterpret_cast<const unsigned char*>(bytes.data());
    std::string expected_encoding;
    bool has_escape = false;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t units =
            IsHigh(text[i]) && i + 1 < text.size() && IsLow(text[i + 1]) ? 2 : 1;
        // Both units of a surrogate pair belong to the character that starts at the first.
        FUZZ_CHECK(units == 1 || offsets[i + 1] == offsets[i]);
        const std::size_t begin = offsets[i];
        const std::size_t end = offsets[i + units];
        FUZZ_CHECK(end > begin && end - begin <= 2);
        FUZZ_CHECK(folder::Cp932CharLength(raw + begin, bytes.size() - begin) == end - begin);
        const std::string_view span = bytes.substr(begin, end - begin);
        const std::u16string_view character = std::u16string_view(text).substr(i, units);
        FUZZ_CHECK(folder::Cp932Decode(span) == character);

        // A decoded character is either real (encodable) or an escape of undecodable bytes.
        const bool escape = IsSurrogate(character[0]);
        has_escape = has_escape || escape;
        FUZZ_CHECK(folder::Cp932CanEncode(character) == !escape);
        const std::string encoded = folder::Cp932Encode(character);
        if (encoded != span) {
            // Only a real double-byte character from a duplicate row may change, to another
            // code of the same length that decodes to the same character.
            FUZZ_CHECK(!escape);
            FUZZ_CHECK(span.size() == 2 && encoded.size() == 2);
            FUZZ_CHECK(InDuplicateRow(raw[begin]));
            // The NEC-selected copies of the IBM extensions are never the preferred code.
            const auto preferred_lead = static_cast<unsigned char>(encoded[0]);
            FUZZ_CHECK(preferred_lead != 0xED && preferred_lead != 0xEE);
            FUZZ_CHECK(folder::Cp932Decode(encoded) == character);
        }
        expected_encoding += encoded;
        i += units;
    }

    const std::string encoded = folder::Cp932Encode(text);
    FUZZ_CHECK(encoded == expected_encoding);
    FUZZ_CHECK(encoded.size() == bytes.size());
    FUZZ_CHECK(folder::Cp932Decode(encoded) == text);
    FUZZ_CHECK(folder::Cp932CanEncode(text) == !has_escape);
}

void CheckUtf8(std::string_view bytes) {
    const std::u16string text = folder::Utf8ToText(bytes);
    FUZZ_CHECK(folder::TextToUtf8(text) == bytes);
    // Valid UTF-8 never grows in code units; an escape stands for one byte.
    FUZZ_CHECK(text.size() <= bytes.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes = AsBytes(data, size);
    CheckCp932(bytes);
    CheckUtf8(bytes);
    return 0;
}
