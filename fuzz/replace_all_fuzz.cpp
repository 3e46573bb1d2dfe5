// Fuzzes ReplaceAll against a plain left-to-right, non-overlapping replacement.
//
// Input: a flags byte, then search '\x01' replacement '\x01' text. Flag bit 0: letter case
// matters; bit 1: the parts are UTF-8 (else code page 932); bits 2 to 4: see FuzzSearch.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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
using popuran::fuzz::AsBytes;
using popuran::fuzz::Hex;

std::u16string Decode(std::uint8_t flags, std::string_view part) {
    return (flags & 2) != 0 ? folder::Utf8ToText(part) : folder::Cp932Decode(part);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::uint8_t flags = data[0];
    const std::vector<std::string_view> parts =
        popuran::fuzz::SplitInput(AsBytes(data + 1, size - 1), '\x01', 3);
    const std::u16string text = Decode(flags, parts[2]);
    const std::u16string search = popuran::fuzz::FuzzSearch(flags, parts[0], text);
    const std::u16string replacement = Decode(flags, parts[1]);
    const bool case_sensitive = (flags & 1) != 0;

    const std::vector<std::size_t> starts =
        popuran::fuzz::ReferenceMatches(text, search, case_sensitive);
    const std::u16string expected =
        popuran::fuzz::ReferenceReplace(text, starts, search.size(), replacement);

    popuran::run::RunState state;
    state.CaseSensitive = case_sensitive ? 1 : 0;
    popuran::fuzz::QuietView view;
    folder::PosixFileServices files;
    folder::Work work{state, view, files};

    const std::int32_t count = folder::ReplaceAll(work, text, search, replacement);
    if (static_cast<std::size_t>(count) != starts.size() || state.WorkText != expected) {
        std::fprintf(stderr,
                     "text     %s\nsearch   %s\ncount %d, expected %zu\ngot      %s\n"
                     "expected %s\n",
                     Hex(text).c_str(), Hex(search).c_str(), count, starts.size(),
                     Hex(state.WorkText).c_str(), Hex(expected).c_str());
    }
    FUZZ_CHECK(static_cast<std::size_t>(count) == starts.size());
    FUZZ_CHECK(state.WorkText == expected);
    FUZZ_CHECK(count != 0 || state.WorkText == text);
    FUZZ_CHECK(state.ProgressTicks == count);

    // The text may be WorkText itself.
    state.WorkText = text;
    const std::int32_t again = folder::ReplaceAll(work, state.WorkText, search, replacement);
    FUZZ_CHECK(again == count);
    FUZZ_CHECK(state.WorkText == expected);
    return 0;
}
