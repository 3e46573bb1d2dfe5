// Undo from the journal: nothing changed since the run is touched, and a run killed at any moment
// is undone for the part that happened. That every mode gives back the tree of before the run is
// checked by the whole-run table.
#include "run/undo.h"

#include <cstdlib>
#include <string>
#include <vector>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "folder/services/journal.h"
#include "folder/services/utf8.h"
#include "support/fake_view.h"
#include "support/temp_tree.h"

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
        const auto run = testing::RunFromWindow(
            files, mode, {U16(search), U16(replace), U16(pattern), tree.Text("t")},
            {.subfolders = true, .journal = &journal});
        ASSERT_EQ(run.messages.size(), 1u) << "the summary of a completed run";
    }
    UndoResult Undo() {
        auto result = UndoRun(real, state.Root(), "");
        EXPECT_TRUE(result.has_value());
        return result.value_or(UndoResult{});
    }
    TreeSnapshot Snapshot() { return testing::SnapshotTree(tree.Path("t")); }
};

TEST(UndoRun, WhatChangedSinceTheRunIsLeftAndReportedWhileTheRestIsRestored) {
    Fixture f;
    f.tree.Create("t/a.txt", "one abc two abc\r\n");
    f.tree.Create("t/B.TXT", "abc");
    f.tree.Create("t/E.txt", "abc");  // as long as B.TXT: each change keeps its own old contents
    f.tree.Create("t/c.htm", "<p>no match</p>");
    f.tree.Create("t/sub/D.Htm", "abc abc abc");
    chmod(f.tree.Path("t/E.txt").c_str(), 0640);
    f.Run(kModeReplace, "abc", "X", "*");
    f.tree.Create("t/a.txt", "edited by hand");   // the file the run wrote, changed since
    f.tree.Create("t/B.TXT.BAK", "not the old");  // a backup that no longer holds the old bytes
    const UndoResult result = f.Undo();
    EXPECT_EQ(result.restored, 2);
    ASSERT_EQ(result.left.size(), 2u);
    EXPECT_EQ(f.tree.Read("t/a.txt"), "edited by hand");
    EXPECT_EQ(f.tree.Read("t/B.TXT"), "X");
    EXPECT_EQ(f.tree.Read("t/sub/D.Htm"), "abc abc abc");
    EXPECT_EQ(f.tree.Read("t/E.txt"), "abc");
    struct stat st {};
    ASSERT_EQ(lstat(f.tree.Path("t/E.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u) << "the mode bits stay";
    // A second undo of the same run finds the rest done and changes nothing.
    const TreeSnapshot undone = f.Snapshot();
    EXPECT_EQ(f.Undo().restored, 0);
    EXPECT_EQ(testing::Differences(undone, f.Snapshot()), std::vector<std::string>{});
}

// The journal keeps the hash of the bytes the run read only while the file still has their
// length: a file grown since is hashed again.
TEST(JournallingFileServices, TheHashOfWhatWasReadServesWhileTheLengthHolds) {
    Fixture f;
    f.tree.Create("a.txt", "old");
    f.tree.Create("b.txt", "new");  // as long as a.txt
    const std::u16string path = f.tree.Text("a.txt");
    auto input = f.files.OpenInput(path);
    char buffer[8];
    ASSERT_EQ(input.value()->Read(buffer, sizeof buffer).value(), 3u);
    const std::string read = f.files.OldContentsHash(path).value();
    EXPECT_EQ(f.files.OldContentsHash(f.tree.Text("b.txt")).value(),
              folder::HashFile(f.real, f.tree.Text("b.txt")).value());
    f.tree.Create("a.txt", "older");
    EXPECT_EQ(f.files.OldContentsHash(path).value(), folder::HashFile(f.real, path).value());
    EXPECT_NE(f.files.OldContentsHash(path).value(), read);
}

// The journals live in $XDG_STATE_HOME/popuran, or failing an absolute path there, in
// $HOME/.local/state/popuran; with neither, nowhere.
TEST(JournalFolder, FollowsTheXdgRules) {
    const char* const saved[] = {std::getenv("XDG_STATE_HOME"), std::getenv("HOME")};
    const std::string state = saved[0] != nullptr ? saved[0] : "";
    const std::string home = saved[1] != nullptr ? saved[1] : "";
    const char* const cases[][3] = {{"/s", "/h", "/s/popuran"},
                                    {nullptr, "/h", "/h/.local/state/popuran"},
                                    {"s", "/h", "/h/.local/state/popuran"},
                                    {nullptr, "h", ""}};
    for (const auto& [xdg, h, folder] : cases) {
        xdg != nullptr ? setenv("XDG_STATE_HOME", xdg, 1) : unsetenv("XDG_STATE_HOME");
        setenv("HOME", h, 1);
        EXPECT_EQ(folder::JournalFolder(), folder);
    }
    setenv("XDG_STATE_HOME", state.c_str(), 1);
    setenv("HOME", home.c_str(), 1);
}

// A run killed before it cut its journal to its records leaves the rest of the reserve as zero
// bytes, a record perhaps cut short among them; a later undo appends after them.
TEST(JournalWriter, RecordsAfterTheZerosOfAKilledRunStillCount) {
    testing::TempTree state;
    folder::JournalWriter journal(state.Root());
    journal.BeginRun({});
    folder::JournalChange change;
    change.kind = folder::JournalChange::Kind::kRename;
    for (const char16_t* path : {u"/a", u"/b"}) {
        change.path = path;
        journal.Confirm(journal.Intend(change));
    }
    // Enough records to pass through several of the journal's 1 MiB reserves.
    const std::u16string long_path = u"/" + std::u16string(700, u'p');
    for (int i = 0; i < 6000; ++i) {
        change.path = long_path + folder::Utf8ToText(std::to_string(i));
        journal.Confirm(journal.Intend(change));
    }
    journal.EndRun();
    const std::string id = journal.Id();
    const std::string path = state.Path(id + ".journal");
    const std::string records = state.Read(id + ".journal");
    EXPECT_EQ(records.back(), '\n') << "cut to its records";
    state.Create(id + ".journal", records + "R\t2\t/c" + std::string(5000, '\0'));
    ASSERT_TRUE(folder::AppendUndone(state.Root(), id, {1}));
    const auto entry = folder::ReadJournal(state.Root(), id);
    ASSERT_TRUE(entry.has_value());
    ASSERT_EQ(entry->changes.size(), 6002u);
    EXPECT_TRUE(entry->changes[1].undone && !entry->changes[0].undone);
    for (int i = 0; i < 6000; i += 7) {
        EXPECT_EQ(entry->changes[static_cast<std::size_t>(i) + 2].path,
                  long_path + folder::Utf8ToText(std::to_string(i)));
    }
}

}  // namespace
}  // namespace popuran::run
