#include "folder/services/encodings.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "folder/services/detect_encoding.h"

namespace popuran::folder {
namespace {

const Encoding kAll[] = {Encoding::kCp932, Encoding::kUtf8, Encoding::kEucJp, Encoding::kUtf16Le,
                         Encoding::kUtf16Be};

TEST(EncodeText, EachCharacterInEachEncoding) {
    struct Case {
        const char16_t* text;
        const char* bytes[5];  // in the order of kAll; nullptr: no code there
        const char* why;
    };
    const Case cases[] = {
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
    for (const Case& c : cases) {
        for (std::size_t i = 0; i < std::size(kAll); ++i) {
            SCOPED_TRACE(std::string(c.why) + " in " + std::string(EncodingName(kAll[i])));
            EXPECT_EQ(CanEncodeText(kAll[i], c.text), c.bytes[i] != nullptr);
            if (c.bytes[i] != nullptr) {
                EXPECT_EQ(EncodeText(kAll[i], c.text), c.bytes[i]);
            }
        }
    }
}

TEST(DecodeUnit, UnitsKeepTheirBytesTogether) {
    struct Case {
        Encoding encoding;
        std::string bytes;
        std::size_t length;
        char32_t value;
        const char* why;
    };
    const Case cases[] = {
        {Encoding::kEucJp, "\xC6\xFC", 2, U'日', "a pair"},
        {Encoding::kEucJp, "\xAD\xA1", 2, 0xFADA1, "NEC row 13 is no character here"},
        {Encoding::kEucJp, "\xA1\xC1", 2, 0xFF5E, "the wave dash as one value"},
        {Encoding::kUtf8, "\xE3\x81\x41", 1, 0xDCE3, "a cut sequence"},
        {Encoding::kUtf8, "\xED\xA0\x80", 1, 0xDCED, "an encoded surrogate"},
        {Encoding::kUtf16Le, std::string("\x3D\xD8\x00\xDE", 4), 4, 0x1F600, "a surrogate pair"},
        {Encoding::kUtf16Be, std::string("\xD8\x3D\x00\x41", 4), 2, 0xD83D, "a lone surrogate"},
        {Encoding::kUtf16Le, "\x41", 1, 0xDC41, "an odd last byte"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        char32_t value = 0;
        const auto* p = reinterpret_cast<const unsigned char*>(c.bytes.data());
        EXPECT_EQ(DecodeUnit(c.encoding, p, c.bytes.size(), value), c.length);
        EXPECT_EQ(value, c.value);
    }
}

std::string Verdict(const Detection& d) {
    if (d.kind == Detection::Kind::kOther) {
        return "other";
    }
    std::string text = d.ascii_only ? "ascii" : std::string(EncodingName(d.encoding));
    if (d.kind == Detection::Kind::kUncertain) {
        text = "uncertain";
        for (const Encoding e : d.plausible) {
            text += " " + std::string(EncodingName(e));
        }
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
    struct Case {
        std::string bytes;
        const char* verdict;
        const char* why;
    };
    const Case cases[] = {
        {"\x93\xFA\x96\x7B\x82\xCC\x95\xB6\x8F\xCD\x82\xC5\x82\xB7\x81\x42", "cp932",
         "日本の文章です。 in code page 932"},
        {"\xC6\xFC\xCB\xDC\xA4\xCE\xCA\xB8\xBE\xCF\xA4\xC7\xA4\xB9\xA1\xA3", "euc-jp",
         "the same in EUC-JP, also valid code page 932"},
        {sentence_utf8, "utf-8", "UTF-8"},
        {sentence_utf8.substr(0, 9) + "\xFF" + sentence_utf8.substr(9), "utf-8",
         "UTF-8 with one damaged byte"},
        {"\xEF\xBB\xBF" + sentence_utf8, "utf-8-bom", "UTF-8 with a byte order mark"},
        {std::string("\xFF\xFE\xE5\x65\x2C\x67", 6), "utf-16le", "UTF-16 with its mark"},
        {std::string("\xFF\xFE\0\0\x41\0\0\0", 8), "other", "UTF-32"},
        {"\x1B$B$3$s\x1B(B", "other", "ISO-2022-JP"},
        {"int main() { return 0; }\n", "ascii", "ASCII"},
        {"\xC6\xB1", "uncertain utf-8 euc-jp", "two bytes that all three read"},
        {"\xB0\xA1", "euc-jp", "one common EUC-JP kanji rather than two half-width katakana"},
        {"\xD0\xDE", "uncertain euc-jp cp932", "one rare EUC-JP kanji or two half-width katakana"},
        {random, "cp932", "random bytes are read as they always were"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(Detect(c.bytes, c.bytes.size()), c.verdict);
        // The answer does not depend on how the bytes come in.
        EXPECT_EQ(Detect(c.bytes, 3), c.verdict);
    }
}

}  // namespace
}  // namespace popuran::folder
