// File systems that refuse what ext4 allows (FAT: no permission bits, owners, hard links or
// RENAME_NOREPLACE): linked with --wrap, so that fchmod, fchown, renameat2 and link fail with a
// chosen errno while a test asks for it.
#include <atomic>
#include <cerrno>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "folder/services/file_services.h"
#include "support/temp_tree.h"

namespace {

std::atomic<int> chmod_error{0};   // fchmod and fchown
std::atomic<int> rename_error{0};  // renameat2
std::atomic<int> link_error{0};

int Refuse(const std::atomic<int>& error) {
    errno = error;
    return -1;
}

}  // namespace

extern "C" {
int __real_fchmod(int fd, mode_t mode);
int __real_fchown(int fd, uid_t owner, gid_t group);
int __real_renameat2(int from_dir, const char* from, int to_dir, const char* to, unsigned flags);
int __real_link(const char* from, const char* to);

int __wrap_fchmod(int fd, mode_t mode) {
    return chmod_error != 0 ? Refuse(chmod_error) : __real_fchmod(fd, mode);
}
int __wrap_fchown(int fd, uid_t owner, gid_t group) {
    return chmod_error != 0 ? Refuse(chmod_error) : __real_fchown(fd, owner, group);
}
int __wrap_renameat2(int from_dir, const char* from, int to_dir, const char* to, unsigned flags) {
    return rename_error != 0 ? Refuse(rename_error)
                             : __real_renameat2(from_dir, from, to_dir, to, flags);
}
int __wrap_link(const char* from, const char* to) {
    return link_error != 0 ? Refuse(link_error) : __real_link(from, to);
}
}

namespace popuran::testing {
namespace {

struct Refusals {
    Refusals(int chmod, int rename, int link) { Set(chmod, rename, link); }
    ~Refusals() { Set(0, 0, 0); }
    static void Set(int chmod, int rename, int link) {
        chmod_error = chmod;
        rename_error = rename;
        link_error = link;
    }
};

TEST(FsRefusal, PermissionBitsAreKeptWhereTheFileSystemCanHoldThem) {
    const struct Case {
        int error;
        bool done;
        const char* why;
    } cases[] = {
        {ENOSYS, true, "no such call (FAT through FUSE)"},
        {EPERM, true, "refused (FAT in the kernel)"},
        {ENOTSUP, true, "not supported"},
        {EOPNOTSUPP, true, "not supported (socket flavour)"},
        {EIO, false, "an I/O error is a failure"},
        {EROFS, false, "a read-only file system is a failure"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        TempTree tree;
        tree.Create("a.txt", "old");
        folder::PosixFileServices files;
        const Refusals refusals(c.error, 0, 0);
        const auto written = files.ReplaceContents(tree.Text("a.txt"), "new");
        const auto backed_up = files.CopyForBackup(tree.Text("a.txt"), tree.Text("a.txt.BAK"));
        EXPECT_EQ(written.has_value(), c.done);
        EXPECT_EQ(backed_up.has_value(), c.done);
        if (!c.done) {
            EXPECT_EQ(written.error().code.value(), c.error);
        }
        EXPECT_EQ(tree.Read("a.txt"), c.done ? "new" : "old");
        EXPECT_EQ(tree.Names(), c.done ? (std::vector<std::string>{"a.txt", "a.txt.BAK"})
                                       : std::vector<std::string>{"a.txt"});
    }
}

TEST(FsRefusal, ABackupKeepsTheOriginalsTimes) {
    TempTree tree;
    tree.Create("a.txt", "text");
    const struct timespec times[2] = {{978307200, 5}, {978307300, 7}};
    ASSERT_EQ(utimensat(AT_FDCWD, tree.Path("a.txt").c_str(), times, 0), 0);
    folder::PosixFileServices files;
    ASSERT_TRUE(files.CopyForBackup(tree.Text("a.txt"), tree.Text("a.txt.BAK")));
    struct stat st {};
    ASSERT_EQ(stat(tree.Path("a.txt.BAK").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 978307300);
    EXPECT_EQ(st.st_mtim.tv_nsec, 7);
}

TEST(FsRefusal, WithoutNoReplaceAndLinksARenameClaimsTheNewNameFirst) {
    TempTree tree;
    tree.Create("a.txt", "a");
    tree.Create("b.txt", "b");
    tree.Create("C.TXT", "c");
    folder::PosixFileServices files;
    {
        const Refusals refusals(0, EINVAL, EPERM);
        const auto over = files.Rename(tree.Text("a.txt"), tree.Text("b.txt"));
        ASSERT_FALSE(over);
        EXPECT_EQ(over.error().code.value(), EEXIST);
        EXPECT_TRUE(files.Rename(tree.Text("a.txt"), tree.Text("a.htm")));
        EXPECT_TRUE(files.Rename(tree.Text("C.TXT"), tree.Text("c.txt")));
    }
    EXPECT_EQ(tree.Names(), (std::vector<std::string>{"a.htm", "b.txt", "c.txt"}));
    EXPECT_EQ(tree.Read("a.htm"), "a");
    EXPECT_EQ(tree.Read("b.txt"), "b");
    EXPECT_EQ(tree.Read("c.txt"), "c");

    // A refusal of the link for any other reason is that reason, and nothing is claimed.
    const Refusals refusals(0, EINVAL, EACCES);
    const auto denied = files.Rename(tree.Text("b.txt"), tree.Text("d.txt"));
    ASSERT_FALSE(denied);
    EXPECT_EQ(denied.error().code.value(), EACCES);
    EXPECT_EQ(tree.Names(), (std::vector<std::string>{"a.htm", "b.txt", "c.txt"}));
}

}  // namespace
}  // namespace popuran::testing
