// Text: code page 932, UTF-8 names, the other encodings and their detection, paths, diffs.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "folder/services/cp932.h"
#include "folder/services/detect_encoding.h"
#include "folder/services/encodings.h"
#include "folder/services/icu_tables.h"
#include "folder/services/text_search.h"
#include "folder/services/unified_diff.h"
#include "folder/services/utf8.h"
#include "support/fake_view.h"

namespace popuran::folder {
namespace {

std::string Bytes(std::initializer_list<unsigned> values) {
    std::string bytes;
    for (unsigned v : values) {
        bytes.push_back(static_cast<char>(v));
    }
    return bytes;
}

// A decoded text that is one real character, not an escape.
bool IsOneCharacter(const std::u16string& text) {
    return text.size() == 1 && (text[0] < 0xD800 || text[0] > 0xDFFF);
}

// Code page 932 for contents, UTF-8 for names: every byte string decodes to a text that encodes
// back to the same bytes, what is no character as an escape; a text that no bytes decode to
// (`one_way`) is written with '?' for what has no code. Random byte strings are left to the
// replacement fuzzer, whose conversions must lose nothing.
TEST(Decode, MapsBytesToCharactersOrEscapesAndBack) {
    const struct {
        bool utf8;  // else code page 932
        std::string bytes;
        std::u16string text;
        const char* why;
        bool one_way = false;
    } cases[] = {
        {false, "\x5C\x7E", u"\\~", "0x5C and 0x7E are ASCII, not yen and overline"},
        {false, "\xA1\xDF", u"\uFF61\uFF9F", "half-width katakana"},
        {false, "\x83\x5C", u"ソ", "a trail byte 0x5C belongs to its character"},
        {false, "\x95\x5C", u"表", "a trail byte 0x5C belongs to its character"},
        {false, "\x80", u"\xDC80", "0x80 is no character"},
        {false, "\xFD\xFE\xFF", u"\xDCFD\xDCFE\xDCFF", "0xFD-0xFF are no characters"},
        {false, "\x81", u"\xDC81", "a lead byte at the end"},
        {false, "\x81\x20", u"\xDC81 ", "a lead byte before a non-trail byte"},
        {false, "\x81\x7F", u"\xDC81\x7F", "0x7F is no trail byte"},
        {false, "\xE0\xFD", u"\xDCE0\xDCFD", "0xFD is no trail byte"},
        {false, "\x85\x40", u"\U000F8540", "an unmapped pair stays one character"},
        {false, "\x85\x41Z", u"\U000F8541Z", "an unmapped pair does not swallow what follows"},
        {false, "\xFC\xFC", u"\U000FFCFC", "the last unmapped pair"},
        {false, "\x81\x5F\x81", u"\uFF3C\xDC81", "a pair, then a truncated lead"},
        {true, "abc", u"abc", "ASCII"},
        {true, std::string("a\0b", 3), std::u16string(u"a\0b", 3), "NUL is ASCII"},
        {true, "\xC2\x80", u"\u0080", "the smallest two-byte character"},
        {true, "\xE0\xA0\x80", u"\u0800", "smallest three-byte"},
        {true, "\xED\x9F\xBF", u"\uD7FF", "just below the surrogates"},
        {true, "\xF0\x90\x80\x80", u"\xD800\xDC00", "U+10000, the first pair"},
        {true, "\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF", "U+10FFFF"},
        {true, "\xFF", u"\xDCFF", "never valid"},
        {true, "\xC0\x80", u"\xDCC0\xDC80", "overlong NUL"},
        {true, "\xE0\x80\xAF", u"\xDCE0\xDC80\xDCAF", "overlong three-byte"},
        {true, "\xED\xA0\x80", u"\xDCED\xDCA0\xDC80", "encoded high surrogate"},
        {true, "\xED\xB2\x80", u"\xDCED\xDCB2\xDC80", "encoded escape unit"},
        {true, "\xF4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80", "above U+10FFFF"},
        {true, "\xE3\x81z", u"\xDCE3\xDC81z", "cut short by ASCII"},
        {true, "\x80\xC3\xA9", u"\xDC80\u00E9", "valid sequence right after a stray byte"},
        {true, "\xC3\xC3\xA9", u"\xDCC3\u00E9", "lead byte followed by a new sequence"},
        {true, "?", u"\xD800", "lone high surrogate", true},
        {true, "?z", u"\xD83Dz", "high surrogate before ASCII", true},
        {true, "?", u"\xDC7F", "just below the escapes", true},
        {true, "\x80\xFF", u"\xDC80\xDCFF", "the escapes' ends"},
        {true, "\xF0\x90\x82\x80", u"\xD800\xDC80",
         "a pair, even when its low half looks like an escape"},
        {true, "\xEF\xBF\xBF", u"\uFFFF", "largest BMP code point"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        if (!c.one_way) {
            EXPECT_EQ(c.utf8 ? Utf8ToText(c.bytes) : Cp932Decode(c.bytes), c.text);
        }
        EXPECT_EQ(c.utf8 ? TextToUtf8(c.text) : Cp932Encode(c.text), c.bytes);
    }
    // A lead byte or high half at the end of the view stands alone even if the buffer goes on.
    EXPECT_EQ(Cp932Decode(std::string_view("\x81\x40").substr(0, 1)), u"\xDC81");
    EXPECT_EQ(Utf8ToText(std::string_view("\xC3\xA9").substr(0, 1)), u"\xDCC3");
    EXPECT_EQ(TextToUtf8(std::u16string_view(u"\xD800\xDC00").substr(0, 1)), "?");
}

// 191 single bytes and 9,604 pairs are characters (7,724 standard ones: JIS X 0208, NEC row 13,
// the NEC-selected and IBM extensions; 1,880 user-defined ones, F040-F9FC, in U+E000-U+E757).
// Every byte and pair round-trips or is a duplicate of its canonical code.
TEST(Cp932Decode, CharacterSetRoundTripsAndDuplicates) {
    int singles = 0;
    for (unsigned b = 0; b < 256; ++b) {
        ASSERT_EQ(Cp932Encode(Cp932Decode(Bytes({b}))), Bytes({b})) << b;
        singles += IsOneCharacter(Cp932Decode(Bytes({b}))) ? 1 : 0;
    }
    EXPECT_EQ(singles, 191);
    int standard = 0;
    int user_defined = 0;
    // Duplicates counted by (lead byte of the code read, lead byte of the code written).
    std::map<std::pair<unsigned, unsigned>, int> duplicates;
    for (unsigned first = 0; first < 256; ++first) {
        for (unsigned second = 0; second < 256; ++second) {
            const std::string bytes = Bytes({first, second});
            const std::u16string text = Cp932Decode(bytes);
            if (first >= 0x80 && IsOneCharacter(text)) {
                const bool user = first >= 0xF0 && first <= 0xF9;
                EXPECT_EQ(user, text[0] >= 0xE000 && text[0] <= 0xE757) << bytes;
                ++(user ? user_defined : standard);
            }
            const std::string encoded = Cp932Encode(text);
            if (encoded == bytes) {
                continue;
            }
            SCOPED_TRACE(::testing::Message() << std::hex << first << ' ' << second);
            ASSERT_TRUE(IsOneCharacter(text));
            ASSERT_EQ(encoded.size(), 2u);
            EXPECT_EQ(Cp932Decode(encoded), text);
            ++duplicates[{first, static_cast<unsigned char>(encoded[0])}];
        }
    }
    EXPECT_EQ(standard, 7724);
    EXPECT_EQ(user_defined, 1880);
    EXPECT_EQ(Cp932Decode("\xF0\x40"), u"\uE000");
    EXPECT_EQ(Cp932Decode("\xF9\xFC"), u"\uE757");
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
    const struct {
        std::u16string text;
        bool can_encode;
        std::string encoded;
        const char* why;
    } cases[] = {
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

const Encoding kAll[] = {Encoding::kCp932, Encoding::kUtf8, Encoding::kEucJp, Encoding::kUtf16Le,
                         Encoding::kUtf16Be};

TEST(EncodeText, EachCharacterInEachEncoding) {
    const struct {
        const char16_t* text;
        const char* bytes[5];  // in the order of kAll; nullptr: no code there
        const char* why;
    } cases[] = {
        {u"日本",
         {"\x93\xFA\x96\x7B", "\xE6\x97\xA5\xE6\x9C\xAC", "\xC6\xFC\xCB\xDC", "\xE5\x65\x2C\x67",
          "\x65\xE5\x67\x2C"},
         "kanji"},
        {u"〜",
         {"\x81\x60", "\xE3\x80\x9C", "\xA1\xC1", "\x1C\x30", "\x30\x1C"},
         "the wave dash of input methods: code page 932 and EUC-JP write their one code"},
        {u"～",
         {"\x81\x60", "\xEF\xBD\x9E", "\xA1\xC1", "\x5E\xFF", "\xFF\x5E"},
         "the full-width tilde: EUC-JP writes the JIS wave dash"},
        {u"−∥—",
         {"\x81\x7C\x81\x61\x81\x5C", "\xE2\x88\x92\xE2\x88\xA5\xE2\x80\x94",
          "\xA1\xDD\xA1\xC2\xA1\xBD", "\x12\x22\x25\x22\x14\x20", "\x22\x12\x22\x25\x20\x14"},
         "minus, parallel and dash each take the one code page 932 and JIS code"},
        {u"丂", {nullptr, "\xE4\xB8\x82", "\x8F\xB0\xA1", "\x02\x4E", "\x4E\x02"}, "JIS X 0212"},
        {u"①",
         {"\x87\x40", "\xE2\x91\xA0", nullptr, "\x60\x24", "\x24\x60"},
         "NEC row 13: not in the EUC-JP of the system"},
        {u"한", {nullptr, "\xED\x95\x9C", nullptr, "\x5C\xD5", "\xD5\x5C"}, "Hangul"},
        {u"\U0002000B",
         {nullptr, "\xF0\xA0\x80\x8B", nullptr, "\x40\xD8\x0B\xDC", "\xD8\x40\xDC\x0B"},
         "outside the BMP"},
    };
    for (const auto& c : cases) {
        for (std::size_t i = 0; i < std::size(kAll); ++i) {
            SCOPED_TRACE(std::string(c.why) + " in " + std::string(EncodingName(kAll[i])));
            EXPECT_EQ(CanEncodeText(kAll[i], c.text), c.bytes[i] != nullptr);
            if (c.bytes[i] != nullptr) {
                EXPECT_EQ(EncodeText(kAll[i], c.text), c.bytes[i]);
            }
        }
    }
    EXPECT_FALSE(CanEncodeText(Encoding::kCp932, u"\U00010000") ||
                 CanEncodeText(Encoding::kEucJp, u"\U00010000"));
    EXPECT_EQ(DecodeText(Encoding::kEucJp, "\x8F\xB0\xA1"), u"丂");  // three bytes, one kanji
}

// Searches and case changes at their edges: the last place a match fits, and the first and
// last letters of each case.
TEST(TextSearch, MatchesAtTheEndAndCaseAtTheEdgesOfTheAlphabet) {
    const struct {
        std::u16string_view haystack;
        std::u16string_view needle;
        bool case_sensitive;
        std::size_t at;
    } cases[] = {
        {u"xA", u"a", false, 1},
        {u"xa", u"A", false, 1},
        {u"xyＡ", u"ａ", false, 2},
        {u"xa", u"A", true, kNotFound},
        {u"abc", u"bc", true, 1},
        {u"ab", u"abc", false, kNotFound},
        {u"\xDC80\xDC81", u"\xDC80", false, 0},  // two escapes are no pair
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindText(c.haystack, c.needle, 0, c.case_sensitive), c.at)
            << testing::U8(c.haystack);
    }
    EXPECT_EQ(FoldCodePoint(U'\U00010000'), U'\U00010000');  // beyond the BMP tables
    EXPECT_EQ(FoldCodePoint(U'\U00010400'), U'\U00010428');
    EXPECT_EQ(ToUpper(u"@az[`{é"), u"@AZ[`{É");
    EXPECT_EQ(ToLower(u"@AZ[`{É"), u"@az[`{é");
}

// The units that fold alike form one ring each, in increasing order: a case-insensitive search
// takes a match's possible first units from it.
TEST(TextSearch, UnitsThatFoldAlikeFormOneRingInOrder) {
    std::map<char16_t, std::vector<char16_t>> classes;
    for (unsigned c = 0; c < 0x10000; ++c) {
        classes[icu_tables::kFold[c]].push_back(static_cast<char16_t>(c));
    }
    EXPECT_EQ(classes[u'a'], (std::vector<char16_t>{u'A', u'a'}));
    EXPECT_EQ(classes[u'k'],
              (std::vector<char16_t>{u'K', u'k', u'\u212A'}));  // and the Kelvin sign
    for (const auto& [folded, units] : classes) {
        for (std::size_t i = 0; i < units.size(); ++i) {
            ASSERT_EQ(icu_tables::kNextAlike[units[i]], units[(i + 1) % units.size()])
                << int{units[i]};
        }
    }
}

// What each character adds to a reading's score, at the edges of every range.
TEST(CharacterScore, JapaneseTextScoresAboveWhatOtherReadingsMake) {
    const std::pair<char32_t, int> cases[] = {
        {0x7F, 0},    {0x80, -6},   {0x9F, -6},   {0xA0, 0},    {0xBF, 0},    {0xC0, 1},
        {0xFF, 1},    {0x100, -3},  {0x36F, -3},  {0x370, 0},   {0x4FF, 0},   {0x500, -3},
        {0x7FF, -3},  {0x800, -2},  {0x200F, -2}, {0x2010, 0},  {0x27BF, 0},  {0x27C0, -2},
        {0x2FFF, -2}, {0x3000, 3},  {0x30FF, 3},  {0x3100, -2}, {U'亜', 2},   {U'腕', 2},
        {U'弌', -1},  {0xDFFF, -2}, {0xE000, -6}, {0xF8FF, -6}, {0xF900, -2}, {0xFF00, -2},
        {0xFF01, 3},  {0xFF5E, 3},  {0xFF5F, -2}, {U'ｱ', -2},   {U'한', -2},  {U'𠀋', -2},
    };
    for (const auto& [c, score] : cases) {
        EXPECT_EQ(CharacterScore(c), score) << std::hex << static_cast<std::uint32_t>(c);
    }
}

// The detector's answer in one word, or "uncertain" and the readings that remain.
std::string Verdict(const Detection& d) {
    if (d.kind != Detection::Kind::kUncertain) {
        return d.kind == Detection::Kind::kOther ? "other"
               : d.ascii_only                    ? "ascii"
                                                 : std::string(EncodingName(d.encoding));
    }
    std::string text = "uncertain";
    for (const Encoding e : d.plausible) {
        text += " " + std::string(EncodingName(e));
    }
    return text;
}

std::string Detect(const std::string& bytes, std::size_t piece) {
    EncodingDetector detector;
    std::string window;
    std::uint64_t base = 0;
    for (std::size_t at = 0;;) {
        const std::size_t n = std::min(piece, bytes.size() - at);
        window += bytes.substr(at, n);
        at += n;
        detector.Feed(window, base, at == bytes.size());
        if (at == bytes.size() || detector.Settled()) {
            break;
        }
        window.erase(0, static_cast<std::size_t>(detector.Consumed() - base));
        base = detector.Consumed();
    }
    return Verdict(detector.Result());
}

TEST(EncodingDetector, TellsEachEncodingAndDoubtsWhereItShould) {
    std::string random;
    for (unsigned i = 0, x = 7; i < 3000; ++i) {
        x = x * 1103515245u + 12345u;
        random.push_back(static_cast<char>(x >> 16));
    }
    const std::string sentence_utf8 = "日本の文章です。漢字とかなが混じっています。";
    const struct {
        std::string bytes;
        const char* verdict;
        const char* why;
    } cases[] = {
        {"\x93\xFA\x96\x7B\x82\xCC\x95\xB6\x8F\xCD\x82\xC5\x82\xB7\x81\x42", "cp932",
         "日本の文章です。 in code page 932"},
        {"\xC6\xFC\xCB\xDC\xA4\xCE\xCA\xB8\xBE\xCF\xA4\xC7\xA4\xB9\xA1\xA3", "euc-jp",
         "the same in EUC-JP, also valid code page 932"},
        {sentence_utf8, "utf-8", "UTF-8"},
        {sentence_utf8 + "😀😀😀é", "utf-8", "UTF-8 beyond the BMP and of two bytes"},
        {sentence_utf8.substr(0, 9) + "\xFF" + sentence_utf8.substr(9), "utf-8",
         "UTF-8 with one damaged byte"},
        {"\xEF\xBB\xBF" + sentence_utf8, "utf-8-bom", "UTF-8 with a byte order mark"},
        {"\xEF\xBB\xBF" + sentence_utf8.substr(0, 45) + "\xFF", "utf-8-bom",
         "a mark is believed with one fault in sixteen characters, the mark one of them"},
        {"\xEF\xBB\xBF" + sentence_utf8.substr(0, 42) + "\xFF", "cp932", "but not with more"},
        {"abcd\xEF\xBB\xBF" + sentence_utf8, "utf-8", "a mark inside the text is a character"},
        {std::string("\xFF\xFE\xE5\x65\x2C\x67", 6), "utf-16le", "UTF-16 with its mark"},
        {std::string("\xFF\xFE\0\0\x41\0\0\0", 8), "other", "UTF-32"},
        {"\x1B$B$3$s\x1B(B", "other", "ISO-2022-JP"},
        {"int main() { return 0; }\n", "ascii", "ASCII"},
        {"\xC6\xB1", "uncertain utf-8 euc-jp", "two bytes that all three read"},
        {"\xB0\xA1", "euc-jp", "one common EUC-JP kanji rather than two half-width katakana"},
        {"\xED\xA1\xED\xA2\xED\xA3\xED\xA4", "euc-jp",
         "rare EUC-JP kanji rather than the NEC-selected rows of code page 932"},
        {"\xD0\xDE", "uncertain euc-jp cp932", "one rare EUC-JP kanji or two half-width katakana"},
        {"\xE0\xA1\xE0\xA2", "uncertain cp932 euc-jp", "two rare kanji either way"},
        {random, "cp932", "random bytes are read as they always were"},
        {std::string(5000, 'a') + "\xC6\xFC\xCB\xDC\xA4\xCE", "euc-jp",
         "Japanese only after the first block"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(Detect(c.bytes, c.bytes.size()), c.verdict);
        // The answer does not depend on how the bytes come in.
        EXPECT_EQ(Detect(c.bytes, 3), c.verdict);
    }
}

// Expected hunks as GNU diff -u writes them for the same texts.
TEST(UnifiedDiff, HunksAsDiffWritesThem) {
    const struct {
        const char* old_text;
        const char* new_text;
        const char* hunks;
        const char* why;
    } cases[] = {
        {"a\nb\nc\n", "a\nb\nc\n", "", "equal texts give nothing"},
        {"a\nb\nc\n", "a\nX\nY\nc\n", "@@ -1,3 +1,4 @@\n a\n-b\n+X\n+Y\n c\n",
         "a line replaced by two"},
        {"", "new\n", "@@ -0,0 +1 @@\n+new\n", "an empty side is numbered 0,0"},
        {"a\nb\nc\nd\n", "a\nc\nd\nx\n", "@@ -1,4 +1,4 @@\n a\n-b\n c\n d\n+x\n",
         "a line gone and one come"},
        {"x\na\nb\ny\nc\n", "a\nz\nb\nc\nw\n", "@@ -1,5 +1,5 @@\n-x\n a\n+z\n b\n-y\n c\n+w\n",
         "lines gone and come in turn"},
        {"1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n12\n", "2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n",
         "@@ -1,4 +1,3 @@\n-1\n 2\n 3\n 4\n@@ -9,4 +8,3 @@\n 9\n 10\n 11\n-12\n",
         "changes more than six lines apart make two hunks"},
        {"1\n2\n3\n4\n5\n6\n7\n8\n", "X\n2\n3\n4\n5\n6\n7\nY\n",
         "@@ -1,8 +1,8 @@\n-1\n+X\n 2\n 3\n 4\n 5\n 6\n 7\n-8\n+Y\n",
         "changes six lines apart stay in one hunk"},
        {"x\nlast", "x\nLAST",
         "@@ -1,2 +1,2 @@\n x\n-last\n\\ No newline at end of file\n+LAST\n"
         "\\ No newline at end of file\n",
         "a last line without a line end"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const std::string hunks = c.hunks;
        EXPECT_EQ(UnifiedDiff(c.old_text, c.new_text, "f"),
                  hunks.empty() ? hunks : "--- f\n+++ f\n" + hunks);
    }
    // Too far apart for the shortest edits to be sought: all old lines go, then new ones come.
    std::string old_text;
    std::string new_text;
    for (int i = 0; i < 1001; ++i) {
        old_text += "a" + std::to_string(i) + "\n";
        new_text += "b" + std::to_string(i) + "\n";
    }
    const std::string diff = UnifiedDiff(old_text, new_text, "f");
    EXPECT_EQ(diff.find("--- f\n+++ f\n@@ -1,1001 +1,1001 @@\n-a0\n"), 0u);
    EXPECT_NE(diff.find("\n-a1000\n+b0\n"), std::string::npos);
}

}  // namespace
}  // namespace popuran::folder
