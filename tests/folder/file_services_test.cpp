#include "folder/services/file_services.h"

#include <cerrno>
#include <map>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "folder/services/utf8.h"
#include "folder/services/wildcard.h"
#include "support/fake_file_services.h"
#include "support/temp_tree.h"

namespace popuran::folder {
namespace {

using popuran::testing::TempTree;
using namespace std::string_literals;

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st.st_mode;
}

std::vector<std::u16string> NamesOf(const std::vector<DirEntry>& entries) {
    std::vector<std::u16string> names;
    for (const auto& entry : entries) {
        names.push_back(entry.name);
    }
    return names;
}

// Writes past `limit` bytes fail with EFBIG while this lives: a real write failure part-way
// through a file, which works also where permission checks do not (as root).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        old_handler_ = signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved_;
        lowered.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, old_handler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    sighandler_t old_handler_{};
};

// --- Listing ----------------------------------------------------------------------------------

TEST(PosixList, MapsEachKindOfEntryToItsAttributes) {
    TempTree tree;
    tree.Create("plain.txt", "x");
    tree.Create(".hidden", "x");
    tree.Create("readonly.txt", "x");
    ASSERT_EQ(chmod(tree.Path("readonly.txt").c_str(), 0444), 0);
    tree.MakeFolder("folder");
    tree.MakeFolder("locked");
    ASSERT_EQ(chmod(tree.Path("locked").c_str(), 0555), 0);
    ASSERT_EQ(symlink("plain.txt", tree.Path("link-to-file").c_str()), 0);
    ASSERT_EQ(symlink("folder", tree.Path("link-to-folder").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", tree.Path("dangling").c_str()), 0);
    ASSERT_EQ(mkfifo(tree.Path("fifo").c_str(), 0644), 0);

    PosixFileServices files;
    auto listed = files.List(tree.Text("*"));
    ASSERT_TRUE(listed) << listed.error().Describe();
    std::map<std::u16string, std::uint32_t> attributes;
    for (const auto& entry : *listed) {
        attributes[entry.name] = entry.attributes;
    }
    const std::map<std::u16string, std::uint32_t> expected = {
        {u"plain.txt", 32},
        {u".hidden", 32 + 2},
        {u"readonly.txt", 32 + 1},
        {u"folder", 16},
        {u"locked", 16 + 1},
        {u"link-to-file", 4 + 1024},
        {u"link-to-folder", 4 + 1024},
        {u"dangling", 4 + 1024},
        {u"fifo", 4},
    };
    EXPECT_EQ(attributes, expected);

    // Attributes of one path agree with the listing, and a trailing '/' never follows a link.
    for (const auto& [name, value] : expected) {
        EXPECT_EQ(files.Attributes(tree.Text(TextToUtf8(name))).value_or(0), value);
    }
    EXPECT_EQ(files.Attributes(tree.Text("link-to-folder/")).value_or(0), 4u + 1024u);
    EXPECT_EQ(files.Attributes(tree.Text("folder/")).value_or(0), 16u);
    const auto missing = files.Attributes(tree.Text("missing"));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code.value(), ENOENT);
}

TEST(PosixList, SortsWithAsciiLettersAsUpperCaseThenByCodeUnits) {
    TempTree tree;
    for (const char* name : {"b", "A", "_", "a", "B", "Z", "[", "\xC3\xA9", "\xC3\x89", "a0"}) {
        tree.Create(name, "x");
    }
    PosixFileServices files;
    auto listed = files.List(tree.Text("*"));
    ASSERT_TRUE(listed) << listed.error().Describe();
    const std::vector<std::u16string> expected = {u"A", u"a", u"a0", u"B",      u"b",
                                                  u"Z", u"[", u"_",  u"\u00C9", u"\u00E9"};
    EXPECT_EQ(NamesOf(*listed), expected);
}

TEST(PosixList, FolderThatCannotBeOpenedFails) {
    TempTree tree;
    PosixFileServices files;
    // Too long a name is refused by the system whoever asks.
    auto too_long = files.List(tree.Text(std::string(300, 'n') + "/*"));
    ASSERT_FALSE(too_long);
    EXPECT_EQ(too_long.error().code.value(), ENAMETOOLONG);

    if (geteuid() == 0) {
        GTEST_SKIP() << "permission checks do not apply to root";
    }
    tree.Create("closed/inside", "x");
    ASSERT_EQ(chmod(tree.Path("closed").c_str(), 0), 0);
    auto closed = files.List(tree.Text("closed/*"));
    ASSERT_FALSE(closed);
    EXPECT_EQ(closed.error().code.value(), EACCES);
    EXPECT_NE(closed.error().Describe().find("closed"), std::string::npos);
}

TEST(PosixList, NameThatIsNotUtf8IsListedReadAndRenamedWithItsBytes) {
    TempTree tree;
    const std::string sjis_name = "\x83\x81\x83\x82.txt";  // "メモ.txt" in Shift-JIS
    tree.Create(sjis_name, "contents");
    PosixFileServices files;
    auto listed = files.List(tree.Text("*.TXT"));
    ASSERT_TRUE(listed) << listed.error().Describe();
    ASSERT_EQ(listed->size(), 1u);
    const std::u16string name = (*listed)[0].name;
    EXPECT_EQ(name, u"\xDC83\xDC81\xDC83\xDC82.txt");
    EXPECT_EQ((*listed)[0].attributes, kAttrArchive);

    const std::u16string folder = tree.Text() + u"/";
    EXPECT_EQ(files.ReadAll(folder + name).value_or(""), "contents");
    ASSERT_TRUE(files.Rename(folder + name, folder + u"\xDC83\xDC81\xDC83\xDC82.TXT"));
    EXPECT_EQ(tree.Names(), std::vector<std::string>{"\x83\x81\x83\x82.TXT"});
    EXPECT_EQ(tree.Read("\x83\x81\x83\x82.TXT"), "contents");
}

// --- Wildcards --------------------------------------------------------------------------------

TEST(WildcardMatch, ManyStarsOnALongNameFinishWithoutBacktrackingBlowUp) {
    const std::u16string name(5000, u'a');
    EXPECT_FALSE(WildcardMatch(u"*a*a*a*a*a*a*a*a*a*a*b", name));
    EXPECT_TRUE(WildcardMatch(u"*a*a*a*a*a*a*a*a*a*a*", name));
}

// --- Renames ----------------------------------------------------------------------------------

TEST(PosixRename, NeverReplacesAnExistingEntry) {
    TempTree tree;
    tree.Create("a.txt", "A");
    tree.Create("b.txt", "B");
    tree.MakeFolder("dir");
    PosixFileServices files;
    for (const char* target : {"b.txt", "dir"}) {
        SCOPED_TRACE(target);
        const auto renamed = files.Rename(tree.Text("a.txt"), tree.Text(target));
        ASSERT_FALSE(renamed);
        EXPECT_EQ(renamed.error().code.value(), EEXIST);
    }
    EXPECT_EQ(tree.Read("a.txt"), "A");
    EXPECT_EQ(tree.Read("b.txt"), "B");
    // A rename to the very same name changes nothing and is not reported as done.
    const auto same = files.Rename(tree.Text("a.txt"), tree.Text("a.txt"));
    ASSERT_FALSE(same);
    EXPECT_EQ(same.error().code.value(), EEXIST);
}

TEST(PosixRename, ChangesOnlyTheLetterCase) {
    TempTree tree;
    tree.Create("readme.TXT", "R");
    PosixFileServices files;
    ASSERT_TRUE(files.Rename(tree.Text("readme.TXT"), tree.Text("README.txt")));
    EXPECT_EQ(tree.Names(), std::vector<std::string>{"README.txt"});
    EXPECT_EQ(tree.Read("README.txt"), "R");
}

TEST(PosixRename, SecondLinkDifferingOnlyInCaseIsNotReplacedAndNothingIsLeftBehind) {
    // Two names of one file that differ in case look, to the rename, like a case-only rename
    // on a file system that ignores case: it goes through a temporary name and must come back.
    TempTree tree;
    tree.Create("a", "A");
    ASSERT_EQ(link(tree.Path("a").c_str(), tree.Path("A").c_str()), 0);
    PosixFileServices files;
    const auto renamed = files.Rename(tree.Text("a"), tree.Text("A"));
    ASSERT_FALSE(renamed);
    EXPECT_EQ(renamed.error().code.value(), EEXIST);
    EXPECT_EQ(tree.Names(), (std::vector<std::string>{"A", "a"}));
}

TEST(PosixRename, RefusesNamesThatLeaveTheFolderOrAreNotNames) {
    TempTree tree;
    tree.Create("a.txt", "A");
    tree.MakeFolder("sub");
    PosixFileServices files;
    const std::u16string folder = tree.Text() + u"/";
    struct Case {
        std::u16string new_path;
        const char* why;
    };
    const Case cases[] = {
        {folder + u"sub/a.txt", "into a subfolder"},
        {folder + u"../a.txt", "into the parent"},
        {u"a.txt", "no folder at all"},
        {folder, "empty name"},
        {folder + u".", "dot"},
        {folder + u"..", "dot-dot"},
        {folder + std::u16string(u"a.h\0tm", 6), "NUL would cut the name short at the call"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const auto renamed = files.Rename(folder + u"a.txt", c.new_path);
        ASSERT_FALSE(renamed);
        EXPECT_EQ(renamed.error().code.value(), EINVAL);
    }
    EXPECT_EQ(tree.Names(), (std::vector<std::string>{"a.txt", "sub"}));
    EXPECT_TRUE(tree.Names("sub").empty());
}

// --- Reading ----------------------------------------------------------------------------------

TEST(PosixRead, RefusesWhatIsNotARegularFile) {
    TempTree tree;
    tree.Create("target", "T");
    tree.MakeFolder("dir");
    ASSERT_EQ(symlink("target", tree.Path("link").c_str()), 0);
    ASSERT_EQ(mkfifo(tree.Path("fifo").c_str(), 0644), 0);
    struct Case {
        const char* name;
        int error;
        const char* why;
    };
    const Case cases[] = {
        {"link", ELOOP, "links are not followed"},
        {"fifo", EINVAL, "a fifo would block"},
        {"dir", EISDIR, "a folder"},
        {"missing", ENOENT, "nothing there"},
    };
    PosixFileServices files;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const auto all = files.ReadAll(tree.Text(c.name));
        ASSERT_FALSE(all);
        EXPECT_EQ(all.error().code.value(), c.error);
        const auto input = files.OpenInput(tree.Text(c.name));
        ASSERT_FALSE(input);
        EXPECT_EQ(input.error().code.value(), c.error);
    }
}

// --- Atomic replacement -----------------------------------------------------------------------

TEST(PosixReplace, KeepsPermissionBitsAndOwner) {
    TempTree tree;
    tree.Create("f", "old");
    ASSERT_EQ(chmod(tree.Path("f").c_str(), 0751), 0);
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(tree.Path("f").c_str(), 1234, 5678), 0);
    }
    PosixFileServices files;
    const auto replaced = files.ReplaceContents(tree.Text("f"), "new contents");
    ASSERT_TRUE(replaced) << replaced.error().Describe();
    EXPECT_EQ(tree.Read("f"), "new contents");
    EXPECT_EQ(ModeOf(tree.Path("f")) & 07777, 0751u);
    if (root) {
        struct stat st {};
        ASSERT_EQ(lstat(tree.Path("f").c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 1234u);
        EXPECT_EQ(st.st_gid, 5678u);
    }
    EXPECT_EQ(tree.Names(), std::vector<std::string>{"f"});
}

TEST(PosixReplace, FailedWriteLeavesTheOriginalAndNoTemporaryFile) {
    TempTree tree;
    tree.Create("f", "original");
    PosixFileServices files;
    auto output = files.BeginReplace(tree.Text("f"));
    ASSERT_TRUE(output) << output.error().Describe();
    Result<void> written;
    {
        const FileSizeLimit limit(4096);
        written = (*output)->Write(std::string(8192, 'x'));
    }
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().code.value(), EFBIG);
    const auto committed = (*output)->Commit();
    ASSERT_FALSE(committed) << "a partly written file must never be put in place";
    EXPECT_EQ(tree.Read("f"), "original");
    EXPECT_EQ(tree.Names(), std::vector<std::string>{"f"});
}

TEST(PosixReplace, FailedCommitLeavesTheOriginalAndNoTemporaryFile) {
    TempTree tree;
    tree.Create("f", "original");
    PosixFileServices files;
    auto output = files.BeginReplace(tree.Text("f"));
    ASSERT_TRUE(output) << output.error().Describe();
    ASSERT_TRUE((*output)->Write("new"));
    // The temporary file is a dot-file beside the original; take it away under the commit.
    auto names = tree.Names();
    ASSERT_EQ(names.size(), 2u);
    ASSERT_EQ(names[0].rfind(".f.popuran-", 0), 0u) << names[0];
    ASSERT_EQ(unlink(tree.Path(names[0]).c_str()), 0);
    const auto committed = (*output)->Commit();
    ASSERT_FALSE(committed);
    EXPECT_EQ(committed.error().code.value(), ENOENT);
    EXPECT_EQ(tree.Read("f"), "original");
    EXPECT_EQ(tree.Names(), std::vector<std::string>{"f"});
}

TEST(PosixReplace, DroppedWithoutCommitRemovesTheTemporaryFile) {
    TempTree tree;
    tree.Create("f", "original");
    PosixFileServices files;
    {
        auto output = files.BeginReplace(tree.Text("f"));
        ASSERT_TRUE(output) << output.error().Describe();
        ASSERT_TRUE((*output)->Write("new"));
        EXPECT_EQ(tree.Names().size(), 2u);
    }
    EXPECT_EQ(tree.Read("f"), "original");
    EXPECT_EQ(tree.Names(), std::vector<std::string>{"f"});
}

TEST(PosixReplace, RefusesALinkAndLeavesItsTarget) {
    TempTree tree;
    tree.Create("target", "T");
    ASSERT_EQ(symlink("target", tree.Path("link").c_str()), 0);
    PosixFileServices files;
    const auto replaced = files.ReplaceContents(tree.Text("link"), "new");
    ASSERT_FALSE(replaced);
    EXPECT_EQ(replaced.error().code.value(), ELOOP);
    EXPECT_EQ(tree.Read("target"), "T");
    EXPECT_TRUE(S_ISLNK(ModeOf(tree.Path("link"))));
}

// --- Backups ----------------------------------------------------------------------------------

TEST(PosixBackup, ReplacesALinkAtTheTargetAndNotTheFileItPointsTo) {
    TempTree tree;
    tree.Create("f.txt", "contents");
    tree.Create("elsewhere", "must stay");
    ASSERT_EQ(symlink("elsewhere", tree.Path("f.txt.BAK").c_str()), 0);
    PosixFileServices files;
    const auto copied = files.CopyForBackup(tree.Text("f.txt"), tree.Text("f.txt.BAK"));
    ASSERT_TRUE(copied) << copied.error().Describe();
    EXPECT_TRUE(S_ISREG(ModeOf(tree.Path("f.txt.BAK"))));
    EXPECT_EQ(tree.Read("f.txt.BAK"), "contents");
    EXPECT_EQ(tree.Read("elsewhere"), "must stay");
}

TEST(PosixBackup, CopiesPermissionBitsOverAnOlderBackup) {
    TempTree tree;
    tree.Create("f", std::string("new\0bytes", 9));
    ASSERT_EQ(chmod(tree.Path("f").c_str(), 0604), 0);
    tree.Create("f.BAK", "older backup, longer than the new one");
    ASSERT_EQ(chmod(tree.Path("f.BAK").c_str(), 0600), 0);
    PosixFileServices files;
    ASSERT_TRUE(files.CopyForBackup(tree.Text("f"), tree.Text("f.BAK")));
    EXPECT_EQ(tree.Read("f.BAK"), std::string("new\0bytes", 9));
    EXPECT_EQ(ModeOf(tree.Path("f.BAK")) & 07777, 0604u);
}

TEST(PosixBackup, FailureLeavesTheTargetAsItWasAndNoTemporaryFile) {
    TempTree tree;
    tree.Create("f", std::string(8192, 'n'));
    tree.Create("f.BAK", "old backup");
    tree.MakeFolder("dir.BAK");
    PosixFileServices files;
    Result<void> copied;
    {
        const FileSizeLimit limit(4096);
        copied = files.CopyForBackup(tree.Text("f"), tree.Text("f.BAK"));
    }
    ASSERT_FALSE(copied);
    EXPECT_EQ(copied.error().code.value(), EFBIG);
    EXPECT_EQ(tree.Read("f.BAK"), "old backup");

    const auto onto_folder = files.CopyForBackup(tree.Text("f"), tree.Text("dir.BAK"));
    ASSERT_FALSE(onto_folder);
    EXPECT_EQ(onto_folder.error().code.value(), EISDIR);
    EXPECT_EQ(tree.Names(), (std::vector<std::string>{"dir.BAK", "f", "f.BAK"}));
}

}  // namespace
}  // namespace popuran::folder
