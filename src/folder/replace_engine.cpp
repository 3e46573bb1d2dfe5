#include "folder/replace_engine.h"

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "folder/services/cp932.h"
#include "folder/services/encodings.h"
#include "folder/services/text_search.h"

namespace popuran::folder {

namespace {

// Every character unit of code page 932 (a single byte, or a lead/trail pair), with what it
// decodes to, built once from the text services so that the byte search and the decoder
// always agree on where characters start and what they are.
struct UnitTables {
    std::array<std::uint8_t, 65536> length{};  // [b0 << 8 | b1]: bytes of the unit at b0
    std::array<bool, 256> lead{};              // some b1 makes a two-byte unit of b0
    bool ascii_single = true;                  // no byte below 0x80 starts a two-byte unit
    std::array<char32_t, 256> single{};        // what a one-byte unit decodes to
    std::array<char32_t, 256> single_folded{};
    // Two-byte units at [row[b0] + b1]: a row of 256 for each lead byte only, so that a run
    // touches a fraction of the memory that a table of every pair would take.
    std::array<std::uint32_t, 256> row{};
    std::vector<char32_t> pair;
    std::vector<char32_t> pair_folded;

    std::size_t PairAt(unsigned code) const { return row[code >> 8] + (code & 0xFFu); }

    template <typename F>
    void ForEachUnit(F&& f) const {
        for (unsigned b = 0; b < 256; ++b) {
            f(static_cast<unsigned char>(b), single[b], single_folded[b]);
        }
        for (unsigned code = 0; code < 65536; ++code) {
            if (length[code] == 2) {
                f(static_cast<unsigned char>(code & 0xFFu), pair[PairAt(code)],
                  pair_folded[PairAt(code)]);
            }
        }
    }
};

char32_t FirstCodePoint(std::u16string_view text) {
    if (text.empty()) {
        return 0;
    }
    if (text.size() >= 2 && text[0] >= 0xD800 && text[0] <= 0xDBFF && text[1] >= 0xDC00 &&
        text[1] <= 0xDFFF) {
        return 0x10000 + ((static_cast<char32_t>(text[0]) - 0xD800) << 10) +
               (static_cast<char32_t>(text[1]) - 0xDC00);
    }
    return text[0];
}

int ByteWeight(unsigned char b);

// The code points of text, each two-form character as its one value.
std::vector<char32_t> CodePoints(std::u16string_view text) {
    std::vector<char32_t> out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const char32_t c = FirstCodePoint(text.substr(i));
        out.push_back(SameCharacter(c));
        i += c > 0xFFFF ? 2 : 1;
    }
    return out;
}

// True when the character has a code in the encoding.
bool HasCode(Encoding encoding, char32_t c) {
    std::u16string text;
    if (c > 0xFFFF) {
        text = {static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)),
                static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF))};
    } else {
        text = {static_cast<char16_t>(c)};
    }
    return CanEncodeText(encoding, text) &&
           DecodeText(encoding, EncodeText(encoding, text)) == text;
}

// The two places in word whose bytes are rarest, for the candidate scan.
void PickRareBytes(const std::string& word, std::size_t& rare, std::size_t& rare2) {
    auto weight = [&word](std::size_t i) {
        return ByteWeight(static_cast<unsigned char>(word[i]));
    };
    rare = 0;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (weight(i) < weight(rare)) {
            rare = i;
        }
    }
    rare2 = rare == 0 ? word.size() - 1 : 0;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (i != rare &&
            (word[rare2] == word[rare] || (word[i] != word[rare] && weight(i) < weight(rare2)))) {
            rare2 = i;
        }
    }
}

std::unique_ptr<UnitTables> BuildTables() {
    auto t = std::make_unique<UnitTables>();
    for (unsigned b0 = 0; b0 < 256; ++b0) {
        for (unsigned b1 = 0; b1 < 256; ++b1) {
            const unsigned char bytes[2] = {static_cast<unsigned char>(b0),
                                            static_cast<unsigned char>(b1)};
            const std::size_t n = Cp932CharLength(bytes, 2);
            t->length[b0 << 8 | b1] = static_cast<std::uint8_t>(n);
            if (n == 2) {
                t->lead[b0] = true;
                if (b0 < 0x80) {
                    t->ascii_single = false;
                }
            }
        }
    }
    auto decode = [&t](std::string_view bytes, char32_t& value, char32_t& folded) {
        const char32_t c = FirstCodePoint(Cp932Decode(bytes));
        value = SameCharacter(c);
        folded = SameCharacter(FoldCodePoint(c));
    };
    for (unsigned b = 0; b < 256; ++b) {
        const char byte = static_cast<char>(b);
        decode(std::string_view(&byte, 1), t->single[b], t->single_folded[b]);
    }
    std::uint32_t rows = 0;
    for (unsigned b = 0; b < 256; ++b) {
        if (t->lead[b]) {
            t->row[b] = 256 * rows++;
        }
    }
    t->pair.assign(256 * std::size_t{rows}, 0);
    t->pair_folded.assign(256 * std::size_t{rows}, 0);
    for (unsigned code = 0; code < 65536; ++code) {
        if (t->length[code] == 2) {
            const char bytes[2] = {static_cast<char>(code >> 8), static_cast<char>(code & 0xFFu)};
            decode(std::string_view(bytes, 2), t->pair[t->PairAt(code)],
                   t->pair_folded[t->PairAt(code)]);
        }
    }
    return t;
}

const UnitTables& Tables() {
    static const std::unique_ptr<UnitTables> tables = BuildTables();
    return *tables;
}

// A rough weight of how often a byte occurs in Japanese text files; the rarest byte that every
// match must hold makes the quickest pre-check.
int ByteWeight(unsigned char b) {
    if (b == ' ' || b == '\r' || b == '\n' || b == '\t') {
        return 16;
    }
    if (b != 0 && std::strchr("etaoinsrh", b) != nullptr) {
        return 12;
    }
    if ((b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == 0x81 || b == 0x82 || b == 0x83) {
        return 6;
    }
    if (b >= 'A' && b <= 'Z') {
        return 3;
    }
    return 1;
}

// Two bytes of a word and their places in it, to find candidates for the word.
struct PairKey {
    std::string_view word;
    std::size_t r1;
    std::size_t r2;
};

// The first place from i that holds the word, where the places are checked a vector at a
// time; i is left at the first place that was not checked.
#ifdef __SSE2__
const char* ScanSse2(const char* hay, std::size_t& i, std::size_t last, const PairKey& key) {
    const __m128i v1 = _mm_set1_epi8(key.word[key.r1]);
    const __m128i v2 = _mm_set1_epi8(key.word[key.r2]);
    for (; i + 15 <= last; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hay + i + key.r1));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hay + i + key.r2));
        auto mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, v1), _mm_cmpeq_epi8(b, v2))));
        while (mask != 0) {
            const char* at = hay + i + static_cast<unsigned>(__builtin_ctz(mask));
            if (std::memcmp(at, key.word.data(), key.word.size()) == 0) {
                return at;
            }
            mask &= mask - 1;
        }
    }
    return nullptr;
}
#endif

#if defined(__x86_64__)
__attribute__((target("avx2"))) const char* ScanAvx2(const char* hay, std::size_t& i,
                                                     std::size_t last, const PairKey& key) {
    const __m256i v1 = _mm256_set1_epi8(key.word[key.r1]);
    const __m256i v2 = _mm256_set1_epi8(key.word[key.r2]);
    // Where the word is rare, most blocks of 64 places hold no candidate at all: one test
    // for both halves, and a closer look only at blocks that hold one.
    for (; i + 63 <= last; i += 64) {
        const char* p = hay + i;
        const __m256i m0 = _mm256_and_si256(
            _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + key.r1)), v1),
            _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + key.r2)),
                              v2));
        const __m256i m1 = _mm256_and_si256(
            _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 + key.r1)),
                              v1),
            _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 + key.r2)),
                              v2));
        const __m256i any = _mm256_or_si256(m0, m1);
        if (_mm256_testz_si256(any, any) != 0) {
            continue;
        }
        auto mask = static_cast<std::uint64_t>(static_cast<unsigned>(_mm256_movemask_epi8(m0))) |
                    static_cast<std::uint64_t>(static_cast<unsigned>(_mm256_movemask_epi8(m1)))
                        << 32;
        while (mask != 0) {
            const char* at = p + static_cast<unsigned>(__builtin_ctzll(mask));
            if (std::memcmp(at, key.word.data(), key.word.size()) == 0) {
                return at;
            }
            mask &= mask - 1;
        }
    }
    for (; i + 31 <= last; i += 32) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(hay + i + key.r1));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(hay + i + key.r2));
        auto mask = static_cast<unsigned>(_mm256_movemask_epi8(
            _mm256_and_si256(_mm256_cmpeq_epi8(a, v1), _mm256_cmpeq_epi8(b, v2))));
        while (mask != 0) {
            const char* at = hay + i + static_cast<unsigned>(__builtin_ctz(mask));
            if (std::memcmp(at, key.word.data(), key.word.size()) == 0) {
                return at;
            }
            mask &= mask - 1;
        }
    }
    return nullptr;
}
#endif

}  // namespace

SearchPattern::SearchPattern(std::u16string_view search, bool case_sensitive, Encoding encoding)
    : encoding_(encoding), case_sensitive_(case_sensitive) {
    if (search.empty()) {
        return;
    }
    if (encoding != Encoding::kCp932) {
        CompileOther(search);
        return;
    }
    const UnitTables& t = Tables();
    units_ = CodePoints(case_sensitive ? std::u16string(search) : FoldCase(search));

    // A plain byte search is enough when every character of the text has exactly one code and
    // no single-byte character of it could be read as the start of a pair: then the text's
    // bytes standing at a character boundary are exactly a match, and nothing else is.
    exact_ = case_sensitive && CanEncodeText(Encoding::kCp932, search);
    if (exact_) {
        // How many units decode to each character of the text.
        std::vector<char32_t> chars = units_;
        std::sort(chars.begin(), chars.end());
        chars.erase(std::unique(chars.begin(), chars.end()), chars.end());
        std::vector<int> codes(chars.size(), 0);
        t.ForEachUnit([&chars, &codes](unsigned char, char32_t value, char32_t) {
            const auto it = std::lower_bound(chars.begin(), chars.end(), value);
            if (it != chars.end() && *it == value) {
                ++codes[static_cast<std::size_t>(it - chars.begin())];
            }
        });
        exact_ = std::all_of(codes.begin(), codes.end(), [](int n) { return n == 1; });
    }
    if (exact_) {
        encoded_ = EncodeText(Encoding::kCp932, search);
        for (std::size_t i = 0; i < encoded_.size();) {
            const auto b0 = static_cast<unsigned char>(encoded_[i]);
            const auto b1 =
                i + 1 < encoded_.size() ? static_cast<unsigned char>(encoded_[i + 1]) : 0u;
            const std::size_t n = i + 1 < encoded_.size() ? t.length[std::size_t{b0} << 8 | b1] : 1;
            if (n == 1 && t.lead[b0]) {
                exact_ = false;
                break;
            }
            i += n;
        }
        exact_ = exact_ && CodePoints(Cp932Decode(encoded_)) == units_;
    }
    if (exact_) {
        max_match_bytes_ = encoded_.size();
        // The byte search looks for the two rarest bytes of the text at their places.
        PickRareBytes(encoded_, rare_, rare2_);
        return;
    }
    encoded_.clear();

    max_match_bytes_ = 2 * units_.size();
    kmp_.assign(units_.size(), 0);
    for (std::size_t i = 1, k = 0; i < units_.size(); ++i) {
        while (k > 0 && units_[i] != units_[k]) {
            k = static_cast<std::size_t>(kmp_[k - 1]);
        }
        if (units_[i] == units_[k]) {
            ++k;
        }
        kmp_[i] = static_cast<std::int32_t>(k);
    }
    starts_.assign(units_.size(), 0);

    // The pre-check: of the first characters of the text, the one whose every form ends in the
    // rarest bytes. A match always holds the last byte of one of that character's forms.
    int best_weight = -1;
    const std::size_t candidates = std::min<std::size_t>(units_.size(), 16);
    for (std::size_t k = 0; k < candidates; ++k) {
        std::array<bool, 256> keys{};
        const char32_t wanted = units_[k];
        t.ForEachUnit([&](unsigned char last, char32_t value, char32_t folded) {
            if ((case_sensitive_ ? value : folded) == wanted) {
                keys[last] = true;
            }
        });
        int weight = 0;
        for (unsigned b = 0; b < 256; ++b) {
            if (keys[b]) {
                weight += ByteWeight(static_cast<unsigned char>(b));
            }
        }
        if (best_weight < 0 || weight < best_weight) {
            best_weight = weight;
            key_bytes_ = keys;
        }
    }
    key_count_ = static_cast<std::size_t>(std::count(key_bytes_.begin(), key_bytes_.end(), true));
    for (unsigned b = 0; b < 256; ++b) {
        if (key_bytes_[b]) {
            single_key_ = static_cast<unsigned char>(b);
        }
    }
}

// The characters that have more than one code in EUC-JP (～ is A1C1 and, from JIS X 0212,
// 8FA2B7): bytes alone would find only one of their codes.
static bool HasSecondEucJpCode(char32_t c) {
    if (c < 0x80) {
        return false;  // ASCII is its own single byte
    }
    static const std::vector<char32_t> twice = [] {
        std::vector<char32_t> values;
        values.reserve(18000);
        unsigned char code[3] = {0x8F, 0, 0};
        for (unsigned lead = 0x8E; lead <= 0xFE; ++lead) {
            for (unsigned trail = 0xA1; trail <= 0xFE; ++trail) {
                for (unsigned third = 0xA1; third <= (lead == 0x8F ? 0xFEu : 0xA1u); ++third) {
                    code[0] = static_cast<unsigned char>(lead);
                    code[1] = static_cast<unsigned char>(trail);
                    code[2] = static_cast<unsigned char>(third);
                    char32_t value = 0;
                    const std::size_t length = DecodeUnit(Encoding::kEucJp, code, 3, value);
                    if (length >= 2 && value < 0xF0000 && (value < 0xDC80 || value > 0xDCFF)) {
                        values.push_back(value);
                    }
                }
            }
        }
        std::sort(values.begin(), values.end());
        std::vector<char32_t> repeated;
        for (std::size_t i = 1; i < values.size(); ++i) {
            if (values[i] == values[i - 1] && (repeated.empty() || repeated.back() != values[i])) {
                repeated.push_back(values[i]);
            }
        }
        return repeated;
    }();
    return std::binary_search(twice.begin(), twice.end(), c);
}

void SearchPattern::CompileOther(std::u16string_view search) {
    units_ = CodePoints(case_sensitive_ ? std::u16string(search) : FoldCase(search));
    // Bytes alone find the text when each of its characters has one code here: UTF-8 and
    // UTF-16 hold both forms of a two-form character, EUC-JP one, and a few EUC-JP characters
    // have a second code.
    exact_ = case_sensitive_ && CanEncodeText(encoding_, search);
    for (std::size_t i = 0; exact_ && i < search.size(); ++i) {
        const char32_t c = FirstCodePoint(search.substr(i));
        exact_ =
            (OtherForm(c) == c || !HasCode(encoding_, c) || !HasCode(encoding_, OtherForm(c))) &&
            !(encoding_ == Encoding::kEucJp && HasSecondEucJpCode(c));
    }
    if (exact_) {
        encoded_ = EncodeText(encoding_, search);
        max_match_bytes_ = encoded_.size();
        PickRareBytes(encoded_, rare_, rare2_);
        return;
    }
    max_match_bytes_ = MaxUnitBytes(encoding_) * units_.size();
    kmp_.assign(units_.size(), 0);
    for (std::size_t i = 1, k = 0; i < units_.size(); ++i) {
        while (k > 0 && units_[i] != units_[k]) {
            k = static_cast<std::size_t>(kmp_[k - 1]);
        }
        if (units_[i] == units_[k]) {
            ++k;
        }
        kmp_[i] = static_cast<std::int32_t>(k);
    }
    starts_.assign(units_.size(), 0);
}

bool SearchPattern::Find(std::string_view bytes, std::size_t from, bool final, ByteSpan& match,
                         std::size_t& resume) const {
    if (units_.empty()) {
        resume = final ? bytes.size() : ResumePoint(bytes, from, final);
        return false;
    }
    if (exact_) {
        return FindExact(bytes, from, final, match, resume);
    }
    return encoding_ == Encoding::kCp932 ? FindUnits(bytes, from, final, match, resume)
                                         : FindDecoded(bytes, from, final, match, resume);
}

char32_t SearchPattern::UnitAt(std::string_view bytes, std::size_t q, std::size_t& length) const {
    char32_t value = 0;
    length = DecodeUnit(encoding_, reinterpret_cast<const unsigned char*>(bytes.data()) + q,
                        bytes.size() - q, value);
    return SameCharacter(case_sensitive_ ? value : FoldCodePoint(value));
}

std::size_t SearchPattern::WalkTo(std::string_view bytes, std::size_t q, std::size_t limit) const {
    if (encoding_ != Encoding::kCp932) {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        const bool ascii_single =
            encoding_ != Encoding::kUtf16Le && encoding_ != Encoding::kUtf16Be;
        while (q < limit) {
            if (ascii_single && p[q] < 0x80) {
                ++q;
                continue;
            }
            std::size_t length = 0;
            UnitAt(bytes, q, length);
            q += length;
        }
        return q;
    }
    const UnitTables& t = Tables();
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t size = bytes.size();
    while (q < limit) {
        if (t.ascii_single && q + 8 <= limit) {
            std::uint64_t word;
            std::memcpy(&word, p + q, sizeof word);
            if ((word & 0x8080808080808080ull) == 0) {
                q += 8;
                continue;
            }
        }
        q += q + 1 < size ? t.length[static_cast<unsigned>(p[q]) << 8 | p[q + 1]] : 1u;
    }
    return q;
}

std::size_t SearchPattern::NextBoundary(std::string_view bytes, std::size_t q,
                                        std::size_t p) const {
    // A byte that never starts a pair ends a character, so the byte after it starts one: the
    // walk begins at the last such byte before p, or at the boundary already known. Each byte
    // is looked at a bounded number of times as q moves on.
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t s = p;
    switch (encoding_) {
        case Encoding::kCp932:
            while (s > q && Tables().lead[b[s - 1]]) {
                --s;
            }
            break;
        case Encoding::kEucJp:
            // Only 0x8E, 0x8F and 0xA1 to 0xFE start a sequence.
            while (s > q && (b[s - 1] == 0x8E || b[s - 1] == 0x8F || b[s - 1] >= 0xA1)) {
                --s;
            }
            break;
        case Encoding::kUtf16Le:
        case Encoding::kUtf16Be: {
            // Units stand at even offsets; only a high surrogate joins the unit after it.
            const std::size_t high = encoding_ == Encoding::kUtf16Le ? 1 : 2;
            s = std::max(q, p & ~std::size_t{1});
            while (s > q && s >= 2 && (b[s - high] & 0xFC) == 0xD8) {
                s -= 2;
            }
            break;
        }
        default:
            // Every byte that is not a continuation byte starts a character.
            while (s > q && (s == bytes.size() || (b[s] & 0xC0) == 0x80)) {
                --s;
            }
            break;
    }
    return WalkTo(bytes, s, p);
}

std::size_t SearchPattern::ResumePoint(std::string_view bytes, std::size_t from, bool final) const {
    if (final) {
        return bytes.size();
    }
    // A match starting before limit would have ended inside the window; a lead byte in the last
    // place cannot be read before the next byte comes, so at least one byte is kept.
    const std::size_t keep = std::max<std::size_t>(max_match_bytes_, MaxUnitBytes(encoding_));
    const std::size_t limit = bytes.size() >= keep ? bytes.size() - keep + 1 : 0;
    return NextBoundary(bytes, from, std::max(limit, from));
}

bool SearchPattern::FindExact(std::string_view bytes, std::size_t from, bool final, ByteSpan& match,
                              std::size_t& resume) const {
    const std::size_t size = bytes.size();
    const std::size_t n = encoded_.size();
    std::size_t q = from;  // a character boundary
    std::size_t s = from;  // where the byte search goes on
    while (s + n <= size) {
        const char* hit = FindEncoded(bytes.data() + s, size - s);
        if (hit == nullptr) {
            break;
        }
        const auto p = static_cast<std::size_t>(hit - bytes.data());
        q = NextBoundary(bytes, q, p);
        if (q == p) {
            match = ByteSpan{p, p + n};
            return true;
        }
        // The bytes stand across a character boundary ("ハeedle" for "needle"): no match starts
        // before the end of the character they begin in.
        s = std::max(p + 1, q);
    }
    resume = final ? size : ResumePoint(bytes, q, final);
    return false;
}

const char* SearchPattern::FindEncoded(const char* hay, std::size_t length) const {
    const std::size_t n = encoded_.size();
    if (length < n) {
        return nullptr;
    }
    if (n == 1) {
        return static_cast<const char*>(std::memchr(hay, encoded_[0], length));
    }
    // Candidates hold the two rarest bytes of the text at their places; only they are
    // compared in full. Quick where the word is rare, linear where it is everywhere.
    const PairKey key{encoded_, rare_, rare2_};
    const std::size_t last = length - n;  // the last place where the text may start
    std::size_t i = 0;
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) {
        if (const char* at = ScanAvx2(hay, i, last, key)) {
            return at;
        }
    }
#endif
#ifdef __SSE2__
    if (const char* at = ScanSse2(hay, i, last, key)) {
        return at;
    }
#endif
    const char c1 = encoded_[rare_];
    const char c2 = encoded_[rare2_];
    for (; i <= last; ++i) {
        if (hay[i + rare_] == c1 && hay[i + rare2_] == c2 &&
            std::memcmp(hay + i, encoded_.data(), n) == 0) {
            return hay + i;
        }
    }
    return nullptr;
}

bool SearchPattern::MayHold(std::string_view bytes) const {
    if (key_count_ == 0) {
        return false;
    }
    if (key_count_ == 1) {
        return std::memchr(bytes.data(), single_key_, bytes.size()) != nullptr;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t size = bytes.size();
    std::size_t i = 0;
    for (; i + 4 <= size; i += 4) {
        if (key_bytes_[p[i]] || key_bytes_[p[i + 1]] || key_bytes_[p[i + 2]] ||
            key_bytes_[p[i + 3]]) {
            return true;
        }
    }
    for (; i < size; ++i) {
        if (key_bytes_[p[i]]) {
            return true;
        }
    }
    return false;
}

bool SearchPattern::FindUnits(std::string_view bytes, std::size_t from, bool final, ByteSpan& match,
                              std::size_t& resume) const {
    if (!MayHold(bytes.substr(from))) {
        resume = ResumePoint(bytes, from, final);
        return false;
    }
    const UnitTables& t = Tables();
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t size = bytes.size();
    const char32_t* single = case_sensitive_ ? t.single.data() : t.single_folded.data();
    const char32_t* pair = case_sensitive_ ? t.pair.data() : t.pair_folded.data();
    const std::size_t m = units_.size();
    const std::size_t keep = std::max<std::size_t>(max_match_bytes_, 2);
    const std::size_t limit =
        final ? size : std::max(from, size >= keep ? size - keep + 1 : std::size_t{0});
    std::size_t resume_at = static_cast<std::size_t>(-1);

    // Knuth-Morris-Pratt over the characters: linear, and the leftmost match comes first.
    std::size_t q = from;
    std::size_t j = 0;     // characters of the text matched so far
    std::size_t slot = 0;  // where the next unit's start goes in starts_
    while (q < size) {
        if (resume_at == static_cast<std::size_t>(-1) && q >= limit) {
            resume_at = q;
        }
        std::size_t len = 1;
        char32_t value;
        if (q + 1 < size) {
            const unsigned code = static_cast<unsigned>(p[q]) << 8 | p[q + 1];
            len = t.length[code];
            value = len == 2 ? pair[t.PairAt(code)] : single[p[q]];
        } else {
            if (!final && t.lead[p[q]]) {
                break;  // The next window tells whether this byte starts a pair.
            }
            value = single[p[q]];
        }
        starts_[slot] = q;
        slot = slot + 1 == m ? 0 : slot + 1;
        while (j > 0 && units_[j] != value) {
            j = static_cast<std::size_t>(kmp_[j - 1]);
        }
        if (units_[j] == value) {
            ++j;
        }
        q += len;
        if (j == m) {
            // The match's first unit is the oldest start kept, which is the next slot to fill.
            match = ByteSpan{starts_[slot], q};
            return true;
        }
    }
    if (resume_at == static_cast<std::size_t>(-1)) {
        resume_at = q;
    }
    resume = final ? size : resume_at;
    return false;
}

bool SearchPattern::FindDecoded(std::string_view bytes, std::size_t from, bool final,
                                ByteSpan& match, std::size_t& resume) const {
    const std::size_t size = bytes.size();
    const std::size_t m = units_.size();
    const std::size_t unit_max = MaxUnitBytes(encoding_);
    const std::size_t keep = std::max(max_match_bytes_, unit_max);
    const std::size_t limit =
        final ? size : std::max(from, size >= keep ? size - keep + 1 : std::size_t{0});
    std::size_t resume_at = static_cast<std::size_t>(-1);
    std::size_t q = from;
    std::size_t j = 0;
    std::size_t slot = 0;
    while (q < size) {
        if (resume_at == static_cast<std::size_t>(-1) && q >= limit) {
            resume_at = q;
        }
        if (!final && size - q < unit_max) {
            break;  // The next window tells how long this character is.
        }
        std::size_t length = 0;
        const char32_t value = UnitAt(bytes, q, length);
        starts_[slot] = q;
        slot = slot + 1 == m ? 0 : slot + 1;
        while (j > 0 && units_[j] != value) {
            j = static_cast<std::size_t>(kmp_[j - 1]);
        }
        if (units_[j] == value) {
            ++j;
        }
        q += length;
        if (j == m) {
            match = ByteSpan{starts_[slot], q};
            return true;
        }
    }
    if (resume_at == static_cast<std::size_t>(-1)) {
        resume_at = q;
    }
    resume = final ? size : resume_at;
    return false;
}

const SearchPattern& PatternFor(const std::u16string& search, bool case_sensitive,
                                Encoding encoding) {
    // Compiling looks at the tables of every code; a run compiles its search text once per
    // thread and encoding, and the pattern is not shared between threads (it keeps state while
    // it finds).
    struct Cached {
        std::unique_ptr<SearchPattern> pattern;
        std::u16string search;
        bool case_sensitive = true;
    };
    thread_local std::array<Cached, 6> cache;
    Cached& c = cache[static_cast<std::size_t>(encoding)];
    if (!c.pattern || c.search != search || c.case_sensitive != case_sensitive) {
        c.pattern = std::make_unique<SearchPattern>(search, case_sensitive, encoding);
        c.search = search;
        c.case_sensitive = case_sensitive;
    }
    return *c.pattern;
}

}  // namespace popuran::folder
