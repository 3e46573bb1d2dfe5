#include "support/fake_file_services.h"

#include "folder/services/utf8.h"

namespace popuran::testing {

namespace {

using folder::Fail;
using folder::Result;

folder::FileServices& Real() {
    static folder::PosixFileServices real;
    return real;
}

// Fails the call when the fake says so, else makes it.
template <class Call>
auto Guard(FakeFileServices& fake, FileOp op, std::u16string_view path, Call call,
           std::u16string_view second = {}) -> decltype(call()) {
    if (const int error = fake.Enter(op, path, second); error != 0) {
        return Fail(error, folder::NativePath(path));
    }
    return call();
}

class FakeInput final : public folder::InputFile {
public:
    FakeInput(FakeFileServices& fake, std::unique_ptr<folder::InputFile> inner, std::u16string path)
        : fake_(fake), inner_(std::move(inner)), path_(std::move(path)) {}
    Result<std::size_t> Read(char* buffer, std::size_t n) override {
        return Guard(fake_, FileOp::Read, path_, [&] { return inner_->Read(buffer, n); });
    }

private:
    FakeFileServices& fake_;
    std::unique_ptr<folder::InputFile> inner_;
    std::u16string path_;
};

// As a real output: after a failed write nothing may be committed.
class FakeOutput final : public folder::AtomicOutput {
public:
    FakeOutput(FakeFileServices& fake, std::unique_ptr<folder::AtomicOutput> inner,
               std::u16string path)
        : fake_(fake), inner_(std::move(inner)), path_(std::move(path)) {}
    Result<void> Write(std::string_view bytes) override {
        return Step(FileOp::AtomicWrite, [&] { return inner_->Write(bytes); });
    }
    Result<void> Commit() override {
        return Step(FileOp::AtomicCommit, [&] { return inner_->Commit(); });
    }

private:
    template <class Call>
    Result<void> Step(FileOp op, Call call) {
        if (const int error = fake_.Enter(op, path_); error != 0) {
            failed_ = error;
        }
        return failed_ != 0 ? Fail(failed_, folder::NativePath(path_)) : call();
    }

    FakeFileServices& fake_;
    std::unique_ptr<folder::AtomicOutput> inner_;
    std::u16string path_;
    int failed_ = 0;
};

}  // namespace

const char* FileOpName(FileOp op) {
    static const char* const names[] = {
        "List",         "Length",      "ReadHead",     "ReadAll",       "OpenInput", "Read",
        "BeginReplace", "AtomicWrite", "AtomicCommit", "CopyForBackup", "Rename"};
    return names[static_cast<std::size_t>(op)];
}

FakeFileServices::FakeFileServices() : ForwardingFileServices(Real()) {}

int FakeFileServices::Enter(FileOp op, std::u16string_view path, std::u16string_view second) {
    std::vector<std::function<void()>> actions;
    int error = 0;
    {
        const std::lock_guard lock(mutex_);
        const int nth = ++counts_[Index(op)];
        log_.push_back(std::string(FileOpName(op)) + " " + folder::TextToUtf8(path) +
                       (second.empty() ? "" : " -> " + folder::TextToUtf8(second)));
        if (const auto action = before_.find({op, nth}); action != before_.end()) {
            actions.push_back(action->second);
        }
        const auto fail = fail_at_.find({op, nth});
        error = fail != fail_at_.end() ? fail->second : 0;
        const std::u16string_view name = path.substr(path.rfind(u'/') + 1);
        for (Named& rule : named_) {
            if (rule.op != op || !name.starts_with(rule.prefix)) {
                continue;
            }
            if (rule.action) {
                actions.push_back(rule.action);
            } else if (rule.calls[std::u16string(path)]++ >= rule.spared) {
                error = rule.error;
            }
        }
    }
    for (const auto& action : actions) {  // outside the lock: an action may wait for others
        action();
    }
    return error;
}

Result<std::vector<folder::DirEntry>> FakeFileServices::List(std::u16string_view pattern) {
    return Guard(*this, FileOp::List, pattern, [&] { return inner_.List(pattern); });
}

Result<std::int64_t> FakeFileServices::Length(std::u16string_view path) {
    return Guard(*this, FileOp::Length, path, [&] { return inner_.Length(path); });
}

Result<std::string> FakeFileServices::ReadHead(std::u16string_view path, std::size_t max) {
    return Guard(*this, FileOp::ReadHead, path, [&] { return inner_.ReadHead(path, max); });
}

Result<std::string> FakeFileServices::ReadAll(std::u16string_view path) {
    return Guard(*this, FileOp::ReadAll, path, [&] { return inner_.ReadAll(path); });
}

Result<std::unique_ptr<folder::InputFile>> FakeFileServices::OpenInput(std::u16string_view path) {
    return Guard(*this, FileOp::OpenInput, path, [&] {
        return inner_.OpenInput(path).transform(
            [&](auto input) -> std::unique_ptr<folder::InputFile> {
                return std::make_unique<FakeInput>(*this, std::move(input), std::u16string(path));
            });
    });
}

Result<std::unique_ptr<folder::AtomicOutput>> FakeFileServices::BeginReplace(
    std::u16string_view path) {
    return Guard(*this, FileOp::BeginReplace, path, [&] {
        return inner_.BeginReplace(path).transform(
            [&](auto output) -> std::unique_ptr<folder::AtomicOutput> {
                return std::make_unique<FakeOutput>(*this, std::move(output), std::u16string(path));
            });
    });
}

Result<void> FakeFileServices::CopyForBackup(std::u16string_view from, std::u16string_view to) {
    return Guard(
        *this, FileOp::CopyForBackup, from, [&] { return inner_.CopyForBackup(from, to); }, to);
}

Result<void> FakeFileServices::Rename(std::u16string_view from, std::u16string_view to) {
    return Guard(
        *this, FileOp::Rename, from, [&] { return inner_.Rename(from, to); }, to);
}

}  // namespace popuran::testing
