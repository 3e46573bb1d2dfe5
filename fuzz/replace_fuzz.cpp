// Fuzzes the replacement engine against a plain reference, in each encoding a file may be in.
// Input: flags, a window byte, then search '\x01' replacement '\x01' file bytes, the parts read
// in the encoding that flag bits 5 to 7 choose. Flag bit 0: letter case matters; bit 1: the
// search is cut from the file's text (the search part's first two bytes give start and length),
// so that matches are common; bits 2 and 3: the search is upper- or lower-cased; bit 4: a stop
// request at the yield the window byte's top bits choose. The reference finds the search in the
// file decoded unit by unit, left to right, without overlaps. ReplaceAll on the text, SearchPattern
// through windows of a few bytes and ReplaceInFile on the file in memory must all give exactly its
// result. The conversions must lose nothing.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "folder/replace_engine.h"
#include "folder/replace_in_file.h"
#include "folder/services/cp932.h"
#include "folder/services/encodings.h"
#include "folder/services/text_search.h"
#include "folder/services/utf8.h"
#include "folder/work.h"
#include "fuzz_support.h"
#include "run/state/run_state.h"
#include "run/state/run_view.h"
#include "support/fake_view.h"

namespace {

namespace folder = popuran::folder;
namespace run = popuran::run;
using folder::Encoding;

// The bytes as text, and for each code unit the offset of the unit it came from.
struct Decoded {
    std::u16string text;
    std::vector<std::uint32_t> offsets;
    // No escape, lone surrogate or NUL (binary files only): the encoding can write it back.
    bool clean = true;
};

Decoded Decode(Encoding encoding, std::string_view bytes) {
    Decoded d;
    for (std::size_t i = 0; i < bytes.size();) {
        char32_t c = 0;
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + i;
        const std::size_t n = folder::DecodeUnit(encoding, p, bytes.size() - i, c);
        d.clean = d.clean && c != 0 && !folder::IsEscape(c) && (c < 0xD800 || c > 0xDFFF);
        if (c > 0xFFFF) {
            d.text += static_cast<char16_t>(0xD7C0 + (c >> 10));
            d.offsets.push_back(static_cast<std::uint32_t>(i));
            c = 0xDC00 + (c & 0x3FF);
        }
        d.text += static_cast<char16_t>(c);
        d.offsets.push_back(static_cast<std::uint32_t>(i));
        i += n;
    }
    d.offsets.push_back(static_cast<std::uint32_t>(bytes.size()));
    return d;
}

// Where search stands in the text: every unit tried in turn, a match taken whole and never
// overlapped, starting and ending on a unit's first code unit. Compared after case folding when
// case is ignored, and with both forms of a two-form character alike when `forms`.
std::u16string OneForm(std::u16string text) {
    for (char16_t& c : text) {
        c = static_cast<char16_t>(folder::SameCharacter(c));
    }
    return text;
}

std::vector<std::size_t> Matches(const Decoded& d, std::u16string search, bool case_sensitive,
                                 bool forms) {
    std::u16string text = case_sensitive ? d.text : folder::FoldCase(d.text);
    search = case_sensitive ? search : folder::FoldCase(search);
    text = forms ? OneForm(text) : text;
    search = forms ? OneForm(search) : search;
    auto boundary = [&](std::size_t at) { return at == 0 || d.offsets[at - 1] != d.offsets[at]; };
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; !search.empty() && i + search.size() <= text.size(); ++i) {
        if (boundary(i) && boundary(i + search.size()) &&
            text.compare(i, search.size(), search) == 0) {
            starts.push_back(i);
            i += search.size() - 1;
        }
    }
    return starts;
}

// `old` with [offset(at), offset(at + length)) replaced for each match start `at`.
template <typename S, typename Offset>
S Replace(const S& old, const std::vector<std::size_t>& starts, std::size_t length, const S& with,
          Offset offset) {
    S out;
    std::size_t rest = 0;
    for (const std::size_t at : starts) {
        out.append(old, rest, offset(at) - rest).append(with);
        rest = offset(at + length);
    }
    return out.append(old, rest);
}

// SearchPattern driven through windows of 2 * `half` bytes plus the room a match needs, refilled
// as ReplaceInFile refills its own (at even sizes, since UTF-16 windows start at even offsets).
std::string Stream(const folder::SearchPattern& pattern, std::string_view bytes, std::size_t half,
                   std::string_view with) {
    const std::size_t capacity = 2 * half + pattern.MaxMatchBytes() + 2;
    std::string out, held;
    std::size_t read = 0, from = 0;
    for (;;) {
        const std::size_t take = std::min(capacity - held.size(), bytes.size() - read);
        held.append(bytes.substr(read, take));
        read += take;
        const bool final = read == bytes.size();
        folder::ByteSpan match;
        std::size_t resume = 0;
        while (pattern.Find(held, from, final, match, resume)) {
            FUZZ_CHECK(from <= match.begin && match.begin < match.end && match.end <= held.size());
            out.append(held, from, match.begin - from).append(with);
            from = match.end;
        }
        FUZZ_CHECK(from <= resume && resume <= held.size() && (!final || resume == held.size()));
        out.append(held, from, resume - from);
        if (final) {
            return out;
        }
        FUZZ_CHECK(resume > 0 || held.size() < capacity);  // else it could never move on
        held.erase(0, resume);
        from = 0;
    }
}

void CheckCodecs(std::string_view bytes) {
    const Decoded d = Decode(Encoding::kCp932, bytes);
    std::u16string text;
    std::vector<std::uint32_t> offsets;
    folder::Cp932DecodeWithOffsets(bytes, text, offsets);
    FUZZ_CHECK(text == d.text && offsets == d.offsets && folder::Cp932Decode(bytes) == text);
    // Only a character with two codes may come back with its other code, of the same length.
    const std::string encoded = folder::Cp932Encode(text);
    FUZZ_CHECK(encoded.size() == bytes.size() && folder::Cp932Decode(encoded) == text);
    FUZZ_CHECK(folder::Cp932CanEncode(text) == d.clean || text.find(u'\0') != text.npos);
    const std::u16string utf8 = folder::Utf8ToText(bytes);
    FUZZ_CHECK(folder::TextToUtf8(utf8) == bytes && utf8 == Decode(Encoding::kUtf8, bytes).text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::uint8_t flags = data[0];
    // Each encoding, and the run's choice that reads it: UTF-16 is known by its byte order mark.
    static const std::pair<Encoding, run::EncodingChoice> kEncodings[] = {
        {Encoding::kCp932, run::kEncodingCp932},
        {Encoding::kUtf8, run::kEncodingUtf8},
        {Encoding::kEucJp, run::kEncodingEucJp},
        {Encoding::kUtf16Le, run::kEncodingAuto},
        {Encoding::kUtf16Be, run::kEncodingAuto}};
    const auto [encoding, choice] = kEncodings[(flags >> 5) % 5];
    const bool utf16 = encoding == Encoding::kUtf16Le || encoding == Encoding::kUtf16Be;
    const auto parts = popuran::fuzz::SplitInput(data + 2, size - 2, '\x01', 3);
    // UTF-16 is read in pairs of bytes from even offsets.
    const std::string bytes(parts[2].substr(0, utf16 ? parts[2].size() & ~1u : parts[2].size()));
    CheckCodecs(bytes);

    const Decoded file = Decode(encoding, bytes);
    // What reads cleanly reads as ICU reads it, up to the form of two-form characters.
    FUZZ_CHECK(!file.clean || encoding == Encoding::kCp932 ||
               OneForm(file.text) ==
                   OneForm(folder::DecodeByIcu(folder::EncodingName(encoding).data(), bytes)));
    std::u16string search = Decode(encoding, parts[0]).text;
    if ((flags & 2) != 0 && parts[0].size() >= 2 && !file.text.empty()) {
        const std::size_t start = static_cast<unsigned char>(parts[0][0]) % file.text.size();
        search = file.text.substr(start, 1 + static_cast<unsigned char>(parts[0][1]) % 8);
    }
    search = (flags & 4) != 0 ? folder::ToUpper(search) : search;
    search = (flags & 8) != 0 ? folder::ToLower(search) : search;
    const Decoded replacement = Decode(encoding, parts[1]);
    const bool case_sensitive = (flags & 1) != 0;

    // ReplaceAll on the text, where the two forms of a character are two characters.
    const std::vector<std::size_t> text_starts = Matches(file, search, case_sensitive, false);
    run::RunState state;
    state.CaseSensitive = case_sensitive ? 1 : 0;
    popuran::testing::FakeView quiet;
    popuran::fuzz::MemoryFiles memory;
    folder::Work text_work{state, quiet, memory};
    state.WorkText = file.text;  // the text may be WorkText itself
    FUZZ_CHECK(folder::ReplaceAll(text_work, state.WorkText, search, replacement.text) ==
               static_cast<std::int32_t>(text_starts.size()));
    FUZZ_CHECK(state.WorkText == Replace(file.text, text_starts, search.size(), replacement.text,
                                         [](std::size_t at) { return at; }));
    FUZZ_CHECK(state.ProgressTicks == static_cast<std::int32_t>(text_starts.size()));

    // The byte-level search, through small windows and through one.
    const std::vector<std::size_t> starts = Matches(file, search, case_sensitive, true);
    const std::string with = folder::EncodeText(encoding, replacement.text);
    const std::string expected = Replace(bytes, starts, search.size(), with,
                                         [&](std::size_t at) { return file.offsets[at]; });
    const folder::SearchPattern pattern(search, case_sensitive, encoding);
    FUZZ_CHECK(Stream(pattern, bytes, 1 + data[1] % 16, with) == expected);
    FUZZ_CHECK(Stream(pattern, bytes, bytes.size(), with) == expected);
    if (!replacement.clean) {
        return 0;
    }
    FUZZ_CHECK(folder::CanEncodeText(encoding, replacement.text));
    FUZZ_CHECK(Decode(encoding, with).text == replacement.text);

    // ReplaceInFile on the file in memory, named as text, as binary or neither. A byte order mark
    // is believed only when the rest reads cleanly.
    if (!folder::CanEncodeText(encoding, search) || (utf16 && !file.clean)) {
        return 0;
    }
    static const std::u16string_view kNames[] = {u"/d/f.txt", u"/d/f", u"/d/f.bin"};
    const std::u16string path(kNames[data[1] % 3]);
    const std::string bom(folder::ByteOrderMark(encoding));
    memory.files = {{path, bom + bytes}};
    memory.piece = data[1] % 8;
    run::RunState file_state;
    file_state.Encoding = choice;
    file_state.CaseSensitive = state.CaseSensitive;
    file_state.SearchText = search;
    file_state.ReplaceText = replacement.text;
    popuran::testing::FakeView view;
    const int stop_at = (flags & 16) != 0 ? 1 + data[1] / 32 : 0;
    view.AtYield(stop_at, [&file_state] { file_state.StopRequested = 1; });
    folder::Work work{file_state, view, memory};
    const bool stopped = folder::ReplaceInFile(work, path);
    FUZZ_CHECK(stopped == (stop_at > 0 && view.yields >= stop_at));
    // A zero byte makes a file binary unless its name says text or its byte order mark UTF-16.
    const bool binary = path.ends_with(u".bin") ||
                        (path == u"/d/f" && !utf16 && bytes.find('\0') != std::string::npos);
    const bool changed = !binary && !stopped && !starts.empty();
    FUZZ_CHECK(memory.files[path] == (changed ? bom + expected : bom + bytes));
    FUZZ_CHECK(memory.files.size() == (changed ? 2u : 1u));
    FUZZ_CHECK(!changed || memory.files[path + u".BAK"] == bom + bytes);
    FUZZ_CHECK(file_state.ReplacedStringCount == (changed ? std::int32_t(starts.size()) : 0));
    FUZZ_CHECK(file_state.ChangedFileCount == (changed ? 1 : 0));
    return 0;
}
