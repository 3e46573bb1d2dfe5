// Fuzzes ExtensionByContent on random file contents held in memory.
//
// Input: one byte, then the file's contents. The byte's low seven bits choose how short the
// reads are (0: whole); its top bit pushes the second half of the contents past the 150000
// bytes that decide text or binary, behind a run of the first half's last byte. The answer
// must be one of the known extensions or empty, the only failure the range error, and both
// must be what a plain reading of the rules gives, whether the file arrives in one read or in
// many short ones (the search for application names reads in pieces). The type database is
// left out: its answers are its own, and the rules in front of it are what is fuzzed here.
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "filetype/extension_by_content.h"
#include "folder/services/cp932.h"
#include "folder/services/file_services.h"
#include "fuzz_check.h"

namespace {

namespace folder = popuran::folder;
using folder::Fail;
using folder::Result;
using popuran::fuzz::AsBytes;

constexpr std::size_t kHeadLimit = 150000;

// The first few reads return at most `piece` bytes each, the size changing from read to read;
// then reads are full. A few short reads put piece boundaries anywhere; more would only slow
// the fuzzer down, since each read costs the detection a whole piece buffer.
class ShortReader final : public folder::InputFile {
public:
    ShortReader(std::string_view contents, std::size_t piece)
        : contents_(contents), piece_(piece) {}

    Result<std::size_t> Read(char* buffer, std::size_t n) override {
        std::size_t size = std::min({n, contents_.size() - at_, NextPiece()});
        std::copy_n(contents_.data() + at_, size, buffer);
        at_ += size;
        return size;
    }

private:
    std::size_t NextPiece() {
        if (piece_ == 0 || reads_ == kShortReads) {
            return contents_.size();
        }
        ++reads_;
        return 1 + (piece_ * reads_ + reads_ * reads_) % (piece_ + 1);
    }

    static constexpr std::size_t kShortReads = 4;

    std::string_view contents_;
    std::size_t piece_;
    std::size_t at_ = 0;
    std::size_t reads_ = 0;
};

// One file, "/f", in memory; every other operation fails.
class MemoryFiles final : public folder::FileServices {
public:
    MemoryFiles(std::string_view contents, std::size_t piece)
        : contents_(contents), piece_(piece) {}

    Result<std::vector<folder::DirEntry>> List(std::u16string_view) override {
        return Fail(ENOSYS, "List");
    }
    Result<std::uint32_t> Attributes(std::u16string_view) override { return folder::kAttrArchive; }
    Result<std::int64_t> Length(std::u16string_view) override {
        return static_cast<std::int64_t>(contents_.size());
    }
    Result<std::string> ReadHead(std::u16string_view, std::size_t max_bytes) override {
        return std::string(contents_.substr(0, max_bytes));
    }
    Result<std::string> ReadAll(std::u16string_view) override { return std::string(contents_); }
    Result<std::unique_ptr<folder::InputFile>> OpenInput(std::u16string_view) override {
        return std::make_unique<ShortReader>(contents_, piece_);
    }
    Result<std::unique_ptr<folder::AtomicOutput>> BeginReplace(std::u16string_view) override {
        FUZZ_CHECK(false);  // Detection never writes.
        return Fail(ENOSYS, "BeginReplace");
    }
    Result<void> CopyForBackup(std::u16string_view, std::u16string_view) override {
        FUZZ_CHECK(false);
        return Fail(ENOSYS, "CopyForBackup");
    }
    Result<void> Rename(std::u16string_view, std::u16string_view) override {
        FUZZ_CHECK(false);
        return Fail(ENOSYS, "Rename");
    }

private:
    std::string_view contents_;
    std::size_t piece_;
};

// The answer, or nullopt for the range error.
using Expected = std::optional<std::u16string>;

std::u16string AsciiLower(std::u16string text) {
    for (char16_t& c : text) {
        if (c >= u'A' && c <= u'Z') {
            c = static_cast<char16_t>(c + (u'a' - u'A'));
        }
    }
    return text;
}

// Compares offset after offset and stops at the first mismatch; reaching past the head is the
// range error (nullopt).
std::optional<bool> Spells(std::string_view head, std::size_t offset, std::string_view letters) {
    for (std::size_t i = 0; i < letters.size(); ++i) {
        if (offset + i >= head.size()) {
            return std::nullopt;
        }
        const char c = head[offset + i];
        if (c != letters[i] && c != letters[i] + ('a' - 'A')) {
            return false;
        }
    }
    return true;
}

// The length of the MPEG audio Layer III frame at `at`, 0 when no valid header stands there.
std::size_t FrameLength(std::string_view head, std::size_t at) {
    if (at + 4 > head.size()) {
        return 0;
    }
    const auto* b = reinterpret_cast<const unsigned char*>(head.data() + at);
    static const int kHz[4][3] = {
        {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
    static const int kKbps[2][16] = {
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}};
    const int version = (b[1] >> 3) & 3;
    const int rate = (b[2] >> 2) & 3;
    if (b[0] != 0xFF || (b[1] >> 5) != 7 || version == 1 || ((b[1] >> 1) & 3) != 1 ||
        (b[3] & 3) == 2 || rate == 3) {
        return 0;
    }
    const int kbps = kKbps[version == 3 ? 1 : 0][b[2] >> 4];
    if (kbps == 0) {
        return 0;
    }
    const int samples = version == 3 ? 1152 : 576;
    return static_cast<std::size_t>(samples / 8 * kbps * 1000 / kHz[version][rate] +
                                    ((b[2] >> 1) & 1));
}

// An ID3v2 tag at the start, or two Layer III frames of one stream at the start or after the
// tag and its zero bytes; a tag whose frames lie past the head counts on its own.
bool Mp3(std::string_view head) {
    const auto* b = reinterpret_cast<const unsigned char*>(head.data());
    std::size_t at = 0;
    bool tagged = false;
    if (head.size() >= 10 && head.substr(0, 3) == "ID3" && b[3] >= 2 && b[3] <= 4 && b[4] != 0xFF &&
        (b[6] | b[7] | b[8] | b[9]) < 0x80) {
        tagged = true;
        at = 10 + (std::size_t{b[6]} << 21) + (std::size_t{b[7]} << 14) + (std::size_t{b[8]} << 7) +
             b[9] + ((b[3] == 4 && (b[5] & 0x10) != 0) ? 10 : 0);
        while (at < head.size() && b[at] == 0) {
            ++at;
        }
    }
    if (at + 4 > head.size()) {
        return tagged;
    }
    const std::size_t length = FrameLength(head, at);
    if (length == 0) {
        return false;
    }
    const std::size_t next = at + length;
    if (next + 4 > head.size()) {
        return tagged;
    }
    return FrameLength(head, next) != 0 && (b[at + 1] >> 1) == (b[next + 1] >> 1) &&
           ((b[at + 2] >> 2) & 3) == ((b[next + 2] >> 2) & 3);
}

Expected Reference(std::string_view file) {
    if (file.empty()) {
        return std::nullopt;
    }
    const std::string_view head = file.substr(0, kHeadLimit);
    if (head.find('\0') == std::string_view::npos) {
        const std::u16string text = AsciiLower(folder::Cp932Decode(head));
        if (text.find(u"<!doctype html") != std::u16string::npos) {
            return u"html";
        }
        for (std::size_t at = 0; at + 5 < text.size(); ++at) {
            const char16_t next = text[at + 5];
            if (text.compare(at, 5, u"<html") == 0 &&
                (next == u' ' || next == u'\t' || next == u'\r' || next == u'\n' || next == u'>')) {
                return u"html";
            }
        }
        return u"txt";
    }
    struct Row {
        std::size_t offset;
        std::string_view letters;
        std::u16string_view answer;
    };
    const Row before[] = {{6, "JFIF", u"jpg"}, {0, "GIF", u"gif"}, {0, "BM", u"bmp"},
                          {0, "MZ", u"exe"},   {0, "PK", u"zip"},  {3, "LH", u"lzh"},
                          {0, "MT", u"mid"}};
    const Row after[] = {{1, "RA", u"ra"}, {1, "PDF", u"pdf"}, {0, "MSCF", u"cab"}};
    for (const Row& row : before) {
        const std::optional<bool> hit = Spells(head, row.offset, row.letters);
        if (!hit || *hit) {
            return hit ? Expected(row.answer) : std::nullopt;
        }
    }
    const std::optional<bool> riff = Spells(head, 0, "RIFF");
    if (!riff) {
        return std::nullopt;
    }
    if (*riff) {
        const std::optional<bool> wave = Spells(head, 8, "WAVE");
        if (!wave || *wave) {
            return wave ? Expected(u"wav") : std::nullopt;
        }
        const std::optional<bool> avi = Spells(head, 8, "AVI");
        if (!avi || *avi) {
            return avi ? Expected(u"avi") : std::nullopt;
        }
    }
    for (const Row& row : after) {
        const std::optional<bool> hit = Spells(head, row.offset, row.letters);
        if (!hit || *hit) {
            return hit ? Expected(row.answer) : std::nullopt;
        }
    }
    if (Mp3(head)) {
        return u"mp3";
    }
    if (head.substr(0, 8) != std::string_view("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8)) {
        return u"";
    }
    const std::u16string text = folder::Cp932Decode(file);
    if (text.find(u"Microsoft Excel") != std::u16string::npos) {
        return u"xls";
    }
    if (text.find(u"Microsoft Word") != std::u16string::npos) {
        return u"doc";
    }
    return u"";
}

void CheckOne(std::string_view file, std::size_t piece, const Expected& expected) {
    MemoryFiles files(file, piece);
    const Result<std::u16string> answer = popuran::filetype::ExtensionByContent(files, u"/f");
    if (!answer) {
        FUZZ_CHECK(answer.error().code == std::errc::result_out_of_range);
        FUZZ_CHECK(!expected.has_value());
        return;
    }
    static const std::u16string_view kKnown[] = {u"html", u"txt", u"jpg", u"gif", u"bmp", u"exe",
                                                 u"zip",  u"lzh", u"mid", u"wav", u"avi", u"ra",
                                                 u"pdf",  u"cab", u"mp3", u"xls", u"doc", u""};
    FUZZ_CHECK(std::find(std::begin(kKnown), std::end(kKnown), *answer) != std::end(kKnown));
    FUZZ_CHECK(expected.has_value() && *answer == *expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t piece = data[0] & 0x7Fu;
    std::string file(AsBytes(data + 1, size - 1));
    if ((data[0] & 0x80u) != 0 && !file.empty()) {
        const std::size_t half = (file.size() + 1) / 2;
        file.insert(half, kHeadLimit, file[half - 1]);
    }
    // One detection per input: each costs a whole piece buffer, which is most of the time.
    CheckOne(file, piece, Reference(file));
    return 0;
}
