// PosixFileServices: listings, reads, atomic replacement, backups and renames through POSIX calls.
#include "folder/services/file_services.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "folder/services/code_units.h"
#include "folder/services/path_helpers.h"
#include "folder/services/text_search.h"
#include "folder/services/utf8.h"
#include "folder/services/wildcard.h"

namespace popuran::folder {

namespace {

// --- Descriptors and plain I/O ---------------------------------------------------------------

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(); }

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release() { return std::exchange(fd_, -1); }
    void Reset() {
        if (fd_ >= 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    // Closes and reports what close says: on some file systems a failed write surfaces only
    // here.
    int CloseChecked() {
        const int fd = std::exchange(fd_, -1);
        return fd >= 0 && close(fd) != 0 ? errno : 0;
    }

private:
    int fd_ = -1;
};

// Opens a file for reading. Links are not followed, and only a regular file is accepted: a
// fifo would block the open and a device would never end. The file's status goes to *status
// when asked for.
Result<UniqueFd> OpenForReading(const std::string& native, struct stat* status = nullptr,
                                int flags = 0) {
    int fd = -1;
    do {
        fd = open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | flags);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return Fail(errno, native);
    }
    UniqueFd file(fd);
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        return Fail(errno, native);
    }
    if (!S_ISREG(st.st_mode)) {
        return Fail(S_ISDIR(st.st_mode) ? EISDIR : EINVAL, native);
    }
    if (status != nullptr) {
        *status = st;
    }
    return file;
}

// Reads until n bytes are in or the file ends; returns how many were read.
Result<std::size_t> ReadFully(int fd, char* buffer, std::size_t n, const std::string& context) {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got = read(fd, buffer + done, n - done);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Fail(errno, context);
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return done;
}

Result<void> WriteFully(int fd, std::string_view bytes, const std::string& context) {
    while (!bytes.empty()) {
        const ssize_t put = write(fd, bytes.data(), bytes.size());
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Fail(errno, context);
        }
        bytes.remove_prefix(static_cast<std::size_t>(put));
    }
    return {};
}

// Copies what is left of `from` to `to`. copy_file_range keeps the bytes inside the kernel (and
// shares them where the file system can); where it is refused between these two files, plain
// reads and writes go on from where it stopped, since both descriptors' offsets have moved.
Result<void> CopyContents(const UniqueFd& from, const UniqueFd& to, std::int64_t expected,
                          const std::string& from_path, const std::string& to_path) {
    constexpr std::size_t kMaxCopy = std::size_t{1} << 30;
    std::int64_t copied = 0;
    for (;;) {
        const ssize_t n = copy_file_range(from.Get(), nullptr, to.Get(), nullptr, kMaxCopy, 0);
        if (n > 0) {
            copied += n;
            continue;
        }
        if (n == 0) {
            // Some file systems report an end too early here; reading on tells for sure.
            if (copied >= expected) {
                return {};
            }
            break;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) {
            return Fail(errno, to_path);
        }
        break;
    }
    std::string buffer(std::size_t{1} << 16, '\0');
    for (;;) {
        auto got = ReadFully(from.Get(), buffer.data(), buffer.size(), from_path);
        if (!got) {
            return tl::unexpected(got.error());
        }
        if (*got == 0) {
            return {};
        }
        if (auto put = WriteFully(to.Get(), std::string_view(buffer.data(), *got), to_path); !put) {
            return put;
        }
    }
}

// --- Paths ------------------------------------------------------------------------------------

// A native path cut after its last '/': the folder keeps the '/', a bare name has folder "".
struct NativeSplit {
    std::string folder;
    std::string name;
};

NativeSplit SplitNative(const std::string& native) {
    const auto slash = native.rfind('/');
    if (slash == std::string::npos) {
        return {"", native};
    }
    return {native.substr(0, slash + 1), native.substr(slash + 1)};
}

// The last component of a text path ("a/b" gives "b", a bare name gives itself).
std::u16string_view LastComponent(std::u16string_view path) {
    const auto slash = path.rfind(kSeparator);
    return slash == std::u16string_view::npos ? path : path.substr(slash + 1);
}

// The folder part of a text path, its '/' kept ("" for a bare name): FolderOf without a copy.
std::u16string_view FolderPart(std::u16string_view path) {
    return path.substr(0, path.size() - LastComponent(path).size());
}

// Without trailing '/' (except for "/" itself): "dir/link/" would make lstat follow the link.
std::u16string_view WithoutTrailingSlashes(std::u16string_view path) {
    while (path.size() > 1 && path.back() == kSeparator) {
        path.remove_suffix(1);
    }
    return path;
}

// A NUL would end the name at the system call, so the file would get a shorter name than the
// one asked for.
bool IsReservedName(std::u16string_view name) {
    return name.empty() || name == u"." || name == u".." ||
           name.find(u'\0') != std::u16string_view::npos;
}

// A temporary dot-file created beside `target` (same folder, so a rename can put it in place;
// a dot-name, so no listing of the work picks it up), mode 0600 until it is finished.
struct TempFile {
    UniqueFd fd;
    std::string path;
};

// The start of a temporary name beside target: a dot-name, so that no listing picks it up. A
// long name leaves room for the prefix and a suffix within the 255-byte name limit.
std::string TempPrefixBeside(const std::string& target) {
    const NativeSplit split = SplitNative(target);
    constexpr std::size_t kMaxNamePart = 200;
    return split.folder + "." + split.name.substr(0, kMaxNamePart) + ".popuran-";
}

// Numbers for fresh names, which only need to differ from what is in the folder: a taken name
// just means another try.
std::mt19937 FreshNumbers() {
    static std::atomic<std::uint32_t> counter = 0;
    return std::mt19937(static_cast<std::uint32_t>(
        std::chrono::steady_clock::now().time_since_epoch().count() ^ getpid() ^ ++counter));
}

Result<TempFile> CreateTempBeside(const std::string& target) {
    std::string templ = TempPrefixBeside(target) + "XXXXXX";
    int fd = -1;
    do {
        fd = mkostemp(templ.data(), O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return Fail(errno, target);
    }
    return TempFile{UniqueFd(fd), std::move(templ)};
}

// True for the answers of a file system that cannot hold permission bits, owners or times (FAT
// has none of them): keeping them is then given up, and the work goes on. The temporary files
// whose bits are set here belong to this process, so EPERM from fchmod can only be such a
// refusal; from fchown it means that the process may not give the file away.
bool CannotHold(int error) {
    return error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP || error == EPERM;
}

// Puts a second name of `from` at `to`, through a fresh name beside `to` and a rename, so that
// whatever stood at `to` is replaced whole; 0 or the error number. Nothing is left at the fresh
// name on failure.
int LinkBeside(const std::string& from, const std::string& to) {
    std::mt19937 random = FreshNumbers();
    const std::string prefix = TempPrefixBeside(to);
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string temp = prefix + std::to_string(random());
        if (link(from.c_str(), temp.c_str()) != 0) {
            if (errno == EEXIST || errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (rename(temp.c_str(), to.c_str()) != 0) {
            const int error = errno;
            unlink(temp.c_str());
            return error;
        }
        return 0;
    }
    return EEXIST;
}

// True for the answers of a file system, or of its protection of other users' files, that
// refuses a second name for a file: the backup is then copied.
bool CannotLink(int error) {
    return error == EPERM || error == EMLINK || error == EXDEV || error == ENOSYS ||
           error == EOPNOTSUPP;
}

// --- Attributes and listing order -------------------------------------------------------------

std::uint32_t AttributesFromStat(const struct stat& st, std::u16string_view name) {
    std::uint32_t attributes = 0;
    if (S_ISLNK(st.st_mode)) {
        // A link is neither a folder nor a regular file itself, whatever it points to.
        attributes = kAttrSystem | kAttrReparsePoint;
    } else if (S_ISDIR(st.st_mode)) {
        attributes = kAttrDirectory;
    } else if (S_ISREG(st.st_mode)) {
        attributes = kAttrArchive;
    } else {
        attributes = kAttrSystem;
    }
    if ((st.st_mode & S_IWUSR) == 0) {
        attributes |= kAttrReadOnly;
    }
    if (!name.empty() && name.front() == u'.') {
        attributes |= kAttrHidden;
    }
    return attributes;
}

// Listings come in a fixed order so that runs are reproducible and files are worked on in the
// order users see in the window: ASCII letters compared as upper case, ties broken by the plain
// code units so that the order is total.
bool ListingLess(const DirEntry& a, const DirEntry& b) {
    const std::size_t n = std::min(a.name.size(), b.name.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t x = AsciiUpper(a.name[i]);
        const char16_t y = AsciiUpper(b.name[i]);
        if (x != y) {
            return x < y;
        }
    }
    if (a.name.size() != b.name.size()) {
        return a.name.size() < b.name.size();
    }
    return a.name < b.name;
}

// --- Atomic output and input ------------------------------------------------------------------

class PosixAtomicOutput final : public AtomicOutput {
public:
    PosixAtomicOutput(TempFile temp, std::string target, const struct stat& original)
        : temp_(std::move(temp)), target_(std::move(target)), original_(original) {}
    PosixAtomicOutput(const PosixAtomicOutput&) = delete;
    PosixAtomicOutput& operator=(const PosixAtomicOutput&) = delete;
    ~PosixAtomicOutput() override { Discard(ECANCELED); }

    Result<void> Write(std::string_view bytes) override {
        if (state_ != State::kOpen) {
            return Refusal();
        }
        if (auto written = WriteFully(temp_.fd.Get(), bytes, target_); !written) {
            return Abandon(written.error().code.value());
        }
        written_ += bytes.size();
        return {};
    }

    Result<void> Commit() override {
        if (state_ != State::kOpen) {
            return Refusal();
        }
        const int fd = temp_.fd.Get();
        // Owner first: a change of owner may clear the set-id bits that fchmod then restores.
        if (fchown(fd, original_.st_uid, original_.st_gid) != 0) {
            if (!CannotHold(errno)) {
                return Abandon(errno);
            }
            // Not allowed to give the file away; keeping the group may still be allowed.
            if (errno == EPERM && fchown(fd, static_cast<uid_t>(-1), original_.st_gid) != 0 &&
                !CannotHold(errno)) {
                return Abandon(errno);
            }
        }
        if (fchmod(fd, original_.st_mode & 07777) != 0 && !CannotHold(errno)) {
            return Abandon(errno);
        }
        // No fsync: the rename alone makes the switch atomic for every reader and against a
        // killed process, and the file system orders a rename over an existing file after the
        // new data (ext4's auto_da_alloc). An fsync per file would cost milliseconds each and
        // make a run over many small files ten times slower than the ordinary tools.
        if (const int error = temp_.fd.CloseChecked(); error != 0) {
            return Abandon(error);
        }
        if (rename(temp_.path.c_str(), target_.c_str()) != 0) {
            return Abandon(errno);
        }
        state_ = State::kCommitted;
        return {};
    }

private:
    enum class State { kOpen, kCommitted, kFailed };

    // Removes the temporary file (unless committed) and remembers why, so that a later Commit
    // cannot put a partly written file in place.
    void Discard(int error) {
        if (state_ == State::kOpen) {
            unlink(temp_.path.c_str());
            CloseAside(temp_.fd, written_);
            state_ = State::kFailed;
            error_ = error;
        }
    }
    // The last close of a removed file frees its contents, about a millisecond per MB: a large
    // one (a stop in the middle of a huge file) is closed on a thread of its own, so that the
    // run answers at once.
    static void CloseAside(UniqueFd& fd, std::uint64_t written) {
        constexpr std::uint64_t kLarge = std::uint64_t{16} << 20;
        if (written >= kLarge) {
            try {
                std::thread([raw = fd.Get()] { close(raw); }).detach();
                fd.Release();
                return;
            } catch (const std::exception&) {
                // No thread to be had: closed here, only later.
            }
        }
        fd.Reset();
    }
    Result<void> Abandon(int error) {
        Discard(error);
        return Fail(error, target_);
    }

    Result<void> Refusal() const {
        return Fail(state_ == State::kFailed ? error_ : EINVAL, target_);
    }

    TempFile temp_;
    std::string target_;
    struct stat original_;
    State state_ = State::kOpen;
    int error_ = 0;
    std::uint64_t written_ = 0;
};

class PosixInputFile final : public InputFile {
public:
    // With search_only, a short read that reaches the length the file had when it was opened
    // is taken for its end, which spares a system call per file. Only a search may: it is
    // trusted only where the file still has that length, while a rewrite must see what was
    // appended meanwhile.
    PosixInputFile(UniqueFd fd, std::string context, std::int64_t search_length = -1)
        : fd_(std::move(fd)), context_(std::move(context)), search_length_(search_length) {}
    Result<std::size_t> Read(char* buffer, std::size_t n) override {
        // A short count means that read has just said "end of file"; asking again at once
        // would only cost a system call per file.
        if (at_end_) {
            return std::size_t{0};
        }
        std::size_t done = 0;
        while (done < n) {
            const ssize_t got = read(fd_.Get(), buffer + done, n - done);
            if (got < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return Fail(errno, context_);
            }
            if (got == 0) {
                at_end_ = true;
                break;
            }
            done += static_cast<std::size_t>(got);
            offset_ += got;
            if (done < n && offset_ == search_length_) {
                at_end_ = true;
                break;
            }
        }
        return done;
    }

private:
    UniqueFd fd_;
    std::string context_;
    std::int64_t search_length_;
    std::int64_t offset_ = 0;
    bool at_end_ = false;
};

// --- Renames ----------------------------------------------------------------------------------

// For file systems without RENAME_NOREPLACE and without hard links (FAT): the new name is
// claimed by creating it exclusively, so that nothing standing there is ever replaced, and the
// file is then renamed over that empty placeholder, which only this process owns. A kill in
// between leaves the empty placeholder and the original untouched.
int RenameOverPlaceholder(const std::string& from, const std::string& to) {
    int fd = -1;
    do {
        fd = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return errno;
    }
    // Closed before the rename: a file system in user space hides a replaced file that is
    // still open instead of removing it.
    close(fd);
    if (rename(from.c_str(), to.c_str()) != 0) {
        const int error = errno;
        unlink(to.c_str());
        return error;
    }
    return 0;
}

// Renames without ever replacing an existing entry; returns 0 or the error number.
int RenameNoReplace(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    const int error = errno;
    if (error != EINVAL && error != ENOSYS) {
        return error;
    }
    // Some file systems refuse the flag. A hard link claims the new name only if it is free;
    // a plain rename would silently replace whatever is there, so it is never the fallback.
    if (link(from.c_str(), to.c_str()) == 0) {
        if (unlink(from.c_str()) != 0) {
            const int unlink_error = errno;
            unlink(to.c_str());
            return unlink_error;
        }
        return 0;
    }
    const int link_error = errno;
    if (link_error != EPERM && link_error != ENOSYS && link_error != ENOTSUP &&
        link_error != EOPNOTSUPP && link_error != EMLINK) {
        return link_error;
    }
    return RenameOverPlaceholder(from, to);
}

// True when the folder holds no entry spelled exactly like the last component of `path`,
// although lstat finds one: the name then reaches another spelling of it, on a file system
// that ignores letter case.
bool OnlyAnotherSpelling(const std::string& path) {
    const NativeSplit split = SplitNative(path);
    DIR* dir = opendir(split.folder.empty() ? "." : split.folder.c_str());
    if (dir == nullptr) {
        return false;
    }
    bool exact = false;
    while (const dirent* entry = readdir(dir)) {
        if (split.name == entry->d_name) {
            exact = true;
            break;
        }
    }
    closedir(dir);
    return !exact;
}

// True when both names reach the same file. Inode numbers tell where the file system has them;
// some (FAT through FUSE) number each spelling of a name apart, and then the folder itself
// tells that the new spelling is not an entry of its own.
bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    if (lstat(a.c_str(), &sa) != 0 || lstat(b.c_str(), &sb) != 0) {
        return false;
    }
    return (sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino) || OnlyAnotherSpelling(b);
}

// A name that differs from the old one only where the file system ignores it (letter case)
// is "taken" by the file itself; going through a fresh temporary name makes the new spelling
// stick. Should the second step fail, the file goes back to its old name.
int RenameThroughTemporary(const std::string& from, const std::string& to) {
    const NativeSplit split = SplitNative(from);
    std::mt19937 random = FreshNumbers();
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string temp = split.folder + ".popuran-rename-" + std::to_string(random());
        const int first = RenameNoReplace(from, temp);
        if (first == EEXIST) {
            continue;
        }
        if (first != 0) {
            return first;
        }
        const int second = RenameNoReplace(temp, to);
        if (second != 0) {
            RenameNoReplace(temp, from);
        }
        return second;
    }
    return EEXIST;
}

}  // namespace

std::string NativePath(std::u16string_view path) { return TextToUtf8(path); }

Result<std::vector<DirEntry>> FileServices::ListFolders(std::u16string_view folder) {
    auto entries = List(std::u16string(folder) + u"*");
    if (entries) {
        std::erase_if(*entries, [](const DirEntry& e) { return !(e.attributes & kAttrDirectory); });
    }
    return entries;
}

Result<std::int32_t> FileServices::Count(std::u16string_view pattern_path, std::uint32_t attributes,
                                         bool (*leave_out)(std::u16string_view name)) {
    auto entries = List(pattern_path);
    if (!entries) {
        return tl::unexpected(entries.error());
    }
    return CountEntries(*entries, attributes, leave_out);
}

std::int32_t CountEntries(const std::vector<DirEntry>& entries, std::uint32_t attributes,
                          bool (*leave_out)(std::u16string_view name)) {
    return static_cast<std::int32_t>(
        std::count_if(entries.begin(), entries.end(), [&](const DirEntry& e) {
            return e.attributes == attributes && (leave_out == nullptr || !leave_out(e.name));
        }));
}

Result<FileIdentity> FileServices::Identity(std::u16string_view path) {
    return Fail(ENOTSUP, NativePath(path));
}

Result<bool> FileServices::IsFolder(std::u16string_view) { return true; }

Result<void> FileServices::CheckCreate(std::u16string_view) { return {}; }

Result<void> FileServices::ReplaceContents(std::u16string_view path, std::string_view bytes) {
    auto output = BeginReplace(path);
    if (!output) {
        return tl::unexpected(output.error());
    }
    if (auto written = (*output)->Write(bytes); !written) {
        return written;
    }
    return (*output)->Commit();
}

// A pattern path without any '/' lists the current folder, as any other relative path would.
Result<std::vector<DirEntry>> PosixFileServices::List(std::u16string_view pattern_path) {
    return ListEntries(pattern_path, Listing::kAll);
}

Result<std::vector<DirEntry>> PosixFileServices::ListFolders(std::u16string_view folder) {
    return ListEntries(std::u16string(folder) + u"*", Listing::kFoldersOnly);
}

Result<std::vector<DirEntry>> PosixFileServices::ListToSearch(std::u16string_view pattern_path) {
    return ListEntries(pattern_path, Listing::kToSearch);
}

template <typename Each>
Result<void> PosixFileServices::ForEachEntry(std::u16string_view pattern_path, Each&& each,
                                             bool names) {
    const auto slash = pattern_path.rfind(kSeparator);
    const std::u16string_view pattern =
        slash == std::u16string_view::npos ? pattern_path : pattern_path.substr(slash + 1);
    const std::string folder = slash == std::u16string_view::npos
                                   ? std::string(".")
                                   : NativePath(pattern_path.substr(0, slash + 1));
    ForgetRenameFolder(folder);
    int fd = -1;
    do {
        fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return {};
        }
        return Fail(errno, folder);
    }
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        const int error = errno;
        close(fd);
        return Fail(error, folder);
    }
    const std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, closedir);

    const WildcardMatcher matcher(pattern);
    // Names are converted only where they are looked at.
    const bool convert = names || !matcher.MatchesAll();
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(dir);
        if (entry == nullptr) {
            if (errno != 0) {
                return Fail(errno, folder);
            }
            return {};
        }
        const std::string_view bytes(entry->d_name);
        if (bytes == "." || bytes == "..") {
            continue;
        }
        std::u16string name = convert ? Utf8ToText(bytes) : std::u16string();
        if (convert && !matcher.Matches(name)) {
            continue;
        }
        if (const int error = each(fd, *entry, std::move(name)); error != 0) {
            return Fail(error, folder + entry->d_name);
        }
    }
}

Result<std::vector<DirEntry>> PosixFileServices::ListEntries(std::u16string_view pattern_path,
                                                             Listing listing) {
    std::vector<DirEntry> entries;
    auto listed = ForEachEntry(pattern_path, [&](int fd, const dirent& entry, std::u16string name) {
        // The entry's type from the folder itself spares a status call per file when only
        // folders are wanted, or only a guess at the regular files.
        if (listing == Listing::kFoldersOnly && entry.d_type != DT_DIR &&
            entry.d_type != DT_UNKNOWN) {
            return 0;
        }
        if (listing == Listing::kToSearch && entry.d_type == DT_REG) {
            const std::uint32_t attributes =
                entry.d_name[0] == '.' ? kAttrArchive | kAttrHidden : kAttrArchive;
            entries.push_back(DirEntry{std::move(name), attributes, -1, {}});
            return 0;
        }
        struct stat st {};
        if (fstatat(fd, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            return errno == ENOENT ? 0 : errno;  // ENOENT: removed since the folder was read
        }
        const std::uint32_t attributes = AttributesFromStat(st, name);
        if (listing == Listing::kFoldersOnly && !(attributes & kAttrDirectory)) {
            return 0;
        }
        entries.push_back(DirEntry{std::move(name),
                                   attributes,
                                   st.st_size,
                                   {static_cast<std::uint64_t>(st.st_dev), st.st_ino}});
        return 0;
    });
    if (!listed) {
        return tl::unexpected(listed.error());
    }
    std::sort(entries.begin(), entries.end(), ListingLess);
    return entries;
}

Result<std::int32_t> PosixFileServices::Count(std::u16string_view pattern_path,
                                              std::uint32_t attributes,
                                              bool (*leave_out)(std::u16string_view)) {
    std::int32_t count = 0;
    const bool hidden = (attributes & kAttrHidden) != 0;
    const unsigned char type = (attributes & kAttrDirectory) != 0 ? DT_DIR
                               : (attributes & kAttrArchive) != 0 ? DT_REG
                                                                  : DT_UNKNOWN;
    auto counted = ForEachEntry(
        pattern_path,
        [&](int fd, const dirent& entry, std::u16string name) {
            if ((entry.d_name[0] == '.') != hidden || (leave_out != nullptr && leave_out(name)) ||
                (type != DT_UNKNOWN && entry.d_type != DT_UNKNOWN && entry.d_type != type)) {
                return 0;
            }
            struct stat st {};
            if (fstatat(fd, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                return errno == ENOENT ? 0 : errno;
            }
            // The name is only known where it was needed; its dot was checked above.
            count +=
                AttributesFromStat(st, entry.d_name[0] == '.' ? u"." : u"") == attributes ? 1 : 0;
            return 0;
        },
        /*names=*/leave_out != nullptr);
    if (!counted) {
        return tl::unexpected(counted.error());
    }
    return count;
}

Result<std::uint32_t> PosixFileServices::Attributes(std::u16string_view path) {
    const std::u16string_view trimmed = WithoutTrailingSlashes(path);
    const std::string native = NativePath(trimmed);
    struct stat st {};
    if (lstat(native.c_str(), &st) != 0) {
        return Fail(errno, native);
    }
    return AttributesFromStat(st, LastComponent(trimmed));
}

Result<std::int64_t> PosixFileServices::Length(std::u16string_view path) {
    const std::string native = NativePath(path);
    struct stat st {};
    if (lstat(native.c_str(), &st) != 0) {
        return Fail(errno, native);
    }
    return static_cast<std::int64_t>(st.st_size);
}

Result<FileIdentity> PosixFileServices::Identity(std::u16string_view path) {
    const std::string native = NativePath(path);
    struct stat st {};
    if (lstat(native.c_str(), &st) != 0) {
        return Fail(errno, native);
    }
    return FileIdentity{static_cast<std::uint64_t>(st.st_dev),
                        static_cast<std::uint64_t>(st.st_ino)};
}

Result<std::string> PosixFileServices::ReadHead(std::u16string_view path, std::size_t max_bytes) {
    const std::string native = NativePath(path);
    struct stat st {};
    auto file = OpenForReading(native, &st);
    if (!file) {
        return tl::unexpected(file.error());
    }
    std::size_t expected = max_bytes;
    if (st.st_size >= 0) {
        expected = std::min(max_bytes, static_cast<std::size_t>(st.st_size));
    }
    std::string bytes(expected, '\0');
    auto got = ReadFully(file->Get(), bytes.data(), bytes.size(), native);
    if (!got) {
        return tl::unexpected(got.error());
    }
    // The file may have grown since fstat; read on up to max_bytes.
    while (*got == bytes.size() && bytes.size() < max_bytes) {
        const std::size_t before = bytes.size();
        bytes.resize(std::min(max_bytes, std::max<std::size_t>(before * 2, 4096)));
        auto more = ReadFully(file->Get(), bytes.data() + before, bytes.size() - before, native);
        if (!more) {
            return tl::unexpected(more.error());
        }
        *got = before + *more;
    }
    bytes.resize(*got);
    return bytes;
}

Result<std::string> PosixFileServices::ReadAll(std::u16string_view path) {
    return ReadHead(path, static_cast<std::size_t>(-1));
}

Result<std::unique_ptr<InputFile>> PosixFileServices::OpenInput(std::u16string_view path) {
    std::string native = NativePath(path);
    auto file = OpenForReading(native);
    if (!file) {
        return tl::unexpected(file.error());
    }
    return std::make_unique<PosixInputFile>(std::move(*file), std::move(native));
}

Result<std::unique_ptr<InputFile>> PosixFileServices::OpenToSearch(std::u16string_view path) {
    std::string native = NativePath(path);
    struct stat st {};
    // A search that changes nothing leaves the access time as it was, where this user may ask
    // that (the owner's files); elsewhere the file is opened as any other.
    auto file = OpenForReading(native, &st, O_NOATIME);
    if (!file && file.error().code == std::errc::operation_not_permitted) {
        file = OpenForReading(native, &st);
    }
    if (!file) {
        return tl::unexpected(file.error());
    }
    return std::make_unique<PosixInputFile>(std::move(*file), std::move(native),
                                            static_cast<std::int64_t>(st.st_size));
}

Result<std::unique_ptr<AtomicOutput>> PosixFileServices::BeginReplace(std::u16string_view path) {
    std::string native = NativePath(path);
    struct stat st {};
    if (lstat(native.c_str(), &st) != 0) {
        return Fail(errno, native);
    }
    if (!S_ISREG(st.st_mode)) {
        // Replacing a link would put a file in its place instead of changing its target.
        return Fail(S_ISLNK(st.st_mode) ? ELOOP : S_ISDIR(st.st_mode) ? EISDIR : EINVAL, native);
    }
    auto temp = CreateTempBeside(native);
    if (!temp) {
        return tl::unexpected(temp.error());
    }
    return std::make_unique<PosixAtomicOutput>(std::move(*temp), std::move(native), st);
}

Result<void> PosixFileServices::CopyForBackup(std::u16string_view from, std::u16string_view to) {
    const std::string source_path = NativePath(from);
    const std::string target_path = NativePath(to);
    struct stat st {};
    // A second name costs no copy, and no release of the old contents when the new ones take
    // their place. Only for a file of one name: a backup that shared its contents with other
    // names would change with them.
    if (lstat(source_path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1) {
        const int linked = LinkBeside(source_path, target_path);
        if (linked == 0) {
            return {};
        }
        if (!CannotLink(linked)) {
            return Fail(linked, target_path);
        }
    }
    auto source = OpenForReading(source_path, &st);
    if (!source) {
        return tl::unexpected(source.error());
    }
    auto temp = CreateTempBeside(target_path);
    if (!temp) {
        return tl::unexpected(temp.error());
    }
    // The temporary file goes away on every failure below; only the final rename touches `to`.
    const auto fail = [&](int error, const std::string& context) -> Result<void> {
        temp->fd.Reset();
        unlink(temp->path.c_str());
        return Fail(error, context);
    };
    if (auto copied = CopyContents(*source, temp->fd, st.st_size, source_path, target_path);
        !copied) {
        return fail(copied.error().code.value(), copied.error().context);
    }
    if (fchmod(temp->fd.Get(), st.st_mode & 07777) != 0 && !CannotHold(errno)) {
        return fail(errno, target_path);
    }
    // The backup says when the text was last written, as a copy with cp -p would; set after
    // the last write, which would move it.
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (futimens(temp->fd.Get(), times) != 0 && !CannotHold(errno)) {
        return fail(errno, target_path);
    }
    if (const int error = temp->fd.CloseChecked(); error != 0) {
        return fail(error, target_path);
    }
    // rename replaces a link standing at `to` itself, never the file it points to.
    if (rename(temp->path.c_str(), target_path.c_str()) != 0) {
        return fail(errno, target_path);
    }
    return {};
}

Result<bool> PosixFileServices::IsFolder(std::u16string_view path) {
    const std::string native = NativePath(path);
    struct stat st {};
    if (stat(native.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return false;
        }
        return Fail(errno, native);
    }
    return S_ISDIR(st.st_mode);
}

Result<void> PosixFileServices::CheckCreate(std::u16string_view path) {
    const std::string native = NativePath(path);
    const NativeSplit split = SplitNative(native);
    const std::string folder = split.folder.empty() ? std::string(".") : split.folder;
    errno = 0;
    const long name_max = pathconf(folder.c_str(), _PC_NAME_MAX);
    if (name_max < 0 && errno != 0) {
        return Fail(errno, native);
    }
    if (name_max > 0 && split.name.size() > static_cast<std::size_t>(name_max)) {
        return Fail(ENAMETOOLONG, native);
    }
    // The effective ids decide, as for the real calls.
    if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        return Fail(errno, native);
    }
    return {};
}

PosixFileServices::~PosixFileServices() {
    if (rename_fd_ >= 0) {
        close(rename_fd_);
    }
}

void PosixFileServices::ForgetRenameFolder(const std::string& folder) {
    const std::lock_guard lock(rename_mutex_);
    if (rename_fd_ >= 0 && (rename_folder_.empty() ? "." : rename_folder_) == folder) {
        close(rename_fd_);
        rename_fd_ = -1;
    }
}

int PosixFileServices::RenameInFolder(const std::string& from, const std::string& to) {
    // Both in one folder (the caller made sure): the names start after the same '/'.
    const std::size_t name_at = from.rfind('/') + 1;
    const std::string_view folder(from.data(), name_at);
    {
        const std::lock_guard lock(rename_mutex_);
        if (rename_fd_ < 0 || rename_folder_ != folder) {
            if (rename_fd_ >= 0) {
                close(rename_fd_);
            }
            rename_folder_ = folder;
            const char* open_path = folder.empty() ? "." : rename_folder_.c_str();
            do {
                rename_fd_ = open(open_path, O_PATH | O_DIRECTORY | O_CLOEXEC);
            } while (rename_fd_ < 0 && errno == EINTR);
        }
        if (rename_fd_ >= 0) {
            if (renameat2(rename_fd_, from.c_str() + name_at, rename_fd_, to.c_str() + name_at,
                          RENAME_NOREPLACE) == 0) {
                return 0;
            }
            if (errno != EINVAL && errno != ENOSYS) {
                return errno;
            }
        }
    }
    return RenameNoReplace(from, to);
}

// Renaming a path to exactly itself changes nothing; it fails (EEXIST) so that no caller
// counts it as a rename.
Result<void> PosixFileServices::Rename(std::u16string_view old_path, std::u16string_view new_path) {
    const std::string old_native = NativePath(old_path);
    if (FolderPart(old_path) != FolderPart(new_path) || IsReservedName(LastComponent(old_path)) ||
        IsReservedName(LastComponent(new_path))) {
        return Fail(EINVAL, old_native);
    }
    const std::string new_native = NativePath(new_path);
    if (old_native == new_native) {
        return Fail(EEXIST, new_native);
    }
    int error = RenameInFolder(old_native, new_native);
    // Only a name that differs in letter case can be the same entry on this path; a hard link
    // under another name is left alone.
    if (error == EEXIST && FoldCase(LastComponent(old_path)) == FoldCase(LastComponent(new_path)) &&
        SameFile(old_native, new_native)) {
        error = RenameThroughTemporary(old_native, new_native);
    }
    if (error != 0) {
        return Fail(error, error == EEXIST ? new_native : old_native);
    }
    return {};
}

}  // namespace popuran::folder
