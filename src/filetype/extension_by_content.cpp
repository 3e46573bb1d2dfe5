#include "filetype/extension_by_content.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "folder/services/cp932.h"
#include "folder/services/path_helpers.h"
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

// Every answer of the rules, the database aside.
constexpr std::array<std::u16string_view, 17> kRuleAnswers = {
    u"html", u"txt", u"jpg", u"gif", u"bmp", u"exe", u"zip", u"lzh", u"mid",
    u"wav",  u"avi", u"ra",  u"pdf", u"cab", u"mp3", u"xls", u"doc"};

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

// A page is told by its document type or by its opening html tag, whose name a blank, a line
// end or the tag's end follows (so "<html lang=...>" counts and "<htmlfoo>" does not).
bool IsHtml(std::string_view head) {
    const std::u16string text = folder::FoldCase(folder::Cp932Decode(head));
    if (text.find(u"<!doctype html") != std::u16string::npos) {
        return true;
    }
    constexpr std::u16string_view kTag = u"<html";
    for (std::size_t at = text.find(kTag); at != std::u16string::npos;
         at = text.find(kTag, at + 1)) {
        const std::size_t next = at + kTag.size();
        if (next < text.size() &&
            std::u16string_view(u" \t\r\n>").find(text[next]) != std::u16string_view::npos) {
            return true;
        }
    }
    return false;
}

// The length of the ID3v2 tag at the start of head (header, frames and footer), or 0 when none
// stands there: "ID3", a major version from 2 to 4, a revision other than 0xFF, flags, and a
// size in four bytes of seven bits each.
std::size_t Id3TagLength(std::string_view head) {
    if (head.size() < 10 || head.substr(0, 3) != "ID3") {
        return 0;
    }
    const auto byte = [head](std::size_t i) { return static_cast<unsigned char>(head[i]); };
    if (byte(3) < 2 || byte(3) > 4 || byte(4) == 0xFF) {
        return 0;
    }
    std::size_t size = 0;
    for (std::size_t i = 6; i < 10; ++i) {
        if (byte(i) >= 0x80) {
            return 0;
        }
        size = (size << 7) | byte(i);
    }
    const bool footer = byte(3) == 4 && (byte(5) & 0x10) != 0;
    return 10 + size + (footer ? 10 : 0);
}

// The length in bytes of the MPEG audio Layer III frame whose header starts at `at`, or 0 when
// no valid one stands there: eleven sync bits, a known version, layer III, a bitrate from the
// table (not "free"), a known sampling rate and an emphasis that is not reserved.
std::size_t Layer3FrameLength(std::string_view head, std::size_t at) {
    if (head.size() < 4 || at > head.size() - 4) {
        return 0;
    }
    const auto byte = [head, at](std::size_t i) {
        return static_cast<unsigned char>(head[at + i]);
    };
    const unsigned version = (byte(1) >> 3) & 3u;  // 0: 2.5, 1: reserved, 2: 2, 3: 1
    const unsigned layer = (byte(1) >> 1) & 3u;    // 1: Layer III
    const unsigned bitrate = byte(2) >> 4;
    const unsigned rate = (byte(2) >> 2) & 3u;
    const unsigned padding = (byte(2) >> 1) & 1u;
    if (byte(0) != 0xFF || (byte(1) & 0xE0) != 0xE0 || version == 1 || layer != 1 || bitrate == 0 ||
        bitrate == 15 || rate == 3 || (byte(3) & 3u) == 2) {
        return 0;
    }
    constexpr std::array<unsigned, 15> kMpeg1Kbps = {0,   32,  40,  48,  56,  64,  80, 96,
                                                     112, 128, 160, 192, 224, 256, 320};
    constexpr std::array<unsigned, 15> kMpeg2Kbps = {0,  8,  16, 24,  32,  40,  48, 56,
                                                     64, 80, 96, 112, 128, 144, 160};
    constexpr std::array<unsigned, 3> kMpeg1Hz = {44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    const unsigned kbps = (mpeg1 ? kMpeg1Kbps : kMpeg2Kbps)[bitrate];
    // MPEG 2 halves the rates of MPEG 1, and 2.5 quarters them.
    const unsigned hz = kMpeg1Hz[rate] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    // A frame holds 1152 samples in MPEG 1 and 576 after it.
    return (mpeg1 ? 144000u : 72000u) * kbps / hz + padding;
}

enum class Frames { kNone, kTwo, kPastHead };

// Whether a Layer III frame header stands at `at` and another of the same stream where the first
// frame ends; kPastHead when the head ends before both could be seen.
Frames FramePairAt(std::string_view head, std::size_t at) {
    if (at + 4 > head.size()) {
        return Frames::kPastHead;
    }
    const std::size_t length = Layer3FrameLength(head, at);
    if (length == 0) {
        return Frames::kNone;
    }
    const std::size_t next = at + length;
    if (next + 4 > head.size()) {
        return Frames::kPastHead;
    }
    // The second frame keeps the version, the layer and the sampling rate of the first.
    const bool same_stream = ((head[at + 1] ^ head[next + 1]) & 0xFE) == 0 &&
                             ((head[at + 2] ^ head[next + 2]) & 0x0C) == 0;
    return same_stream && Layer3FrameLength(head, next) != 0 ? Frames::kTwo : Frames::kNone;
}

// MP3 audio: an ID3v2 tag at the start, or two frames that follow one another at the start or
// right after the tag (where some taggers leave zero bytes). A tag too long for the head to show
// the frames after it is evidence enough.
bool IsMp3(std::string_view head) {
    std::size_t at = Id3TagLength(head);
    const bool tagged = at != 0;
    while (tagged && at < head.size() && head[at] == '\0') {
        ++at;
    }
    const Frames frames = FramePairAt(head, at);
    return frames == Frames::kTwo || (tagged && frames == Frames::kPastHead);
}

// Compound documents (the container of older office files) start with these bytes; only in
// them do the application names mark the kind of document.
bool IsCompoundDocument(std::string_view head) {
    return head.substr(0, 8) == std::string_view("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
}

// Searches decoded text, fed piece by piece, for the application names. The last characters of
// each piece are kept in front of the next one, so a name that straddles two pieces is found.
class MarkerSearch {
public:
    void Feed(std::u16string_view text) {
        window_.append(text);
        excel_ = excel_ || window_.find(kExcel) != std::u16string::npos;
        word_ = word_ || window_.find(kWord) != std::u16string::npos;
        if (window_.size() > kKeep) {
            window_.erase(0, window_.size() - kKeep);
        }
    }

    // No later text can change the answer once "Microsoft Excel" is found.
    bool Settled() const { return excel_; }

    std::u16string Answer() const {
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
    // One character short of the longest name: enough to complete any name that begins in the
    // previous piece, never enough to hold a whole one twice.
    static constexpr std::size_t kKeep = kExcel.size() - 1;

    std::u16string window_;
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

// The application named in the whole file, read piece by piece.
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

// Of the extensions the database lists, the one the file already carries (so it keeps its
// name), else one that the rules above also give (so a type is named alike whichever way it was
// found: "jpg" for every JPEG), else the usual one; empty when none is listed.
std::u16string NameFromDatabase(const std::vector<std::u16string>& listed,
                                std::u16string_view path) {
    const std::u16string name = folder::FileNameOf(path);
    const std::size_t dot = name.rfind(u'.');
    if (dot != std::u16string::npos) {
        std::u16string current = name.substr(dot + 1);
        for (char16_t& c : current) {
            if (c >= u'A' && c <= u'Z') {
                c = static_cast<char16_t>(c - u'A' + u'a');
            }
        }
        if (std::find(listed.begin(), listed.end(), current) != listed.end()) {
            return current;
        }
    }
    for (const std::u16string& extension : listed) {
        if (std::find(kRuleAnswers.begin(), kRuleAnswers.end(), extension) != kRuleAnswers.end()) {
            return extension;
        }
    }
    return listed.empty() ? std::u16string() : listed.front();
}

// Text is "txt", unless the database finds a picture written as text (SVG, XPM, PBM) or
// PGP armour: formats it knows by their opening. Its other answers for text guess at words and
// are too often wrong (reStructuredText as HP-GL, Pascal as Algol 68, Shift_JIS text as a DOS
// program) to rename a file by.
std::u16string NameOfText(MagicDatabase& database, std::string_view head,
                          std::u16string_view path) {
    // The database is slow on text, so it is asked only about text that opens like one of those
    // formats, which it knows only at the very start: markup, PGP armour, XPM, PBM/PGM/PPM (whose
    // raw forms may hold no zero byte).
    const bool may_be_known =
        head.starts_with('<') || head.starts_with("-----BEGIN PGP") ||
        head.starts_with("/* XPM */") ||
        (head.size() > 2 && head[0] == 'P' && head[1] >= '1' && head[1] <= '6' &&
         (head[2] == ' ' || head[2] == '\t' || head[2] == '\r' || head[2] == '\n'));
    if (!may_be_known) {
        return u"txt";
    }
    const MagicAnswer answer = database.Ask(head, true);
    const bool fixed_opening = answer.mime_type.starts_with("image/") ||
                               answer.mime_type.find("pgp") != std::string::npos ||
                               answer.mime_type.find("PGP") != std::string::npos;
    if (!fixed_opening || answer.extensions.empty()) {
        return u"txt";
    }
    return NameFromDatabase(answer.extensions, path);
}

// A zip archive is "zip", unless the database names a format built on zip (a Java archive, an
// office document, an e-book), whose own extension is the one that opens it.
std::u16string NameOfZip(MagicDatabase& database, std::string_view head, std::u16string_view path) {
    const std::vector<std::u16string> listed = database.Ask(head, false).extensions;
    if (listed.empty() || std::find(listed.begin(), listed.end(), u"zip") != listed.end()) {
        return u"zip";
    }
    return NameFromDatabase(listed, path);
}

Result<std::u16string> Detect(folder::FileServices& files, std::u16string_view path,
                              MagicDatabase* database) {
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
        if (IsHtml(*head)) {
            return std::u16string(u"html");
        }
        return database == nullptr ? std::u16string(u"txt") : NameOfText(*database, *head, path);
    }
    Result<std::u16string> signature = MatchSignatures(*head, path);
    if (signature && *signature == u"zip" && database != nullptr) {
        return NameOfZip(*database, *head, path);
    }
    if (!signature || !signature->empty()) {
        return signature;
    }
    if (IsMp3(*head)) {
        return std::u16string(u"mp3");
    }
    if (IsCompoundDocument(*head)) {
        Result<std::u16string> application = SearchMarkers(files, path);
        if (!application || !application->empty()) {
            return application;
        }
    }
    if (database == nullptr) {
        return std::u16string();
    }
    return NameFromDatabase(database->Ask(*head, false).extensions, path);
}

}  // namespace

Result<std::u16string> ExtensionByContent(folder::FileServices& files, std::u16string_view path,
                                          MagicDatabase* database) {
    // A file too big for memory, or any other exception, fails this file's detection only.
    try {
        return Detect(files, path, database);
    } catch (const std::bad_alloc&) {
        return Fail(ENOMEM, std::string());
    } catch (const std::exception&) {
        return Fail(EIO, std::string());
    }
}

}  // namespace popuran::filetype
