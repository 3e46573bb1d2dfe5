// Fuzzes WildcardMatch against a plain matcher on short patterns and names.
// Input: pattern '|' name. Printable ASCII stands for itself; every other byte picks one of a
// few characters whose case folding is unusual (final sigma, Kelvin sign, sharp s, letters
// outside the BMP, lone surrogates), so that folding and surrogate pairs get exercised.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "folder/services/text_search.h"
#include "folder/services/wildcard.h"
#include "fuzz_support.h"

namespace {

namespace folder = popuran::folder;

std::u16string ToText(std::string_view bytes) {
    static const std::u16string_view kOdd[] = {
        u"\u00DF", u"\u1E9E", u"\u03A3", u"\u03C3", u"\u03C2", u"\u212A",     u"k",
        u"\uFF21", u"\uFF41", u"\u0130", u"\u0131", u"\u017F", u"\U00010400", u"\U00010428",
        u"\xD800", u"\xDC2E", u"\u00C5", u"\u212B", u"\u3000", u"."};
    std::u16string text;
    for (const char byte : bytes.substr(0, 24)) {
        const auto b = static_cast<unsigned char>(byte);
        text += b >= 0x20 && b < 0x7F ? std::u16string(1, b) : std::u16string(kOdd[b % 20]);
    }
    return text;
}

// The characters of a text, each case-folded on its own; a surrogate pair is one character.
std::vector<std::u16string> Characters(std::u16string_view text) {
    std::vector<std::u16string> out;
    for (std::size_t i = 0; i < text.size();) {
        const bool pair = text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() &&
                          text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
        out.push_back(folder::FoldCase(text.substr(i, pair ? 2 : 1)));
        i += pair ? 2 : 1;
    }
    return out;
}

// '*' any run of characters, '?' one character, anything else itself. next[j] tells whether
// the pattern from i + 1 on matches the name from j on.
bool PlainMatch(std::u16string_view pattern_text, std::u16string_view name_text) {
    const auto pattern = Characters(pattern_text);
    const auto name = Characters(name_text);
    std::vector<bool> next(name.size() + 1, false);
    next[name.size()] = true;
    for (std::size_t i = pattern.size(); i-- > 0;) {
        std::vector<bool> here(name.size() + 1, false);
        for (std::size_t j = name.size() + 1; j-- > 0;) {
            here[j] = pattern[i] == u"*"
                          ? next[j] || (j < name.size() && here[j + 1])
                          : j < name.size() && (pattern[i] == u"?" || pattern[i] == name[j]) &&
                                next[j + 1];
        }
        next = here;
    }
    return next[0];
}

// A name without a dot also matches when a trailing ".*" of the pattern stands for "no
// extension", so that "*.*" matches every name.
bool ReferenceMatch(std::u16string_view pattern, std::u16string_view name) {
    bool match = PlainMatch(pattern, name);
    while (!match && name.find(u'.') == name.npos && pattern.ends_with(u".*")) {
        pattern.remove_suffix(2);
        match = PlainMatch(pattern, name);
    }
    return match;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto parts = popuran::fuzz::SplitInput(data, size, '|', 2);
    const std::u16string pattern = ToText(parts[0]);
    const std::u16string name = ToText(parts[1]);
    const bool expected = ReferenceMatch(pattern, name);
    FUZZ_CHECK(folder::WildcardMatch(pattern, name) == expected);
    // Folding both sides first changes nothing; "*.*" and "*" match every name.
    FUZZ_CHECK(folder::WildcardMatch(folder::FoldCase(pattern), folder::FoldCase(name)) ==
               expected);
    FUZZ_CHECK(folder::WildcardMatch(u"*.*", name) && folder::WildcardMatch(u"*", name));
    return 0;
}
