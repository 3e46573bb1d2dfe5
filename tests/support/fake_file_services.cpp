#include "support/fake_file_services.h"

#include "folder/services/utf8.h"

namespace popuran::testing {

namespace {

using folder::Fail;
using folder::Result;

// Wraps a real output so that its Write and Commit are counted and can be failed too.
class FakeAtomicOutput final : public folder::AtomicOutput {
public:
    FakeAtomicOutput(FakeFileServices& owner, std::unique_ptr<folder::AtomicOutput> inner,
                     std::u16string path)
        : owner_(owner), inner_(std::move(inner)), path_(std::move(path)) {}

    Result<void> Write(std::string_view bytes) override {
        if (const int error = owner_.Enter(FileOp::AtomicWrite, path_); error != 0) {
            // As a real output would: after a failed write nothing may be committed.
            failed_ = error;
            return Fail(error, folder::NativePath(path_));
        }
        if (failed_ != 0) {
            return Fail(failed_, folder::NativePath(path_));
        }
        return inner_->Write(bytes);
    }

    Result<void> Commit() override {
        if (const int error = owner_.Enter(FileOp::AtomicCommit, path_); error != 0) {
            failed_ = error;
            return Fail(error, folder::NativePath(path_));
        }
        if (failed_ != 0) {
            return Fail(failed_, folder::NativePath(path_));
        }
        return inner_->Commit();
    }

private:
    FakeFileServices& owner_;
    std::unique_ptr<folder::AtomicOutput> inner_;
    std::u16string path_;
    int failed_ = 0;
};

}  // namespace

const char* FileOpName(FileOp op) {
    switch (op) {
        case FileOp::List:
            return "List";
        case FileOp::Attributes:
            return "Attributes";
        case FileOp::Length:
            return "Length";
        case FileOp::ReadHead:
            return "ReadHead";
        case FileOp::ReadAll:
            return "ReadAll";
        case FileOp::OpenInput:
            return "OpenInput";
        case FileOp::BeginReplace:
            return "BeginReplace";
        case FileOp::AtomicWrite:
            return "AtomicWrite";
        case FileOp::AtomicCommit:
            return "AtomicCommit";
        case FileOp::CopyForBackup:
            return "CopyForBackup";
        case FileOp::Rename:
            return "Rename";
    }
    return "?";
}

FakeFileServices::FakeFileServices()
    : owned_(std::make_unique<folder::PosixFileServices>()), inner_(*owned_) {}

FakeFileServices::FakeFileServices(folder::FileServices& inner) : inner_(inner) {}

FakeFileServices::~FakeFileServices() = default;

void FakeFileServices::FailAt(FileOp op, int nth, int error) { fail_at_[{op, nth}] = error; }

void FakeFileServices::FailEvery(FileOp op, int error) { fail_every_[Index(op)] = error; }

void FakeFileServices::BeforeCall(FileOp op, int nth, std::function<void()> action) {
    before_[{op, nth}] = std::move(action);
}

int FakeFileServices::Enter(FileOp op, std::u16string_view path, std::u16string_view second) {
    const int nth = ++counts_[Index(op)];
    std::string entry = std::string(FileOpName(op)) + " " + folder::TextToUtf8(path);
    if (!second.empty()) {
        entry += " -> " + folder::TextToUtf8(second);
    }
    log_.push_back(std::move(entry));
    if (const auto action = before_.find({op, nth}); action != before_.end()) {
        action->second();
    }
    if (const auto fail = fail_at_.find({op, nth}); fail != fail_at_.end()) {
        return fail->second;
    }
    return fail_every_[Index(op)];
}

Result<std::vector<folder::DirEntry>> FakeFileServices::List(std::u16string_view pattern_path) {
    if (const int error = Enter(FileOp::List, pattern_path); error != 0) {
        return Fail(error, folder::NativePath(pattern_path));
    }
    return inner_.List(pattern_path);
}

Result<std::uint32_t> FakeFileServices::Attributes(std::u16string_view path) {
    if (const int error = Enter(FileOp::Attributes, path); error != 0) {
        return Fail(error, folder::NativePath(path));
    }
    return inner_.Attributes(path);
}

Result<std::int64_t> FakeFileServices::Length(std::u16string_view path) {
    if (const int error = Enter(FileOp::Length, path); error != 0) {
        return Fail(error, folder::NativePath(path));
    }
    return inner_.Length(path);
}

Result<std::string> FakeFileServices::ReadHead(std::u16string_view path, std::size_t max_bytes) {
    if (const int error = Enter(FileOp::ReadHead, path); error != 0) {
        return Fail(error, folder::NativePath(path));
    }
    return inner_.ReadHead(path, max_bytes);
}

Result<std::string> FakeFileServices::ReadAll(std::u16string_view path) {
    if (const int error = Enter(FileOp::ReadAll, path); error != 0) {
        return Fail(error, folder::NativePath(path));
    }
    return inner_.ReadAll(path);
}

Result<std::unique_ptr<folder::InputFile>> FakeFileServices::OpenInput(std::u16string_view path) {
    if (const int error = Enter(FileOp::OpenInput, path); error != 0) {
        return Fail(error, folder::NativePath(path));
    }
    return inner_.OpenInput(path);
}

Result<std::unique_ptr<folder::AtomicOutput>> FakeFileServices::BeginReplace(
    std::u16string_view path) {
    if (const int error = Enter(FileOp::BeginReplace, path); error != 0) {
        return Fail(error, folder::NativePath(path));
    }
    auto output = inner_.BeginReplace(path);
    if (!output) {
        return tl::unexpected(output.error());
    }
    return std::make_unique<FakeAtomicOutput>(*this, std::move(*output), std::u16string(path));
}

Result<void> FakeFileServices::CopyForBackup(std::u16string_view from, std::u16string_view to) {
    if (const int error = Enter(FileOp::CopyForBackup, from, to); error != 0) {
        return Fail(error, folder::NativePath(to));
    }
    return inner_.CopyForBackup(from, to);
}

Result<void> FakeFileServices::Rename(std::u16string_view old_path, std::u16string_view new_path) {
    if (const int error = Enter(FileOp::Rename, old_path, new_path); error != 0) {
        return Fail(error, folder::NativePath(old_path));
    }
    return inner_.Rename(old_path, new_path);
}

}  // namespace popuran::testing
