// Undo from the journal: every mode gives back the tree of before the run, nothing changed since
// the run is touched, and a run killed at any moment is undone for the part that happened.
#include "run/undo.h"

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/stat.h>
#include <time.h>

#include <gtest/gtest.h>

#include "folder/services/journal.h"
#include "run/run_control.h"
#include "support/fake_view.h"
#include "support/program_run.h"
#include "support/temp_tree.h"
#include "support/tree_snapshot.h"

namespace popuran::run {
namespace {

using testing::TreeSnapshot;
using testing::U16;

struct Fixture {
    testing::TempTree tree;
    testing::TempTree state;
    folder::PosixFileServices real;
    folder::JournalWriter journal{state.Root()};
    folder::JournallingFileServices files{real, journal};

    // One run from the fake window over tree/t, journalled.
    void Run(RunMode mode, const std::string& search, const std::string& replace,
             const std::string& pattern) {
        testing::FakeView view;
        RunControl control(view, files);
        control.SetJournal(&journal);
        control.State().CurrentMode = mode;
        view.boxes = {U16(search), U16(replace), U16(pattern), tree.Text("t")};
        view.chk_sub = true;
        control.CmdRpl_Click();
        ASSERT_EQ(control.LastOutcome(), RunControl::Outcome::Completed);
    }
    UndoResult Undo() {
        auto result = UndoRun(real, state.Root(), "");
        EXPECT_TRUE(result.has_value());
        return result.value_or(UndoResult{});
    }
    TreeSnapshot Snapshot() { return testing::SnapshotTree(tree.Path("t")); }
};

void MakeTree(testing::TempTree& tree) {
    tree.Create("t/a.txt", "one abc two abc\r\n");
    tree.Create("t/B.TXT", "abc");
    tree.Create("t/c.htm", "<p>no match</p>");
    tree.Create("t/sub/D.Htm", "abc abc abc");
    chmod(tree.Path("t/B.TXT").c_str(), 0640);
}

TEST(UndoRun, EveryModeGivesBackTheTreeOfBeforeTheRunKeepingBackupsAndModeBits) {
    struct Case {
        RunMode mode;
        const char* search;
        const char* replace;
        const char* pattern;
        std::int32_t restored;
    } const cases[] = {
        {kModeReplace, "abc", "XYZW", "*", 3},
        {kModeExtension, "htm", "html", "*", 2},
        {kModeLower, "", "", "*", 2},
        {kModeUpper, "", "", "*", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        Fixture f;
        MakeTree(f.tree);
        const TreeSnapshot before = f.Snapshot();
        f.Run(c.mode, c.search, c.replace, c.pattern);
        ASSERT_NE(f.Snapshot().files, before.files);

        const UndoResult result = f.Undo();
        EXPECT_EQ(result.restored, c.restored);
        EXPECT_TRUE(result.left.empty());
        TreeSnapshot after = f.Snapshot();
        std::erase_if(after.files, [](const auto& file) { return file.first.ends_with(".BAK"); });
        EXPECT_EQ(testing::Differences(before, after), std::vector<std::string>{});
        struct stat st {};
        ASSERT_EQ(lstat(f.tree.Path("t/B.TXT").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u);

        // A second undo of the same run finds everything done and changes nothing.
        const TreeSnapshot undone = f.Snapshot();
        const UndoResult again = f.Undo();
        EXPECT_EQ(again.restored, 0);
        EXPECT_TRUE(again.left.empty());
        EXPECT_EQ(testing::Differences(undone, f.Snapshot()), std::vector<std::string>{});
    }
}

TEST(UndoRun, WhatChangedSinceTheRunIsLeftAndReportedWhileTheRestIsRestored) {
    Fixture f;
    MakeTree(f.tree);
    f.Run(kModeReplace, "abc", "X", "*");
    f.tree.Create("t/a.txt", "edited by hand");   // the file the run wrote, changed since
    f.tree.Create("t/B.TXT.BAK", "not the old");  // a backup that no longer holds the old bytes
    UndoResult result = f.Undo();
    EXPECT_EQ(result.restored, 1);
    ASSERT_EQ(result.left.size(), 2u);
    EXPECT_EQ(f.tree.Read("t/a.txt"), "edited by hand");
    EXPECT_EQ(f.tree.Read("t/B.TXT"), "X");
    EXPECT_EQ(f.tree.Read("t/sub/D.Htm"), "abc abc abc");

    // A rename whose old name has been taken since stays under its new name.
    Fixture g;
    MakeTree(g.tree);
    g.Run(kModeLower, "", "", "*");
    g.tree.Create("t/B.TXT", "a newcomer");
    result = g.Undo();
    EXPECT_EQ(result.restored, 1);
    ASSERT_EQ(result.left.size(), 1u);
    EXPECT_EQ(testing::U8(result.left[0].path), g.tree.Path("t/b.txt"));
    EXPECT_EQ(g.tree.Read("t/B.TXT"), "a newcomer");
    EXPECT_EQ(g.tree.Read("t/b.txt"), "abc");
    EXPECT_TRUE(g.tree.Exists("t/sub/D.Htm"));
}

// popuran-cli killed with SIGKILL at random moments, then `popuran-cli --undo`: every file is
// back under its old name with its old bytes; besides them only backups and hidden temporaries.
TEST(UndoRun, AfterAKillAtAnyMomentTheCompletedChangesAreUndone) {
    std::mt19937 rng(20261207);
    for (const char* mode : {"replace", "lower"}) {
        long full_us = 0;
        for (int k = -1; k < 8; ++k) {
            SCOPED_TRACE(std::string(mode) + " kill " + std::to_string(k));
            testing::TempTree tree;
            testing::TempTree state;
            for (int i = 0; i < 60; ++i) {
                tree.Create("F" + std::to_string(i) + ".TXT",
                            std::string(2000 + i, 'x') + "abc" + std::to_string(i));
            }
            const TreeSnapshot before = testing::SnapshotTree(tree.Root());
            setenv("XDG_STATE_HOME", state.Root().c_str(), 1);
            const std::vector<std::string> args = {"--mode",    mode,       "--search",  "abc",
                                                   "--replace", "Q",        "--pattern", "*",
                                                   "--folder",  tree.Root()};
            // The first round is not killed: it tells how long a whole run takes here, so
            // that the kills fall anywhere in it.
            const long after = std::uniform_int_distribution<long>(0, full_us)(rng);
            const auto run = testing::RunProgram(POPURAN_CLI, args, [&](pid_t pid) {
                if (k < 0) {
                    return;
                }
                timespec d{after / 1000000, after % 1000000 * 1000};
                while (nanosleep(&d, &d) != 0) {
                }
                kill(pid, SIGKILL);
            });
            if (k < 0) {
                full_us = static_cast<long>(run.seconds * 1e6);
            }
            const auto undo = testing::RunProgram(POPURAN_CLI, {"--undo"});
            unsetenv("XDG_STATE_HOME");
            // A run killed before its first change has no journal to undo.
            EXPECT_TRUE(undo.status == 0 ? undo.err.empty() : undo.status == 2) << undo.err;
            TreeSnapshot now = testing::SnapshotTree(tree.Root());
            std::erase_if(now.files, [&](const auto& file) {
                const auto& [path, bytes] = file;
                const bool backup = path.ends_with(".BAK") &&
                                    before.files.count(path.substr(0, path.size() - 4)) &&
                                    before.files.at(path.substr(0, path.size() - 4)) == bytes;
                return backup || path.front() == '.';
            });
            EXPECT_EQ(testing::Differences(before, now), std::vector<std::string>{});
        }
    }
}

}  // namespace
}  // namespace popuran::run
