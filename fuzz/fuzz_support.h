// What the fuzz targets share: a check that stops the fuzzer, input splitting, files in memory.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "folder/services/file_services.h"

// Unlike assert, stays on in every build type, and names the failed property.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)

namespace popuran::fuzz {

using folder::Fail;
using folder::Result;

// The input split at every separator into exactly `parts` pieces; the last piece takes the rest,
// separators included, and missing pieces are empty.
inline std::vector<std::string_view> SplitInput(const std::uint8_t* data, std::size_t size,
                                                char separator, std::size_t parts) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> out;
    for (std::size_t at; out.size() + 1 < parts && (at = bytes.find(separator)) != bytes.npos;) {
        out.push_back(bytes.substr(0, at));
        bytes.remove_prefix(at + 1);
    }
    out.push_back(bytes);
    out.resize(parts);
    return out;
}

// Files held in memory. The first few reads of a file are short (1 to `piece` bytes, 0: whole),
// as a pipe or a network file system may give them; more would only slow the fuzzers down.
class MemoryFiles final : public folder::FileServices {
public:
    std::map<std::u16string, std::string, std::less<>> files;
    std::size_t piece = 0;

    Result<std::vector<folder::DirEntry>> List(std::u16string_view) override {
        return Fail(ENOSYS, "List");
    }
    Result<std::uint32_t> Attributes(std::u16string_view path) override {
        return Find(path).transform([](auto) { return folder::kAttrArchive; });
    }
    Result<std::int64_t> Length(std::u16string_view path) override {
        return Find(path).transform([](auto it) { return std::int64_t(it->second.size()); });
    }
    Result<std::string> ReadHead(std::u16string_view path, std::size_t max_bytes) override {
        return Find(path).transform([&](auto it) { return it->second.substr(0, max_bytes); });
    }
    Result<std::string> ReadAll(std::u16string_view path) override {
        return ReadHead(path, std::string::npos);
    }
    Result<std::unique_ptr<folder::InputFile>> OpenInput(std::u16string_view path) override {
        return Find(path).transform([&](auto it) -> std::unique_ptr<folder::InputFile> {
            return std::make_unique<Input>(it->second, piece);
        });
    }
    Result<std::unique_ptr<folder::AtomicOutput>> BeginReplace(std::u16string_view path) override {
        return Find(path).transform([&](auto it) -> std::unique_ptr<folder::AtomicOutput> {
            return std::make_unique<Output>(it->second);
        });
    }
    Result<void> CopyForBackup(std::u16string_view from, std::u16string_view to) override {
        return Find(from).transform([&](auto it) { files[std::u16string(to)] = it->second; });
    }
    Result<void> Rename(std::u16string_view, std::u16string_view) override {
        FUZZ_CHECK(false);  // No fuzzed work renames.
        return Fail(ENOSYS, "Rename");
    }

private:
    using Iterator = decltype(files)::iterator;
    Result<Iterator> Find(std::u16string_view path) {
        const auto it = files.find(path);
        return it != files.end() ? Result<Iterator>(it) : Fail(ENOENT, folder::NativePath(path));
    }

    class Input final : public folder::InputFile {
    public:
        Input(std::string contents, std::size_t piece)
            : contents_(std::move(contents)), piece_(piece) {}
        Result<std::size_t> Read(char* buffer, std::size_t n) override {
            const std::size_t short_read = piece_ > 0 && reads_ < 4 ? 1 + reads_ * 7 % piece_ : n;
            const std::size_t size = std::min({n, contents_.size() - at_, short_read});
            std::copy_n(contents_.data() + at_, size, buffer);
            at_ += size;
            ++reads_;
            return size;
        }

    private:
        std::string contents_;
        std::size_t piece_, at_ = 0, reads_ = 0;
    };

    // The new contents take the old ones' place only at Commit.
    class Output final : public folder::AtomicOutput {
    public:
        explicit Output(std::string& file) : file_(file) {}
        Result<void> Write(std::string_view bytes) override {
            pending_.append(bytes);
            return {};
        }
        Result<void> Commit() override {
            file_ = std::move(pending_);
            return {};
        }

    private:
        std::string& file_;
        std::string pending_;
    };
};

}  // namespace popuran::fuzz
