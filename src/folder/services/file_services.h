// FileServices: every file-system operation of the work, behind one interface so that tests can
// make any call fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "folder/services/failure.h"

namespace popuran::folder {

// Attribute bits, mapped from lstat (links are never followed):
inline constexpr std::uint32_t kAttrReadOnly = 1;         // owner write bit clear
inline constexpr std::uint32_t kAttrHidden = 2;           // the name begins with '.'
inline constexpr std::uint32_t kAttrSystem = 4;           // neither regular file nor directory
inline constexpr std::uint32_t kAttrDirectory = 16;       // a directory
inline constexpr std::uint32_t kAttrArchive = 32;         // a regular file
inline constexpr std::uint32_t kAttrReparsePoint = 1024;  // a symbolic link

// Which file a path names (device and inode), so that a later look can tell whether the same
// file still stands there.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

struct DirEntry {
    std::u16string name;  // without folder
    std::uint32_t attributes = 0;
    // The length and the identity the listing saw, or -1 and zeros where the services do not
    // tell: a run over many files need not ask for each one's status again.
    std::int64_t length = -1;
    FileIdentity identity;
};

// A sequential reader of one open file.
class InputFile {
public:
    virtual ~InputFile() = default;
    // Reads up to n bytes; 0 at the end of the file.
    [[nodiscard]] virtual Result<std::size_t> Read(char* buffer, std::size_t n) = 0;
};

// The new contents of a file, written to a temporary dot-file in the same folder. Commit puts
// them in place by rename, with the original's permission bits (and owner and group where
// allowed). Destroyed without a successful Commit, it removes the temporary file and the
// original stays as it was.
class AtomicOutput {
public:
    virtual ~AtomicOutput() = default;
    [[nodiscard]] virtual Result<void> Write(std::string_view bytes) = 0;
    [[nodiscard]] virtual Result<void> Commit() = 0;
};

// Paths are texts with '/' separators; they become bytes (Utf8ToText's inverse) only at the
// system call.
class FileServices {
public:
    virtual ~FileServices() = default;

    // The entries of the folder part of pattern_path (up to its last '/') whose names match the
    // last component, "." and ".." left out, in the order that runs rely on to be reproducible:
    // code units compared after ASCII letters are upper-cased, ties by plain code units. A
    // folder that does not exist (or is not a folder) lists nothing and is no failure.
    [[nodiscard]] virtual Result<std::vector<DirEntry>> List(std::u16string_view pattern_path) = 0;
    // The entries of `folder` (ending in '/') that are directories, as List(folder + "*") gives
    // them. A listing that only looks for folders need not look closer at every file.
    [[nodiscard]] virtual Result<std::vector<DirEntry>> ListFolders(std::u16string_view folder);
    // List for a search ahead of the run, which only guesses the run's files: a regular file
    // may be told by the folder's own record of its type, without a status call, and then counts
    // as writable (kAttrArchive) with length -1. Decorators pass it straight on.
    [[nodiscard]] virtual Result<std::vector<DirEntry>> ListToSearch(
        std::u16string_view pattern_path) {
        return List(pattern_path);
    }
    // How many entries List(pattern_path) would give whose attributes equal `attributes` and
    // whose names leave_out does not refuse, without more of a look at the others.
    [[nodiscard]] virtual Result<std::int32_t> Count(std::u16string_view pattern_path,
                                                     std::uint32_t attributes,
                                                     bool (*leave_out)(std::u16string_view name));
    [[nodiscard]] virtual Result<std::uint32_t> Attributes(std::u16string_view path) = 0;
    [[nodiscard]] virtual Result<std::int64_t> Length(std::u16string_view path) = 0;
    // At most max_bytes from the start of the file.
    [[nodiscard]] virtual Result<std::string> ReadHead(std::u16string_view path,
                                                       std::size_t max_bytes) = 0;
    [[nodiscard]] virtual Result<std::string> ReadAll(std::u16string_view path) = 0;
    [[nodiscard]] virtual Result<std::unique_ptr<InputFile>> OpenInput(
        std::u16string_view path) = 0;
    // OpenInput for a read that only decides whether a file is worth a closer look: nothing
    // read through it is ever written back or journalled, so decorators pass it straight on.
    [[nodiscard]] virtual Result<std::unique_ptr<InputFile>> OpenToSearch(
        std::u16string_view path) {
        return OpenInput(path);
    }
    // Starts replacing the contents of an existing file; see AtomicOutput.
    [[nodiscard]] virtual Result<std::unique_ptr<AtomicOutput>> BeginReplace(
        std::u16string_view path) = 0;
    // A byte-for-byte copy of from at to, with from's permission bits. Whatever stands at to (a
    // file, a link: never followed) is replaced atomically; on failure it stays as it was.
    // Where from is a file of one name, the copy may be that file under a second name: it keeps
    // the old contents once new ones take from's place by rename (BeginReplace). Asked again
    // while from has both names, it makes a copy of its own.
    [[nodiscard]] virtual Result<void> CopyForBackup(std::u16string_view from,
                                                     std::u16string_view to) = 0;
    // Renames within one folder and never over another file. Fails (EINVAL) when new_path lies
    // in another folder or its name is empty, "." or ".." or holds NUL; fails (EEXIST) when another
    // entry has the new name. A rename that changes only letter case works also where the file
    // system ignores case.
    [[nodiscard]] virtual Result<void> Rename(std::u16string_view old_path,
                                              std::u16string_view new_path) = 0;

    // The run takes as its own a listing that List made on another thread, as if it had made
    // it just now. Nothing by default.
    virtual void Adopt(std::u16string_view /*pattern_path*/,
                       const std::vector<DirEntry>& /*entries*/) {}
    // Which file stands at path, links not followed. Services that cannot tell fail (ENOTSUP).
    [[nodiscard]] virtual Result<FileIdentity> Identity(std::u16string_view path);
    // Whether a folder stands at `path`, links followed (the search folder is used as the user
    // gave it): false when nothing or something else stands there. True by default: services
    // that cannot tell leave it to the listing.
    [[nodiscard]] virtual Result<bool> IsFolder(std::u16string_view path);
    // Whether this process could make an entry of this name: the name within the folder's length
    // limit, the folder writable and searchable for the effective user. Creates nothing; the dry
    // run asks it so as to refuse what the system would. No check by default.
    [[nodiscard]] virtual Result<void> CheckCreate(std::u16string_view path);

    // True when List, OpenToSearch and the reads of its files may also run on other threads
    // while the first goes on with any call; mode 0 then looks at the next files ahead. False
    // unless a service says so.
    [[nodiscard]] virtual bool ConcurrentReads() const { return false; }

    // Convenience: BeginReplace, one Write, Commit.
    [[nodiscard]] Result<void> ReplaceContents(std::u16string_view path, std::string_view bytes);
};

// The real file system, through POSIX calls.
class PosixFileServices final : public FileServices {
public:
    PosixFileServices() = default;
    ~PosixFileServices() override;
    PosixFileServices(const PosixFileServices&) = delete;
    PosixFileServices& operator=(const PosixFileServices&) = delete;

    [[nodiscard]] Result<std::vector<DirEntry>> List(std::u16string_view pattern_path) override;
    [[nodiscard]] Result<std::vector<DirEntry>> ListFolders(std::u16string_view folder) override;
    [[nodiscard]] Result<std::vector<DirEntry>> ListToSearch(
        std::u16string_view pattern_path) override;
    // Leaves out by the folder's record of each entry's type and by its name what cannot
    // count, and takes a status call only of the rest; nothing is sorted or kept.
    [[nodiscard]] Result<std::int32_t> Count(std::u16string_view pattern_path,
                                             std::uint32_t attributes,
                                             bool (*leave_out)(std::u16string_view)) override;
    [[nodiscard]] Result<std::uint32_t> Attributes(std::u16string_view path) override;
    [[nodiscard]] Result<std::int64_t> Length(std::u16string_view path) override;
    [[nodiscard]] Result<std::string> ReadHead(std::u16string_view path,
                                               std::size_t max_bytes) override;
    [[nodiscard]] Result<std::string> ReadAll(std::u16string_view path) override;
    [[nodiscard]] Result<std::unique_ptr<InputFile>> OpenInput(std::u16string_view path) override;
    // Leaves the access time alone where it may, and takes a short read up to the length the
    // file had when it was opened for its end.
    [[nodiscard]] Result<std::unique_ptr<InputFile>> OpenToSearch(
        std::u16string_view path) override;
    [[nodiscard]] Result<std::unique_ptr<AtomicOutput>> BeginReplace(
        std::u16string_view path) override;
    [[nodiscard]] Result<void> CopyForBackup(std::u16string_view from,
                                             std::u16string_view to) override;
    // The folder of the renames is held open from one rename to the next in the same folder,
    // so that each rename looks up only the two names and not the whole path again.
    [[nodiscard]] Result<void> Rename(std::u16string_view old_path,
                                      std::u16string_view new_path) override;
    [[nodiscard]] Result<FileIdentity> Identity(std::u16string_view path) override;
    [[nodiscard]] Result<bool> IsFolder(std::u16string_view path) override;
    [[nodiscard]] Result<void> CheckCreate(std::u16string_view path) override;
    [[nodiscard]] bool ConcurrentReads() const override { return true; }

private:
    // Renames within the folder held open (opened now if it is another), never over another
    // entry; 0 or the error number. Falls back to the paths where the folder cannot be opened
    // or the file system refuses the flag.
    int RenameInFolder(const std::string& from, const std::string& to);
    // Lets go of the folder held open for renames when it is `folder`: a run lists a folder
    // before it renames anything in it, so a folder put in its place since the last rename
    // there (between two runs, say) is never renamed in by mistake.
    void ForgetRenameFolder(const std::string& folder);

    enum class Listing { kAll, kFoldersOnly, kToSearch };
    Result<std::vector<DirEntry>> ListEntries(std::u16string_view pattern_path, Listing listing);
    // Calls each(dir_fd, entry, name) for every entry whose name matches the last component of
    // pattern_path, "." and ".." left out; each returns 0 or an errno that ends the listing.
    // Without `names`, a pattern that matches every name gives each an empty name, unconverted.
    template <typename Each>
    Result<void> ForEachEntry(std::u16string_view pattern_path, Each&& each, bool names = true);

    std::mutex rename_mutex_;
    std::string rename_folder_;  // native, with its '/', or "" for the current folder
    int rename_fd_ = -1;
};

// Services that pass every call to other services; a decorator overrides what it adds to.
class ForwardingFileServices : public FileServices {
public:
    explicit ForwardingFileServices(FileServices& inner) : inner_(inner) {}

    [[nodiscard]] Result<std::vector<DirEntry>> List(std::u16string_view pattern_path) override {
        return inner_.List(pattern_path);
    }
    [[nodiscard]] Result<std::vector<DirEntry>> ListFolders(std::u16string_view folder) override {
        return inner_.ListFolders(folder);
    }
    [[nodiscard]] Result<std::vector<DirEntry>> ListToSearch(
        std::u16string_view pattern_path) override {
        return inner_.ListToSearch(pattern_path);
    }
    [[nodiscard]] Result<std::int32_t> Count(std::u16string_view pattern_path,
                                             std::uint32_t attributes,
                                             bool (*leave_out)(std::u16string_view)) override {
        return inner_.Count(pattern_path, attributes, leave_out);
    }
    [[nodiscard]] Result<std::uint32_t> Attributes(std::u16string_view path) override {
        return inner_.Attributes(path);
    }
    [[nodiscard]] Result<std::int64_t> Length(std::u16string_view path) override {
        return inner_.Length(path);
    }
    [[nodiscard]] Result<std::string> ReadHead(std::u16string_view path,
                                               std::size_t max_bytes) override {
        return inner_.ReadHead(path, max_bytes);
    }
    [[nodiscard]] Result<std::string> ReadAll(std::u16string_view path) override {
        return inner_.ReadAll(path);
    }
    [[nodiscard]] Result<std::unique_ptr<InputFile>> OpenInput(std::u16string_view path) override {
        return inner_.OpenInput(path);
    }
    [[nodiscard]] Result<std::unique_ptr<InputFile>> OpenToSearch(
        std::u16string_view path) override {
        return inner_.OpenToSearch(path);
    }
    [[nodiscard]] Result<std::unique_ptr<AtomicOutput>> BeginReplace(
        std::u16string_view path) override {
        return inner_.BeginReplace(path);
    }
    [[nodiscard]] Result<void> CopyForBackup(std::u16string_view from,
                                             std::u16string_view to) override {
        return inner_.CopyForBackup(from, to);
    }
    [[nodiscard]] Result<void> Rename(std::u16string_view old_path,
                                      std::u16string_view new_path) override {
        return inner_.Rename(old_path, new_path);
    }
    void Adopt(std::u16string_view pattern_path, const std::vector<DirEntry>& entries) override {
        inner_.Adopt(pattern_path, entries);
    }
    [[nodiscard]] Result<FileIdentity> Identity(std::u16string_view path) override {
        return inner_.Identity(path);
    }
    [[nodiscard]] Result<bool> IsFolder(std::u16string_view path) override {
        return inner_.IsFolder(path);
    }
    [[nodiscard]] Result<void> CheckCreate(std::u16string_view path) override {
        return inner_.CheckCreate(path);
    }
    [[nodiscard]] bool ConcurrentReads() const override { return inner_.ConcurrentReads(); }

protected:
    FileServices& inner_;
};

// The native bytes of a path (the inverse of Utf8ToText).
std::string NativePath(std::u16string_view path);

// The entries whose attributes equal `attributes` and whose names leave_out (if any) does not
// refuse: what FileServices::Count counts, of a listing in hand.
std::int32_t CountEntries(const std::vector<DirEntry>& entries, std::uint32_t attributes,
                          bool (*leave_out)(std::u16string_view name));

}  // namespace popuran::folder
