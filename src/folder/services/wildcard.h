// Wildcard matching of file names.
#pragma once

#include <string>
#include <string_view>

namespace popuran::folder {

// True when name matches the wildcard pattern: '*' any run of characters (none, dots
// included), '?' exactly one, letter case ignored (simple case folding). A pattern ending in
// ".*" also matches a name without a dot, so "*.*" matches every name.
bool WildcardMatch(std::u16string_view pattern, std::u16string_view name);

// One pattern applied to many names: folded once, and the patterns that take every name skip
// the matching.
class WildcardMatcher {
public:
    explicit WildcardMatcher(std::u16string_view pattern);
    bool Matches(std::u16string_view name) const;
    // True when every name matches ("*" and "*.*").
    bool MatchesAll() const { return all_; }

private:
    std::u16string folded_;
    bool all_;
};

}  // namespace popuran::folder
