// FakeFileServices: real file services that count their calls and can fail any chosen one.
#pragma once

#include <array>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "folder/services/file_services.h"

namespace popuran::testing {

// The calls that can be counted and failed. Read is a read of an opened input; AtomicWrite and
// AtomicCommit are the calls of the outputs that BeginReplace hands out.
enum class FileOp {
    List,
    Length,
    ReadHead,
    ReadAll,
    OpenInput,
    Read,
    BeginReplace,
    AtomicWrite,
    AtomicCommit,
    CopyForBackup,
    Rename,
    kCount
};

// Forwards every call to real POSIX services. The nth call (1-based) of an operation can fail
// with a chosen errno without reaching them, or run an action just before it is forwarded (to
// delete or replace a file in between); so can the calls on files whose names start with a
// chosen prefix. Reads from a second thread are refused unless allowed, so that calls come in
// the order of the work. Inputs and outputs must not outlive this object.
class FakeFileServices : public folder::ForwardingFileServices {
public:
    FakeFileServices();

    void FailAt(FileOp op, int nth, int error) { fail_at_[{op, nth}] = error; }
    void BeforeCall(FileOp op, int nth, std::function<void()> action) {
        before_[{op, nth}] = std::move(action);
    }
    // Every call of `op` on a file named prefix... after the first `spared` of them fails.
    void FailNamed(FileOp op, std::u16string prefix, int error, int spared = 0) {
        named_.push_back({op, std::move(prefix), error, spared, {}});
    }
    // Runs `action` (which may block) before every call of `op` on a file named prefix...
    void BeforeNamed(FileOp op, std::u16string prefix, std::function<void()> action) {
        named_.push_back({op, std::move(prefix), 0, 0, std::move(action)});
    }
    void AllowConcurrentReads() { concurrent_ = true; }
    int Calls(FileOp op) const {
        const std::lock_guard lock(mutex_);
        return counts_[Index(op)];
    }
    // Every call so far as "Op path" or "Op from -> to", in UTF-8.
    const std::vector<std::string>& Log() const { return log_; }

    folder::Result<std::vector<folder::DirEntry>> List(std::u16string_view pattern) override;
    folder::Result<std::vector<folder::DirEntry>> ListToSearch(
        std::u16string_view pattern) override {
        return List(pattern);
    }
    // Through List, so that the folder collection's listings and counts are counted and failed
    // too.
    folder::Result<std::vector<folder::DirEntry>> ListFolders(std::u16string_view folder) override {
        return FileServices::ListFolders(folder);
    }
    folder::Result<std::int32_t> Count(std::u16string_view pattern_path, std::uint32_t attributes,
                                       bool (*leave_out)(std::u16string_view)) override {
        return FileServices::Count(pattern_path, attributes, leave_out);
    }
    folder::Result<std::int64_t> Length(std::u16string_view path) override;
    folder::Result<std::string> ReadHead(std::u16string_view path, std::size_t max) override;
    folder::Result<std::string> ReadAll(std::u16string_view path) override;
    folder::Result<std::unique_ptr<folder::InputFile>> OpenInput(std::u16string_view path) override;
    folder::Result<std::unique_ptr<folder::InputFile>> OpenToSearch(
        std::u16string_view path) override {
        return OpenInput(path);
    }
    folder::Result<std::unique_ptr<folder::AtomicOutput>> BeginReplace(
        std::u16string_view path) override;
    folder::Result<void> CopyForBackup(std::u16string_view from, std::u16string_view to) override;
    folder::Result<void> Rename(std::u16string_view from, std::u16string_view to) override;
    bool ConcurrentReads() const override { return concurrent_; }

    // Counts the call, runs its action and returns the errno to fail it with, or 0.
    int Enter(FileOp op, std::u16string_view path, std::u16string_view second = {});

private:
    static std::size_t Index(FileOp op) { return static_cast<std::size_t>(op); }
    struct Named {
        FileOp op;
        std::u16string prefix;
        int error;
        int spared;
        std::function<void()> action;
        std::map<std::u16string, int> calls{};  // per path
    };

    std::array<int, static_cast<std::size_t>(FileOp::kCount)> counts_{};
    std::map<std::pair<FileOp, int>, int> fail_at_;
    std::map<std::pair<FileOp, int>, std::function<void()>> before_;
    std::vector<std::string> log_;
    std::vector<Named> named_;
    bool concurrent_ = false;
    mutable std::mutex mutex_;
};

const char* FileOpName(FileOp op);

}  // namespace popuran::testing
