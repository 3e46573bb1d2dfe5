// Fuzzes WildcardMatch against a plain recursive matcher on short patterns and names.
//
// Input: pattern '|' name. Printable ASCII stands for itself; every other byte picks one of a
// few characters whose case folding is unusual (final sigma, Kelvin sign, sharp s, letters
// outside the BMP, lone surrogates), so that folding and surrogate pairs get exercised.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "folder/services/file_services.h"
#include "folder/services/text_search.h"
#include "folder/services/wildcard.h"
#include "fuzz_check.h"

namespace {

using popuran::fuzz::AsBytes;
using popuran::fuzz::SplitInput;
namespace folder = popuran::folder;

constexpr std::size_t kMaxChars = 24;

const std::array<std::u16string_view, 20> kOddCharacters = {
    u"\u00DF", u"\u1E9E", u"\u03A3", u"\u03C3", u"\u03C2", u"\u212A",     u"k",
    u"\uFF21", u"\uFF41", u"\u0130", u"\u0131", u"\u017F", u"\U00010400", u"\U00010428",
    u"\xD800", u"\xDC2E", u"\u00C5", u"\u212B", u"\u3000", u".",
};

std::u16string ToText(std::string_view bytes) {
    std::u16string text;
    for (const char byte : bytes.substr(0, kMaxChars)) {
        const auto b = static_cast<unsigned char>(byte);
        if (b >= 0x20 && b < 0x7F) {
            text += static_cast<char16_t>(b);
        } else {
            text += kOddCharacters[b % kOddCharacters.size()];
        }
    }
    return text;
}

// Characters, each case-folded on its own: a surrogate pair is one character.
std::vector<std::u16string> Characters(std::u16string_view text) {
    std::vector<std::u16string> out;
    for (std::size_t i = 0; i < text.size();) {
        const bool pair = text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() &&
                          text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
        const std::size_t units = pair ? 2 : 1;
        out.push_back(folder::FoldCase(text.substr(i, units)));
        i += units;
    }
    return out;
}

// '*' any run of characters, '?' one character, anything else itself; memoised on (i, j).
class ReferenceMatcher {
public:
    ReferenceMatcher(std::vector<std::u16string> pattern, std::vector<std::u16string> name)
        : pattern_(std::move(pattern)),
          name_(std::move(name)),
          memo_((pattern_.size() + 1) * (name_.size() + 1), -1) {}

    bool Match(std::size_t i, std::size_t j) {
        std::int8_t& known = memo_[i * (name_.size() + 1) + j];
        if (known < 0) {
            known = Compute(i, j) ? 1 : 0;
        }
        return known == 1;
    }

private:
    bool Compute(std::size_t i, std::size_t j) {
        if (i == pattern_.size()) {
            return j == name_.size();
        }
        if (pattern_[i] == u"*") {
            return Match(i + 1, j) || (j < name_.size() && Match(i, j + 1));
        }
        if (j == name_.size()) {
            return false;
        }
        if (pattern_[i] == u"?" || pattern_[i] == name_[j]) {
            return Match(i + 1, j + 1);
        }
        return false;
    }

    std::vector<std::u16string> pattern_;
    std::vector<std::u16string> name_;
    std::vector<std::int8_t> memo_;
};

bool PlainMatch(std::u16string_view pattern, std::u16string_view name) {
    ReferenceMatcher matcher(Characters(pattern), Characters(name));
    return matcher.Match(0, 0);
}

// Each trailing ".*" may also stand for "no extension" when the name has no dot, so that "*.*"
// matches every name.
bool ReferenceMatch(std::u16string_view pattern, std::u16string_view name) {
    if (PlainMatch(pattern, name)) {
        return true;
    }
    if (name.find(u'.') != std::u16string_view::npos) {
        return false;
    }
    while (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == u".*") {
        pattern.remove_suffix(2);
        if (PlainMatch(pattern, name)) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string_view> parts = SplitInput(AsBytes(data, size), '|', 2);
    const std::u16string pattern = ToText(parts[0]);
    const std::u16string name = ToText(parts[1]);
    const bool expected = ReferenceMatch(pattern, name);
    if (folder::WildcardMatch(pattern, name) != expected) {
        std::fprintf(stderr, "pattern %s\nname    %s\nexpected %d\n",
                     popuran::fuzz::Hex(pattern).c_str(), popuran::fuzz::Hex(name).c_str(),
                     expected ? 1 : 0);
        FUZZ_CHECK(folder::WildcardMatch(pattern, name) == expected);
    }
    // "*.*" and "*" match every name.
    FUZZ_CHECK(folder::WildcardMatch(u"*.*", name));
    FUZZ_CHECK(folder::WildcardMatch(u"*", name));
    // Folding both sides first changes nothing.
    FUZZ_CHECK(folder::WildcardMatch(folder::FoldCase(pattern), folder::FoldCase(name)) ==
               expected);
    return 0;
}
