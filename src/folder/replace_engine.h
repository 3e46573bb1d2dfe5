// SearchPattern: finds a search text in code page 932 bytes without decoding them to a text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace popuran::folder {

// Where a match stands in the bytes: [begin, end).
struct ByteSpan {
    std::size_t begin = 0;
    std::size_t end = 0;
};

// The search text compiled for byte-level search. A match is exactly what FindText would find
// in the decoded text: it starts and ends on character boundaries, and with case ignored it
// compares simple case foldings. Works on a window of the file at a time: a match never
// reaches past the window's end, and `resume` tells where the next window has to begin.
class SearchPattern {
public:
    SearchPattern(std::u16string_view search, bool case_sensitive);

    // No match is ever found for an empty search text.
    bool Empty() const { return units_.empty(); }
    // The longest match in bytes.
    std::size_t MaxMatchBytes() const { return max_match_bytes_; }
    // True when the search text has one code only, so that a plain byte search finds it.
    bool ByteExact() const { return exact_; }

    // The first match in bytes[from, size) that starts on a character boundary; from must be
    // one. final says that the bytes end where the file ends. When there is none, returns false
    // and sets resume to a character boundary such that no match starts before it: the next
    // window must hold the bytes from resume on (all of them, when final).
    bool Find(std::string_view bytes, std::size_t from, bool final, ByteSpan& match,
              std::size_t& resume) const;

private:
    bool FindExact(std::string_view bytes, std::size_t from, bool final, ByteSpan& match,
                   std::size_t& resume) const;
    bool FindUnits(std::string_view bytes, std::size_t from, bool final, ByteSpan& match,
                   std::size_t& resume) const;
    // The first place in hay where encoded_ stands, or nullptr.
    const char* FindEncoded(const char* hay, std::size_t length) const;
    // True when bytes hold a byte that every match must hold.
    bool MayHold(std::string_view bytes) const;
    // The first character boundary >= limit, walking from the boundary q.
    std::size_t WalkTo(std::string_view bytes, std::size_t q, std::size_t limit) const;
    // The first character boundary >= p, knowing that q <= p is one.
    std::size_t NextBoundary(std::string_view bytes, std::size_t q, std::size_t p) const;
    // Where to go on in a window without a match from `from` on.
    std::size_t ResumePoint(std::string_view bytes, std::size_t from, bool final) const;

    bool case_sensitive_ = true;
    bool exact_ = false;
    std::string encoded_;   // the search text's bytes, when exact_
    std::size_t rare_ = 0;  // the places of the two rarest bytes in encoded_
    std::size_t rare2_ = 0;
    std::vector<char32_t> units_;        // the search text's code points (folded without case)
    std::vector<std::int32_t> kmp_;      // the failure function over units_
    std::array<bool, 256> key_bytes_{};  // every match holds one of these bytes
    std::size_t key_count_ = 0;
    unsigned char single_key_ = 0;
    std::size_t max_match_bytes_ = 0;
    mutable std::vector<std::size_t> starts_;  // where the last units_.size() units began
};

// The compiled pattern of search, kept for the calling thread until it asks for another text.
const SearchPattern& PatternFor(const std::u16string& search, bool case_sensitive);

}  // namespace popuran::folder
