// Whole runs: each case goes through every way of running it (the window's run, the command
// line, the command line's dry run) and must end with the same tree and the same summary; the
// command line's undo then gives the tree of before back.
#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "folder/services/file_services.h"
#include "support/fake_view.h"
#include "support/program_run.h"
#include "support/temp_tree.h"

namespace popuran::testing {
namespace {

using Files = std::map<std::string, std::string>;

struct Case {
    const char* why;
    struct {
        run::RunMode mode;
        std::u16string search, replace, pattern;
        bool subfolders = false, ignore_case = false;
    } run;
    Files before;
    // Mode 0: the new bytes of each file that changes, whose backup NAME.BAK must hold the old
    // ones. The other modes: the new name of each file renamed. Nothing else may change.
    Files changes;
    const char* summary;           // the summary's lines, joined by '\n'
    const char* result = nullptr;  // bad input: what the program does, for the safety table
    bool window_only = false;      // texts that no command line can carry (NUL, lone surrogates)
};

const std::string kGif("GIF89a\x01\x00\x01\x00", 10);
// An Exif JPEG, which the rules do not know: the run asks the system's type database.
const std::string kExif(
    "\xff\xd8\xff\xe1\0\x18"
    "Exif\0\0MM\0\x2a\0\0\0\x08\0\0",
    22);

const Case kCases[] = {
    // Text by the last letters of the name, in either case; failing that, by the lack of a zero
    // byte. Binary endings are never changed.
    {"text files only, backups first, a lower-case .bak left alone",
     {run::kModeReplace, u"needle", u"pin", u"*"},
     {{"a.txt", "needle and needle"},
      {"b.TXT", "none"},
      {"c.bak", "needle"},
      {"d.dat", std::string("needle\0", 7)},
      {"e.txt", ""},
      {"f.Htm", std::string("needle\0", 7)},
      {"g_txt", "needle"},
      {"README", "needle"},
      {"zero.dat", std::string("\0needle", 7)},
      {"PROG.EXE", "needle"},
      {"PHOTO.JPEG", "needle"},
      {"song.mp3", "needle"}},
     {{"a.txt", "pin and pin"},
      {"f.Htm", std::string("pin\0", 4)},
      {"g_txt", "pin"},
      {"README", "pin"}},
     "検索したファイルの数 = 11\n置換したファイルの数 = 4\n置換した文字列の数 = 5"},
    {"every folder's files, and a replacement that holds the search text",
     {run::kModeReplace, u"a", u"ab", u"*.txt", true, true},
     {{"1.txt", "Aa"}, {"2.txt", "a"}, {"s/3.txt", "a"}},
     {{"1.txt", "abab"}, {"2.txt", "ab"}, {"s/3.txt", "ab"}},
     "検索したファイルの数 = 3\n置換したファイルの数 = 3\n置換した文字列の数 = 4"},
    {"letter case only where it matters",
     {run::kModeReplace, u"Needle", u"pin", u"*.txt"},
     {{"a.txt", "needle Needle"}},
     {{"a.txt", "needle pin"}},
     "検索したファイルの数 = 1\n置換したファイルの数 = 1\n置換した文字列の数 = 1"},
    {"lower case: empty files and taken names are left",
     {run::kModeLower, u"", u"", u"*"},
     {{"A.TXT", "x"}, {"a.txt", "y"}, {"EMPTY.TXT", ""}, {"Mixed.Txt", "z"}},
     {{"Mixed.Txt", "mixed.txt"}},
     "検索したファイルの数 = 4\n変換したファイルの数 = 1\n処理できなかったファイルの数 = 1"},
    {"upper case: empty files are left",
     {run::kModeUpper, u"", u"", u"*.txt"},
     {{"e.txt", ""}, {"m.txt", "x"}},
     {{"m.txt", "M.TXT"}},
     "検索したファイルの数 = 2\n変換したファイルの数 = 1"},
    {"extensions: an existing name is never taken",
     {run::kModeExtension, u"htm", u"html", u"*"},
     {{"page.htm", "p"}, {"x.htm", "x"}, {"x.html", "old"}},
     {{"page.htm", "page.html"}},
     "検索したファイルの数 = 2\n置換したファイルの数 = 1\n処理できなかったファイルの数 = 1"},
    {"extensions by content; an empty file has none",
     {run::kModeExtension, u"dat", u"*", u"*.dat"},
     {{"pic.dat", kGif},
      {"e.dat", ""},
      {"page.dat", "<html><head><title>t</title></head><body>"},
      {"photo.dat", kExif}},
     {{"pic.dat", "pic.gif"}, {"page.dat", "page.html"}, {"photo.dat", "photo.jpg"}},
     "検索したファイルの数 = 4\n置換したファイルの数 = 3"},
    {"the first rename takes the name the next one wanted",
     {run::kModeLower, u"", u"", u"*"},
     {{"A.TXT", "1"}, {"a.TXT", "2"}, {"B.txt", "3"}},
     {{"A.TXT", "a.txt"}, {"B.txt", "b.txt"}},
     "検索したファイルの数 = 3\n変換したファイルの数 = 2\n処理できなかったファイルの数 = 1"},
    {"several files want one name",
     {run::kModeExtension, u"*", u"b", u"*"},
     {{"m.a", "1"}, {"m.b", "2"}, {"n.a", "3"}},
     {{"n.a", "n.b"}},
     "検索したファイルの数 = 3\n置換したファイルの数 = 1\n処理できなかったファイルの数 = 1"},
};

// The tree after a run: `before` with the case's changes.
TreeSnapshot Expected(const Case& c, TreeSnapshot tree) {
    for (const auto& [name, change] : c.changes) {
        if (c.run.mode == run::kModeReplace) {
            tree.files[name + ".BAK"] = std::exchange(tree.files[name], change);
        } else {
            tree.files[change] = tree.files[name];
            tree.files.erase(name);
        }
    }
    return tree;
}

// Runs the case every way, each on a fresh tree; a bad input is recorded in the safety table.
void ExpectEveryWay(const Case& c) {
    SCOPED_TRACE(c.why);
    int damaged = 0;
    const auto fresh_tree = [&c](TempTree& tree) {
        for (const auto& [name, bytes] : c.before) {
            tree.Create(name, bytes);
        }
        return SnapshotTree(tree.Root());
    };
    const auto expect_done = [&](const TempTree& tree, const TreeSnapshot& before) {
        const auto differences = Differences(Expected(c, before), SnapshotTree(tree.Root()));
        EXPECT_EQ(differences, std::vector<std::string>{});
        damaged += static_cast<int>(differences.size());
    };
    {
        SCOPED_TRACE("the window's run");
        TempTree tree;
        const TreeSnapshot before = fresh_tree(tree);
        folder::PosixFileServices files;
        const auto run = RunFromWindow(
            files, c.run.mode, {c.run.search, c.run.replace, c.run.pattern, tree.Text()},
            {.subfolders = c.run.subfolders, .case_sensitive = !c.run.ignore_case});
        ASSERT_EQ(run.messages.size(), 1u);
        std::string summary = U8(run.messages[0]);
        std::replace(summary.begin(), summary.end(), '\r', '\n');
        EXPECT_EQ(summary, c.summary);
        expect_done(tree, before);
    }
    if (!c.window_only) {
        const TempTree state;  // the journal of this run alone, for the undo
        setenv("XDG_STATE_HOME", state.Root().c_str(), 1);
        TempTree tree;
        const TreeSnapshot before = fresh_tree(tree);
        std::vector<std::string> args = {"--mode",    std::to_string(c.run.mode),
                                         "--search",  U8(c.run.search),
                                         "--replace", U8(c.run.replace),
                                         "--pattern", U8(c.run.pattern),
                                         "--folder",  tree.Root()};
        if (c.run.subfolders) {
            args.push_back("--subfolders");
        }
        if (c.run.ignore_case) {
            args.push_back("--ignore-case");
        }
        args.push_back("--dry-run");
        const auto dry = RunProgram(POPURAN_CLI, args);
        EXPECT_EQ(dry.status, 0) << dry.err;
        EXPECT_EQ(Differences(before, SnapshotTree(tree.Root())), std::vector<std::string>{});
        args.back() = "--verbose";
        const auto real = RunProgram(POPURAN_CLI, args);
        EXPECT_EQ(real.status, 0) << real.err;
        EXPECT_NE(real.out.find(std::string(c.summary) + "\n"), std::string::npos) << real.out;
        EXPECT_EQ(dry.out, real.out);
        EXPECT_EQ(dry.err, real.err);
        expect_done(tree, before);
        // The undo gives every file back and keeps the backups. A run that changed nothing may
        // leave nothing to undo.
        const auto undo = RunProgram(POPURAN_CLI, {"--undo"});
        if (!c.changes.empty()) {
            EXPECT_EQ(undo.out, "元に戻したファイルの数 = " + std::to_string(c.changes.size()) +
                                    "\n元に戻せなかったファイルの数 = 0\n")
                << undo.err;
        }
        TreeSnapshot undone = before;
        for (const auto& [name, change] : c.changes) {
            if (c.run.mode == run::kModeReplace) {
                undone.files[name + ".BAK"] = before.files.at(name);
            }
        }
        EXPECT_EQ(Differences(undone, SnapshotTree(tree.Root())), std::vector<std::string>{});
    }
    if (c.result != nullptr) {
        RecordSafetyRow("bad input", c.why, c.result, damaged);
    }
}

TEST(WholeRun, EveryWayOfRunningGivesTheSameTreeAndSummary) {
    for (const Case& c : kCases) {
        ExpectEveryWay(c);
    }
}

TEST(BadInput, TextsPatternsAndNamesDamageNothingWhicheverWayTheyRun) {
    std::string long_bytes, long_done;  // あ in code page 932, and z
    for (int i = 0; i < 10000; ++i) {
        long_bytes += "\x82\xA0";
        long_done += "z";
    }
    const std::string long_file = "x" + long_bytes + "y" + long_bytes + "x" + long_bytes.substr(2);
    const std::string long_txt = std::string(251, 'a') + ".txt";  // 255 bytes
    std::string grows;  // Ⱥ takes three bytes in lower case
    for (int i = 0; i < 125; ++i) {
        grows += "\xC8\xBA";
    }
    grows += "A.TXT";
    const Files names = {
        {"A.TXT", "A"}, {"AB.TXT", "AB"}, {"表示.TXT", "表示"}, {"sub/C.TXT", "C"}};
    const char* const not_counted = "rename fails (name too long): file stays, not counted";
    const Case cases[] = {
        {"mode 0: search text holds NUL",
         {run::kModeReplace, std::u16string(u"\0b", 2), u"-", u"*"},
         {{"a.txt", std::string("a\0b\0b", 5)}},
         {{"a.txt", "a--"}},
         "検索したファイルの数 = 1\n置換したファイルの数 = 1\n置換した文字列の数 = 2",
         "NUL matched like any character in a text file",
         true},
        {"mode 0: search and replacement with line ends",
         {run::kModeReplace, u"\r\n", u"\n", u"*"},
         {{"a.txt", "l1\r\nl2\r\nl3"}},
         {{"a.txt", "l1\nl2\nl3"}},
         "検索したファイルの数 = 1\n置換したファイルの数 = 1\n置換した文字列の数 = 2",
         "line ends replaced exactly; nothing else changed"},
        {"mode 0: search text is a lone surrogate",
         {run::kModeReplace, u"\xD800", u"x", u"*"},
         {{"a.txt", "abc \x95\x5C"}},
         {},
         "検索したファイルの数 = 1\n置換したファイルの数 = 0\n置換した文字列の数 = 0",
         "matches nothing; nothing written",
         true},
        {"mode 0: replacement text is a lone surrogate",
         {run::kModeReplace, u"b", u"\xDC80", u"*"},
         {{"a.txt", "abc"}},
         {},
         "検索したファイルの数 = 1\n置換したファイルの数 = 0\n置換した文字列の数 = 0\n"
         "文字コードが原因で置換できなかったファイルの数 = 1",
         "no encoding can write it: the file is left as it was and counted"},
        {"mode 0: search and replacement of 10,000 characters",
         {run::kModeReplace, std::u16string(10000, u'あ'), std::u16string(10000, u'z'), u"*"},
         {{"a.txt", long_file}},
         {{"a.txt", "x" + long_done + "y" + long_done + "x" + long_bytes.substr(2)}},
         "検索したファイルの数 = 1\n置換したファイルの数 = 1\n置換した文字列の数 = 2",
         "both occurrences replaced exactly; one character less is no match"},
        {"mode 1: replacement extension '../htm'",
         {run::kModeExtension, u"txt", u"../htm", u"*"},
         {{"a.txt", "a"}, {"b.txt", "b"}},
         {},
         "検索したファイルの数 = 2\n置換したファイルの数 = 0\n処理できなかったファイルの数 = 2",
         "a name out of the folder is refused: files stay, not counted"},
        {"mode 2: pattern 表*.TXT",
         {run::kModeLower, u"", u"", u"表*.TXT"},
         names,
         {{"表示.TXT", "表示.txt"}},
         "検索したファイルの数 = 1\n変換したファイルの数 = 1",
         "non-ASCII pattern matched by character: only 表示.TXT"},
        {"mode 2: pattern sub/*.TXT",
         {run::kModeLower, u"", u"", u"sub/*.TXT"},
         names,
         {{"sub/C.TXT", "sub/c.txt"}},
         "検索したファイルの数 = 1\n変換したファイルの数 = 1",
         "the pattern's folder part names a folder below the search folder: its files only"},
        {"mode 0: 255-byte name (backup name would be 259 bytes)",
         {run::kModeReplace, u"b", u"x", u"*"},
         {{long_txt, "abc"}},
         {},
         "検索したファイルの数 = 1\n置換したファイルの数 = 0\n置換した文字列の数 = 0\n"
         "処理できなかったファイルの数 = 1",
         "no backup possible, so no write-back: file untouched, not counted"},
        {"mode 1: rename of a 255-byte name to a longer extension, beside a short one",
         {run::kModeExtension, u"txt", u"html", u"*"},
         {{long_txt, "long"}, {"ok.txt", "ok"}},
         {{"ok.txt", "ok.html"}},
         "検索したファイルの数 = 2\n置換したファイルの数 = 1\n処理できなかったファイルの数 = 1",
         not_counted},
        {"mode 2: lower case makes a 255-byte name 380 bytes long",
         {run::kModeLower, u"", u"", u"*"},
         {{grows, "abc"}},
         {},
         "検索したファイルの数 = 1\n変換したファイルの数 = 0\n処理できなかったファイルの数 = 1",
         not_counted},
        {"mode 2: name that is not UTF-8",
         {run::kModeLower, u"", u"", u"*"},
         {{"\xFF\xFENAME.TXT", "abc"}},
         {{"\xFF\xFENAME.TXT", "\xFF\xFEname.txt"}},
         "検索したファイルの数 = 1\n変換したファイルの数 = 1",
         "letters converted, the other bytes kept exactly"},
        {"mode 0: name that is not UTF-8",
         {run::kModeReplace, u"b", u"x", u"*"},
         {{"\xFF\xFEmemo.txt", "abc"}},
         {{"\xFF\xFEmemo.txt", "axc"}},
         "検索したファイルの数 = 1\n置換したファイルの数 = 1\n置換した文字列の数 = 1",
         "replaced; backup named with the same bytes plus .BAK"},
    };
    for (const Case& c : cases) {
        ExpectEveryWay(c);
    }
}

}  // namespace
}  // namespace popuran::testing
