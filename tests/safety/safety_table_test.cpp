// The safety table of whole runs: injected faults, and links that could lead a run astray. A
// faulted file is left as it was, the counts tell the truth, it is listed with the system's reason
// among the files that could not be changed, and the run goes on. No file is damaged either way.
// The bad texts, patterns and names are rows of the whole-run table.
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "folder/services/file_services.h"
#include "support/fake_file_services.h"
#include "support/fake_view.h"
#include "support/temp_tree.h"

namespace popuran::testing {
namespace {

// A mode, its two texts and whether subfolders count; the pattern is "*".
struct Settings {
    run::RunMode mode;
    std::u16string search, replace;
    bool subfolders = false;
};

// A whole run from a fake window over the files below root; `arrange` sets up the faults, and
// `log` gets every call of the file services.
WindowRun RunOnce(const Settings& s, const std::string& root,
                  const std::function<void(FakeFileServices&)>& arrange = {},
                  std::vector<std::string>* log = nullptr) {
    FakeFileServices files;
    if (arrange) {
        arrange(files);
    }
    WindowRun run = RunFromWindow(files, s.mode, {s.search, s.replace, u"*", U16(root)},
                                  {.subfolders = s.subfolders});
    if (log != nullptr) {
        *log = files.Log();
    }
    return run;
}

// The number (1-based) of the call of `op` on a path ending in `name` in an undisturbed run over
// a copy of `tree`: the first, or with subfolders the last (a folder's files are listed after
// its subfolders).
int ProbeNth(const Settings& s, const TreeSnapshot& tree, FileOp op, const std::string& name) {
    TempTree copy;
    WriteTree(copy.Root(), tree);
    std::vector<std::string> log;
    RunOnce(s, copy.Root(), {}, &log);
    int nth = 0;
    int found = -1;
    for (const auto& entry : log) {
        if (!entry.starts_with(std::string(FileOpName(op)) + " ")) {
            continue;
        }
        ++nth;
        if (entry.find("/" + name) != std::string::npos && (found < 0 || s.subfolders)) {
            found = nth;
        }
    }
    return found;
}

// What happens to the middle file b just before the chosen call.
enum class Act { kNone, kVanish, kBecomeFolder, kTakeNewName };

TEST(Faults, TheFaultedFileIsLeftAsItWasAndTheRunGoesOn) {
    // Three files a, b, c; the fault hits the call of `op` that concerns b.
    const struct {
        run::RunMode mode;
        const char* fault;
        FileOp op;
        int error;  // injected errno, or 0 to let the call through after `act`
        Act act;
        const char* result;    // what the program does, for the table
        bool reported = true;  // b is listed among the files that could not be changed
    } cases[] = {
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
    // The summary is the only message; it counts b among the files that could not be changed,
    // except where b is gone, which leaves nothing to change.
    const char* const summaries[] = {
        "検索したファイルの数 = 3\r置換したファイルの数 = 2\r置換した文字列の数 = 2",
        "検索したファイルの数 = 3\r置換したファイルの数 = 2",
        "検索したファイルの数 = 3\r変換したファイルの数 = 2",
    };
    const std::string jpeg("\xff\xd8\xff\xe0\0\x10JFIF\0\x01 picture", 20);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        const bool replace = c.mode == run::kModeReplace;
        const bool by_content = c.op == FileOp::ReadHead;  // mode 1 with "*"
        const std::string ext = replace ? ".txt" : by_content ? ".dat" : ".TXT";
        const Settings s{c.mode,
                         replace      ? u"b"
                         : by_content ? u"*"
                                      : u"TXT",
                         replace      ? u"x"
                         : by_content ? u"*"
                                      : u"htm"};
        const auto new_path = [&](const std::string& p) {
            return c.mode != run::kModeExtension
                       ? AsciiLower(p)
                       : p.substr(0, p.size() - 3) + (by_content ? "jpg" : "htm");
        };
        TreeSnapshot before;
        for (const std::string n : {"a", "b", "c"}) {
            before.files[n + ext] = by_content ? jpeg + n : n + "b" + n;
        }
        const std::string b = "b" + ext;
        const int nth = ProbeNth(s, before, c.op, b);
        ASSERT_GT(nth, 0) << "no such call on " << b;

        // Expected: a and c done, b as the user's action left it.
        TempTree tree;
        WriteTree(tree.Root(), before);
        TreeSnapshot expected = before;
        for (const std::string& name : {"a" + ext, "c" + ext}) {
            if (replace) {
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
        const std::string b_path = tree.Path(b);
        if (c.act == Act::kTakeNewName) {
            expected.files[new_path(b)] = "someone else's";
        } else if (c.act != Act::kNone) {
            expected.files.erase(b);
            if (c.act == Act::kBecomeFolder) {
                expected.folders[b];
            }
        }
        const WindowRun out = RunOnce(s, tree.Root(), [&](FakeFileServices& files) {
            files.BeforeCall(c.op, nth, [&] {
                if (c.act == Act::kTakeNewName) {
                    tree.Create(new_path(b), "someone else's");
                } else if (c.act != Act::kNone) {
                    unlink(b_path.c_str());
                    if (c.act == Act::kBecomeFolder) {
                        mkdir(b_path.c_str(), 0755);
                    }
                }
            });
            if (c.error != 0) {
                files.FailAt(c.op, nth, c.error);
            }
        });

        ASSERT_EQ(out.messages.size(), 1u);
        EXPECT_EQ(U8(out.messages[0]),
                  std::string(summaries[c.mode]) +
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
            "mode " + std::to_string(c.mode) + (by_content ? " (*)" : "") + ": " + c.fault,
            c.result);
    }
}

TEST(Faults, AFolderThatCannotBeListedIsReportedOnceAndTheRunGoesOn) {
    TempTree tree;
    tree.Create("A.TXT", "a");
    tree.Create("sub/B.TXT", "b");
    tree.Create("tub/C.TXT", "c");
    const TreeSnapshot before = SnapshotTree(tree.Root());
    // The listing of sub's files comes after that of its subfolders.
    const Settings lower{run::kModeLower, u"", u"", true};
    const int nth = ProbeNth(lower, before, FileOp::List, "sub/*");
    ASSERT_GT(nth, 0);
    const WindowRun out = RunOnce(lower, tree.Root(), [nth](FakeFileServices& files) {
        files.FailAt(FileOp::List, nth, EACCES);
    });
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
    folder::PosixFileServices files;
    const WindowRun out =
        RunFromWindow(files, run::kModeLower, {u"", u"", u"*", tree.Text()}, {.subfolders = true});
    ASSERT_EQ(out.messages.size(), 1u);
    EXPECT_EQ(U8(out.messages[0]), "検索したファイルの数 = 2\r変換したファイルの数 = 2");
    EXPECT_EQ(outside.Names(), std::vector<std::string>{"OUT.TXT"});
    TreeSnapshot expected = before;
    expected.files = {{"a.txt", "a"}, {"sub/b.txt", "b"}};
    ExpectTreeAndRecord(
        tree.Root(), expected, "bad input",
        "mode 2 with subfolders: folder loops (sub/LOOP -> .., sub/SELF -> .) and links to "
        "a folder and a file outside the tree",
        "links neither listed nor followed: the run ends, links and the outside untouched");
}

}  // namespace
}  // namespace popuran::testing
