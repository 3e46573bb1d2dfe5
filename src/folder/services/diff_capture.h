// DiffCapture: the new contents of each file that a run replaces, kept for --diff.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "folder/services/file_services.h"

namespace popuran::folder {

// Passes every call on, and keeps a copy of the contents put in place by each replacement (in
// a dry run, the contents that would be), until TakeNew hands them out.
class DiffCapture final : public ForwardingFileServices {
public:
    // Files longer than max_bytes are replaced as ever, but not kept.
    explicit DiffCapture(FileServices& inner, std::size_t max_bytes = SIZE_MAX)
        : ForwardingFileServices(inner), max_bytes_(max_bytes) {}

    [[nodiscard]] Result<std::unique_ptr<AtomicOutput>> BeginReplace(
        std::u16string_view path) override;

    // The new contents of path, once; empty when none were kept.
    std::string TakeNew(std::u16string_view path);
    // The new contents of path, or null when none were kept.
    const std::string* Find(std::u16string_view path) const;
    void Clear() { kept_.clear(); }

private:
    friend class CapturingOutput;
    std::size_t max_bytes_;
    std::map<std::u16string, std::string, std::less<>> kept_;
};

}  // namespace popuran::folder
