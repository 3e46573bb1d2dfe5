// EncodingDetector: which encoding a file's bytes are in, read piece by piece.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "folder/services/encodings.h"

namespace popuran::folder {

struct Detection {
    enum class Kind {
        kFound,      // read in `encoding`
        kUncertain,  // any of `plausible` (two or more) may be right
        kOther,      // another encoding (ISO-2022-JP, UTF-32): to be left alone
    };
    Kind kind = Kind::kFound;
    Encoding encoding = Encoding::kCp932;  // when uncertain, the likeliest
    std::vector<Encoding> plausible;
    bool ascii_only = false;  // no byte above 0x7F (found as UTF-8)
    const char* other = "";   // kOther: its name for ICU
};

// Takes a file's bytes in order, a window at a time, and tells its encoding. First the byte order
// mark; then, for code page 932, EUC-JP and UTF-8, how many bytes each fails to read (faults)
// and how much the characters read look like Japanese text (likelihood). An encoding that
// falls far behind is dropped early; once code page 932 alone is left, nothing more can change
// the answer and Settled() turns true.
class EncodingDetector {
public:
    EncodingDetector();

    // window holds the file's bytes from offset `base` on; base may not pass Consumed(). final:
    // the window reaches the end of the file.
    void Feed(std::string_view window, std::uint64_t base, bool final);
    // The offset up to which every reader has read: the window may drop the bytes before it.
    std::uint64_t Consumed() const;
    // True when more bytes cannot change the answer.
    bool Settled() const { return settled_; }
    // The answer for the bytes fed so far (call after the final Feed).
    Detection Result() const;

private:
    struct Reader {
        Encoding encoding;
        bool alive = true;
        std::uint64_t at = 0;  // the next byte to read, as an offset in the file
        std::int64_t score = 0;
        std::int64_t faults = 0;
        std::int64_t wide = 0;  // characters read that are not ASCII
    };
    void ReadOn(Reader& reader, const unsigned char* p, std::size_t size, std::uint64_t base,
                bool final);
    void DropLosers();

    std::array<Reader, 3> readers_;    // code page 932, UTF-8, EUC-JP
    Encoding bom_ = Encoding::kCp932;  // kCp932: no byte order mark
    bool bom_seen_ = false;
    const char* other_ = nullptr;  // the UTF-32 byte order mark's encoding
    bool escape_ = false;          // ESC $ or ESC ( as ISO-2022-JP uses them
    bool started_ = false;
    bool settled_ = false;
};

// The likelihood of a character in Japanese text: positive for kana, common kanji and
// Japanese punctuation, negative for what such text seldom holds. Exposed for the tests.
int CharacterScore(char32_t c);

}  // namespace popuran::folder
