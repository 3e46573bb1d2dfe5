// UTF-8 names: decoding escapes every byte that is not valid UTF-8, so that names round-trip.
#include "folder/services/utf8.h"

#include <cstddef>
#include <string>

#include <gtest/gtest.h>

namespace popuran::folder {
namespace {

TEST(Utf8ToText, DecodesValidAndEscapesEveryInvalidByte) {
    struct Case {
        std::string bytes;
        std::u16string text;
        const char* why;
    };
    const Case cases[] = {
        {"abc", u"abc", "ASCII"},
        {std::string("a\0b", 3), std::u16string(u"a\0b", 3), "NUL is ASCII"},
        {"\xC2\xA0", u"\u00A0", "smallest two-byte lead C2"},
        {"\xDF\xBF", u"\u07FF", "largest two-byte"},
        {"\xE0\xA0\x80", u"\u0800", "smallest three-byte"},
        {"\xED\x9F\xBF", u"\uD7FF", "just below the surrogates"},
        {"\xF0\x90\x80\x80", u"\xD800\xDC00", "U+10000, the first pair"},
        {"\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF", "U+10FFFF"},
        {"\xFF", u"\xDCFF", "never valid"},
        {"\xC0\x80", u"\xDCC0\xDC80", "overlong NUL"},
        {"\xC1\xBF", u"\xDCC1\xDCBF", "overlong two-byte"},
        {"\xE0\x80\xAF", u"\xDCE0\xDC80\xDCAF", "overlong three-byte"},
        {"\xED\xA0\x80", u"\xDCED\xDCA0\xDC80", "encoded high surrogate"},
        {"\xED\xB2\x80", u"\xDCED\xDCB2\xDC80", "encoded escape unit"},
        {"\xF4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80", "above U+10FFFF"},
        {"\xF5\x80\x80\x80", u"\xDCF5\xDC80\xDC80\xDC80", "lead byte F5"},
        {"\xE3\x81z", u"\xDCE3\xDC81z", "cut short by ASCII"},
        {"\x80\xC3\xA9", u"\xDC80\u00E9", "valid sequence right after a stray byte"},
        {"\xC3\xC3\xA9", u"\xDCC3\u00E9", "lead byte followed by a new sequence"},
        {"\x82\xA0.txt", u"\xDC82\xDCA0.txt", "a Shift-JIS name"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(Utf8ToText(c.bytes), c.text);
        EXPECT_EQ(TextToUtf8(c.text), c.bytes);
    }
    // A lead byte at the end of the view is cut short even if the buffer goes on.
    EXPECT_EQ(Utf8ToText(std::string_view("\xC3\xA9").substr(0, 1)), u"\xDCC3");
}

TEST(TextToUtf8, WritesUnpairedSurrogatesThatNoBytesDecodeToAsQuestionMarks) {
    struct Case {
        std::u16string text;
        std::string bytes;
        const char* why;
    };
    const Case cases[] = {
        {u"\xD800", "?", "lone high surrogate"},
        {u"\xD83Dz", "?z", "high surrogate before ASCII"},
        {u"\xDE00", "?", "lone low surrogate outside the escapes"},
        {u"\xDC41", "?", "would stand for an ASCII byte"},
        {u"\xDC7F", "?", "just below the escapes"},
        {u"\xDC80\xDCFF", "\x80\xFF", "the escapes' ends"},
        {u"\xD800\xDC80", "\xF0\x90\x82\x80",
         "a pair, even when its low half looks like an escape"},
        {u"\uFFFF", "\xEF\xBF\xBF", "largest BMP code point"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(TextToUtf8(c.text), c.bytes);
    }
}

// Longer random strings are left to the codec fuzzer.
TEST(Utf8ToText, EveryStringOfTwoBytesRoundTrips) {
    for (int i = 0; i < 65536; ++i) {
        const std::string bytes = {static_cast<char>(i >> 8), static_cast<char>(i & 0xFF)};
        ASSERT_EQ(TextToUtf8(Utf8ToText(bytes)), bytes) << i;
    }
}

}  // namespace
}  // namespace popuran::folder
