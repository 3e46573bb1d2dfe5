// Fuzzes the byte-level replacement of files against the plain reference on decoded text.
//
// Input: a flags byte, a window byte, then search '\x01' replacement '\x01' file bytes. Flag
// bits 0 to 4 as for replace_all_fuzz (the search may be taken from the decoded file); bits 5
// and 6 pick the file's name (text ending, no known ending, binary ending, "HTML"); bit 7 asks
// for a stop request at the yield that the window byte's top three bits choose.
//
// SearchPattern is driven through windows of a few bytes the way ReplaceInFile drives it
// through its large ones, and ReplaceInFile itself runs on the file held in memory. The new
// bytes must be the old ones with exactly the reference's matches replaced by the encoded
// replacement, and nothing else changed; the backup must hold the old bytes.
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "folder/replace_engine.h"
#include "folder/replace_in_file.h"
#include "folder/services/cp932.h"
#include "folder/services/file_services.h"
#include "folder/services/utf8.h"
#include "folder/work.h"
#include "fuzz_check.h"
#include "replace_reference.h"
#include "run/state/run_state.h"

namespace {

namespace folder = popuran::folder;
using folder::Fail;
using folder::Result;
using popuran::fuzz::AsBytes;
using popuran::fuzz::Hex;

struct Expected {
    std::string bytes;
    std::size_t count = 0;
};

// The reference's matches in the decoded bytes, mapped back to byte spans.
Expected ReferenceBytes(std::string_view bytes, std::u16string_view search, bool case_sensitive,
                        std::string_view encoded_replacement) {
    std::u16string text;
    std::vector<std::uint32_t> offsets;
    folder::Cp932DecodeWithOffsets(bytes, text, offsets);
    const std::vector<std::size_t> starts =
        popuran::fuzz::ReferenceMatches(text, search, case_sensitive);
    Expected expected;
    expected.count = starts.size();
    std::size_t rest = 0;
    for (const std::size_t at : starts) {
        expected.bytes.append(bytes.substr(rest, offsets[at] - rest));
        expected.bytes.append(encoded_replacement);
        rest = offsets[at + search.size()];
    }
    expected.bytes.append(bytes.substr(rest));
    return expected;
}

// Replaces through SearchPattern with windows of at most `window` bytes plus the room that
// a match needs, refilled as ReplaceInFile refills its own.
Expected StreamReplace(const folder::SearchPattern& pattern, std::string_view bytes,
                       std::size_t window, std::string_view encoded_replacement) {
    const std::size_t capacity = window + pattern.MaxMatchBytes() + 2;
    Expected out;
    std::string held;
    std::size_t read = 0;
    auto fill = [&] {
        const std::size_t take = std::min(capacity - held.size(), bytes.size() - read);
        held.append(bytes.substr(read, take));
        read += take;
    };
    fill();
    std::size_t from = 0;
    for (;;) {
        const bool final = read == bytes.size();
        folder::ByteSpan match;
        std::size_t resume = 0;
        if (pattern.Find(held, from, final, match, resume)) {
            FUZZ_CHECK(match.begin >= from && match.begin < match.end);
            FUZZ_CHECK(match.end <= held.size());
            out.bytes.append(held, from, match.begin - from);
            out.bytes.append(encoded_replacement);
            ++out.count;
            from = match.end;
            continue;
        }
        FUZZ_CHECK(resume >= from && resume <= held.size());
        out.bytes.append(held, from, resume - from);
        if (final) {
            FUZZ_CHECK(resume == held.size());
            return out;
        }
        // A full window that keeps everything could never move on.
        FUZZ_CHECK(resume > 0 || held.size() < capacity);
        held.erase(0, resume);
        from = 0;
        fill();
    }
}

// --- ReplaceInFile on files held in memory -----------------------------------------------------

using FileMap = std::map<std::u16string, std::string, std::less<>>;

class MemoryInput final : public folder::InputFile {
public:
    explicit MemoryInput(std::string contents) : contents_(std::move(contents)) {}
    Result<std::size_t> Read(char* buffer, std::size_t n) override {
        // Short reads now and then, as a pipe or a network file system may give.
        const std::size_t size = std::min({n, contents_.size() - at_, 1 + reads_++ % 7});
        std::copy_n(contents_.data() + at_, size, buffer);
        at_ += size;
        return size;
    }

private:
    std::string contents_;
    std::size_t at_ = 0;
    std::size_t reads_ = 0;
};

class MemoryOutput final : public folder::AtomicOutput {
public:
    MemoryOutput(FileMap& files, std::u16string path) : files_(files), path_(std::move(path)) {}
    Result<void> Write(std::string_view bytes) override {
        FUZZ_CHECK(!committed_);
        pending_.append(bytes);
        return {};
    }
    Result<void> Commit() override {
        FUZZ_CHECK(!committed_);
        committed_ = true;
        files_[path_] = std::move(pending_);
        return {};
    }

private:
    FileMap& files_;
    std::u16string path_;
    std::string pending_;
    bool committed_ = false;
};

class MemoryFiles final : public folder::FileServices {
public:
    explicit MemoryFiles(FileMap& files) : files_(files) {}

    Result<std::vector<folder::DirEntry>> List(std::u16string_view) override {
        return Fail(ENOSYS, "List");
    }
    Result<std::uint32_t> Attributes(std::u16string_view path) override {
        if (!files_.contains(path)) {
            return Fail(ENOENT, folder::NativePath(path));
        }
        return folder::kAttrArchive;
    }
    Result<std::int64_t> Length(std::u16string_view path) override {
        const auto it = files_.find(path);
        if (it == files_.end()) {
            return Fail(ENOENT, folder::NativePath(path));
        }
        return static_cast<std::int64_t>(it->second.size());
    }
    Result<std::string> ReadHead(std::u16string_view path, std::size_t max_bytes) override {
        const auto it = files_.find(path);
        if (it == files_.end()) {
            return Fail(ENOENT, folder::NativePath(path));
        }
        return it->second.substr(0, max_bytes);
    }
    Result<std::string> ReadAll(std::u16string_view path) override {
        return ReadHead(path, std::string::npos);
    }
    Result<std::unique_ptr<folder::InputFile>> OpenInput(std::u16string_view path) override {
        const auto it = files_.find(path);
        if (it == files_.end()) {
            return Fail(ENOENT, folder::NativePath(path));
        }
        return std::make_unique<MemoryInput>(it->second);
    }
    Result<std::unique_ptr<folder::AtomicOutput>> BeginReplace(std::u16string_view path) override {
        if (!files_.contains(path)) {
            return Fail(ENOENT, folder::NativePath(path));
        }
        return std::make_unique<MemoryOutput>(files_, std::u16string(path));
    }
    Result<void> CopyForBackup(std::u16string_view from, std::u16string_view to) override {
        const auto it = files_.find(from);
        if (it == files_.end()) {
            return Fail(ENOENT, folder::NativePath(from));
        }
        files_[std::u16string(to)] = it->second;
        return {};
    }
    Result<void> Rename(std::u16string_view, std::u16string_view) override {
        FUZZ_CHECK(false);  // Replacing contents never renames.
        return Fail(ENOSYS, "Rename");
    }

private:
    FileMap& files_;
};

void CheckReplaceInFile(std::uint8_t flags, int stop_at_yield, std::string_view bytes,
                        const std::u16string& search, const std::u16string& replacement,
                        const Expected& expected) {
    static const std::u16string_view kNames[] = {u"/d/f.txt", u"/d/f", u"/d/f.bin", u"/d/f.HTML"};
    const std::u16string path(kNames[(flags >> 5) & 3]);
    const std::u16string backup = path + u".BAK";
    FileMap files{{path, std::string(bytes)}};
    MemoryFiles services(files);
    popuran::run::RunState state;
    state.Encoding = popuran::run::kEncodingCp932;  // the engine's own code page
    state.CaseSensitive = (flags & 1) != 0 ? 1 : 0;
    state.SearchText = search;
    state.ReplaceText = replacement;
    popuran::fuzz::QuietView view(state, stop_at_yield);
    folder::Work work{state, view, services};

    // A stop leaves the file as it was, whenever it comes.
    const bool stopped = folder::ReplaceInFile(work, path);
    FUZZ_CHECK(stopped == view.Stopped());

    const bool binary =
        path.ends_with(u".bin") || (path == u"/d/f" && bytes.find('\0') != std::string_view::npos);
    const bool changed = !binary && !stopped && expected.count > 0;
    if (changed) {
        if (files[path] != expected.bytes) {
            std::fprintf(stderr, "file     %s\ngot      %s\nexpected %s\n", Hex(bytes).c_str(),
                         Hex(files[path]).c_str(), Hex(expected.bytes).c_str());
        }
        FUZZ_CHECK(files[path] == expected.bytes);
        FUZZ_CHECK(files.contains(backup) && files[backup] == bytes);
        FUZZ_CHECK(state.ReplacedStringCount == static_cast<std::int32_t>(expected.count));
        FUZZ_CHECK(state.ChangedFileCount == 1);
        FUZZ_CHECK(state.ProgressTicks == static_cast<std::int32_t>(expected.count));
    } else {
        FUZZ_CHECK(files[path] == bytes);
        FUZZ_CHECK(!files.contains(backup));
        FUZZ_CHECK(state.ReplacedStringCount == 0 && state.ChangedFileCount == 0);
    }
    FUZZ_CHECK(files.size() == (changed ? 2u : 1u));
    FUZZ_CHECK(state.WorkText.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::uint8_t flags = data[0];
    const std::size_t window = 1 + data[1] % 32;
    const std::vector<std::string_view> parts =
        popuran::fuzz::SplitInput(AsBytes(data + 2, size - 2), '\x01', 3);
    const std::string_view bytes = parts[2];
    const std::u16string search =
        popuran::fuzz::FuzzSearch(flags, parts[0], folder::Cp932Decode(bytes));
    const std::u16string replacement =
        (flags & 2) != 0 ? folder::Utf8ToText(parts[1]) : folder::Cp932Decode(parts[1]);
    const bool case_sensitive = (flags & 1) != 0;
    const std::string encoded_replacement = folder::Cp932Encode(replacement);

    const Expected expected = ReferenceBytes(bytes, search, case_sensitive, encoded_replacement);
    const folder::SearchPattern pattern(search, case_sensitive);
    for (const std::size_t w : {window, bytes.size()}) {
        const Expected got = StreamReplace(pattern, bytes, w, encoded_replacement);
        if (got.bytes != expected.bytes || got.count != expected.count) {
            std::fprintf(stderr,
                         "window %zu\nfile     %s\nsearch   %s\ncount %zu, expected %zu\n"
                         "got      %s\nexpected %s\n",
                         w, Hex(bytes).c_str(), Hex(search).c_str(), got.count, expected.count,
                         Hex(got.bytes).c_str(), Hex(expected.bytes).c_str());
        }
        FUZZ_CHECK(got.count == expected.count);
        FUZZ_CHECK(got.bytes == expected.bytes);
    }
    // Without bit 7 the stop is asked for at a yield that never comes.
    const int stop_at_yield = (flags & 128) != 0 ? 1 + data[1] / 32 : 0;
    CheckReplaceInFile(flags, stop_at_yield, bytes, search, replacement, expected);
    return 0;
}
