#include "filetype/extension_by_content.h"

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <new>
#include <string>

#include "folder/services/cp932.h"
#include "folder/services/text_search.h"

namespace popuran::filetype {

namespace {

using folder::Fail;
using folder::Result;

// Only this much of the start of a file decides text or binary and is matched against the
// signatures.
constexpr std::size_t kHeadLimit = 150000;
// The marker search reads the file in pieces of this size, so that a huge file needs no more
// memory than a small one.
constexpr std::size_t kPieceSize = std::size_t{1} << 20;

// True when the bytes of head from offset on spell letters (upper-case ASCII), each byte in
// upper or lower case. Compares one offset after another and stops at the first mismatch; an
// offset that is reached and lies past the head is a range error.
Result<bool> Spells(const std::string& head, std::size_t offset, std::string_view letters,
                    std::u16string_view path) {
    for (std::size_t i = 0; i < letters.size(); ++i) {
        const std::size_t at = offset + i;
        if (at >= head.size()) {
            return Fail(ERANGE, folder::NativePath(path));
        }
        const auto byte = static_cast<unsigned char>(head[at]);
        const auto upper = static_cast<unsigned char>(letters[i]);
        const auto lower = static_cast<unsigned char>(upper + ('a' - 'A'));
        if (byte != upper && byte != lower) {
            return false;
        }
    }
    return true;
}

struct Signature {
    std::size_t offset;
    std::string_view letters;
    std::u16string_view answer;
};

// The rows tried before and after the two-ending RIFF row, in their order.
constexpr std::array<Signature, 7> kRowsBeforeRiff = {{
    {6, "JFIF", u"jpg"},
    {0, "GIF", u"gif"},
    {0, "BM", u"bmp"},
    {0, "MZ", u"exe"},
    {0, "PK", u"zip"},
    {3, "LH", u"lzh"},
    {0, "MT", u"mid"},
}};
constexpr std::array<Signature, 3> kRowsAfterRiff = {{
    {1, "RA", u"ra"},
    {1, "PDF", u"pdf"},
    {0, "MSCF", u"cab"},
}};

// The answer of the first signature row that matches a binary head, or empty.
Result<std::u16string> MatchSignatures(const std::string& head, std::u16string_view path) {
    for (const Signature& row : kRowsBeforeRiff) {
        const Result<bool> hit = Spells(head, row.offset, row.letters, path);
        if (!hit) {
            return tl::unexpected(hit.error());
        }
        if (*hit) {
            return std::u16string(row.answer);
        }
    }
    // RIFF is compared once; then WAVE, and at its first mismatch AVI, at offset 8.
    const Result<bool> riff = Spells(head, 0, "RIFF", path);
    if (!riff) {
        return tl::unexpected(riff.error());
    }
    if (*riff) {
        const Result<bool> wave = Spells(head, 8, "WAVE", path);
        if (!wave) {
            return tl::unexpected(wave.error());
        }
        if (*wave) {
            return std::u16string(u"wav");
        }
        const Result<bool> avi = Spells(head, 8, "AVI", path);
        if (!avi) {
            return tl::unexpected(avi.error());
        }
        if (*avi) {
            return std::u16string(u"avi");
        }
    }
    for (const Signature& row : kRowsAfterRiff) {
        const Result<bool> hit = Spells(head, row.offset, row.letters, path);
        if (!hit) {
            return tl::unexpected(hit.error());
        }
        if (*hit) {
            return std::u16string(row.answer);
        }
    }
    return std::u16string();
}

bool IsHtml(std::string_view head) {
    const std::u16string text = folder::Cp932Decode(head);
    for (const std::u16string_view marker : {u"<html>", u"<body", u"<head", u"<title>"}) {
        if (folder::FindText(text, marker, 0, false) == folder::kNotFound) {
            return false;
        }
    }
    return true;
}

// Searches decoded text, fed piece by piece, for the marker texts. The last characters of each
// piece are kept in front of the next one, so a marker that straddles two pieces is found.
class MarkerSearch {
public:
    void Feed(std::u16string_view text) {
        window_.append(text);
        for (std::size_t i = 2; i < window_.size(); ++i) {
            if (window_[i] == u'3' && (window_[i - 1] == u'p' || window_[i - 1] == u'P') &&
                (window_[i - 2] == u'm' || window_[i - 2] == u'M')) {
                mp3_ = true;
                break;
            }
        }
        excel_ = excel_ || window_.find(kExcel) != std::u16string::npos;
        word_ = word_ || window_.find(kWord) != std::u16string::npos;
        if (window_.size() > kKeep) {
            window_.erase(0, window_.size() - kKeep);
        }
    }

    // No later text can change the answer once "mp3" is found.
    bool Settled() const { return mp3_; }

    std::u16string Answer() const {
        if (mp3_) {
            return u"mp3";
        }
        if (excel_) {
            return u"xls";
        }
        if (word_) {
            return u"doc";
        }
        return std::u16string();
    }

private:
    static constexpr std::u16string_view kExcel = u"Microsoft Excel";
    static constexpr std::u16string_view kWord = u"Microsoft Word";
    // One character short of the longest marker: enough to complete any marker that begins
    // in the previous piece, never enough to hold a whole one twice.
    static constexpr std::size_t kKeep = kExcel.size() - 1;

    std::u16string window_;
    bool mp3_ = false;
    bool excel_ = false;
    bool word_ = false;
};

// The length of the prefix of bytes that ends on a character boundary and leaves out a last
// byte that could be the lead byte of a character whose trail is in the next piece. The
// boundaries are those a decoding of the whole file finds, since the walk starts where the
// previous piece's last whole character ended.
std::size_t CompleteCharacters(const std::string& bytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t at = 0;
    while (bytes.size() - at >= 2) {
        at += folder::Cp932CharLength(data + at, bytes.size() - at);
    }
    return at;
}

// The marker answer for the whole file, read piece by piece.
Result<std::u16string> SearchMarkers(folder::FileServices& files, std::u16string_view path) {
    Result<std::unique_ptr<folder::InputFile>> input = files.OpenInput(path);
    if (!input) {
        return tl::unexpected(input.error());
    }
    MarkerSearch search;
    std::string bytes;  // a byte carried over from the previous piece, then the new piece
    while (!search.Settled()) {
        const std::size_t carried = bytes.size();
        bytes.resize(carried + kPieceSize);
        const Result<std::size_t> got = (*input)->Read(bytes.data() + carried, kPieceSize);
        if (!got) {
            return tl::unexpected(got.error());
        }
        bytes.resize(carried + *got);
        if (*got == 0) {
            search.Feed(folder::Cp932Decode(bytes));
            break;
        }
        const std::size_t complete = CompleteCharacters(bytes);
        search.Feed(folder::Cp932Decode(std::string_view(bytes).substr(0, complete)));
        bytes.erase(0, complete);
    }
    return search.Answer();
}

Result<std::u16string> Detect(folder::FileServices& files, std::u16string_view path) {
    const Result<std::int64_t> length = files.Length(path);
    if (!length) {
        return tl::unexpected(length.error());
    }
    // An empty file has no head to test; it is not even opened.
    if (*length <= 0) {
        return Fail(ERANGE, folder::NativePath(path));
    }
    const std::size_t wanted = static_cast<std::uint64_t>(*length) < kHeadLimit
                                   ? static_cast<std::size_t>(*length)
                                   : kHeadLimit;
    const Result<std::string> head = files.ReadHead(path, wanted);
    if (!head) {
        return tl::unexpected(head.error());
    }
    if (head->empty()) {
        return Fail(ERANGE, folder::NativePath(path));
    }
    if (head->find('\0') == std::string::npos) {
        return std::u16string(IsHtml(*head) ? u"html" : u"txt");
    }
    Result<std::u16string> signature = MatchSignatures(*head, path);
    if (!signature || !signature->empty()) {
        return signature;
    }
    return SearchMarkers(files, path);
}

}  // namespace

Result<std::u16string> ExtensionByContent(folder::FileServices& files, std::u16string_view path) {
    // A file too big for memory, or any other exception, fails this file's detection only.
    try {
        return Detect(files, path);
    } catch (const std::bad_alloc&) {
        return Fail(ENOMEM, std::string());
    } catch (const std::exception&) {
        return Fail(EIO, std::string());
    }
}

}  // namespace popuran::filetype
