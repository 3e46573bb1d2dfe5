// Injected faults in whole runs: the faulted file is left as it was, the counts tell the truth,
// nothing is said about it, and the run goes on with the next file.
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "run/run_control.h"
#include "support/fake_file_services.h"
#include "support/fake_view.h"
#include "support/safety_row.h"
#include "support/temp_tree.h"
#include "support/tree_snapshot.h"

namespace popuran::testing {
namespace {

// What happens to the middle file b just before the chosen call.
enum class Act { kNone, kVanish, kBecomeFolder, kTakeNewName };

// Three files a, b, c; the fault hits the call of `op` that concerns b.
struct FaultCase {
    const char* fault;
    run::RunMode mode;
    FileOp op;
    int error;  // injected errno, or 0 to let the call through after `act`
    Act act;
    std::int32_t changed;   // ChangedFileCount at the end
    std::int32_t replaced;  // ReplacedStringCount at the end (mode 0)
    const char* result;     // what the program does, for the table
};

struct ModeSetup {
    std::array<std::u16string, 2> texts;                      // boxes 0 and 1
    std::map<std::string, std::string> files;                 // name -> bytes
    std::map<std::string, std::string> new_bytes;             // mode 0: the new contents
    std::function<std::string(const std::string&)> new_path;  // modes 1 to 3
    std::string b;                                            // the faulted file
};

const std::string kJpeg("\xff\xd8\xff\xe0\0\x10JFIF\0\x01 picture", 20);

ModeSetup Setup(run::RunMode mode, bool by_content) {
    ModeSetup s;
    switch (mode) {
        case run::kModeReplace:
            s.texts = {u"b", u"x"};
            s.files = {{"a.txt", "abc"}, {"b.txt", "abcb"}, {"c.txt", "cab"}};
            s.new_bytes = {{"a.txt", "axc"}, {"b.txt", "axcx"}, {"c.txt", "cax"}};
            s.b = "b.txt";
            break;
        case run::kModeExtension:
            if (by_content) {
                s.texts = {u"*", u"*"};
                s.files = {{"a.dat", kJpeg + "a"}, {"b.dat", kJpeg + "b"}, {"c.dat", kJpeg + "c"}};
                s.b = "b.dat";
                s.new_path = [](const std::string& p) { return p.substr(0, p.size() - 3) + "jpg"; };
            } else {
                s.texts = {u"txt", u"htm"};
                s.files = {{"a.txt", "a"}, {"b.txt", "b"}, {"c.txt", "c"}};
                s.b = "b.txt";
                s.new_path = [](const std::string& p) { return p.substr(0, p.size() - 3) + "htm"; };
            }
            break;
        default:
            s.files = {{"A.TXT", "a"}, {"B.TXT", "b"}, {"C.TXT", "c"}};
            s.b = "B.TXT";
            s.new_path = [](const std::string& p) {
                std::string lower = p;
                for (char& ch : lower) {
                    ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
                }
                return lower;
            };
            break;
    }
    return s;
}

// The number of the first (or last) call of op (1-based) whose path names `name`, found in the
// log of an undisturbed run over the same names.
int NthCallOn(const std::vector<std::string>& log, FileOp op, const std::string& name,
              bool last = false) {
    const std::string prefix = std::string(FileOpName(op)) + " ";
    int nth = 0;
    int found = -1;
    for (const auto& entry : log) {
        if (entry.rfind(prefix, 0) != 0) {
            continue;
        }
        ++nth;
        if (entry.find("/" + name) != std::string::npos) {
            found = nth;
            if (!last) {
                break;
            }
        }
    }
    return found;
}

struct Outcome {
    run::RunState state;
    std::vector<std::u16string> messages;
    std::vector<std::string> log;
};

Outcome RunOnce(run::RunMode mode, const ModeSetup& s, const TempTree& tree,
                const std::function<void(FakeFileServices&)>& arrange) {
    FakeView view;
    FakeFileServices files;
    arrange(files);
    run::RunControl control(view, files);
    control.State().CurrentMode = mode;
    view.boxes = {s.texts[0], s.texts[1], u"*", tree.Text()};
    control.CmdRpl_Click();
    return Outcome{control.State(), view.messages, files.Log()};
}

std::string Summary(run::RunMode mode, std::int32_t changed, std::int32_t replaced) {
    if (mode == run::kModeReplace) {
        return "検索したファイルの数 = 3\r置換したファイルの数 = " + std::to_string(changed) +
               "\r置換した文字列の数 = " + std::to_string(replaced);
    }
    return std::string("検索したファイルの数 = 3\r") +
           (mode == run::kModeExtension ? "置換" : "変換") +
           "したファイルの数 = " + std::to_string(changed);
}

void RunFaultCase(const FaultCase& c) {
    SCOPED_TRACE(c.fault);
    const bool by_content = c.op == FileOp::ReadHead;
    const ModeSetup s = Setup(c.mode, by_content);
    int nth = -1;
    {
        TempTree probe;
        for (const auto& [name, bytes] : s.files) {
            probe.Create(name, bytes);
        }
        nth = NthCallOn(RunOnce(c.mode, s, probe, [](FakeFileServices&) {}).log, c.op, s.b);
        ASSERT_GT(nth, 0) << "no such call on " << s.b;
    }

    TempTree tree;
    for (const auto& [name, bytes] : s.files) {
        tree.Create(name, bytes);
    }
    // What the user's own action makes of the tree is no damage: the check starts from there.
    TreeSnapshot before = SnapshotTree(tree.Root());
    const std::string taken = s.new_path ? s.new_path(s.b) : "";
    const std::string b_path = tree.Path(s.b);
    std::function<void()> act;
    switch (c.act) {
        case Act::kNone:
            break;
        case Act::kVanish:
            before.files.erase(s.b);
            act = [b_path] { unlink(b_path.c_str()); };
            break;
        case Act::kBecomeFolder:
            before.files.erase(s.b);
            before.folders.insert(s.b);
            act = [b_path] {
                unlink(b_path.c_str());
                mkdir(b_path.c_str(), 0755);
            };
            break;
        case Act::kTakeNewName:
            before.files[taken] = "someone else's";
            act = [&tree, taken] { tree.Create(taken, "someone else's"); };
            break;
    }
    const Outcome out = RunOnce(c.mode, s, tree, [&](FakeFileServices& files) {
        if (act) {
            files.BeforeCall(c.op, nth, act);
        }
        if (c.error != 0) {
            files.FailAt(c.op, nth, c.error);
        }
    });

    EXPECT_EQ(out.state.ChangedFileCount, c.changed);
    if (c.mode == run::kModeReplace) {
        EXPECT_EQ(out.state.ReplacedStringCount, c.replaced);
    }
    // Per-file failures are silent: the summary is the only message.
    ASSERT_EQ(out.messages.size(), 1u);
    EXPECT_EQ(U8(out.messages[0]), Summary(c.mode, c.changed, c.replaced));

    TreeSnapshot after = SnapshotTree(tree.Root());
    Damage damage;
    if (c.mode == run::kModeReplace && c.act != Act::kNone) {
        // A backup made before the file went away holds its former bytes.
        if (const auto bak = after.files.find(s.b + ".BAK"); bak != after.files.end()) {
            EXPECT_EQ(bak->second, s.files.at(s.b));
            after.files.erase(bak);
        }
    }
    if (c.mode == run::kModeReplace) {
        std::map<std::string, std::string> expected = s.new_bytes;
        expected.erase(s.b);
        damage = CheckContents(before, after, expected);
        for (const char* name : {"a.txt", "c.txt"}) {
            EXPECT_EQ(after.files.at(name), s.new_bytes.at(name)) << "the run goes on";
        }
        if (c.act == Act::kNone) {
            EXPECT_EQ(after.files.at(s.b), s.files.at(s.b));
        }
    } else {
        damage = CheckRenames(before, after, s.new_path);
        for (const auto& name : s.files) {
            if (name.first != s.b) {
                EXPECT_EQ(after.files.count(s.new_path(name.first)), 1u) << "the run goes on";
            }
        }
        if (c.act == Act::kNone) {
            EXPECT_EQ(after.files.count(s.b), 1u);
        }
    }
    EXPECT_TRUE(damage.Clean()) << damage.Describe();
    EXPECT_EQ(damage.leftovers, 0) << "no temporary file after an ordinary failure";
    const char* const modes[] = {"mode 0", "mode 1", "mode 2", "mode 3"};
    RecordSafetyRow("fault",
                    std::string(modes[c.mode]) + (by_content ? " (*)" : "") + ": " + c.fault,
                    c.result, damage.damaged + damage.unexpected);
}

TEST(Faults, ReplaceLeavesTheFaultedFileAndGoesOn) {
    const FaultCase cases[] = {
        {"disk full (ENOSPC) writing the new contents", 0, FileOp::AtomicWrite, ENOSPC, Act::kNone,
         2, 2, "file and its backup name untouched, counts taken back, run goes on"},
        {"disk full (ENOSPC) putting the new contents in place", 0, FileOp::AtomicCommit, ENOSPC,
         Act::kNone, 2, 2,
         "file untouched (its complete backup stays), counts taken back, run goes on"},
        {"disk full (ENOSPC) writing the backup", 0, FileOp::CopyForBackup, ENOSPC, Act::kNone, 2,
         2, "no backup, so no write-back: file untouched, not counted"},
        {"permission denied (EACCES) reading", 0, FileOp::OpenInput, EACCES, Act::kNone, 2, 2,
         "file skipped, not counted"},
        {"permission denied (EACCES) writing", 0, FileOp::BeginReplace, EACCES, Act::kNone, 2, 2,
         "file untouched, not counted"},
        {"permission denied (EACCES) renaming the new contents in place", 0, FileOp::AtomicCommit,
         EACCES, Act::kNone, 2, 2, "file untouched, counts taken back"},
        {"interrupted call (EINTR) reaching the work", 0, FileOp::AtomicWrite, EINTR, Act::kNone, 2,
         2, "taken as a failed step: file untouched, counts taken back"},
        {"file vanishes between listing and reading", 0, FileOp::OpenInput, 0, Act::kVanish, 2, 2,
         "skipped silently; nothing recreated"},
        {"file vanishes before the backup", 0, FileOp::CopyForBackup, 0, Act::kVanish, 2, 2,
         "no backup, no write-back, temporary removed; nothing recreated"},
        {"file becomes a folder between listing and reading", 0, FileOp::OpenInput, 0,
         Act::kBecomeFolder, 2, 2, "skipped; folder untouched"},
        {"file becomes a folder before the write-back", 0, FileOp::AtomicCommit, 0,
         Act::kBecomeFolder, 2, 2,
         "rename over a folder fails: folder untouched, counts taken back, backup of the "
         "former file kept"},
    };
    for (const auto& c : cases) {
        RunFaultCase(c);
    }
}

TEST(Faults, RenamesLeaveTheFaultedFileAndGoOn) {
    const FaultCase cases[] = {
        {"permission denied (EACCES) renaming", 1, FileOp::Rename, EACCES, Act::kNone, 2, 0,
         "keeps its name, not counted, run goes on"},
        {"disk full (ENOSPC) renaming", 1, FileOp::Rename, ENOSPC, Act::kNone, 2, 0,
         "keeps its name, not counted"},
        {"file vanishes before the rename", 1, FileOp::Rename, 0, Act::kVanish, 2, 0,
         "rename fails, not counted; nothing created"},
        {"new name taken just before the rename", 1, FileOp::Rename, 0, Act::kTakeNewName, 2, 0,
         "rename refused (EEXIST): both files intact, not counted"},
        {"permission denied (EACCES) reading the contents", 1, FileOp::ReadHead, EACCES, Act::kNone,
         2, 0, "type unknown: not renamed, not counted"},
        {"file vanishes before its contents are read", 1, FileOp::ReadHead, 0, Act::kVanish, 2, 0,
         "not renamed, not counted"},
        {"permission denied (EACCES) renaming", 2, FileOp::Rename, EACCES, Act::kNone, 2, 0,
         "keeps its name, not counted (a failed rename is taken back)"},
        {"file vanishes before the rename", 2, FileOp::Rename, 0, Act::kVanish, 2, 0,
         "rename fails, not counted"},
        {"new name taken just before the rename", 2, FileOp::Rename, 0, Act::kTakeNewName, 2, 0,
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
    FakeView view;
    FakeFileServices files;
    run::RunControl control(view, files);
    control.State().CurrentMode = run::kModeLower;
    view.boxes = {u"", u"", u"*", tree.Text()};
    view.chk_sub = true;
    // The listing of sub's files comes after that of its subfolders.
    int nth = 0;
    {
        FakeFileServices probe;
        FakeView probe_view;
        run::RunControl probe_control(probe_view, probe);
        TempTree copy;
        WriteTree(copy.Root(), before);
        probe_control.State().CurrentMode = run::kModeLower;
        probe_view.boxes = {u"", u"", u"*", copy.Text()};
        probe_view.chk_sub = true;
        probe_control.CmdRpl_Click();
        nth = NthCallOn(probe.Log(), FileOp::List, "sub/*", /*last=*/true);
    }
    ASSERT_GT(nth, 0);
    files.FailAt(FileOp::List, nth, EACCES);
    control.CmdRpl_Click();
    ASSERT_EQ(view.messages.size(), 2u);
    EXPECT_NE(U8(view.messages[0]).find(std::strerror(EACCES)), std::string::npos)
        << U8(view.messages[0]);
    EXPECT_EQ(U8(view.messages[1]), "検索したファイルの数 = 2\r変換したファイルの数 = 2");
    const Damage damage = CheckRenames(before, SnapshotTree(tree.Root()), [](std::string p) {
        for (char& ch : p) {
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        }
        return p;
    });
    EXPECT_TRUE(damage.Clean()) << damage.Describe();
    EXPECT_EQ(tree.Names("sub"), std::vector<std::string>{"B.TXT"});
    EXPECT_EQ(tree.Names("tub"), std::vector<std::string>{"c.txt"});
    RecordSafetyRow("fault", "mode 2: a subfolder that cannot be listed (EACCES)",
                    "one message naming the folder and the reason; that folder counts as "
                    "empty; the other folders are done",
                    damage.damaged + damage.unexpected);
}

}  // namespace
}  // namespace popuran::testing
