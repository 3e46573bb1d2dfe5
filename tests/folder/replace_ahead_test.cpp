#include "folder/replace_ahead.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "folder/list_ahead.h"
#include "folder/replace_engine.h"
#include "support/fake_file_services.h"
#include "support/temp_tree.h"

namespace popuran::folder {
namespace {

using testing::FakeFileServices;
using testing::FileOp;

constexpr std::size_t kPiece = std::size_t{128} << 10;  // the look-ahead's read size

// n filler bytes that hold no "needle" and no code page 932 lead byte.
std::string Filler(std::size_t n) {
    std::string s;
    while (s.size() < n) {
        s += "haystack straw hay ";
    }
    s.resize(n);
    return s;
}

class ReplaceAheadTest : public ::testing::Test {
protected:
    struct File {
        std::string name;
        std::string bytes;
        bool no_match;  // the expected answer
    };

    // Creates the files, then asks for each in turn with its length.
    void Expect(FileServices& files, std::u16string_view search, bool case_sensitive,
                const std::vector<File>& table) {
        std::vector<std::u16string> paths;
        for (const auto& f : table) {
            tree.Create(f.name, f.bytes);
            paths.push_back(tree.Text(f.name));
        }
        ReplaceAhead ahead(files, {SearchPattern(search, case_sensitive)}, paths);
        for (std::size_t i = 0; i < table.size(); ++i) {
            SCOPED_TRACE(table[i].name);
            EXPECT_EQ(ahead.HoldsNoMatch(i, static_cast<std::int64_t>(table[i].bytes.size())),
                      table[i].no_match);
        }
    }

    testing::TempTree tree;
};

TEST_F(ReplaceAheadTest, RulesOutOnlyFilesThatHoldNoMatchAtAll) {
    PosixFileServices files;
    std::string at_end = Filler(2 * kPiece + 5);
    at_end.replace(at_end.size() - 6, 6, "needle");
    std::vector<File> table = {
        {"a.txt", "no such word here", true},
        {"b.txt", "one needle in the middle", false},
        {"c.txt", Filler(3 * kPiece + 17), true},
        {"e.txt", at_end, false},
        {"f.txt", "", true},
        {"g.txt", "Needle with a capital", true},
        // The search on the run's thread decides these; the look-ahead never reads them.
        {"h.exe", "no such word here", false},
        {"i.JPEG", "needle", false},
        // Text or not is decided by the run; either way a file without a match stays.
        {"README", std::string("zero \0 byte", 11), true},
        {"NOTES", std::string("zero \0 needle", 13), false},
        // UTF-32, which mode 0 leaves alone, may always hold a match: the run counts it.
        {"u32.txt", std::string("\xFF\xFE\0\0n\0\0\0", 8), false},
    };
    // One match around the end of the first read, wherever that falls exactly.
    for (std::size_t at = kPiece - 8; at <= kPiece + 16; ++at) {
        std::string bytes = Filler(2 * kPiece);
        bytes.replace(at, 6, "needle");
        table.push_back({"across" + std::to_string(at) + ".txt", bytes, false});
    }
    Expect(files, u"needle", true, table);
}

TEST_F(ReplaceAheadTest, BytesOfTheSearchTextInsideACharacterAreNoMatch) {
    PosixFileServices files;
    // 0x95 0x5C is one character; its second byte is the code of '\' on its own.
    Expect(files, u"\\", true,
           {{"pair.txt", "\x95\x5C\x95\x5C", true}, {"single.txt", "\x95\x5C\\", false}});
}

TEST_F(ReplaceAheadTest, AFileThatCannotBeReadMayHoldAMatch) {
    // Real reads, from a second thread too: locked... cannot be opened, broken... fails after
    // its first read.
    FakeFileServices files;
    files.AllowConcurrentReads();
    files.FailNamed(FileOp::OpenInput, u"locked", EACCES);
    files.FailNamed(FileOp::Read, u"broken", EIO, 1);
    Expect(files, u"needle", true,
           {{"locked.txt", "no such word", false},
            {"broken.txt", Filler(2 * kPiece), false},
            {"fine.txt", Filler(2 * kPiece), true}});
}

TEST_F(ReplaceAheadTest, TheRunDoesNotWaitLongForAStuckSecondThread) {
    FakeFileServices files;
    files.AllowConcurrentReads();
    // The first read of slow.txt away from this thread waits until released.
    std::promise<void> stuck;
    std::promise<void> release;
    std::atomic<int> slow_opens = 0;
    std::atomic<bool> first = true;
    files.BeforeNamed(FileOp::OpenInput, u"slow", [&] { ++slow_opens; });
    files.BeforeNamed(
        FileOp::Read, u"slow",
        [&, test = std::this_thread::get_id(), released = release.get_future().share()] {
            if (std::this_thread::get_id() != test && first.exchange(false)) {
                stuck.set_value();
                released.wait_for(std::chrono::seconds(5));
            }
        });
    tree.Create("slow.txt", "no such word");
    tree.Create("quick.txt", "nor here");
    ReplaceAhead ahead(files, {SearchPattern(u"needle", true)},
                       {tree.Text("slow.txt"), tree.Text("quick.txt")});
    ASSERT_EQ(stuck.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
    // The run searches slow.txt itself, while the second thread still waits for its read.
    EXPECT_TRUE(ahead.HoldsNoMatch(0, 12));
    EXPECT_EQ(slow_opens, 2);
    release.set_value();
    EXPECT_TRUE(ahead.HoldsNoMatch(1, 8));
}

TEST_F(ReplaceAheadTest, AFileThatGrewSinceItWasReadIsNotRuledOut) {
    PosixFileServices files;
    tree.Create("a.txt", "first");
    tree.Create("b.txt", "second");
    ReplaceAhead ahead(files, {SearchPattern(u"needle", true)},
                       {tree.Text("a.txt"), tree.Text("b.txt")});
    // Read before or after the change, b.txt is not ruled out: a match, or another length.
    tree.Create("b.txt", "second needle");
    EXPECT_TRUE(ahead.HoldsNoMatch(0, 5));
    EXPECT_FALSE(ahead.HoldsNoMatch(1, 13));
}

TEST_F(ReplaceAheadTest, FoldersListedAheadAnswerByTheRunsOwnListing) {
    FakeFileServices files;
    files.AllowConcurrentReads();
    std::vector<std::u16string> folders;
    std::vector<std::vector<std::u16string>> paths(3);
    for (std::size_t k = 0; k < 3; ++k) {
        const std::string folder(1, static_cast<char>('a' + k));
        for (int i = 0; i < 3; ++i) {
            const std::string name = folder + "/f" + std::to_string(i) + ".txt";
            tree.Create(name, "no such word");
            paths[k].push_back(tree.Text(name));
        }
        folders.push_back(tree.Text(folder + "/*.txt"));
    }
    // Folders may still come in while the run lists the tree.
    ReplaceAhead ahead(files, {SearchPattern(u"needle", true)},
                       ReplaceAhead::Folders{{folders[0]}, /*more_to_come=*/true});
    ahead.AddFolders({folders[1], folders[2]});
    ahead.NoMoreFolders();
    ahead.EnterFolder(folders[0], paths[0]);
    EXPECT_TRUE(ahead.HoldsNoMatch(0, 12));
    // A file comes into c after c may have been listed ahead: it is first in the run's listing.
    tree.Create("c/e.txt", "a needle");
    paths[2].insert(paths[2].begin(), tree.Text("c/e.txt"));
    ahead.EnterFolder(folders[1], paths[1]);
    EXPECT_TRUE(ahead.HoldsNoMatch(2, 12));
    ahead.EnterFolder(folders[2], paths[2]);
    EXPECT_FALSE(ahead.HoldsNoMatch(0, 8));
    EXPECT_TRUE(ahead.HoldsNoMatch(1, 12));
    EXPECT_TRUE(ahead.HoldsNoMatch(3, 12));
    // Each folder is listed ahead once at most: none is listed again after the run entered it.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_LE(files.Calls(FileOp::List), 3);
}

std::vector<std::u16string> Names(const Result<std::vector<DirEntry>>& listing) {
    std::vector<std::u16string> names;
    for (const auto& entry : listing.value()) {
        names.push_back(entry.name);
    }
    return names;
}

TEST(ListAheadTest, HandsOverEachListingOnceInTheRunsOrder) {
    testing::TempTree tree;
    std::vector<std::u16string> paths;
    for (const char* folder : {"a", "b", "c", "d"}) {
        for (const char* name : {"Z", "x", "Y"}) {
            tree.Create(std::string(folder) + "/" + name, "x");
        }
        paths.push_back(tree.Text(std::string(folder) + "/*"));
    }
    FakeFileServices files;
    files.AllowConcurrentReads();
    ListAhead ahead(files, paths);
    if (SeveralCores()) {
        // The helper lists all four folders; the run then lists none of them again.
        for (int i = 0; i < 5000 && files.Calls(FileOp::List) < 4; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_EQ(files.Calls(FileOp::List), 4);
    }
    const int before = files.Calls(FileOp::List);
    EXPECT_EQ(Names(ahead.Take(paths[0])), (std::vector<std::u16string>{u"x", u"Y", u"Z"}));
    // A folder out of the order is listed anew.
    tree.Create("c/w", "x");
    EXPECT_EQ(Names(ahead.Take(paths[2])).size(), 4u);
    EXPECT_EQ(Names(ahead.Take(paths[1])).size(), 3u);
    EXPECT_EQ(files.Calls(FileOp::List), before + 1);
    // After a stop the listings not handed over are held, and only those.
    ahead.Stop();
    EXPECT_EQ(ahead.Held(paths[1]), nullptr);
    const auto* held = ahead.Held(paths[2]);
    if (SeveralCores()) {
        ASSERT_NE(held, nullptr);
        EXPECT_EQ(held->size(), 3u) << "listed before w came";
    }
}

}  // namespace
}  // namespace popuran::folder
