// Fuzzes the byte-level search in UTF-8, EUC-JP and UTF-16 against the plain reference.
//
// Input: a flags byte, a window byte, then search '\x01' replacement '\x01' file bytes. Flag
// bits 0 to 4 as for replace_all_fuzz (the search may be taken from the decoded file; the
// parts are decoded in the file's encoding); bits 5 and 6 pick the encoding.
//
// The file is decoded unit by unit; the reference's matches (two-form characters alike) are
// mapped back to bytes, and SearchPattern, driven through windows of a few bytes, must replace
// exactly those and change nothing else.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "folder/replace_engine.h"
#include "folder/services/encodings.h"
#include "fuzz_check.h"
#include "replace_reference.h"

namespace {

namespace folder = popuran::folder;
using folder::Encoding;

// The text of bytes and, for each code unit, the offset of the unit it came from.
std::u16string Decode(Encoding encoding, std::string_view bytes,
                      std::vector<std::size_t>& offsets) {
    std::u16string text;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t i = 0; i < bytes.size();) {
        char32_t value = 0;
        const std::size_t n = folder::DecodeUnit(encoding, p + i, bytes.size() - i, value);
        if (value > 0xFFFF) {
            text.push_back(static_cast<char16_t>(0xD800 + ((value - 0x10000) >> 10)));
            offsets.push_back(i);
            value = 0xDC00 + ((value - 0x10000) & 0x3FF);
        }
        text.push_back(static_cast<char16_t>(value));
        offsets.push_back(i);
        i += n;
    }
    offsets.push_back(bytes.size());
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::uint8_t flags = data[0];
    const std::size_t window = 1 + data[1] % 16;
    const Encoding encodings[] = {Encoding::kUtf8, Encoding::kEucJp, Encoding::kUtf16Le,
                                  Encoding::kUtf16Be};
    const Encoding encoding = encodings[(flags >> 5) & 3];
    const std::vector<std::string_view> parts =
        popuran::fuzz::SplitInput(popuran::fuzz::AsBytes(data + 2, size - 2), '\x01', 3);
    // An odd last byte of UTF-16 decodes to an escape that the reference would take for the
    // second half of a surrogate pair: UTF-16 files are fuzzed at even lengths.
    std::string_view bytes = parts[2];
    if ((encoding == Encoding::kUtf16Le || encoding == Encoding::kUtf16Be) && bytes.size() % 2) {
        bytes.remove_suffix(1);
    }
    std::vector<std::size_t> offsets;
    const std::u16string text = Decode(encoding, bytes, offsets);
    std::vector<std::size_t> unused;
    std::u16string search = (flags & 4) != 0 && parts[0].size() >= 2 && !text.empty()
                                ? popuran::fuzz::FuzzSearch(flags, parts[0], text)
                                : Decode(encoding, parts[0], unused);
    const bool case_sensitive = (flags & 1) != 0;
    const std::string replacement(parts[1]);

    const std::vector<std::size_t> starts =
        popuran::fuzz::ReferenceMatches(text, search, case_sensitive, true);
    std::string expected;
    std::size_t rest = 0;
    for (const std::size_t at : starts) {
        // A match that starts or ends inside a unit's bytes is no match of whole characters.
        if (offsets[at] < rest || (at > 0 && offsets[at - 1] == offsets[at]) ||
            offsets[at + search.size() - 1] == offsets[at + search.size()]) {
            continue;
        }
        expected.append(bytes.substr(rest, offsets[at] - rest));
        expected.append(replacement);
        rest = offsets[at + search.size()];
    }
    expected.append(bytes.substr(rest));

    const folder::SearchPattern pattern(search, case_sensitive, encoding);
    std::string out;
    std::string held;
    std::size_t read = 0;
    std::size_t from = 0;
    const std::size_t capacity = window + pattern.MaxMatchBytes() + 4;
    for (;;) {
        // UTF-16 windows begin at even offsets, as files are read.
        std::size_t take = std::min(capacity - held.size(), bytes.size() - read);
        held.append(bytes.substr(read, take));
        read += take;
        const bool final = read == bytes.size();
        folder::ByteSpan match;
        std::size_t resume = 0;
        if (pattern.Find(held, from, final, match, resume)) {
            out.append(held, from, match.begin - from);
            out.append(replacement);
            from = match.end;
            continue;
        }
        FUZZ_CHECK(resume >= from && resume <= held.size());
        out.append(held, from, resume - from);
        if (final) {
            break;
        }
        FUZZ_CHECK(resume > 0 || held.size() < capacity);
        held.erase(0, resume);
        from = 0;
    }
    if (out != expected) {
        std::fprintf(stderr, "encoding %d\nbytes    %s\nsearch   %s\ngot      %s\nexpected %s\n",
                     static_cast<int>(encoding), popuran::fuzz::Hex(std::string(bytes)).c_str(),
                     popuran::fuzz::Hex(search).c_str(), popuran::fuzz::Hex(out).c_str(),
                     popuran::fuzz::Hex(expected).c_str());
    }
    FUZZ_CHECK(out == expected);
    return 0;
}
