// Wildcard matching of file names: '*', '?', letter case ignored, and the ".*" rule.
#include "folder/services/wildcard.h"

#include <cstddef>
#include <string>
#include <string_view>

#include "folder/services/code_units.h"
#include "folder/services/text_search.h"

namespace popuran::folder {

namespace {

// --- Wildcards --------------------------------------------------------------------------------

// Code units of the character at s[i]: a surrogate pair is one character.
std::size_t CharLength(std::u16string_view s, std::size_t i) {
    return IsHighSurrogate(s[i]) && i + 1 < s.size() && IsLowSurrogate(s[i + 1]) ? 2 : 1;
}

// Both texts already case-folded. The greedy algorithm: on a mismatch only the last '*' is
// widened by one character, so the work is at most pattern length times name length.
bool MatchFolded(std::u16string_view pattern, std::u16string_view name) {
    constexpr std::size_t kNone = std::u16string_view::npos;
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t star_p = kNone;
    std::size_t star_n = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            star_p = ++p;
            star_n = n;
            continue;
        }
        if (p < pattern.size()) {
            const std::size_t name_len = CharLength(name, n);
            if (pattern[p] == u'?') {
                ++p;
                n += name_len;
                continue;
            }
            const std::size_t pattern_len = CharLength(pattern, p);
            if (pattern_len == name_len &&
                pattern.substr(p, pattern_len) == name.substr(n, name_len)) {
                p += pattern_len;
                n += name_len;
                continue;
            }
        }
        if (star_p == kNone) {
            return false;
        }
        star_n += CharLength(name, star_n);
        n = star_n;
        p = star_p;
    }
    while (p < pattern.size() && pattern[p] == u'*') {
        ++p;
    }
    return p == pattern.size();
}

bool MatchFoldedWithDotRule(std::u16string_view pattern, std::u16string_view name) {
    if (MatchFolded(pattern, name)) {
        return true;
    }
    if (name.find(u'.') != std::u16string_view::npos) {
        return false;
    }
    // A trailing ".*" also stands for "no extension at all".
    while (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == u".*") {
        pattern.remove_suffix(2);
        if (MatchFolded(pattern, name)) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool WildcardMatch(std::u16string_view pattern, std::u16string_view name) {
    return MatchFoldedWithDotRule(FoldCase(pattern), FoldCase(name));
}

WildcardMatcher::WildcardMatcher(std::u16string_view pattern)
    : folded_(FoldCase(pattern)), all_(folded_ == u"*" || folded_ == u"*.*") {}

bool WildcardMatcher::Matches(std::u16string_view name) const {
    return all_ || MatchFoldedWithDotRule(folded_, FoldCase(name));
}

}  // namespace popuran::folder
