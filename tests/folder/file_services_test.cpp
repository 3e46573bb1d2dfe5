// The POSIX file services: listings, renames that never replace, replacements and backups that
// are whole or not there at all.
#include "folder/services/file_services.h"

#include <cerrno>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "folder/services/utf8.h"
#include "support/temp_tree.h"

namespace popuran::folder {
namespace {

using popuran::testing::TempTree;

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st.st_mode;
}

int ErrorOf(const Result<void>& result) { return result ? 0 : result.error().code.value(); }

// Writes past 4096 bytes fail with EFBIG while this lives: a real write failure part-way through
// a file, which works also where permission checks do not (as root).
class FileSizeLimit {
public:
    FileSizeLimit() {
        getrlimit(RLIMIT_FSIZE, &saved_);
        old_handler_ = signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved_;
        lowered.rlim_cur = 4096;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, old_handler_);
    }

private:
    rlimit saved_{};
    sighandler_t old_handler_{};
};

TEST(PosixList, AttributesOfEachKindOfEntryAndTheListingOrder) {
    TempTree tree;
    for (const char* name : {"b", "A", "_", "a", "B", "[", "\xC3\xA9", "\xC3\x89", ".hidden"}) {
        tree.Create(name, "x");
    }
    ASSERT_EQ(chmod(tree.Path("b").c_str(), 0444), 0);
    tree.MakeFolder("folder");
    tree.MakeFolder("locked");
    ASSERT_EQ(chmod(tree.Path("locked").c_str(), 0555), 0);
    ASSERT_EQ(symlink("folder", tree.Path("link").c_str()), 0);
    ASSERT_EQ(mkfifo(tree.Path("fifo").c_str(), 0644), 0);
    PosixFileServices files;
    auto listed = files.List(tree.Text("*"));
    ASSERT_TRUE(listed) << listed.error().Describe();
    std::vector<std::string> got;
    for (const auto& entry : *listed) {
        got.push_back(TextToUtf8(entry.name) + " " + std::to_string(entry.attributes));
        // Attributes of one path agree with the listing.
        EXPECT_EQ(files.Attributes(tree.Text(TextToUtf8(entry.name))).value_or(0),
                  entry.attributes);
    }
    // ASCII letters sorted as upper case, then by code units.
    const std::vector<std::string> expected = {
        ".hidden 34", "A 32",      "a 32", "B 32", "b 33",        "fifo 4",     "folder 16",
        "link 1028",  "locked 17", "[ 32", "_ 32", "\xC3\x89 32", "\xC3\xA9 32"};
    EXPECT_EQ(got, expected);
    // A listing to search ahead may tell regular files by the folder's record alone: then the
    // read-only one counts as writable, and no length is known.
    auto guessed = files.ListToSearch(tree.Text("*"));
    ASSERT_TRUE(guessed && guessed->size() == listed->size());
    for (std::size_t i = 0; i < listed->size(); ++i) {
        const DirEntry& entry = (*guessed)[i];
        const bool regular = ((*listed)[i].attributes & ~kAttrReadOnly & ~kAttrHidden) == 32;
        EXPECT_EQ(entry.attributes,
                  regular ? (*listed)[i].attributes & ~kAttrReadOnly : (*listed)[i].attributes);
        EXPECT_EQ(entry.length, regular ? -1 : (*listed)[i].length);
    }
    // A trailing '/' never follows a link.
    EXPECT_EQ(files.Attributes(tree.Text("link/")).value_or(0), 1028u);
    EXPECT_EQ(files.Attributes(tree.Text("missing")).error().code.value(), ENOENT);
    EXPECT_EQ(files.List(tree.Text(std::string(300, 'n') + "/*")).error().code.value(),
              ENAMETOOLONG);
}

TEST(PosixRename, NeverReplacesAndRefusesNamesThatAreNotNamesInTheSameFolder) {
    TempTree tree;
    tree.Create("a.txt", "A");
    tree.Create("b.txt", "B");
    tree.MakeFolder("sub");
    ASSERT_EQ(link(tree.Path("a.txt").c_str(), tree.Path("A.txt").c_str()), 0);
    PosixFileServices files;
    const std::u16string folder = tree.Text() + u"/";
    const struct {
        std::u16string new_path;
        int error;
        const char* why;
    } cases[] = {
        {folder + u"b.txt", EEXIST, "a file is there"},
        {folder + u"sub", EEXIST, "a folder is there"},
        {folder + u"a.txt", EEXIST, "the same name is no rename"},
        // Two names of one file differing in case look like a case-only rename on a file system
        // that ignores case; the second name must stay.
        {folder + u"A.txt", EEXIST, "a second link differing in case"},
        {folder + u"sub/a.txt", EINVAL, "into a subfolder"},
        {folder + u"../a.txt", EINVAL, "into the parent"},
        {u"a.txt", EINVAL, "no folder at all"},
        {folder, EINVAL, "empty name"},
        {folder + u"..", EINVAL, "dot-dot"},
        {folder + std::u16string(u"a.h\0tm", 6), EINVAL, "NUL would cut the name short"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(ErrorOf(files.Rename(folder + u"a.txt", c.new_path)), c.error);
    }
    EXPECT_EQ(tree.Names(), (std::vector<std::string>{"A.txt", "a.txt", "b.txt", "sub"}));
    EXPECT_EQ(tree.Read("b.txt"), "B");
    // A name that is not UTF-8 keeps its bytes; a change of case only is a rename.
    tree.Create("\x83\x81.TXT", "m");
    auto listed = files.List(tree.Text("\x83\x81*"));
    ASSERT_TRUE(listed && listed->size() == 1);
    EXPECT_EQ((*listed)[0].name, u"\xDC83\xDC81.TXT");
    EXPECT_EQ(ErrorOf(files.Rename(folder + (*listed)[0].name, folder + u"\xDC83\xDC81.txt")), 0);
    EXPECT_EQ(tree.Read("\x83\x81.txt"), "m");
}

// The folder of the last rename is held open; a folder put in its place since then is the one
// renamed in once it has been listed, as every run lists a folder before renaming in it.
TEST(PosixRename, RenamesInTheFolderThatWasListedNotInOneMovedAway) {
    TempTree tree;
    tree.Create("d/A", "first");
    tree.Create("d/B", "moved away");
    PosixFileServices files;
    ASSERT_EQ(ErrorOf(files.Rename(tree.Text("d/A"), tree.Text("d/a"))), 0);
    ASSERT_EQ(rename(tree.Path("d").c_str(), tree.Path("old").c_str()), 0);
    tree.Create("d/B", "new");
    ASSERT_TRUE(files.List(tree.Text("d/*")));
    EXPECT_EQ(ErrorOf(files.Rename(tree.Text("d/B"), tree.Text("d/b"))), 0);
    EXPECT_EQ(tree.Names("d"), std::vector<std::string>{"b"});
    EXPECT_EQ(tree.Names("old"), (std::vector<std::string>{"B", "a"}));
}

TEST(PosixRead, RefusesWhatIsNotARegularFile) {
    TempTree tree;
    tree.Create("target", "T");
    tree.MakeFolder("dir");
    ASSERT_EQ(symlink("target", tree.Path("link").c_str()), 0);
    ASSERT_EQ(mkfifo(tree.Path("fifo").c_str(), 0644), 0);
    const std::map<std::string, int> cases = {
        {"link", ELOOP}, {"fifo", EINVAL}, {"dir", EISDIR}, {"missing", ENOENT}};
    PosixFileServices files;
    for (const auto& [name, error] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(files.ReadAll(tree.Text(name)).error().code.value(), error);
        EXPECT_EQ(files.OpenInput(tree.Text(name)).error().code.value(), error);
    }
    // Nor is a link written through.
    EXPECT_EQ(ErrorOf(files.ReplaceContents(tree.Text("link"), "new")), ELOOP);
    EXPECT_EQ(tree.Read("target"), "T");
}

// A write that fails part-way, a temporary taken away under the commit, an output dropped
// without a commit: the original stays and no temporary is left.
TEST(PosixReplace, AnUnfinishedReplacementLeavesTheOriginal) {
    const struct {
        const char* why;
        int error;  // of the commit
        std::function<void(AtomicOutput&, TempTree&)> disturb;
    } cases[] = {
        {"write fails", EFBIG,
         [](AtomicOutput& out, TempTree&) {
             const FileSizeLimit limit;
             EXPECT_EQ(ErrorOf(out.Write(std::string(8192, 'x'))), EFBIG);
         }},
        {"temporary removed", ENOENT,
         [](AtomicOutput& out, TempTree& tree) {
             ASSERT_EQ(ErrorOf(out.Write("new")), 0);
             const auto names = tree.Names();
             ASSERT_EQ(names.size(), 2u);
             ASSERT_EQ(names[0].rfind(".f.popuran-", 0), 0u) << names[0];
             unlink(tree.Path(names[0]).c_str());
         }},
        {"dropped", 0, [](AtomicOutput& out, TempTree&) { ASSERT_EQ(ErrorOf(out.Write("n")), 0); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        TempTree tree;
        tree.Create("f", "original");
        PosixFileServices files;
        {
            auto output = files.BeginReplace(tree.Text("f"));
            ASSERT_TRUE(output) << output.error().Describe();
            c.disturb(**output, tree);
            if (c.error != 0) {
                EXPECT_EQ(ErrorOf((*output)->Commit()), c.error);
            }
        }
        EXPECT_EQ(tree.Read("f"), "original");
        EXPECT_EQ(tree.Names(), std::vector<std::string>{"f"});
    }
}

// Backups and replacements keep the mode bits, and the owner where they can (as root).
TEST(PosixBackup, ReplacesAnOlderBackupOrLinkWholeAndKeepsModeAndOwner) {
    TempTree tree;
    tree.Create("f", std::string("new\0bytes", 9));
    ASSERT_EQ(chmod(tree.Path("f").c_str(), 0751), 0);
    const bool root = geteuid() == 0;
    ASSERT_TRUE(!root || chown(tree.Path("f").c_str(), 1234, 5678) == 0);
    tree.Create("f.BAK", "older backup, longer than the new one");
    tree.Create("elsewhere", "must stay");
    ASSERT_EQ(symlink("elsewhere", tree.Path("g.BAK").c_str()), 0);
    tree.MakeFolder("dir.BAK");
    PosixFileServices files;
    EXPECT_EQ(ErrorOf(files.CopyForBackup(tree.Text("f"), tree.Text("f.BAK"))), 0);
    EXPECT_EQ(tree.Read("f.BAK"), std::string("new\0bytes", 9));
    EXPECT_EQ(ModeOf(tree.Path("f.BAK")) & 07777, 0751u);
    // A link at the backup's name is replaced, not written through.
    EXPECT_EQ(ErrorOf(files.CopyForBackup(tree.Text("f"), tree.Text("g.BAK"))), 0);
    EXPECT_TRUE(S_ISREG(ModeOf(tree.Path("g.BAK"))));
    EXPECT_EQ(tree.Read("elsewhere"), "must stay");

    // The backup keeps the old contents when new ones take the file's place, and a file of
    // two names changed in place through the other leaves its backup as it was.
    ASSERT_EQ(ErrorOf(files.ReplaceContents(tree.Text("f"), "newer")), 0);
    EXPECT_EQ(tree.Read("f.BAK"), std::string("new\0bytes", 9));
    struct stat st {};
    ASSERT_EQ(lstat(tree.Path("f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0751u);
    EXPECT_TRUE(!root || (st.st_uid == 1234u && st.st_gid == 5678u));
    tree.Create("big", std::string(8192, 'n'));
    ASSERT_EQ(link(tree.Path("big").c_str(), tree.Path("big2").c_str()), 0);
    EXPECT_EQ(ErrorOf(files.CopyForBackup(tree.Text("big2"), tree.Text("big2.BAK"))), 0);
    tree.Create("big", "changed in place");
    EXPECT_EQ(tree.Read("big2.BAK"), std::string(8192, 'n'));
    tree.Create("big", std::string(8192, 'n'));
    {
        const FileSizeLimit limit;
        EXPECT_EQ(ErrorOf(files.CopyForBackup(tree.Text("big"), tree.Text("f.BAK"))), EFBIG);
    }
    EXPECT_EQ(tree.Read("f.BAK"), std::string("new\0bytes", 9));
    EXPECT_EQ(ErrorOf(files.CopyForBackup(tree.Text("f"), tree.Text("dir.BAK"))), EISDIR);
    EXPECT_EQ(tree.Names(), (std::vector<std::string>{"big", "big2", "big2.BAK", "dir.BAK",
                                                      "elsewhere", "f", "f.BAK", "g.BAK"}));
}

}  // namespace
}  // namespace popuran::folder
