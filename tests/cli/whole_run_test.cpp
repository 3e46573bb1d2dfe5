// Whole runs: each case goes through every way of running it (the window's run, the command
// line, the command line's dry run) and must end with the same tree and the same summary.
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "folder/services/file_services.h"
#include "support/fake_view.h"
#include "support/program_run.h"
#include "support/temp_tree.h"
#include "support/tree_snapshot.h"

namespace popuran::run {
namespace {

using Files = std::map<std::string, std::string>;

struct Settings {
    RunMode mode;
    const char* search;
    const char* replace;
    const char* pattern;
    bool subfolders;
    bool ignore_case;
};

struct Case {
    const char* why;
    Settings run;
    Files before;
    Files after;          // only the files that change, appear ("" for gone) or must stay
    const char* summary;  // the summary's lines, joined by '\n'
};

const std::string kGif("GIF89a\x01\x00\x01\x00", 10);
// An ID3 tag and two MPEG audio frames; an Exif JPEG, which the type database names.
const std::string kFrame = std::string("\xff\xfb\x90\x00", 4) + std::string(413, '\0');
const std::string kMp3 = std::string("ID3\x03\0\0\0\0\0\x0a", 10) + "TTTTTTTTTT" + kFrame + kFrame;
const std::string kExif(
    "\xff\xd8\xff\xe1\0\x18"
    "Exif\0\0MM\0\x2a\0\0\0\x08\0\0",
    22);

const Case kCases[] = {
    {"text files only, backups first, a lower-case .bak left alone",
     {kModeReplace, "needle", "pin", "*", false, false},
     {{"a.txt", "needle and needle"},
      {"b.TXT", "none"},
      {"c.bak", "needle"},
      {"d.dat", std::string("needle\0", 7)},
      {"e.txt", ""}},
     {{"a.txt", "pin and pin"},
      {"a.txt.BAK", "needle and needle"},
      {"c.bak", "needle"},
      {"d.dat", std::string("needle\0", 7)}},
     "検索したファイルの数 = 4\n置換したファイルの数 = 1\n置換した文字列の数 = 2"},
    {"every folder's files, and a replacement that holds the search text",
     {kModeReplace, "a", "ab", "*.txt", true, true},
     {{"1.txt", "Aa"}, {"2.txt", "a"}, {"s/3.txt", "a"}},
     {{"1.txt", "abab"},
      {"1.txt.BAK", "Aa"},
      {"2.txt", "ab"},
      {"2.txt.BAK", "a"},
      {"s/3.txt", "ab"},
      {"s/3.txt.BAK", "a"}},
     "検索したファイルの数 = 3\n置換したファイルの数 = 3\n置換した文字列の数 = 4"},
    {"letter case only where it matters",
     {kModeReplace, "Needle", "pin", "*.txt", false, false},
     {{"a.txt", "needle Needle"}},
     {{"a.txt", "needle pin"}, {"a.txt.BAK", "needle Needle"}},
     "検索したファイルの数 = 1\n置換したファイルの数 = 1\n置換した文字列の数 = 1"},
    {"lower case: empty files and taken names are left",
     {kModeLower, "", "", "*", false, false},
     {{"A.TXT", "x"}, {"a.txt", "y"}, {"EMPTY.TXT", ""}, {"Mixed.Txt", "z"}},
     {{"A.TXT", "x"}, {"a.txt", "y"}, {"EMPTY.TXT", ""}, {"mixed.txt", "z"}, {"Mixed.Txt", ""}},
     "検索したファイルの数 = 4\n変換したファイルの数 = 1\n処理できなかったファイルの数 = 1"},
    {"upper case: empty files are left",
     {kModeUpper, "", "", "*.txt", false, false},
     {{"e.txt", ""}, {"m.txt", "x"}},
     {{"e.txt", ""}, {"M.TXT", "x"}, {"m.txt", ""}},
     "検索したファイルの数 = 2\n変換したファイルの数 = 1"},
    {"extensions: an existing name is never taken",
     {kModeExtension, "htm", "html", "*", false, false},
     {{"page.htm", "p"}, {"x.htm", "x"}, {"x.html", "old"}},
     {{"page.html", "p"}, {"page.htm", ""}, {"x.htm", "x"}, {"x.html", "old"}},
     "検索したファイルの数 = 2\n置換したファイルの数 = 1\n処理できなかったファイルの数 = 1"},
    {"extensions by content; an empty file has none",
     {kModeExtension, "dat", "*", "*.dat", false, false},
     {{"pic.dat", kGif}, {"e.dat", ""}, {"page.dat", "<html><head><title>t</title></head><body>"}},
     {{"pic.gif", kGif},
      {"pic.dat", ""},
      {"page.html", "<html><head><title>t</title></head><body>"},
      {"page.dat", ""},
      {"e.dat", ""}},
     "検索したファイルの数 = 3\n置換したファイルの数 = 2"},
    {"extensions by content: sound, a picture the type database names, an unknown blob",
     {kModeExtension, "*", "*", "*", false, false},
     {{"song.dat", kMp3}, {"photo.txt", kExif}, {"blob.dat", std::string(64, '\0') + "\1\2"}},
     {{"song.mp3", kMp3}, {"song.dat", ""}, {"photo.jpg", kExif}, {"photo.txt", ""}},
     "検索したファイルの数 = 3\n置換したファイルの数 = 2"},
    {"the first rename takes the name the next one wanted",
     {kModeLower, "", "", "*", false, false},
     {{"A.TXT", "1"}, {"a.TXT", "2"}, {"B.txt", "3"}},
     {{"a.txt", "1"}, {"A.TXT", ""}, {"a.TXT", "2"}, {"b.txt", "3"}, {"B.txt", ""}},
     "検索したファイルの数 = 3\n変換したファイルの数 = 2\n処理できなかったファイルの数 = 1"},
    {"several files want one name",
     {kModeExtension, "*", "b", "*", false, false},
     {{"m.a", "1"}, {"m.b", "2"}, {"n.a", "3"}},
     {{"n.b", "3"}, {"n.a", ""}},
     "検索したファイルの数 = 3\n置換したファイルの数 = 1\n処理できなかったファイルの数 = 1"},
    {"a new name one byte over the limit is refused, in the dry run too",
     {kModeExtension, "htm", "html", "*", false, false},
     {{std::string(251, 'x') + ".htm", "long"}, {"ok.htm", "ok"}},
     {{"ok.html", "ok"}, {"ok.htm", ""}},
     "検索したファイルの数 = 2\n置換したファイルの数 = 1\n処理できなかったファイルの数 = 1"},
    {"names out of the folder are refused",
     {kModeExtension, "txt", "../htm", "*", false, false},
     {{"a.txt", "a"}, {"b.txt", "b"}},
     {{"a.txt", "a"}, {"b.txt", "b"}},
     "検索したファイルの数 = 2\n置換したファイルの数 = 0\n処理できなかったファイルの数 = 2"},
};

std::vector<std::string> Args(const Case& c, const std::string& root) {
    std::vector<std::string> args = {"--mode",    std::to_string(c.run.mode),
                                     "--search",  c.run.search,
                                     "--replace", c.run.replace,
                                     "--pattern", c.run.pattern,
                                     "--folder",  root};
    if (c.run.subfolders) {
        args.push_back("--subfolders");
    }
    if (c.run.ignore_case) {
        args.push_back("--ignore-case");
    }
    return args;
}

// The tree after the run, checked against the case's expectations and the untouched rest.
void ExpectTree(const Case& c, const testing::TempTree& tree) {
    Files expected = c.before;
    for (const auto& [name, bytes] : c.after) {
        if (bytes.empty() && c.before.count(name) != 0 && !c.before.at(name).empty()) {
            expected.erase(name);
        } else {
            expected[name] = bytes;
        }
    }
    EXPECT_EQ(testing::SnapshotTree(tree.Root()).files, expected);
}

void Fill(const Case& c, testing::TempTree& tree) {
    for (const auto& [name, bytes] : c.before) {
        tree.Create(name, bytes);
    }
}

TEST(WholeRun, EveryWayOfRunningGivesTheSameTreeAndSummary) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.why);
        {
            SCOPED_TRACE("the window's run");
            testing::TempTree tree;
            Fill(c, tree);
            folder::PosixFileServices files;
            const auto run =
                testing::RunFromWindow(files, c.run.mode,
                                       {testing::U16(c.run.search), testing::U16(c.run.replace),
                                        testing::U16(c.run.pattern), tree.Text()},
                                       c.run.subfolders, !c.run.ignore_case);
            ASSERT_EQ(run.messages.size(), 1u);
            std::string summary = testing::U8(run.messages[0]);
            std::replace(summary.begin(), summary.end(), '\r', '\n');
            EXPECT_EQ(summary, c.summary);
            ExpectTree(c, tree);
        }
        testing::TempTree tree;
        Fill(c, tree);
        const auto before = testing::SnapshotTree(tree.Root());
        auto args = Args(c, tree.Root());
        args.push_back("--dry-run");
        const auto dry = testing::RunProgram(POPURAN_CLI, args);
        EXPECT_EQ(dry.status, 0) << dry.err;
        EXPECT_EQ(testing::Differences(before, testing::SnapshotTree(tree.Root())),
                  std::vector<std::string>{});
        args.back() = "--verbose";
        const auto real = testing::RunProgram(POPURAN_CLI, args);
        EXPECT_EQ(real.status, 0) << real.err;
        EXPECT_NE(real.out.find(std::string(c.summary) + "\n"), std::string::npos) << real.out;
        EXPECT_EQ(dry.out, real.out);
        EXPECT_EQ(dry.err, real.err);
        ExpectTree(c, tree);
    }
}

}  // namespace
}  // namespace popuran::run
