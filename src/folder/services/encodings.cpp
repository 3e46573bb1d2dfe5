// Encodings by unit: EUC-JP by tables built once from ICU, UTF-8 and UTF-16 by their rules.
#include "folder/services/encodings.h"

#include <array>
#include <memory>
#include <vector>

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>
#include <unicode/utypes.h>

#include "folder/services/code_units.h"
#include "folder/services/cp932.h"
#include "folder/services/icu_tables.h"
#include "folder/services/utf8.h"

namespace popuran::folder {

namespace {

constexpr char32_t kByteEscapeBase = 0xDC00;
constexpr char32_t kPairEscapeBase = 0xF0000;
constexpr char32_t kTripleEscapeBase = 0x100000;
constexpr std::uint32_t kNoCode = 0;

// The characters with two forms, each pair as (the form code page 932 decodes to, the other).
constexpr std::array<std::array<char32_t, 2>, 7> kTwoForms = {{
    {0xFF5E, 0x301C},  // ～ 〜
    {0x2225, 0x2016},  // ∥ ‖
    {0xFF0D, 0x2212},  // － −
    {0xFFE0, 0x00A2},  // ￠ ¢
    {0xFFE1, 0x00A3},  // ￡ £
    {0xFFE2, 0x00AC},  // ￢ ¬
    {0x2015, 0x2014},  // ― —
}};

constexpr bool InGr(unsigned b) { return b >= 0xA1 && b <= 0xFE; }
constexpr bool IsContinuation(unsigned b) { return (b & 0xC0) == 0x80; }

// EUC-JP by index: two-byte codes [(b0 - 0xA1) * 94 + b1 - 0xA1], three-byte codes after 0x8F
// likewise, half-width katakana [b1 - 0xA1]; 0 where there is no character.
struct EucTables {
    std::vector<char16_t> two = std::vector<char16_t>(94 * 94, 0);
    std::vector<char16_t> three = std::vector<char16_t>(94 * 94, 0);
    std::array<char16_t, 63> kana{};
    std::vector<std::uint32_t> encode = std::vector<std::uint32_t>(0x10000, kNoCode);
};

std::unique_ptr<EucTables> BuildEucTables() {
    auto t = std::make_unique<EucTables>();
    for (unsigned b = 0; b < 0x80; ++b) {
        t->encode[b] = b;
    }
    // ICU's "EUC-JP" (euc-jp-2007) reads every code the system's iconv reads as the same
    // character (up to the two-form characters, which are one character here). It also maps
    // NEC row 13 (lead 0xAD), the rows from 0xF5 and JIS X 0212 rows from 0xF3 on, which the
    // system's converter does not know: those were left out of the tables, so nothing is ever
    // written that the system cannot read back.
    t->two.assign(std::begin(icu_tables::kEucTwo), std::end(icu_tables::kEucTwo));
    t->three.assign(std::begin(icu_tables::kEucThree), std::end(icu_tables::kEucThree));
    std::copy(std::begin(icu_tables::kEucKana), std::end(icu_tables::kEucKana), t->kana.begin());
    // The first code of a character is the one written: JIS X 0208 before JIS X 0212.
    auto add = [&t](char16_t c, std::uint32_t code) {
        if (c != 0 && t->encode[c] == kNoCode) {
            t->encode[c] = code;
        }
    };
    for (unsigned b1 = 0xA1; b1 <= 0xDF; ++b1) {
        add(t->kana[b1 - 0xA1], 0x8E00 | b1);
    }
    for (std::size_t i = 0; i < t->two.size(); ++i) {
        add(t->two[i], static_cast<std::uint32_t>((0xA1 + i / 94) << 8 | (0xA1 + i % 94)));
    }
    for (std::size_t i = 0; i < t->three.size(); ++i) {
        add(t->three[i],
            static_cast<std::uint32_t>(0x8F0000 | (0xA1 + i / 94) << 8 | (0xA1 + i % 94)));
    }
    return t;
}

const EucTables& Euc() {
    static const std::unique_ptr<EucTables> tables = BuildEucTables();
    return *tables;
}

std::size_t DecodeEuc(const unsigned char* p, std::size_t avail, char32_t& value) {
    const unsigned b0 = p[0];
    if (b0 < 0x80) {
        value = b0;
        return 1;
    }
    const EucTables& t = Euc();
    if (avail >= 2 && InGr(b0) && InGr(p[1])) {
        const char16_t c = t.two[(b0 - 0xA1) * 94 + p[1] - 0xA1];
        value = c != 0 ? c : kPairEscapeBase + (b0 << 8 | p[1]);
        return 2;
    }
    if (b0 == 0x8E && avail >= 2 && p[1] >= 0xA1 && p[1] <= 0xDF) {
        const char16_t c = t.kana[p[1] - 0xA1];
        value = c != 0 ? c : kPairEscapeBase + (b0 << 8 | p[1]);
        return 2;
    }
    if (b0 == 0x8F && avail >= 3 && InGr(p[1]) && InGr(p[2])) {
        const char16_t c = t.three[(p[1] - 0xA1) * 94 + p[2] - 0xA1];
        value = c != 0 ? c : kTripleEscapeBase + (char32_t{p[1]} << 8 | p[2]);
        return 3;
    }
    value = kByteEscapeBase + b0;
    return 1;
}

std::size_t DecodeUtf8(const unsigned char* p, std::size_t avail, char32_t& value) {
    const unsigned b0 = p[0];
    value = kByteEscapeBase + b0;
    if (b0 < 0x80) {
        value = b0;
        return 1;
    }
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        if (avail < 2 || !IsContinuation(p[1])) {
            return 1;
        }
        value = (char32_t{b0} & 0x1F) << 6 | (char32_t{p[1]} & 0x3F);
        return 2;
    }
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        // The second byte's range rules out overlong forms (E0) and surrogates (ED).
        const unsigned lo = b0 == 0xE0 ? 0xA0 : 0x80;
        const unsigned hi = b0 == 0xED ? 0x9F : 0xBF;
        if (avail < 3 || p[1] < lo || p[1] > hi || !IsContinuation(p[2])) {
            return 1;
        }
        value =
            (char32_t{b0} & 0x0F) << 12 | (char32_t{p[1]} & 0x3F) << 6 | (char32_t{p[2]} & 0x3F);
        return 3;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        const unsigned lo = b0 == 0xF0 ? 0x90 : 0x80;
        const unsigned hi = b0 == 0xF4 ? 0x8F : 0xBF;
        if (avail < 4 || p[1] < lo || p[1] > hi || !IsContinuation(p[2]) || !IsContinuation(p[3])) {
            return 1;
        }
        value = (char32_t{b0} & 0x07) << 18 | (char32_t{p[1]} & 0x3F) << 12 |
                (char32_t{p[2]} & 0x3F) << 6 | (char32_t{p[3]} & 0x3F);
        return 4;
    }
    return 1;
}

std::size_t DecodeUtf16(const unsigned char* p, std::size_t avail, bool big, char32_t& value) {
    if (avail < 2) {
        value = kByteEscapeBase + p[0];
        return 1;
    }
    auto unit = [&](std::size_t i) -> char32_t {
        return big ? char32_t{p[i]} << 8 | p[i + 1] : char32_t{p[i + 1]} << 8 | p[i];
    };
    const char32_t u = unit(0);
    if (u >= 0xD800 && u <= 0xDBFF && avail >= 4) {
        const char32_t v = unit(2);
        if (v >= 0xDC00 && v <= 0xDFFF) {
            value = 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00);
            return 4;
        }
    }
    value = u;
    return 2;
}

void AppendCodePoint(std::u16string& text, char32_t c) {
    if (c < 0x10000) {
        text.push_back(static_cast<char16_t>(c));
    } else {
        text.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
        text.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    }
}

template <typename F>
void ForEachCodePoint(std::u16string_view text, F&& f) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
        }
        f(c);
    }
}

// The EUC-JP code of c, kNoCode when it has none.
std::uint32_t EucCode(char32_t c) { return c < 0x10000 ? Euc().encode[c] : kNoCode; }

bool HasCode(Encoding encoding, char32_t c) {
    if (IsEscape(c)) {
        return false;
    }
    switch (encoding) {
        case Encoding::kCp932:
            if (c >= 0x10000) {
                return false;
            } else {
                const char16_t unit = static_cast<char16_t>(c);
                return Cp932CanEncode(std::u16string_view(&unit, 1));
            }
        case Encoding::kEucJp:
            return EucCode(c) != kNoCode;
        default:
            return true;
    }
}

// The character as written in the encoding: itself, or its other form when only that has a
// code there.
char32_t WrittenForm(Encoding encoding, char32_t c) {
    return !HasCode(encoding, c) && HasCode(encoding, OtherForm(c)) ? OtherForm(c) : c;
}

}  // namespace

std::string_view EncodingName(Encoding encoding) {
    switch (encoding) {
        case Encoding::kCp932:
            return "cp932";
        case Encoding::kUtf8:
            return "utf-8";
        case Encoding::kUtf8Bom:
            return "utf-8-bom";
        case Encoding::kEucJp:
            return "euc-jp";
        case Encoding::kUtf16Le:
            return "utf-16le";
        case Encoding::kUtf16Be:
            return "utf-16be";
    }
    return "";
}

std::string_view ByteOrderMark(Encoding encoding) {
    switch (encoding) {
        case Encoding::kUtf8Bom:
            return "\xEF\xBB\xBF";
        case Encoding::kUtf16Le:
            return "\xFF\xFE";
        case Encoding::kUtf16Be:
            return "\xFE\xFF";
        default:
            return "";
    }
}

std::size_t MaxUnitBytes(Encoding encoding) {
    switch (encoding) {
        case Encoding::kCp932:
            return 2;
        case Encoding::kEucJp:
            return 3;
        default:
            return 4;
    }
}

bool IsEscape(char32_t value) {
    return (value >= 0xD800 && value <= 0xDFFF) || value >= kPairEscapeBase;
}

std::size_t DecodeUnit(Encoding encoding, const unsigned char* bytes, std::size_t avail,
                       char32_t& value) {
    switch (encoding) {
        case Encoding::kCp932: {
            const std::size_t n = Cp932CharLength(bytes, avail);
            const std::u16string text =
                Cp932Decode(std::string_view(reinterpret_cast<const char*>(bytes), n));
            value = text[0];
            if (text.size() == 2) {
                value = 0x10000 + ((value - 0xD800) << 10) + (text[1] - 0xDC00u);
            }
            return n;
        }
        case Encoding::kUtf8:
        case Encoding::kUtf8Bom:
            return DecodeUtf8(bytes, avail, value);
        case Encoding::kEucJp:
            return DecodeEuc(bytes, avail, value);
        case Encoding::kUtf16Le:
        case Encoding::kUtf16Be:
            return DecodeUtf16(bytes, avail, encoding == Encoding::kUtf16Be, value);
    }
    value = bytes[0];
    return 1;
}

std::u16string DecodeText(Encoding encoding, std::string_view bytes) {
    if (encoding == Encoding::kCp932) {
        return Cp932Decode(bytes);
    }
    std::u16string text;
    text.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t i = 0; i < bytes.size();) {
        char32_t value = 0;
        i += DecodeUnit(encoding, p + i, bytes.size() - i, value);
        AppendCodePoint(text, value);
    }
    return text;
}

char32_t SameCharacter(char32_t c) {
    for (const auto& forms : kTwoForms) {
        if (c == forms[1]) {
            return forms[0];
        }
    }
    return c;
}

char32_t OtherForm(char32_t c) {
    for (const auto& forms : kTwoForms) {
        if (c == forms[0]) {
            return forms[1];
        }
        if (c == forms[1]) {
            return forms[0];
        }
    }
    return c;
}

bool CanEncodeText(Encoding encoding, std::u16string_view text) {
    bool ok = true;
    ForEachCodePoint(text, [&](char32_t c) {
        ok = ok && (HasCode(encoding, c) || HasCode(encoding, OtherForm(c)));
    });
    return ok;
}

std::string EncodeText(Encoding encoding, std::u16string_view text) {
    std::u16string written;
    written.reserve(text.size());
    ForEachCodePoint(text, [&](char32_t c) { AppendCodePoint(written, WrittenForm(encoding, c)); });
    std::string out;
    switch (encoding) {
        case Encoding::kCp932:
            return Cp932Encode(written);
        case Encoding::kUtf8:
        case Encoding::kUtf8Bom:
            return TextToUtf8(written);
        case Encoding::kUtf16Le:
        case Encoding::kUtf16Be:
            for (const char16_t u : written) {
                const char hi = static_cast<char>(u >> 8);
                const char lo = static_cast<char>(u & 0xFF);
                out += encoding == Encoding::kUtf16Be ? std::string{hi, lo} : std::string{lo, hi};
            }
            return out;
        case Encoding::kEucJp:
            break;
    }
    auto put = [&out](std::uint32_t b) { out.push_back(static_cast<char>(b & 0xFF)); };
    ForEachCodePoint(written, [&](char32_t c) {
        if (const std::uint32_t code = EucCode(c); code != kNoCode) {
            if (code > 0xFFFF) {
                put(code >> 16);
            }
            if (code > 0xFF) {
                put(code >> 8);
            }
            put(code);
        } else if (c >= kByteEscapeBase + 0x80 && c <= kByteEscapeBase + 0xFF) {
            put(c - kByteEscapeBase);  // a byte that is no character stays that byte
        } else if (c >= kTripleEscapeBase) {
            put(0x8F);
            put((c - kTripleEscapeBase) >> 8);
            put(c - kTripleEscapeBase);
        } else if (c >= kPairEscapeBase) {
            put((c - kPairEscapeBase) >> 8);
            put(c - kPairEscapeBase);
        } else {
            put('?');
        }
    });
    return out;
}

std::u16string DecodeByIcu(const char* name, std::string_view bytes) {
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(name, &status);
    if (U_FAILURE(status)) {
        return {};
    }
    std::u16string text(bytes.size() + 1, u'\0');
    const std::int32_t units = ucnv_toUChars(converter, reinterpret_cast<UChar*>(text.data()),
                                             static_cast<std::int32_t>(text.size()), bytes.data(),
                                             static_cast<std::int32_t>(bytes.size()), &status);
    ucnv_close(converter);
    if (U_FAILURE(status)) {
        return {};
    }
    text.resize(static_cast<std::size_t>(units));
    return text;
}

}  // namespace popuran::folder
