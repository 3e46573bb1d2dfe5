// System calls that fail as they do on real systems, linked with --wrap: read, write, open and
// mkostemp fail with EINTR every other time while a test asks for it, and the file services must
// retry them; an interrupted rename is not retried but fails the step cleanly. fchmod, fchown and
// renameat2's no-replace flag and link are refused as file systems like FAT refuse them.
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "filetype/magic_database.h"
#include "folder/services/file_services.h"
#include "folder/services/journal.h"
#include "run/undo.h"
#include "support/fake_view.h"
#include "support/temp_tree.h"

namespace {

// Counted per wrapped function. Atomic: the work may read ahead on a second thread.
enum Call { kRead, kWrite, kOpen, kTemp, kCalls };
std::atomic<bool> interrupting{false};
// The errno that every call of these fails with, or 0 to let them through.
std::atomic<int> rename_error{0};
std::atomic<int> fchown_error{0};
std::atomic<int> fchmod_error{0};
std::atomic<int> renameat2_error{0};   // EINVAL: the no-replace flag refused, as on some mounts
std::atomic<int> link_error{0};        // EPERM: no hard links, as on FAT
std::atomic<int> copy_range_error{0};  // EXDEV: no copy_file_range between these files
std::atomic<int> fallocate_error{0};   // EOPNOTSUPP: no room reserved ahead, as on some mounts
std::atomic<bool> refuse_renames_but_backups{false};  // EIO for renames onto other names
std::array<std::atomic<int>, kCalls> calls{};
std::array<std::atomic<int>, kCalls> interrupted{};

// While interrupting, every other call of each function fails with EINTR, the first included.
bool Interrupt(Call call) {
    if (!interrupting || calls[call]++ % 2 != 0) {
        return false;
    }
    ++interrupted[call];
    errno = EINTR;
    return true;
}

bool Refused(int error) {
    if (error != 0) {
        errno = error;
    }
    return error != 0;
}

// Interrupts only while alive.
struct Interruptions {
    Interruptions() {
        for (int i = 0; i < kCalls; ++i) {
            calls[i] = 0;
            interrupted[i] = 0;
        }
        interrupting = true;
    }
    ~Interruptions() { interrupting = false; }
};

}  // namespace

extern "C" {
ssize_t __real_read(int fd, void* buffer, size_t n);
ssize_t __real_write(int fd, const void* buffer, size_t n);
int __real_open(const char* path, int flags, ...);
int __real_mkostemp(char* templ, int flags);
int __real_rename(const char* from, const char* to);
int __real_fchown(int fd, uid_t owner, gid_t group);
int __real_fchmod(int fd, mode_t mode);
int __real_renameat2(int from_dir, const char* from, int to_dir, const char* to, unsigned flags);
int __real_link(const char* from, const char* to);
ssize_t __real_copy_file_range(int in, off64_t* in_at, int out, off64_t* out_at, size_t n,
                               unsigned flags);
int __real_fallocate(int fd, int mode, off_t at, off_t n);

ssize_t __wrap_read(int fd, void* buffer, size_t n) {
    return Interrupt(kRead) ? -1 : __real_read(fd, buffer, n);
}
ssize_t __wrap_write(int fd, const void* buffer, size_t n) {
    return Interrupt(kWrite) ? -1 : __real_write(fd, buffer, n);
}
int __wrap_open(const char* path, int flags, ...) {
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    return Interrupt(kOpen) ? -1 : __real_open(path, flags, mode);
}
int __wrap_mkostemp(char* templ, int flags) {
    return Interrupt(kTemp) ? -1 : __real_mkostemp(templ, flags);
}
int __wrap_rename(const char* from, const char* to) {
    if (refuse_renames_but_backups && !std::string_view(to).ends_with(".BAK")) {
        return Refused(EIO) ? -1 : 0;
    }
    return Refused(rename_error) ? -1 : __real_rename(from, to);
}
int __wrap_fchown(int fd, uid_t owner, gid_t group) {
    return Refused(fchown_error) ? -1 : __real_fchown(fd, owner, group);
}
int __wrap_fchmod(int fd, mode_t mode) {
    return Refused(fchmod_error) ? -1 : __real_fchmod(fd, mode);
}
int __wrap_renameat2(int from_dir, const char* from, int to_dir, const char* to, unsigned flags) {
    return Refused(renameat2_error) ? -1 : __real_renameat2(from_dir, from, to_dir, to, flags);
}
int __wrap_link(const char* from, const char* to) {
    return Refused(link_error) ? -1 : __real_link(from, to);
}
ssize_t __wrap_copy_file_range(int in, off64_t* in_at, int out, off64_t* out_at, size_t n,
                               unsigned flags) {
    return Refused(copy_range_error) ? -1
                                     : __real_copy_file_range(in, in_at, out, out_at, n, flags);
}
int __wrap_fallocate(int fd, int mode, off_t at, off_t n) {
    return Refused(fallocate_error) ? -1 : __real_fallocate(fd, mode, at, n);
}
}

namespace popuran::testing {
namespace {

// A whole run in mode 0 over a file of many reads and a small one, every other call of each
// wrapped function interrupted.
TEST(Eintr, InterruptedReadsWritesAndOpensAreRetriedThroughAWholeRun) {
    std::string big;
    std::string big_done;
    for (int i = 0; i < 30000; ++i) {
        const std::string filler = std::to_string(i * 131 % 251) + " ";
        big += filler + "\x95\x5C\x8E\xA6";  // 表示
        big_done += filler + "x";
    }
    TempTree tree;
    tree.Create("memo.txt", big);
    tree.Create("README", "\x95\x5C\x8E\xA6");
    const TreeSnapshot before = SnapshotTree(tree.Root());
    folder::PosixFileServices files;
    const TempTree state;  // the journal, written through the same interruptions
    folder::JournalWriter journal{state.Root()};
    folder::JournallingFileServices journalled{files, journal};
    WindowRun run;
    {
        Interruptions on;
        fallocate_error = EOPNOTSUPP;  // no room reserved to map: the journal goes by writes
        run = RunFromWindow(journalled, run::kModeReplace, {u"表示", u"x", u"*", tree.Text()},
                            {.journal = &journal});
        fallocate_error = 0;
    }
    int injected = 0;
    for (const auto& count : interrupted) {
        EXPECT_GT(count, 0) << "read, write, open and mkostemp are each interrupted";
        injected += count;
    }
    ASSERT_EQ(run.messages.size(), 1u) << U8(run.messages[0]);
    EXPECT_EQ(U8(run.messages[0]),
              "検索したファイルの数 = 2\r置換したファイルの数 = 2\r置換した文字列の数 = 30001");
    TreeSnapshot expected = before;
    expected.files = {{"memo.txt", big_done},
                      {"memo.txt.BAK", big},
                      {"README", "x"},
                      {"README.BAK", before.files.at("README")}};
    ExpectTreeAndRecord(tree.Root(), expected, "EINTR",
                        "mode 0 run with every other read, write, open and mkostemp interrupted (" +
                            std::to_string(injected) + " times)",
                        "retried: same bytes, backups and counts as without interruptions");
    // The undo reads the journal and the backups through the same interruptions.
    {
        Interruptions on;
        const auto undone = run::UndoRun(files, state.Root(), "");
        ASSERT_TRUE(undone) << undone.error().Describe();
        EXPECT_EQ(undone->restored, 2);
    }
    EXPECT_EQ(
        Differences(before, SnapshotTree(tree.Root())),
        (std::vector<std::string>{"file appeared: README.BAK", "file appeared: memo.txt.BAK"}));
}

// A backup is the file under a second name where the file system allows it, and otherwise a
// copy, by reads and writes where copy_file_range is refused between the two files. Where the file
// system cannot hold permission bits or owners, backups and replacements go on without them,
// keeping the times. Any other failure fails the step and leaves the file and the older backup;
// so does an interrupted rename, which is not retried.
TEST(Eintr, BackupsAndReplacementsGoOnWhereTheFileSystemRefusesWhatItCannotDo) {
    const struct Case {
        int link, copy_range, fchmod;
        bool backup, replace;
        int rename = 0;
    } cases[] = {
        {0, EIO, 0, true, true},
        {EPERM, 0, 0, true, true},
        {EMLINK, EXDEV, 0, true, true},
        {EXDEV, ENOSYS, 0, true, true},
        {ENOSYS, EINVAL, 0, true, true},
        {EOPNOTSUPP, EOPNOTSUPP, 0, true, true},
        {EIO, 0, 0, false, true},
        {EPERM, EIO, 0, false, true},
        {EPERM, 0, ENOSYS, true, true},
        {EPERM, 0, EPERM, true, true},
        {EPERM, 0, EOPNOTSUPP, true, true},
        {EPERM, 0, EIO, false, false},
        {0, 0, 0, false, false, EINTR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.link) + " " + std::to_string(c.copy_range) + " " +
                     std::to_string(c.fchmod));
        TempTree tree;
        tree.Create("a.txt", "old");
        tree.Create("a.txt.BAK", "older");
        const struct timespec times[2] = {{978307200, 5}, {978307300, 7}};
        ASSERT_EQ(utimensat(AT_FDCWD, tree.Path("a.txt").c_str(), times, 0), 0);
        folder::PosixFileServices files;
        link_error = c.link;
        copy_range_error = c.copy_range;
        fchmod_error = fchown_error = c.fchmod;
        rename_error = c.rename;
        const auto backed_up = files.CopyForBackup(tree.Text("a.txt"), tree.Text("a.txt.BAK"));
        const auto written = files.ReplaceContents(tree.Text("a.txt"), "new");
        link_error = copy_range_error = fchmod_error = fchown_error = rename_error = 0;
        EXPECT_EQ(backed_up.has_value(), c.backup);
        EXPECT_EQ(written.has_value(), c.replace);
        EXPECT_EQ(tree.Read("a.txt.BAK"), c.backup ? "old" : "older");
        EXPECT_EQ(tree.Read("a.txt"), c.replace ? "new" : "old");
        EXPECT_EQ(tree.Names(), (std::vector<std::string>{"a.txt", "a.txt.BAK"}))
            << "no temporary file is left";
        struct stat backup {};
        ASSERT_EQ(stat(tree.Path("a.txt.BAK").c_str(), &backup), 0);
        EXPECT_TRUE(!c.backup ||
                    (backup.st_mtim.tv_sec == 978307300 && backup.st_mtim.tv_nsec == 7))
            << "the backup keeps the time";
        if (c.rename != 0) {
            RecordSafetyRow("EINTR",
                            "rename interrupted while putting new contents or a backup in place",
                            "step fails, original and older backup as they were, no temporary left",
                            static_cast<int>(tree.Read("a.txt") != "old"));
        }
    }
}

// Where the new contents cannot take the file's place after its backup was made as a second
// name, the backup becomes a copy of its own: changing the file in place leaves it as it is.
TEST(Eintr, ABackupOfAFileThatKeepsItsContentsSharesNothingWithIt) {
    TempTree tree;
    tree.Create("a.txt", "needle");
    folder::PosixFileServices files;
    refuse_renames_but_backups = true;
    const WindowRun run =
        RunFromWindow(files, run::kModeReplace, {u"needle", u"x", u"*.txt", tree.Text()});
    refuse_renames_but_backups = false;
    EXPECT_EQ(run.state.ChangedFileCount, 0);
    EXPECT_EQ(run.failures.size(), 1u);
    std::FILE* file = std::fopen(tree.Path("a.txt").c_str(), "a");
    ASSERT_NE(file, nullptr);
    std::fputs(" and more", file);
    std::fclose(file);
    EXPECT_EQ(tree.Read("a.txt"), "needle and more");
    EXPECT_EQ(tree.Read("a.txt.BAK"), "needle");
    EXPECT_EQ(tree.Names(), (std::vector<std::string>{"a.txt", "a.txt.BAK"}));
    RecordSafetyRow("fault", "mode 0: new contents cannot take the file's place (EIO)",
                    "file untouched, not counted; its backup is a copy that a later change of "
                    "the file in place leaves as it is",
                    static_cast<int>(tree.Read("a.txt.BAK") != "needle"));
}

// Where the file system refuses the no-replace flag, and even hard links (FAT), a rename still
// never replaces a file: a taken name is refused as taken, a free one is claimed, through
// interrupted opens too.
TEST(Eintr, WithoutTheNoReplaceFlagARenameStillNeverReplaces) {
    for (const int refused_link : {0, EPERM}) {
        SCOPED_TRACE(refused_link);
        TempTree tree;
        tree.Create("a", "A");
        tree.Create("b", "B");
        folder::PosixFileServices files;
        renameat2_error = EINVAL;
        link_error = refused_link;
        folder::Result<void> onto_b, onto_c;
        {
            Interruptions on;
            onto_b = files.Rename(tree.Text("a"), tree.Text("b"));
            onto_c = files.Rename(tree.Text("a"), tree.Text("c"));
        }
        renameat2_error = EIO;  // any other failure is the rename's own
        const auto failed = files.Rename(tree.Text("c"), tree.Text("d"));
        renameat2_error = 0;
        link_error = 0;
        ASSERT_FALSE(failed);
        EXPECT_EQ(failed.error().code.value(), EIO);
        ASSERT_FALSE(onto_b);
        EXPECT_EQ(onto_b.error().code.value(), EEXIST);
        EXPECT_TRUE(onto_c);
        EXPECT_EQ(tree.Names(), (std::vector<std::string>{"b", "c"}));
        EXPECT_EQ(tree.Read("b"), "B");
        EXPECT_EQ(tree.Read("c"), "A");
    }
}

// The type database names gzip only when it reads a file: the bytes go to a memory file, whose
// interrupted writes are retried.
TEST(Eintr, TheTypeDatabaseIsAskedThroughInterruptedWrites) {
    filetype::MagicDatabase database;
    Interruptions on;
    const std::string gzip("\x1f\x8b\x08\0\0\0\0\0\x02\x03\xab\0\0\x83\x16\xdc\x8c\x01\0\0\0", 21);
    const auto answer = database.Ask(gzip, false);
    ASSERT_FALSE(answer.extensions.empty());
    EXPECT_EQ(answer.extensions[0], u"gz");
    EXPECT_GT(interrupted[kWrite], 0);
}

}  // namespace
}  // namespace popuran::testing
