// Fuzzes ExtensionByContent on file contents held in memory against a plain reading of its rules.
// Input: one byte, then the contents. The byte's low seven bits choose how short the first reads
// are (0: whole); its top bit pushes the second half of the contents past the 150000 bytes that
// decide text or binary. The type database is left out (its answers are its own), and of MPEG
// audio only the kind of answer is checked: "mp3" or nothing.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "filetype/extension_by_content.h"
#include "folder/services/cp932.h"
#include "fuzz_support.h"

namespace {

constexpr std::size_t kHeadLimit = 150000;

// The letters at offset, either letter case; nullopt (the range error) when the head ends first.
std::optional<bool> Spells(std::string_view head, std::size_t offset, std::string_view letters) {
    for (std::size_t i = 0; i < letters.size(); ++i) {
        if (offset + i >= head.size()) {
            return std::nullopt;
        }
        if (head[offset + i] != letters[i] && head[offset + i] != letters[i] + ('a' - 'A')) {
            return false;
        }
    }
    return true;
}

// The answer, nullopt for the range error, u"?" for "mp3" or nothing.
std::optional<std::u16string> Reference(std::string_view file) {
    const std::string_view head = file.substr(0, kHeadLimit);
    if (file.empty()) {
        return std::nullopt;
    }
    if (head.find('\0') == head.npos) {
        std::u16string text = popuran::folder::Cp932Decode(head);
        for (char16_t& c : text) {
            c = c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + (u'a' - u'A')) : c;
        }
        for (std::size_t at = 0; (at = text.find(u"<html", at)) != text.npos; ++at) {
            if (at + 5 < text.size() &&
                std::u16string_view(u" \t\r\n>").find(text[at + 5]) != std::u16string_view::npos) {
                return u"html";
            }
        }
        return text.find(u"<!doctype html") != text.npos ? u"html" : u"txt";
    }
    struct Row {
        std::size_t offset;
        std::string_view letters;
        std::u16string_view answer;  // empty: RIFF, which the rows at offset 8 need
    };
    static const Row kRows[] = {{6, "JFIF", u"jpg"}, {0, "GIF", u"gif"}, {0, "BM", u"bmp"},
                                {0, "MZ", u"exe"},   {0, "PK", u"zip"},  {3, "LH", u"lzh"},
                                {0, "MT", u"mid"},   {0, "RIFF", u""},   {8, "WAVE", u"wav"},
                                {8, "AVI", u"avi"},  {1, "RA", u"ra"},   {1, "PDF", u"pdf"},
                                {0, "MSCF", u"cab"}};
    bool riff = false;
    for (const Row& row : kRows) {
        if (row.offset == 8 && !riff) {
            continue;
        }
        const std::optional<bool> hit = Spells(head, row.offset, row.letters);
        if (!hit || (*hit && !row.answer.empty())) {
            return hit ? std::optional<std::u16string>(row.answer) : std::nullopt;
        }
        riff = riff || (*hit && row.answer.empty());
    }
    if (!head.starts_with("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1")) {
        return u"?";
    }
    const std::u16string text = popuran::folder::Cp932Decode(file);
    return text.find(u"Microsoft Excel") != text.npos  ? u"xls"
           : text.find(u"Microsoft Word") != text.npos ? u"doc"
                                                       : u"";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    std::string file(reinterpret_cast<const char*>(data) + 1, size - 1);
    if ((data[0] & 0x80u) != 0 && !file.empty()) {
        const std::size_t half = (file.size() + 1) / 2;
        file.insert(half, kHeadLimit, file[half - 1]);
    }
    popuran::fuzz::MemoryFiles files;
    files.files[u"/f"] = file;
    files.piece = data[0] & 0x7Fu;
    const auto answer = popuran::filetype::ExtensionByContent(files, u"/f");
    const std::optional<std::u16string> expected = Reference(file);
    if (!answer) {
        FUZZ_CHECK(answer.error().code == std::errc::result_out_of_range && !expected);
    } else if (expected == u"?") {
        FUZZ_CHECK(*answer == u"mp3" || answer->empty());
    } else {
        FUZZ_CHECK(expected && *answer == *expected);
    }
    return 0;
}
