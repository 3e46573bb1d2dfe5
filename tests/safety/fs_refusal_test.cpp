// File systems that cannot hold permission bits or owners (FAT): linked with --wrap, so that
// fchmod and fchown fail with a chosen errno while a test asks for it. Renames without
// RENAME_NOREPLACE and hard links are tried on a real FAT file system (tests/folder/fat_test).
#include <atomic>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "folder/services/file_services.h"
#include "support/temp_tree.h"

namespace {

std::atomic<int> chmod_error{0};  // fchmod and fchown

int Refuse(int error) {
    errno = error;
    return -1;
}

}  // namespace

extern "C" {
int __real_fchmod(int fd, mode_t mode);
int __real_fchown(int fd, uid_t owner, gid_t group);

int __wrap_fchmod(int fd, mode_t mode) {
    return chmod_error != 0 ? Refuse(chmod_error) : __real_fchmod(fd, mode);
}
int __wrap_fchown(int fd, uid_t owner, gid_t group) {
    return chmod_error != 0 ? Refuse(chmod_error) : __real_fchown(fd, owner, group);
}
}

namespace popuran::testing {
namespace {

TEST(FsRefusal, PermissionBitsAreKeptWhereTheFileSystemCanHoldThem) {
    const struct Case {
        int error;
        bool done;
    } cases[] = {{ENOSYS, true}, {EPERM, true}, {EOPNOTSUPP, true}, {EIO, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        TempTree tree;
        tree.Create("a.txt", "old");
        const struct timespec times[2] = {{978307200, 5}, {978307300, 7}};
        ASSERT_EQ(utimensat(AT_FDCWD, tree.Path("a.txt").c_str(), times, 0), 0);
        folder::PosixFileServices files;
        chmod_error = c.error;
        const auto backed_up = files.CopyForBackup(tree.Text("a.txt"), tree.Text("a.txt.BAK"));
        const auto written = files.ReplaceContents(tree.Text("a.txt"), "new");
        chmod_error = 0;
        EXPECT_EQ(backed_up.has_value(), c.done);
        EXPECT_EQ(written.has_value(), c.done);
        EXPECT_EQ(tree.Read("a.txt"), c.done ? "new" : "old");
        EXPECT_EQ(tree.Names().size(), c.done ? 2u : 1u) << "no temporary file is left";
        struct stat backup {};
        if (c.done && stat(tree.Path("a.txt.BAK").c_str(), &backup) == 0) {
            EXPECT_EQ(backup.st_mtim.tv_sec, 978307300) << "the backup keeps the time";
            EXPECT_EQ(backup.st_mtim.tv_nsec, 7);
        }
    }
}

}  // namespace
}  // namespace popuran::testing
