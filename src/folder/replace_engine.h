// SearchPattern: finds a search text in a file's bytes without decoding them to a text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "folder/services/encodings.h"

namespace popuran::folder {

// Where a match stands in the bytes: [begin, end).
struct ByteSpan {
    std::size_t begin = 0;
    std::size_t end = 0;
};

// The search text compiled for byte-level search in one encoding. A match is exactly what
// FindText would find in the decoded text: it starts and ends on character boundaries, with
// case ignored it compares simple case foldings, and both forms of a two-form character (see
// SameCharacter) match either. Works on a window of the file at a time: a match never reaches
// past the window's end, and `resume` tells where the next window has to begin. UTF-16 windows
// start at an even offset of the file.
class SearchPattern {
public:
    SearchPattern(std::u16string_view search, bool case_sensitive,
                  Encoding encoding = Encoding::kCp932);

    // No match is ever found for an empty search text.
    bool Empty() const { return units_.empty(); }
    // The longest match in bytes.
    std::size_t MaxMatchBytes() const { return max_match_bytes_; }
    // True when the search text has one code only, so that a plain byte search finds it.
    bool ByteExact() const { return exact_; }
    // The bytes every match is, when ByteExact().
    const std::string& Bytes() const { return encoded_; }
    Encoding TextEncoding() const { return encoding_; }

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
    // FindUnits for the encodings other than code page 932.
    bool FindDecoded(std::string_view bytes, std::size_t from, bool final, ByteSpan& match,
                     std::size_t& resume) const;
    // The value the search compares for the unit at bytes[q]; sets its length.
    char32_t UnitAt(std::string_view bytes, std::size_t q, std::size_t& length) const;
    void CompileOther(std::u16string_view search);
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

    Encoding encoding_ = Encoding::kCp932;
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

// The compiled pattern of search in the encoding, kept for the calling thread until it asks for
// another text.
const SearchPattern& PatternFor(const std::u16string& search, bool case_sensitive,
                                Encoding encoding = Encoding::kCp932);

}  // namespace popuran::folder
