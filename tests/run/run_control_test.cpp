#include "run/run_control.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "folder/services/file_services.h"
#include "support/fake_file_services.h"
#include "support/fake_view.h"
#include "support/temp_tree.h"

namespace popuran::run {
namespace {

using testing::U16;
using testing::U8;

class RunControlTest : public ::testing::Test {
protected:
    // Starts a run from the fake window in `mode` over the tree's root, as typed with `after_root`.
    void Start(RunMode mode, const std::string& pattern, bool subfolders = false,
               const std::u16string& after_root = u"") {
        control.State().CurrentMode = mode;
        view.boxes[2] = U16(pattern);
        view.boxes[3] = tree.Text() + after_root;
        view.chk_sub = subfolders;
        control.CmdRpl_Click();
    }

    // The paths shown in LblPath, relative to the root, in order.
    std::vector<std::string> ShownPaths() const {
        std::vector<std::string> shown;
        const std::string prefix = "LblPath=" + tree.Root() + "/";
        for (const auto& entry : view.caption_log) {
            const std::string line = U8(entry);
            if (line.rfind(prefix, 0) == 0) {
                shown.push_back(line.substr(prefix.size()));
            }
        }
        return shown;
    }

    testing::TempTree tree;
    testing::FakeView view;
    folder::PosixFileServices files;
    RunControl control{view, files};
};

TEST_F(RunControlTest, CaptionsThroughARunAndTheSummaryBeforeTheButtonComesBack) {
    tree.Create("a.txt", "nothing to find");
    view.boxes[0] = u"needle";
    view.boxes[1] = u"pin";
    Start(kModeReplace, "*.txt");
    const std::vector<std::u16string> expected = {
        u"LblStat=",
        u"CmdRpl=中止",
        u"Window=ぽぷらん ： 文字列置換\u3000[実行中]",
        u"LblPath=" + tree.Text("a.txt"),
        u"LblPath=",
        u"Window=文字列置換",
        u"Message=検索したファイルの数 = 1\r置換したファイルの数 = 0\r置換した文字列の数 = 0",
        u"LblStat=バージョン情報",
        u"CmdRpl=開始",
    };
    EXPECT_EQ(view.caption_log, expected);
    EXPECT_TRUE(view.start_enabled);
    EXPECT_EQ(view.history_calls, 1);
    EXPECT_EQ(control.LastOutcome(), RunControl::Outcome::Completed);

    // A second run starts from the caption the first one left.
    view.caption_log.clear();
    Start(kModeReplace, "*.txt");
    EXPECT_EQ(U8(view.caption_log.at(2)), "Window=文字列置換\u3000[実行中]");
}

TEST_F(RunControlTest, ExtensionModeMakesThePatternCarryTheSearchExtension) {
    const struct {
        const char* pattern;
        const char* search;
        const char* expected;
    } cases[] = {
        {"*.htm", "html", "*.html"}, {"readme", "txt", "readme.txt"}, {"*.txt", "*", "*.*"},
        {"*", "txt", "*.txt"},       {"a.b.c", "txt", "a.b.txt"},     {"*.txt", "txt", "*.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern);
        view.boxes[0] = U16(c.search);
        view.boxes[1] = u"x";
        Start(kModeExtension, c.pattern);
        EXPECT_EQ(U8(view.boxes[2]), c.expected);
    }
    EXPECT_EQ(U8(view.messages.back()), "検索したファイルの数 = 0\r置換したファイルの数 = 0");
}

TEST_F(RunControlTest, LeadingDotOfThePatternIsDroppedAndTrailingBlanksTrimmed) {
    tree.Create("txt", "x");
    tree.Create("a.txt", "x");
    Start(kModeLower, ".txt  ");
    EXPECT_EQ(ShownPaths(), std::vector<std::string>{"txt"});
    view.caption_log.clear();
    Start(kModeLower, "*", false, u"/ \u3000");
    EXPECT_EQ(ShownPaths(), (std::vector<std::string>{"a.txt", "txt"}));
}

TEST_F(RunControlTest, TopFolderFirstThenCollectedFoldersInBlocks) {
    for (const char* folder : {"A/A1/X", "A/A2", "B/B1", ".hidden", "RO"}) {
        tree.MakeFolder(folder);
    }
    for (const char* file :
         {"f", "A/f", "B/f", "A/A1/f", "A/A2/f", "A/A1/X/f", "B/B1/f", ".hidden/f", "RO/f"}) {
        tree.Create(file, "x");
    }
    ASSERT_EQ(symlink(tree.Path("A").c_str(), tree.Path("L").c_str()), 0);
    ASSERT_EQ(chmod(tree.Path("RO").c_str(), 0555), 0);

    Start(kModeLower, "*", /*subfolders=*/true);
    const std::vector<std::string> expected = {"f",      "A/f",      "B/f",   "A/A1/f",
                                               "A/A2/f", "A/A1/X/f", "B/B1/f"};
    EXPECT_EQ(ShownPaths(), expected);
    EXPECT_EQ(control.State().FolderCount, 6);
    EXPECT_EQ(U8(control.State().FolderList.at(0)), tree.Path("A"));
    EXPECT_EQ(U8(view.messages.back()), "検索したファイルの数 = 7\r変換したファイルの数 = 0");
}

TEST_F(RunControlTest, StopInTheTopFolderStillListsEveryFolderAndTouchesNothingMore) {
    for (const char* name : {"A.TXT", "B.TXT", "S/C.TXT", "T/D.TXT", "T/.E.TXT", "T/R.TXT"}) {
        tree.Create(name, "x");
    }
    ASSERT_EQ(chmod(tree.Path("T/R.TXT").c_str(), 0444), 0);
    // The click arrives in the yield before the first file; that file's rename was already on
    // its way, as with the window, and nothing after it is touched. The folders left are still
    // counted, hidden and read-only files not.
    view.AtYield(1, [this] { control.CmdRpl_Click(); });
    Start(kModeLower, "*", /*subfolders=*/true);
    EXPECT_TRUE(view.start_enabled);
    EXPECT_EQ(control.State().StopRequested, 1);
    EXPECT_EQ(control.LastOutcome(), RunControl::Outcome::Stopped);
    EXPECT_EQ(tree.Names(), (std::vector<std::string>{"B.TXT", "S", "T", "a.txt"}));
    EXPECT_EQ(tree.Names("S"), std::vector<std::string>{"C.TXT"});
    EXPECT_EQ(U8(view.messages.back()), "検索したファイルの数 = 4\r変換したファイルの数 = 1");
    EXPECT_EQ(U8(view.CaptionText(Caption::CmdRpl)), "開始");

    // Start clears the request, so the next run works normally, until a stop in S: the folder
    // after it is counted alike whether the other core listed it ahead or not.
    bool clicked = false;
    view.OnEveryYield([&] {
        if (!clicked && U8(view.captions[Caption::LblPath]).ends_with("S/C.TXT")) {
            clicked = true;
            // Time for the other core to list T ahead, so that its count is taken from there.
            usleep(50000);
            control.CmdRpl_Click();
        }
    });
    Start(kModeLower, "*", /*subfolders=*/true);
    view.OnEveryYield({});
    EXPECT_EQ(tree.Names(), (std::vector<std::string>{"S", "T", "a.txt", "b.txt"}));
    EXPECT_EQ(tree.Names("S"), std::vector<std::string>{"c.txt"});
    EXPECT_EQ(tree.Names("T"), (std::vector<std::string>{".E.TXT", "D.TXT", "R.TXT"}));
    EXPECT_EQ(U8(view.messages.back()), "検索したファイルの数 = 4\r変換したファイルの数 = 2");

    // A run abandoned (the window closed) shows no summary.
    tree.Create("D.TXT", "x");
    view.messages.clear();
    view.AtYield(view.yields + 1, [this] { control.Abandon(); });
    Start(kModeLower, "*");
    EXPECT_TRUE(view.messages.empty());
    EXPECT_TRUE(control.Abandoned());
}

}  // namespace
}  // namespace popuran::run
