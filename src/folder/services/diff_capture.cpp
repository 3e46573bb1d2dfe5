#include "folder/services/diff_capture.h"

#include <utility>

namespace popuran::folder {

class CapturingOutput final : public AtomicOutput {
public:
    CapturingOutput(std::unique_ptr<AtomicOutput> inner, DiffCapture& owner, std::u16string path)
        : inner_(std::move(inner)), owner_(owner), path_(std::move(path)) {}

    Result<void> Write(std::string_view bytes) override {
        keep_ = keep_ && bytes_.size() + bytes.size() <= owner_.max_bytes_;
        if (keep_) {
            bytes_.append(bytes);
        } else {
            bytes_.clear();
        }
        return inner_->Write(bytes);
    }
    Result<void> Commit() override {
        auto done = inner_->Commit();
        if (done && keep_) {
            owner_.kept_[path_] = std::move(bytes_);
        }
        return done;
    }

private:
    std::unique_ptr<AtomicOutput> inner_;
    DiffCapture& owner_;
    std::u16string path_;
    std::string bytes_;
    bool keep_ = true;
};

Result<std::unique_ptr<AtomicOutput>> DiffCapture::BeginReplace(std::u16string_view path) {
    auto inner = inner_.BeginReplace(path);
    if (!inner) {
        return inner;
    }
    return std::unique_ptr<AtomicOutput>(
        std::make_unique<CapturingOutput>(std::move(*inner), *this, std::u16string(path)));
}

std::string DiffCapture::TakeNew(std::u16string_view path) {
    const auto it = kept_.find(path);
    if (it == kept_.end()) {
        return {};
    }
    std::string bytes = std::move(it->second);
    kept_.erase(it);
    return bytes;
}

const std::string* DiffCapture::Find(std::u16string_view path) const {
    const auto it = kept_.find(path);
    return it == kept_.end() ? nullptr : &it->second;
}

}  // namespace popuran::folder
