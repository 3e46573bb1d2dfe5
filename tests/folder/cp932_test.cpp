// Code page 932 conversion: the character set, lossless escapes, offsets and canonical codes.
// Random byte strings are left to the codec fuzzer, which checks the same properties.
#include "folder/services/cp932.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace popuran::folder {
namespace {

std::string Bytes(std::initializer_list<unsigned> values) {
    std::string bytes;
    for (unsigned v : values) {
        bytes.push_back(static_cast<char>(v));
    }
    return bytes;
}

bool IsSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// A decoded text that is one real character, not an escape.
bool IsOneCharacter(const std::u16string& text) {
    return text.size() == 1 && !IsSurrogate(text[0]);
}

TEST(Cp932Decode, Has191SingleByteAnd9604DoubleByteCharacters) {
    int singles = 0;
    for (unsigned b = 0; b < 256; ++b) {
        if (IsOneCharacter(Cp932Decode(Bytes({b})))) {
            ++singles;
        }
    }
    EXPECT_EQ(singles, 191);

    int standard = 0;      // JIS X 0208, NEC row 13, NEC-selected and IBM extensions
    int user_defined = 0;  // F040-F9FC
    for (unsigned lead = 0x80; lead < 0x100; ++lead) {
        for (unsigned trail = 0; trail < 0x100; ++trail) {
            std::u16string text = Cp932Decode(Bytes({lead, trail}));
            if (!IsOneCharacter(text)) {
                continue;
            }
            if (lead >= 0xF0 && lead <= 0xF9) {
                EXPECT_GE(text[0], 0xE000);
                EXPECT_LE(text[0], 0xE757);
                ++user_defined;
            } else {
                ++standard;
            }
        }
    }
    EXPECT_EQ(standard, 7724);
    EXPECT_EQ(user_defined, 1880);
    EXPECT_EQ(Cp932Decode("\xF0\x40"), u"\uE000");
    EXPECT_EQ(Cp932Decode("\xF9\xFC"), u"\uE757");
}

TEST(Cp932Decode, MapsBytesAndPairsToCharactersOrEscapes) {
    struct Case {
        std::string bytes;
        std::u16string text;
        const char* why;
    };
    const Case cases[] = {
        {"\x5C\x7E", u"\\~", "0x5C and 0x7E are ASCII, not yen and overline"},
        {"\xA1\xDF", u"\uFF61\uFF9F", "half-width katakana"},
        {"\x83\x5C", u"ソ", "a trail byte 0x5C belongs to its character"},
        {"\x95\x5C", u"表", "a trail byte 0x5C belongs to its character"},
        {"\x80", u"\xDC80", "0x80 is no character"},
        {"\xFD\xFE\xFF", u"\xDCFD\xDCFE\xDCFF", "0xFD-0xFF are no characters"},
        {"\x81", u"\xDC81", "a lead byte at the end"},
        {"\x81\x20", u"\xDC81 ", "a lead byte before a non-trail byte"},
        {"\x81\x7F", u"\xDC81\x7F", "0x7F is no trail byte"},
        {"\xE0\xFD", u"\xDCE0\xDCFD", "0xFD is no trail byte"},
        {"\x85\x40", u"\U000F8540", "an unmapped pair stays one character"},
        {"\x85\x41Z", u"\U000F8541Z", "an unmapped pair does not swallow what follows"},
        {"\xFC\xFC", u"\U000FFCFC", "the last unmapped pair"},
        {"\x81\x5F\x81", u"\uFF3C\xDC81", "a pair, then a truncated lead"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(Cp932Decode(c.bytes), c.text);
        EXPECT_EQ(Cp932Encode(c.text), c.bytes);
    }
}

TEST(Cp932Decode, EveryByteAndPairRoundTripsOrIsADuplicateOfItsCanonicalCode) {
    for (unsigned b = 0; b < 256; ++b) {
        ASSERT_EQ(Cp932Encode(Cp932Decode(Bytes({b}))), Bytes({b})) << b;
    }
    // Duplicates counted by (lead byte of the code read, lead byte of the code written).
    std::map<std::pair<unsigned, unsigned>, int> duplicates;
    for (unsigned first = 0; first < 256; ++first) {
        for (unsigned second = 0; second < 256; ++second) {
            const std::string bytes = Bytes({first, second});
            const std::u16string text = Cp932Decode(bytes);
            const std::string encoded = Cp932Encode(text);
            if (encoded == bytes) {
                continue;
            }
            SCOPED_TRACE(testing::Message() << std::hex << first << ' ' << second);
            ASSERT_TRUE(IsOneCharacter(text));
            ASSERT_EQ(encoded.size(), 2u);
            EXPECT_EQ(Cp932Decode(encoded), text);
            ++duplicates[{first, static_cast<unsigned char>(encoded[0])}];
        }
    }
    // NEC row 13 symbols that JIS X 0208 has too (87 90 ≒ is written 81 E0); NEC-selected IBM
    // extensions (rows ED and EE) written as IBM extensions (rows FA-FC: ED 40 纊 as FA 5C) or
    // as JIS (EE F9 ¬ as 81 CA); IBM extensions that row 13 or JIS has (FA 4A Ⅰ as 87 54).
    // With the round trip above, these counts catch any character written in the wrong row.
    const std::map<std::pair<unsigned, unsigned>, int> expected = {
        {{0x87, 0x81}, 9},  {{0xED, 0xFA}, 160}, {{0xED, 0xFB}, 28},
        {{0xEE, 0x81}, 1},  {{0xEE, 0xFA}, 13},  {{0xEE, 0xFB}, 160},
        {{0xEE, 0xFC}, 12}, {{0xFA, 0x81}, 2},   {{0xFA, 0x87}, 13},
    };
    EXPECT_EQ(duplicates, expected);
}

TEST(Cp932CanEncode, AcceptsOnlyRealCharacters) {
    struct Case {
        std::u16string text;
        bool can_encode;
        std::string encoded;
        const char* why;
    };
    const Case cases[] = {
        {u"abc\\~\u001A\u007F", true, "abc\\~\x1A\x7F", "ASCII and controls"},
        {u"ソ表ｱ", true, "\x83\x5C\x95\x5C\xB1", "kana and kanji"},
        {u"\uFF5E\u2252\uE000", true, "\x81\x60\x81\xE0\xF0\x40",
         "fullwidth tilde, ≒, user-defined"},
        {u"\u301C", false, "?", "wave dash has no code (fullwidth tilde has)"},
        {u"a\u00A5b", false, "a?b", "the yen sign has no code of its own"},
        {u"\U0001F600", false, "?", "a character outside the BMP is one '?'"},
        {u"\xD83Dx", false, "?x", "unpaired high surrogate"},
        {u"\xDC81", false, "\x81", "escape of a lone lead byte"},
        {u"\xDC41", false, "?", "not an escape decoding produces: 0x41 is a character"},
        {u"\U000F8540", false, "\x85\x40", "escape of an unmapped pair"},
        {u"\U000F889F", false, "?", "not an escape: 88 9F is a character"},
        {u"\U000F8130", false, "?", "not an escape: 0x30 is no trail byte"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(Cp932CanEncode(c.text), c.can_encode);
        EXPECT_EQ(Cp932Encode(c.text), c.encoded);
    }
}

}  // namespace
}  // namespace popuran::folder
