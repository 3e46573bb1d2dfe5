#include "folder/replace_in_file.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "folder/replace_engine.h"
#include "folder/services/encodings.h"
#include "support/fake_file_services.h"
#include "support/fake_view.h"
#include "support/temp_tree.h"

namespace popuran::folder {
namespace {

using testing::FakeFileServices;
using testing::FileOp;
using testing::U16;
using testing::U8;

// The status label with the square in cell k.
std::string Cell(int k) {
    std::string text;
    for (int i = 0; i < 11; ++i) {
        text += i == k ? "■" : "　";
    }
    return "LblStat=" + text;
}

std::vector<std::string> StatusLog(const testing::FakeView& view) {
    std::vector<std::string> out;
    for (const auto& entry : view.caption_log) {
        if (entry.rfind(u"LblStat=", 0) == 0) {
            out.push_back(U8(entry));
        }
    }
    return out;
}

// Code page 932 as the fixed choice: these tests hold the engine's own behaviour.
class ReplaceInFileTest : public ::testing::Test {
protected:
    ReplaceInFileTest() { state.Encoding = run::kEncodingCp932; }
    // Runs mode 0 on one file of the tree.
    bool Run(const std::string& name, std::u16string search, std::u16string replacement,
             bool case_sensitive = true) {
        state.SearchText = std::move(search);
        state.ReplaceText = std::move(replacement);
        state.CaseSensitive = case_sensitive ? 1 : 0;
        return ReplaceInFile(work, tree.Text(name));
    }
    testing::TempTree tree;
    run::RunState state;
    testing::FakeView view;
    FakeFileServices files;
    Work work{state, view, files};
};

// A window that ends inside a match: the next window starts early enough to find it whole,
// whichever way the search goes (bytes alone, code page 932 units, decoded units).
TEST(SearchPattern, AWindowCutInsideAMatchKeepsItsStart) {
    const struct {
        const char16_t* search;
        bool case_sensitive;
        Encoding encoding;
    } cases[] = {
        {u"needle", true, Encoding::kCp932}, {u"needle", false, Encoding::kCp932},
        {u"needle", false, Encoding::kUtf8}, {u"ｎｅｅｄｌｅ", false, Encoding::kEucJp},
        {u"〜ne", true, Encoding::kUtf16Le}, {u"needle", false, Encoding::kUtf16Be},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.encoding));
        const SearchPattern pattern(c.search, c.case_sensitive, c.encoding);
        const std::string head = EncodeText(c.encoding, u"xx");
        const std::string match = EncodeText(c.encoding, c.search);
        const std::string first = head + match.substr(0, match.size() / 2 & ~std::size_t{1});
        ByteSpan found;
        std::size_t resume = 0;
        ASSERT_FALSE(pattern.Find(first, 0, false, found, resume));
        ASSERT_LE(resume, head.size());
        const std::string next = first.substr(resume) + match.substr(first.size() - head.size());
        ASSERT_TRUE(pattern.Find(next, 0, true, found, resume));
        EXPECT_EQ(next.substr(found.begin, found.end - found.begin), match);
    }
}

TEST_F(ReplaceInFileTest, MatchesCharactersNotBytes) {
    const struct {
        std::string before;
        std::u16string search, replacement;
        bool case_sensitive;
        std::string after;
        const char* why;
    } cases[] = {
        {"\x83\x5C\\\x95\x5C", u"\\", u"/", true, "\x83\x5C/\x95\x5C",
         "the 5C trail of ソ and 表 is no backslash"},
        {"\x83\x6E\x65\x65\x64\x6C\x65", u"NEEDLE", u"pin", false, "\x83\x6E\x65\x65\x64\x6C\x65",
         "ハeedle holds the bytes of needle, not the word"},
        {"a\x82\x81\x82\x60", u"Ａ", u"b", false, "abb", "full-width letters fold, not to ASCII"},
        {"aAab", u"AAB", u"x", false, "ax", "a match that starts inside a partial one"},
        {"\x81\xE6\x87\x9A\xFA\x5B", u"∵", u"!", true, "!!!",
         "every code of a character with three"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        tree.Create("j.txt", c.before);
        Run("j.txt", c.search, c.replacement, c.case_sensitive);
        EXPECT_EQ(tree.Read("j.txt"), c.after);
    }
}

// A stop while the replacements are counted leaves the file untouched; a stop while a file
// without a known ending is scanned for zero bytes ends that file.
TEST_F(ReplaceInFileTest, AStopLeavesTheFileUntouched) {
    std::string before;
    for (int i = 0; i < 100; ++i) {
        before += "needle, ";
    }
    tree.Create("big.txt", before);
    view.AtYield(1, [this] { state.StopRequested = 1; });
    EXPECT_TRUE(Run("big.txt", u"needle", u"pin"));
    EXPECT_EQ(tree.Read("big.txt"), before);
    EXPECT_EQ(state.ReplacedStringCount, 0);
    EXPECT_EQ(state.ChangedFileCount, 0);
    EXPECT_EQ(state.ProgressTicks, 20);  // the replacements counted up to the stop
    EXPECT_TRUE(view.changes.empty());

    tree.Create("README", std::string(200 * 1024, 'a'));
    state.StopRequested = 0;
    state.ProgressTicks = 0;
    view.AtYield(3, [this] { state.StopRequested = 1; });
    EXPECT_TRUE(Run("README", u"a", u"b"));
    EXPECT_EQ(view.yields, 3);
    EXPECT_EQ(state.ProgressTicks, 0);
    EXPECT_EQ(tree.Names(), (std::vector<std::string>{"README", "big.txt"}));
}

TEST_F(ReplaceInFileTest, MovesTheSquareEveryTwentyReplacementsOfTheRun) {
    const struct {
        int matches;
        std::int32_t ticks_before;
        std::vector<std::string> status;
        int yields;
        const char* why;
    } cases[] = {
        {19, 0, {Cell(1)}, 0, "19: no step, then 19 folds to cell 1"},
        {45, 0, {Cell(1), Cell(2), Cell(5)}, 2, "45: steps 1 and 2, then cell 5"},
        {10, 15, {Cell(1), Cell(5)}, 1, "the step restarts per file, the end uses the run"},
        {0, 7, {}, 0, "no replacement, no marker"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        tree.Create("m.txt", std::string(static_cast<std::size_t>(c.matches), 'a') + "z");
        view = testing::FakeView();
        state.ProgressTicks = c.ticks_before;
        EXPECT_FALSE(Run("m.txt", u"a", u"b"));
        EXPECT_EQ(StatusLog(view), c.status);
        EXPECT_EQ(view.yields, c.yields);
        EXPECT_EQ(state.ProgressTicks, c.ticks_before + c.matches);
    }
}

// Files larger than one read are searched window by window; matches across the seams and at
// the very end are found, and a file without a match is read only once.
TEST_F(ReplaceInFileTest, ReplacesAcrossTheWindowsOfALargeFile) {
    const std::size_t window = std::size_t{4} << 20;
    // ソ (83 5C) over and over: wherever a window ends, its 5C trail must not be taken for
    // the backslash. Only the three at the very end are real ones.
    std::string before;
    while (before.size() < 2 * window + 100) {
        before += "\x83\x5Cx";
    }
    const std::string expected = before + "///";
    before += "\\\\\\";
    tree.Create("big.txt", before);
    EXPECT_FALSE(Run("big.txt", u"\\", u"/"));
    EXPECT_EQ(state.ReplacedStringCount, 3);
    EXPECT_TRUE(tree.Read("big.txt") == expected);
    EXPECT_TRUE(tree.Read("big.txt.BAK") == before);

    tree.Create("plain.txt", std::string(window + 10, 'x'));
    const int opened = files.Calls(FileOp::OpenInput);
    EXPECT_FALSE(Run("plain.txt", u"\\", u"/"));
    EXPECT_EQ(files.Calls(FileOp::OpenInput), opened + 1);
    EXPECT_EQ(tree.Names(), (std::vector<std::string>{"big.txt", "big.txt.BAK", "plain.txt"}));
}

}  // namespace
}  // namespace popuran::folder
