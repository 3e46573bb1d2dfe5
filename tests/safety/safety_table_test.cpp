// The safety table of whole runs: injected faults and bad input. A faulted file is left as it
// was, the counts tell the truth, it is listed with the system's reason among the files that
// could not be changed, and the run goes on; bad input gets a clear message or a clean result.
// No file is damaged either way.
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "folder/services/file_services.h"
#include "support/fake_file_services.h"
#include "support/fake_view.h"
#include "support/safety_row.h"
#include "support/temp_tree.h"
#include "support/tree_snapshot.h"

namespace popuran::testing {
namespace {

struct Outcome {
    run::RunState state;
    std::vector<std::u16string> messages;
    std::vector<std::string> log;
    std::vector<run::FailedFile> failures;
};

// A whole run from a fake window over the files of `tree`; `arrange` sets up the faults.
Outcome RunOnce(run::RunMode mode, const std::u16string& search, const std::u16string& replace,
                const TempTree& tree, bool subfolders,
                const std::function<void(FakeFileServices&)>& arrange = {}) {
    FakeFileServices files;
    if (arrange) {
        arrange(files);
    }
    auto run = RunFromWindow(files, mode, {search, replace, u"*", tree.Text()}, subfolders);
    return Outcome{std::move(run.state), std::move(run.messages), files.Log(),
                   std::move(run.failures)};
}

// The number (1-based) of the call of `op` on a path ending in `name` in an undisturbed run over
// a copy of `tree`: the first, or with subfolders the last (a folder's files are listed after
// its subfolders).
int ProbeNth(run::RunMode mode, const std::u16string& search, const std::u16string& replace,
             const TreeSnapshot& tree, bool subfolders, FileOp op, const std::string& name) {
    TempTree copy;
    WriteTree(copy.Root(), tree);
    const std::string prefix = std::string(FileOpName(op)) + " ";
    int nth = 0;
    int found = -1;
    for (const auto& entry : RunOnce(mode, search, replace, copy, subfolders).log) {
        if (entry.rfind(prefix, 0) != 0) {
            continue;
        }
        ++nth;
        if (entry.find("/" + name) != std::string::npos) {
            found = nth;
            if (!subfolders) {
                break;
            }
        }
    }
    return found;
}

// What happens to the middle file b just before the chosen call.
enum class Act { kNone, kVanish, kBecomeFolder, kTakeNewName };

// Three files a, b, c; the fault hits the call of `op` that concerns b.
struct FaultCase {
    run::RunMode mode;
    const char* fault;
    FileOp op;
    int error;  // injected errno, or 0 to let the call through after `act`
    Act act;
    const char* result;    // what the program does, for the table
    bool reported = true;  // b is listed among the files that could not be changed
};

void RunFaultCase(const FaultCase& c) {
    SCOPED_TRACE(c.fault);
    const bool by_content = c.op == FileOp::ReadHead;  // mode 1 with "*"
    const std::string jpeg("\xff\xd8\xff\xe0\0\x10JFIF\0\x01 picture", 20);
    const std::string ext = c.mode == run::kModeReplace ? ".txt" : by_content ? ".dat" : ".TXT";
    const std::string b = "b" + ext;
    std::u16string search = c.mode == run::kModeReplace ? u"b" : by_content ? u"*" : u"TXT";
    std::u16string replace = c.mode == run::kModeReplace ? u"x" : by_content ? u"*" : u"htm";
    std::function<std::string(const std::string&)> new_path = AsciiLower;
    if (c.mode == run::kModeExtension) {
        new_path = [by_content](const std::string& p) {
            return p.substr(0, p.size() - 3) + (by_content ? "jpg" : "htm");
        };
    }
    TreeSnapshot before;
    for (const std::string n : {"a", "b", "c"}) {
        before.files[n + ext] = by_content ? jpeg + n : n + "b" + n;
    }
    const int nth = ProbeNth(c.mode, search, replace, before, false, c.op, b);
    ASSERT_GT(nth, 0) << "no such call on " << b;

    // Expected: a and c done, b as the user's action left it.
    TempTree tree;
    WriteTree(tree.Root(), before);
    TreeSnapshot expected = before;
    for (const std::string& name : {"a" + ext, "c" + ext}) {
        if (c.mode == run::kModeReplace) {
            expected.files[name + ".BAK"] = before.files[name];
            expected.files[name] = name.substr(0, 1) + "x" + name.substr(0, 1);
        } else {
            expected.files.erase(name);
            expected.files[new_path(name)] = before.files[name];
        }
    }
    if (c.op == FileOp::AtomicCommit) {  // the backup is made before the new contents go in
        expected.files[b + ".BAK"] = "bbb";
    }
    std::function<void()> act;
    const std::string b_path = tree.Path(b);
    if (c.act == Act::kTakeNewName) {
        expected.files[new_path(b)] = "someone else's";
        act = [&] { tree.Create(new_path(b), "someone else's"); };
    } else if (c.act != Act::kNone) {
        expected.files.erase(b);
        if (c.act == Act::kBecomeFolder) {
            expected.folders.insert(b);
        }
        act = [b_path, folder = c.act == Act::kBecomeFolder] {
            unlink(b_path.c_str());
            if (folder) {
                mkdir(b_path.c_str(), 0755);
            }
        };
    }
    const Outcome out = RunOnce(c.mode, search, replace, tree, false, [&](FakeFileServices& files) {
        if (act) {
            files.BeforeCall(c.op, nth, act);
        }
        if (c.error != 0) {
            files.FailAt(c.op, nth, c.error);
        }
    });

    EXPECT_EQ(out.state.ChangedFileCount, 2);
    // The summary is the only message; it counts b among the files that could not be changed,
    // except where b is gone, which leaves nothing to change.
    const char* const summaries[] = {
        "検索したファイルの数 = 3\r置換したファイルの数 = 2\r置換した文字列の数 = 2",
        "検索したファイルの数 = 3\r置換したファイルの数 = 2",
        "検索したファイルの数 = 3\r変換したファイルの数 = 2",
    };
    ASSERT_EQ(out.messages.size(), 1u);
    EXPECT_EQ(U8(out.messages[0]), std::string(summaries[c.mode]) +
                                       (c.reported ? "\r処理できなかったファイルの数 = 1" : ""));
    ASSERT_EQ(out.failures.size(), c.reported ? 1u : 0u);
    if (c.reported) {
        EXPECT_EQ(U8(out.failures[0].path), b_path);
        const int error = c.error != 0 ? c.error : c.act == Act::kTakeNewName ? EEXIST : EISDIR;
        EXPECT_EQ(U8(out.failures[0].reason).rfind(folder::SystemMessage(error), 0), 0u)
            << U8(out.failures[0].reason);
    }
    // No temporary is left either: the tree is exactly the expected one.
    ExpectTreeAndRecord(
        tree.Root(), expected, "fault",
        "mode " + std::to_string(c.mode) + (by_content ? " (*)" : "") + ": " + c.fault, c.result);
}

TEST(Faults, ReplaceLeavesTheFaultedFileAndGoesOn) {
    const FaultCase cases[] = {
        {0, "disk full (ENOSPC) writing the new contents", FileOp::AtomicWrite, ENOSPC, Act::kNone,
         "file and its backup name untouched, counts taken back, run goes on"},
        {0, "disk full (ENOSPC) putting the new contents in place", FileOp::AtomicCommit, ENOSPC,
         Act::kNone, "file untouched (its complete backup stays), counts taken back, run goes on"},
        {0, "disk full (ENOSPC) writing the backup", FileOp::CopyForBackup, ENOSPC, Act::kNone,
         "no backup, so no write-back: file untouched, not counted"},
        {0, "permission denied (EACCES) reading", FileOp::OpenInput, EACCES, Act::kNone,
         "file skipped, not counted"},
        {0, "permission denied (EACCES) writing", FileOp::BeginReplace, EACCES, Act::kNone,
         "file untouched, not counted"},
        {0, "interrupted call (EINTR) reaching the work", FileOp::AtomicWrite, EINTR, Act::kNone,
         "taken as a failed step: file untouched, counts taken back"},
        {0, "file vanishes between listing and reading", FileOp::OpenInput, 0, Act::kVanish,
         "skipped silently; nothing recreated", false},
        {0, "file vanishes before the backup", FileOp::CopyForBackup, 0, Act::kVanish,
         "no backup, no write-back, temporary removed; nothing recreated", false},
        {0, "file becomes a folder between listing and reading", FileOp::OpenInput, 0,
         Act::kBecomeFolder, "skipped; folder untouched"},
        {0, "file becomes a folder before the write-back", FileOp::AtomicCommit, 0,
         Act::kBecomeFolder,
         "rename over a folder fails: folder untouched, counts taken back, backup of the "
         "former file kept"},
    };
    for (const auto& c : cases) {
        RunFaultCase(c);
    }
}

TEST(Faults, RenamesLeaveTheFaultedFileAndGoOn) {
    const FaultCase cases[] = {
        {1, "permission denied (EACCES) renaming", FileOp::Rename, EACCES, Act::kNone,
         "keeps its name, not counted, run goes on"},
        {1, "file vanishes before the rename", FileOp::Rename, 0, Act::kVanish,
         "rename fails, not counted; nothing created", false},
        {1, "new name taken just before the rename", FileOp::Rename, 0, Act::kTakeNewName,
         "rename refused (EEXIST): both files intact, not counted"},
        {1, "permission denied (EACCES) reading the contents", FileOp::ReadHead, EACCES, Act::kNone,
         "type unknown: not renamed, not counted"},
        {1, "file vanishes before its contents are read", FileOp::ReadHead, 0, Act::kVanish,
         "not renamed, not counted", false},
        {2, "permission denied (EACCES) renaming", FileOp::Rename, EACCES, Act::kNone,
         "keeps its name, not counted (a failed rename is taken back)"},
        {2, "file vanishes before the rename", FileOp::Rename, 0, Act::kVanish,
         "rename fails, not counted", false},
        {2, "new name taken just before the rename", FileOp::Rename, 0, Act::kTakeNewName,
         "rename refused (EEXIST): both files intact, not counted"},
    };
    for (const auto& c : cases) {
        RunFaultCase(c);
    }
}

TEST(Faults, AFolderThatCannotBeListedIsReportedOnceAndTheRunGoesOn) {
    TempTree tree;
    tree.Create("A.TXT", "a");
    tree.Create("sub/B.TXT", "b");
    tree.Create("tub/C.TXT", "c");
    const TreeSnapshot before = SnapshotTree(tree.Root());
    // The listing of sub's files comes after that of its subfolders.
    const int nth = ProbeNth(run::kModeLower, u"", u"", before, true, FileOp::List, "sub/*");
    ASSERT_GT(nth, 0);
    const Outcome out =
        RunOnce(run::kModeLower, u"", u"", tree, true,
                [nth](FakeFileServices& files) { files.FailAt(FileOp::List, nth, EACCES); });
    ASSERT_EQ(out.messages.size(), 2u);
    EXPECT_NE(U8(out.messages[0]).find(std::strerror(EACCES)), std::string::npos)
        << U8(out.messages[0]);
    EXPECT_EQ(U8(out.messages[1]), "検索したファイルの数 = 2\r変換したファイルの数 = 2");
    TreeSnapshot expected = before;
    expected.files = {{"a.txt", "a"}, {"sub/B.TXT", "b"}, {"tub/c.txt", "c"}};
    ExpectTreeAndRecord(tree.Root(), expected, "fault",
                        "mode 2: a subfolder that cannot be listed (EACCES)",
                        "one message naming the folder and the reason; that folder counts as "
                        "empty; the other folders are done");
}

// --- Bad input -------------------------------------------------------------------------------

WindowRun RunWith(run::RunMode mode, const std::u16string& search, const std::u16string& replace,
                  const std::u16string& pattern, const TempTree& tree, bool subfolders = false) {
    folder::PosixFileServices files;
    return RunFromWindow(files, mode, {search, replace, pattern, tree.Text()}, subfolders);
}

template <class Text>
Text Repeat(const Text& text, int n) {
    Text out;
    for (int i = 0; i < n; ++i) {
        out += text;
    }
    return out;
}

// The tree must be exactly the expected one; every entry that is not counts as damaged.
void CheckTree(const TempTree& tree, const TreeSnapshot& expected, const std::string& input,
               const char* result) {
    ExpectTreeAndRecord(tree.Root(), expected, "bad input", input, result);
}

TEST(BadInput, SearchAndReplacementTexts) {
    const std::string long_bytes = Repeat<std::string>("\x82\xA0", 10000);  // あ
    const std::string long_z = Repeat<std::string>("z", 10000);
    const std::string long_file = "x" + long_bytes + "y" + long_bytes + "x" + long_bytes.substr(2);
    const std::string long_done = "x" + long_z + "y" + long_z + "x" + long_bytes.substr(2);
    // Mode 0 on a.txt; `after` is nullptr when the file must stay as it was.
    struct Case {
        const char* input;
        std::u16string search;
        std::u16string replacement;
        std::string bytes;
        const char* after;
        const char* result;
    } const cases[] = {
        {"mode 0: search text holds NUL", std::u16string(u"\0b", 2), u"-",
         std::string("a\0b\0b", 5), "a--", "NUL matched like any character in a text file"},
        {"mode 0: search and replacement with line ends", u"\r\n", u"\n", "l1\r\nl2\r\nl3",
         "l1\nl2\nl3", "line ends replaced exactly; nothing else changed"},
        {"mode 0: search text is a lone surrogate", u"\xD800", u"x", "abc \x95\x5C", nullptr,
         "matches nothing; nothing written"},
        {"mode 0: replacement text is a lone surrogate", u"b", u"\xDC80", "abc", nullptr,
         "no encoding can write it: the file is left as it was and counted"},
        {"mode 0: search and replacement of 10,000 characters",
         Repeat<std::u16string>(u"あ", 10000), Repeat<std::u16string>(u"z", 10000), long_file,
         long_done.c_str(), "both occurrences replaced exactly; one character less is no match"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        TempTree tree;
        tree.Create("a.txt", c.bytes);
        const TreeSnapshot before = SnapshotTree(tree.Root());
        const WindowRun out = RunWith(run::kModeReplace, c.search, c.replacement, u"*", tree);
        ASSERT_EQ(out.messages.size(), 1u);
        EXPECT_EQ(out.state.ChangedFileCount, c.after != nullptr ? 1 : 0);
        TreeSnapshot expected = before;
        if (c.after != nullptr) {
            expected.files = {{"a.txt", c.after}, {"a.txt.BAK", c.bytes}};
        }
        CheckTree(tree, expected, c.input, c.result);
    }
}

TEST(BadInput, PatternsWithSlashQuestionMarkAndNonAscii) {
    struct Case {
        const char* pattern;
        std::vector<std::string> renamed;  // by mode 2, of A.TXT, AB.TXT, 表示.TXT, sub/C.TXT
        const char* result;
    } const cases[] = {
        {"表*.TXT", {"表示.TXT"}, "non-ASCII pattern matched by character: only 表示.TXT"},
        {"sub/*.TXT",
         {"sub/C.TXT"},
         "the pattern's folder part names a folder below the search folder: its files only"},
        {"sub/../*.TXT",
         {"A.TXT", "AB.TXT", "表示.TXT"},
         "a '..' in the pattern is taken as written, like any path"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern);
        TempTree tree;
        for (const char* name : {"A.TXT", "AB.TXT", "表示.TXT", "sub/C.TXT"}) {
            tree.Create(name, name);
        }
        const TreeSnapshot before = SnapshotTree(tree.Root());
        const WindowRun out = RunWith(run::kModeLower, u"", u"", U16(c.pattern), tree);
        ASSERT_EQ(out.messages.size(), 1u);
        EXPECT_EQ(out.state.ChangedFileCount, static_cast<std::int32_t>(c.renamed.size()));
        TreeSnapshot expected = before;
        for (const auto& name : c.renamed) {
            expected.files.erase(name);
            expected.files[AsciiLower(name)] = name;
        }
        CheckTree(tree, expected, std::string("mode 2: pattern ") + c.pattern, c.result);
    }
}

TEST(BadInput, NamesAtTheLengthLimitAndNotUtf8) {
    const std::string long_txt = std::string(251, 'a') + ".txt";               // 255 bytes
    const std::string grows = Repeat<std::string>("\xC8\xBA", 125) + "A.TXT";  // Ⱥ: 3 in lower
    // A file holding "abc"; `new_name` and `new_bytes` are "" where they must stay.
    struct Case {
        const char* input;
        run::RunMode mode;
        std::u16string search;
        std::u16string replace;
        std::string name;
        std::string new_name;
        std::string new_bytes;
        const char* result;
    } const cases[] = {
        {"mode 0: 255-byte name (backup name would be 259 bytes)", 0, u"b", u"x", long_txt, "", "",
         "no backup possible, so no write-back: file untouched, not counted"},
        {"mode 1: rename of a 255-byte name to a longer extension", 1, u"txt", u"html", long_txt,
         "", "", "rename fails (name too long): file stays, not counted"},
        {"mode 2: lower case makes a 255-byte name 380 bytes long", 2, u"", u"", grows, "", "",
         "rename fails (name too long): file stays, not counted"},
        {"mode 2: name that is not UTF-8", 2, u"", u"", "\xFF\xFENAME.TXT", "\xFF\xFEname.txt", "",
         "letters converted, the other bytes kept exactly"},
        {"mode 0: name that is not UTF-8", 0, u"b", u"x", "\xFF\xFEmemo.txt", "", "axc",
         "replaced; backup named with the same bytes plus .BAK"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        TempTree tree;
        tree.Create(c.name, "abc");
        const TreeSnapshot before = SnapshotTree(tree.Root());
        const WindowRun out = RunWith(c.mode, c.search, c.replace, u"*", tree);
        ASSERT_EQ(out.messages.size(), 1u) << U8(out.messages[0]);
        const bool changes = !c.new_name.empty() || !c.new_bytes.empty();
        EXPECT_EQ(out.state.ChangedFileCount, changes ? 1 : 0);
        TreeSnapshot expected = before;
        if (!c.new_bytes.empty()) {
            expected.files = {{c.name, c.new_bytes}, {c.name + ".BAK", "abc"}};
        } else if (!c.new_name.empty()) {
            expected.files = {{c.new_name, "abc"}};
        }
        CheckTree(tree, expected, c.input, c.result);
    }
}

TEST(BadInput, FolderLoopsAndLinksOutOfTheTreeAreNotFollowed) {
    TempTree outside;
    outside.Create("OUT.TXT", "outside");
    TempTree tree;
    tree.Create("A.TXT", "a");
    tree.Create("sub/B.TXT", "b");
    ASSERT_EQ(symlink("..", tree.Path("sub/LOOP").c_str()), 0);
    ASSERT_EQ(symlink(".", tree.Path("sub/SELF").c_str()), 0);
    ASSERT_EQ(symlink(outside.Root().c_str(), tree.Path("OUTSIDE").c_str()), 0);
    ASSERT_EQ(symlink(outside.Path("OUT.TXT").c_str(), tree.Path("LINK.TXT").c_str()), 0);
    const TreeSnapshot before = SnapshotTree(tree.Root());
    const WindowRun out = RunWith(run::kModeLower, u"", u"", u"*", tree, /*subfolders=*/true);
    ASSERT_EQ(out.messages.size(), 1u);
    EXPECT_EQ(U8(out.messages[0]), "検索したファイルの数 = 2\r変換したファイルの数 = 2");
    EXPECT_EQ(outside.Names(), std::vector<std::string>{"OUT.TXT"});
    TreeSnapshot expected = before;
    expected.files = {{"a.txt", "a"}, {"sub/b.txt", "b"}};
    CheckTree(tree, expected,
              "mode 2 with subfolders: folder loops (sub/LOOP -> .., sub/SELF -> .) and links to "
              "a folder and a file outside the tree",
              "links neither listed nor followed: the run ends, links and the outside untouched");
}

}  // namespace
}  // namespace popuran::testing
