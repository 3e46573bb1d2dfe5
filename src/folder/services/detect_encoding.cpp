// Encoding detection by byte order mark, faults and the likelihood of Japanese text.
#include "folder/services/detect_encoding.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "folder/services/cp932.h"

namespace popuran::folder {

namespace {

// A byte or sequence that a reader cannot read costs this much likelihood.
constexpr int kFaultScore = -20;
// Marks a table entry that is no character.
constexpr std::int8_t kFault = -128;
// Two readings whose likelihoods differ by less than this are both plausible.
constexpr std::int64_t kClearMargin = 6;
// A valid UTF-8 reading gives way only to one likelier by this much, and by two for each of its
// characters beyond ASCII.
constexpr std::int64_t kUtf8Margin = 8;
// A reader this far behind the best one is dropped before the end of the file.
constexpr std::int64_t kDropMargin = 4096;
// The readers go on together a block at a time; the first block is small.
constexpr std::size_t kFirstBlock = std::size_t{4} << 10;
constexpr std::size_t kBlock = std::size_t{64} << 10;

enum ReaderIndex : std::size_t { kReadCp932, kReadUtf8, kReadEuc, kReadUtf16 };

struct ScoreTables {
    std::vector<std::int8_t> bmp = std::vector<std::int8_t>(0x10000, 0);  // CharacterScore
    std::array<std::int8_t, 256> cp932_single{};
    std::vector<std::int8_t> cp932_pair = std::vector<std::int8_t>(0x10000, kFault);
    std::array<bool, 256> cp932_lead{};
    std::vector<std::int8_t> euc_two = std::vector<std::int8_t>(94 * 94, kFault);
    std::vector<std::int8_t> euc_three = std::vector<std::int8_t>(94 * 94, kFault);
    std::array<std::int8_t, 63> euc_kana{};
};

bool IsJisLevel1Kanji(char32_t c) {
    const std::uint16_t code = Cp932CodeOf(static_cast<char16_t>(c));
    // Level 1 ends at 98 72; level 2 begins at 98 9F.
    const unsigned lead = code != 0xFFFF ? code >> 8 : 0u;
    const unsigned trail = code & 0xFFu;
    return lead >= 0x88 && (lead < 0x98 || (lead == 0x98 && trail <= 0x72));
}

int BaseScore(char32_t c) {
    if (c < 0x80) {
        return 0;
    }
    if ((c >= 0x3000 && c <= 0x30FF) || (c >= 0xFF01 && c <= 0xFF5E)) {
        return 3;  // kana, Japanese punctuation, full-width letters and digits
    }
    if (c >= 0xFF61 && c <= 0xFF9F) {
        return -2;  // half-width katakana: real, but seldom many in a row
    }
    if (c >= 0xC0 && c <= 0xFF) {
        return 1;  // accented Latin letters
    }
    if ((c >= 0xA0 && c <= 0xBF) || (c >= 0x370 && c <= 0x4FF) || (c >= 0x2010 && c <= 0x27BF)) {
        return 0;  // Latin-1 signs, Greek, Cyrillic, punctuation and symbols
    }
    if ((c >= 0x80 && c <= 0x9F) || (c >= 0xE000 && c <= 0xF8FF)) {
        return -6;  // control codes and private use
    }
    if (c < 0x800) {
        return -3;  // other alphabets: what a two-byte UTF-8 reading of other text gives
    }
    return -2;
}

std::unique_ptr<ScoreTables> BuildScoreTables() {
    auto t = std::make_unique<ScoreTables>();
    for (char32_t c = 0; c < 0x10000; ++c) {
        t->bmp[c] = static_cast<std::int8_t>(BaseScore(c));
    }
    for (char32_t c = 0x4E00; c <= 0x9FFF; ++c) {
        t->bmp[c] = IsJisLevel1Kanji(c) ? 2 : -1;
    }
    auto score = [&t](char32_t c) -> std::int8_t {
        return IsEscape(c) ? kFault : c < 0x10000 ? t->bmp[c] : -2;
    };
    for (unsigned b0 = 0x80; b0 < 0x100; ++b0) {
        const unsigned char one[2] = {static_cast<unsigned char>(b0), 0};
        char32_t value = 0;
        DecodeUnit(Encoding::kCp932, one, 1, value);
        t->cp932_single[b0] = score(value);
        for (unsigned b1 = 0; b1 < 0x100; ++b1) {
            const unsigned char two[2] = {static_cast<unsigned char>(b0),
                                          static_cast<unsigned char>(b1)};
            if (Cp932CharLength(two, 2) == 2) {
                t->cp932_lead[b0] = true;
                DecodeUnit(Encoding::kCp932, two, 2, value);
                t->cp932_pair[b0 << 8 | b1] = score(value);
                // The NEC-selected rows repeat the IBM extension, which the system's own
                // converter writes instead: text seldom holds them.
                if ((b0 == 0xED || b0 == 0xEE) && t->cp932_pair[b0 << 8 | b1] != kFault) {
                    t->cp932_pair[b0 << 8 | b1] = -4;
                }
            }
        }
    }
    for (unsigned i = 0; i < 94 * 94; ++i) {
        const unsigned char three[3] = {0x8F, static_cast<unsigned char>(0xA1 + i / 94),
                                        static_cast<unsigned char>(0xA1 + i % 94)};
        char32_t value = 0;
        DecodeUnit(Encoding::kEucJp, three + 1, 2, value);
        t->euc_two[i] = score(value);
        DecodeUnit(Encoding::kEucJp, three, 3, value);
        t->euc_three[i] = score(value);
    }
    for (unsigned i = 0; i < 63; ++i) {
        const unsigned char two[2] = {0x8E, static_cast<unsigned char>(0xA1 + i)};
        char32_t value = 0;
        DecodeUnit(Encoding::kEucJp, two, 2, value);
        t->euc_kana[i] = score(value);
    }
    return t;
}

const ScoreTables& Scores() {
    static const std::unique_ptr<ScoreTables> tables = BuildScoreTables();
    return *tables;
}

bool AllAscii(const unsigned char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return (word & 0x8080808080808080ull) == 0;
}

constexpr bool InGr(unsigned b) { return b >= 0xA1 && b <= 0xFE; }
constexpr bool IsContinuation(unsigned b) { return (b & 0xC0) == 0x80; }

// The tallies of one reader over bytes[i, end); returns where it stopped.
struct Tally {
    std::int64_t score = 0;
    std::int64_t faults = 0;
    std::int64_t wide = 0;
    void Add(std::int8_t s) {
        ++wide;
        if (s == kFault) {
            ++faults;
            score += kFaultScore;
        } else {
            score += s;
        }
    }
};

std::size_t ReadCp932(const unsigned char* p, std::size_t i, std::size_t end, std::size_t size,
                      Tally& tally) {
    const ScoreTables& t = Scores();
    while (i < end) {
        if (i + 8 <= end && AllAscii(p + i)) {
            i += 8;
            continue;
        }
        const unsigned b = p[i];
        if (b < 0x80) {
            ++i;
        } else if (t.cp932_lead[b] && i + 1 < size && t.cp932_pair[b << 8 | p[i + 1]] != kFault) {
            tally.Add(t.cp932_pair[b << 8 | p[i + 1]]);
            i += 2;
        } else if (t.cp932_lead[b] && i + 1 < size && p[i + 1] >= 0x40 && p[i + 1] != 0x7F &&
                   p[i + 1] <= 0xFC) {
            tally.Add(kFault);  // a pair without a character
            i += 2;
        } else {
            tally.Add(t.cp932_single[b]);
            ++i;
        }
    }
    return i;
}

std::size_t ReadEuc(const unsigned char* p, std::size_t i, std::size_t end, std::size_t size,
                    Tally& tally) {
    const ScoreTables& t = Scores();
    while (i < end) {
        if (i + 8 <= end && AllAscii(p + i)) {
            i += 8;
            continue;
        }
        const unsigned b = p[i];
        if (b < 0x80) {
            ++i;
        } else if (InGr(b) && i + 1 < size && InGr(p[i + 1])) {
            tally.Add(t.euc_two[(b - 0xA1) * 94 + p[i + 1] - 0xA1]);
            i += 2;
        } else if (b == 0x8E && i + 1 < size && p[i + 1] >= 0xA1 && p[i + 1] <= 0xDF) {
            tally.Add(t.euc_kana[p[i + 1] - 0xA1]);
            i += 2;
        } else if (b == 0x8F && i + 2 < size && InGr(p[i + 1]) && InGr(p[i + 2])) {
            tally.Add(t.euc_three[(p[i + 1] - 0xA1) * 94 + p[i + 2] - 0xA1]);
            i += 3;
        } else {
            tally.Add(kFault);
            ++i;
        }
    }
    return i;
}

std::size_t ReadUtf8(const unsigned char* p, std::size_t i, std::size_t end, std::size_t size,
                     Tally& tally) {
    const ScoreTables& t = Scores();
    while (i < end) {
        if (i + 8 <= end && AllAscii(p + i)) {
            i += 8;
            continue;
        }
        const unsigned b = p[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        // The common case first: a three-byte sequence (all of the kana and kanji).
        if (b >= 0xE1 && b <= 0xEC && i + 2 < size && IsContinuation(p[i + 1]) &&
            IsContinuation(p[i + 2])) {
            tally.Add(t.bmp[(b & 0x0Fu) << 12 | (p[i + 1] & 0x3Fu) << 6 | (p[i + 2] & 0x3Fu)]);
            i += 3;
            continue;
        }
        char32_t value = 0;
        const std::size_t n = DecodeUnit(Encoding::kUtf8, p + i, size - i, value);
        tally.Add(IsEscape(value) ? kFault : value < 0x10000 ? t.bmp[value] : -2);
        i += n;
    }
    return i;
}

std::size_t ReadUtf16(const unsigned char* p, std::size_t i, std::size_t end, std::size_t size,
                      bool big, Tally& tally) {
    const ScoreTables& t = Scores();
    const std::size_t hi = big ? 0 : 1;
    while (i < end) {
        if (i + 1 >= size) {
            tally.Add(kFault);  // an odd last byte
            ++i;
            continue;
        }
        const char32_t u = char32_t{p[i + hi]} << 8 | p[i + 1 - hi];
        if (u < 0x80) {
            i += 2;
            continue;
        }
        if (u >= 0xD800 && u <= 0xDFFF) {
            char32_t value = 0;
            const std::size_t n =
                DecodeUnit(big ? Encoding::kUtf16Be : Encoding::kUtf16Le, p + i, size - i, value);
            tally.Add(IsEscape(value) ? kFault : -2);
            i += n;
            continue;
        }
        tally.Add(t.bmp[u]);
        i += 2;
    }
    return i;
}

}  // namespace

int CharacterScore(char32_t c) { return c < 0x10000 ? Scores().bmp[c] : -2; }

EncodingDetector::EncodingDetector()
    : readers_{Reader{Encoding::kCp932}, Reader{Encoding::kUtf8}, Reader{Encoding::kEucJp}} {
    Scores();
}

void EncodingDetector::ReadOn(Reader& reader, const unsigned char* p, std::size_t size,
                              std::uint64_t base, bool final) {
    const auto start = static_cast<std::size_t>(reader.at - base);
    // A character that may go on past the window waits for the next one.
    const std::size_t keep = MaxUnitBytes(reader.encoding);
    const std::size_t end = final ? size : size > keep ? size - keep : 0;
    if (start >= end) {
        return;
    }
    Tally tally;
    std::size_t stop = start;
    switch (reader.encoding) {
        case Encoding::kCp932:
            stop = ReadCp932(p, start, end, size, tally);
            break;
        case Encoding::kEucJp:
            stop = ReadEuc(p, start, end, size, tally);
            break;
        case Encoding::kUtf16Le:
        case Encoding::kUtf16Be:
            stop = ReadUtf16(p, start, end, size, reader.encoding == Encoding::kUtf16Be, tally);
            break;
        default:
            stop = ReadUtf8(p, start, end, size, tally);
            break;
    }
    reader.at = base + stop;
    reader.score += tally.score;
    reader.faults += tally.faults;
    reader.wide += tally.wide;
}

void EncodingDetector::Feed(std::string_view window, std::uint64_t base, bool final) {
    const auto* p = reinterpret_cast<const unsigned char*>(window.data());
    const std::size_t size = window.size();
    if (!started_) {
        if (size < 4 && !final) {
            return;  // The byte order mark is told by the first four bytes.
        }
        started_ = true;
        auto starts = [&](std::string_view mark) { return window.substr(0, mark.size()) == mark; };
        if (starts(std::string_view("\xFF\xFE\0\0", 4))) {
            other_ = "UTF-32LE";
        } else if (starts(std::string_view("\0\0\xFE\xFF", 4))) {
            other_ = "UTF-32BE";
        }
        if (other_ != nullptr) {
            settled_ = true;
            return;
        }
        for (const Encoding e : {Encoding::kUtf8Bom, Encoding::kUtf16Le, Encoding::kUtf16Be}) {
            if (starts(ByteOrderMark(e))) {
                bom_seen_ = true;
                bom_ = e;
            }
        }
        if (bom_seen_) {
            // Only the encoding that the mark names is read.
            readers_[kReadCp932].alive = false;
            readers_[kReadEuc].alive = false;
            readers_[kReadUtf8].encoding = bom_;
            readers_[kReadUtf8].at = ByteOrderMark(bom_).size();
        }
    }
    if (settled_) {
        return;
    }
    if (!escape_ && !bom_seen_) {
        // ISO-2022-JP is seven-bit: its escape sequences tell it from ASCII text.
        for (const void* hit = std::memchr(p, 0x1B, size); hit != nullptr;) {
            const auto at = static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - p);
            if (at + 1 < size && (p[at + 1] == '$' || p[at + 1] == '(')) {
                escape_ = true;
                break;
            }
            hit = at + 1 < size ? std::memchr(p + at + 1, 0x1B, size - at - 1) : nullptr;
        }
    }
    // A block at a time, so that a reading that falls behind is dropped early: most files are
    // settled within their first few kilobytes.
    for (std::size_t limit = 0; limit < size && !settled_;) {
        limit = std::min(size, std::max(limit, static_cast<std::size_t>(Consumed() - base)) +
                                   (Consumed() == 0 ? kFirstBlock : kBlock));
        const bool last = final && limit == size;
        for (Reader& reader : readers_) {
            if (reader.alive) {
                ReadOn(reader, p, limit, base, last);
            }
        }
        DropLosers();
        if (!last && limit == size) {
            break;
        }
    }
}

void EncodingDetector::DropLosers() {
    const Reader* best = nullptr;
    std::size_t alive = 0;
    for (const Reader& r : readers_) {
        if (r.alive) {
            ++alive;
            if (best == nullptr || r.score > best->score) {
                best = &r;
            }
        }
    }
    if (alive < 2) {
        settled_ = best != nullptr && best->encoding == Encoding::kCp932;
        return;
    }
    for (Reader& r : readers_) {
        if (r.alive && &r != best && best->score - r.score > kDropMargin) {
            r.alive = false;
            --alive;
        }
    }
    // Code page 932 alone left: whatever comes, the file is read in it (also when it turns out
    // to read badly, since then no reading is better than the one used for such files).
    settled_ = alive == 1 && best->encoding == Encoding::kCp932;
}

std::uint64_t EncodingDetector::Consumed() const {
    std::uint64_t consumed = static_cast<std::uint64_t>(-1);
    for (const Reader& r : readers_) {
        if (r.alive) {
            consumed = std::min(consumed, r.at);
        }
    }
    return consumed == static_cast<std::uint64_t>(-1) ? 0 : consumed;
}

Detection EncodingDetector::Result() const {
    Detection d;
    if (other_ != nullptr) {
        d.kind = Detection::Kind::kOther;
        d.other = other_;
        return d;
    }
    const Reader& utf8 = readers_[kReadUtf8];
    if (bom_seen_) {
        // The mark is believed when the rest reads cleanly (or, for UTF-8, nearly so).
        const bool clean =
            utf8.faults == 0 || (bom_ == Encoding::kUtf8Bom && utf8.faults * 16 <= utf8.wide);
        d.encoding = clean ? bom_ : Encoding::kCp932;
        return d;
    }
    std::vector<const Reader*> alive;
    for (const Reader& r : readers_) {
        if (r.alive) {
            alive.push_back(&r);
        }
    }
    if (alive.size() == 3 && utf8.wide == 0) {
        d.ascii_only = true;
        d.encoding = Encoding::kUtf8;
        d.kind = escape_ ? Detection::Kind::kOther : Detection::Kind::kFound;
        d.other = "ISO-2022-JP";
        return d;
    }
    std::sort(alive.begin(), alive.end(),
              [](const Reader* a, const Reader* b) { return a->score > b->score; });
    const Reader* best = alive.front();
    // A valid UTF-8 reading with characters beyond ASCII stands unless another is far likelier;
    // one that is likelier, but not by far, makes the file uncertain.
    const bool utf8_valid = utf8.alive && utf8.faults == 0 && utf8.wide > 0;
    if (utf8_valid && best != &utf8 &&
        best->score - utf8.score < std::max(kUtf8Margin, 2 * utf8.wide)) {
        best = &utf8;
    }
    // Faults in the best reading: it is believed only when they are few among its characters;
    // else nothing reads the file well and it is read in code page 932.
    if (best->faults > 0 && best->faults * 16 > best->wide) {
        d.encoding = Encoding::kCp932;
        return d;
    }
    d.encoding = best->encoding;
    d.plausible.push_back(best->encoding);
    // Every other clean reading near the likeliest one is plausible too; beside a valid UTF-8
    // reading, those likelier than it.
    for (const Reader* r : alive) {
        const bool close =
            best == &utf8 ? r->score > utf8.score : best->score - r->score < kClearMargin;
        if (r != best && r->faults == 0 && r->wide > 0 && close) {
            d.plausible.push_back(r->encoding);
        }
    }
    if (d.plausible.size() > 1) {
        d.kind = Detection::Kind::kUncertain;
    } else {
        d.plausible.clear();
    }
    return d;
}

}  // namespace popuran::folder
