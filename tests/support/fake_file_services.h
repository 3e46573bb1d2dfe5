// FakeFileServices: file services that forward to real ones and can fail any chosen call.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "folder/services/file_services.h"

namespace popuran::testing {

// The operations that can be counted and failed. AtomicWrite and AtomicCommit are the Write
// and Commit calls of the outputs that BeginReplace hands out.
enum class FileOp {
    List,
    Attributes,
    Length,
    ReadHead,
    ReadAll,
    OpenInput,
    BeginReplace,
    AtomicWrite,
    AtomicCommit,
    CopyForBackup,
    Rename,
};
inline constexpr std::size_t kFileOpCount = 11;

// Forwards every call to the wrapped services (a PosixFileServices of its own by default).
// A test can make the nth call (1-based) of an operation fail with a chosen errno without it
// reaching the wrapped services, or run an action just before it is forwarded (to delete or
// replace a file in between). Outputs from BeginReplace must not outlive this object.
class FakeFileServices : public folder::FileServices {
public:
    FakeFileServices();
    explicit FakeFileServices(folder::FileServices& inner);
    ~FakeFileServices() override;

    // The nth call of op fails with error (a failed AtomicWrite also fails its Commit).
    void FailAt(FileOp op, int nth, int error);
    // Every call of op from now on fails with error.
    void FailEvery(FileOp op, int error);
    // Runs action just before the nth call of op (then the call is failed or forwarded).
    void BeforeCall(FileOp op, int nth, std::function<void()> action);
    // Calls of op so far, failed ones included.
    int Calls(FileOp op) const { return counts_[Index(op)]; }
    // Every call so far as "Op path" or "Op from -> to", in UTF-8.
    const std::vector<std::string>& Log() const { return log_; }

    [[nodiscard]] folder::Result<std::vector<folder::DirEntry>> List(
        std::u16string_view pattern_path) override;
    [[nodiscard]] folder::Result<std::uint32_t> Attributes(std::u16string_view path) override;
    [[nodiscard]] folder::Result<std::int64_t> Length(std::u16string_view path) override;
    [[nodiscard]] folder::Result<std::string> ReadHead(std::u16string_view path,
                                                       std::size_t max_bytes) override;
    [[nodiscard]] folder::Result<std::string> ReadAll(std::u16string_view path) override;
    [[nodiscard]] folder::Result<std::unique_ptr<folder::InputFile>> OpenInput(
        std::u16string_view path) override;
    [[nodiscard]] folder::Result<std::unique_ptr<folder::AtomicOutput>> BeginReplace(
        std::u16string_view path) override;
    [[nodiscard]] folder::Result<void> CopyForBackup(std::u16string_view from,
                                                     std::u16string_view to) override;
    [[nodiscard]] folder::Result<void> Rename(std::u16string_view old_path,
                                              std::u16string_view new_path) override;
    [[nodiscard]] folder::Result<void> CheckCreate(std::u16string_view path) override {
        return inner_.CheckCreate(path);
    }
    [[nodiscard]] folder::Result<bool> IsFolder(std::u16string_view path) override {
        return inner_.IsFolder(path);
    }

    // Counts the call, runs its action and returns the injected errno or 0. Used by the
    // outputs handed out by BeginReplace.
    int Enter(FileOp op, std::u16string_view path, std::u16string_view second = {});

private:
    static std::size_t Index(FileOp op) { return static_cast<std::size_t>(op); }

    std::unique_ptr<folder::FileServices> owned_;
    folder::FileServices& inner_;
    std::array<int, kFileOpCount> counts_{};
    std::array<int, kFileOpCount> fail_every_{};
    std::map<std::pair<FileOp, int>, int> fail_at_;
    std::map<std::pair<FileOp, int>, std::function<void()>> before_;
    std::vector<std::string> log_;
};

// The name of an operation, as in Log().
const char* FileOpName(FileOp op);

}  // namespace popuran::testing
