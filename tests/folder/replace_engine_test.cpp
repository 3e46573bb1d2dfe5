#include "folder/replace_engine.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "folder/replace_in_file.h"
#include "folder/services/cp932.h"
#include "support/fake_file_services.h"
#include "support/fake_view.h"

namespace popuran::folder {
namespace {

using testing::U8;

struct Spliced {
    std::string bytes;
    std::int32_t count = 0;
};

// Runs the pattern over bytes in windows of at most `window` bytes, the way a file is read,
// and splices replacement into every match.
Spliced SpliceInWindows(const SearchPattern& pattern, std::string_view bytes, std::size_t window,
                        std::string_view replacement) {
    Spliced out;
    std::string buffer;
    std::size_t read = 0;
    std::size_t from = 0;
    auto fill = [&] {
        const std::size_t n = std::min(window - buffer.size(), bytes.size() - read);
        buffer.append(bytes.substr(read, n));
        read += n;
    };
    fill();
    for (;;) {
        const bool final = read == bytes.size();
        ByteSpan match;
        std::size_t resume = 0;
        if (pattern.Find(buffer, from, final, match, resume)) {
            EXPECT_GE(match.begin, from);
            out.bytes.append(buffer, from, match.begin - from);
            out.bytes.append(replacement);
            ++out.count;
            from = match.end;
            continue;
        }
        EXPECT_GE(resume, from);
        out.bytes.append(buffer, from, resume - from);
        if (final) {
            return out;
        }
        buffer.erase(0, resume);
        from = 0;
        fill();
    }
}

// Bytes rich in the places where code page 932 goes wrong: trail bytes that look like ASCII,
// 0x5C trails, duplicate codes, bytes that decode to nothing, lone lead bytes.
std::string RandomCp932(std::mt19937& rng, std::size_t pieces) {
    static const std::vector<std::string> kPieces = {"a",
                                                     "A",
                                                     "b",
                                                     "\\",
                                                     "@",
                                                     "aa",
                                                     "\x83\x5C" /* ソ */,
                                                     "\x95\x5C" /* 表 */,
                                                     "\x83\x40" /* ァ */,
                                                     "\x82\x81" /* ａ */,
                                                     "\x82\x60" /* Ａ */,
                                                     "\x81\xE6" /* ∵ */,
                                                     "\x87\x9A" /* ∵, NEC row */,
                                                     "\xFA\x5B" /* ∵, IBM row */,
                                                     "\x83\xB6" /* Ω */,
                                                     "\x83\xD6" /* ω */,
                                                     "\x80",
                                                     "\xA0",
                                                     "\xFD",
                                                     "\x81",
                                                     "\x81\x20",
                                                     "\xF0\x40",
                                                     "\xB1" /* ｱ */,
                                                     "\r\n",
                                                     "\x00",
                                                     "\x1A",
                                                     "\x7F"};
    std::string out;
    for (std::size_t i = 0; i < pieces; ++i) {
        out += kPieces[rng() % kPieces.size()];
    }
    return out;
}

// The engine against the text-level replacement on the decoded text: the same number of
// matches and the same new text, whatever the window size.
TEST(SearchPattern, AgreesWithReplaceAllOnRandomText) {
    const std::vector<std::u16string> searches = {
        u"a", u"aa", u"Aa", u"\\", u"ソ",    u"表\\",   u"\\a",    u"∵",       u"ａ", u"Ａａ",
        u"Ω", u"ωa", u"@",  u"ｱ",  u"a\r\n", u"\u001A", u"\xDC80", u"a\xDC81", u"ァ@"};
    std::vector<SearchPattern> patterns;
    for (const auto& search : searches) {
        patterns.emplace_back(search, true);
        patterns.emplace_back(search, false);
    }
    std::mt19937 rng(20240601);
    run::RunState state;
    testing::FakeView view;
    testing::FakeFileServices files;
    Work work{state, view, files};
    for (int round = 0; round < 300; ++round) {
        const std::string bytes = RandomCp932(rng, rng() % 60);
        const std::u16string text = Cp932Decode(bytes);
        for (std::size_t i = 0; i < patterns.size(); ++i) {
            const auto& search = searches[i / 2];
            const bool case_sensitive = i % 2 == 0;
            {
                SCOPED_TRACE(U8(search) + (case_sensitive ? " exact" : " any case"));
                state.CaseSensitive = case_sensitive ? 1 : 0;
                const std::int32_t expected = ReplaceAll(work, text, search, u"#");
                const SearchPattern& pattern = patterns[i];
                const std::size_t window = pattern.MaxMatchBytes() + 2 + rng() % 12;
                const Spliced got = SpliceInWindows(pattern, bytes, window, "#");
                ASSERT_EQ(got.count, expected) << "round " << round << " window " << window;
                ASSERT_EQ(U8(Cp932Decode(got.bytes)), U8(state.WorkText)) << "round " << round;
            }
        }
    }
}

}  // namespace
}  // namespace popuran::folder
