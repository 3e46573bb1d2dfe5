// Reads the code page 932 and EUC-JP tables out of ICU's converters, and its simple case folding,
// when the program is built,
// and writes them as C++ arrays (see folder/services/icu_tables.h), so that a run looks them up
// instead of asking ICU for every code at its start.
//   popuran_icu_tables OUTPUT.cpp
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>
#include <unicode/utypes.h>

namespace {

constexpr bool IsSurrogate(UChar c) { return c >= 0xD800 && c <= 0xDFFF; }
constexpr bool IsLeadByte(unsigned b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
constexpr bool IsTrailByte(unsigned b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }
constexpr unsigned LeadRow(unsigned lead) { return lead <= 0x9F ? lead - 0x81 : lead - 0xE0 + 31; }

UConverter* Open(const char* name) {
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(name, &status);
    ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    ucnv_setFromUCallBack(converter, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    if (U_FAILURE(status)) {
        std::fprintf(stderr, "popuran_icu_tables: ICU has no converter %s\n", name);
        std::exit(1);
    }
    return converter;
}

// One code decoded: a real mapping to one BMP unit, else 0. EUC-JP also refuses the private
// use area, where ICU puts codes that the system's converter does not know.
UChar Decode(UConverter* converter, const char* bytes, std::int32_t length, bool private_use) {
    UErrorCode status = U_ZERO_ERROR;
    UChar out[4];
    ucnv_reset(converter);
    const std::int32_t units = ucnv_toUChars(converter, out, 4, bytes, length, &status);
    if (U_FAILURE(status) || units != 1 || IsSurrogate(out[0]) ||
        (!private_use && out[0] >= 0xE000 && out[0] <= 0xF8FF)) {
        return 0;
    }
    return out[0];
}

// ICU's own code for c (a byte, or lead << 8 | trail), or 0xFFFF.
unsigned Encode(UConverter* converter, UChar c) {
    UErrorCode status = U_ZERO_ERROR;
    char out[4];
    ucnv_reset(converter);
    const std::int32_t length = ucnv_fromUChars(converter, out, 4, &c, 1, &status);
    if (U_FAILURE(status) || length < 1 || length > 2) {
        return 0xFFFF;
    }
    const auto first = static_cast<unsigned char>(out[0]);
    return length == 1 ? first : (first << 8 | static_cast<unsigned char>(out[1]));
}

void Write(std::FILE* out, const char* type, const char* name,
           const std::vector<unsigned>& values) {
    std::fprintf(out, "const %s %s[%zu] = {", type, name, values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        std::fprintf(out, "%s0x%X,", i % 16 == 0 ? "\n" : "", values[i]);
    }
    std::fprintf(out, "\n};\n\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: popuran_icu_tables OUTPUT.cpp\n");
        return 2;
    }
    // "windows-31j" is Microsoft's variant; IBM's own table would read 0x5C as the yen sign.
    UConverter* cp932 = Open("windows-31j");
    std::vector<unsigned> single(0xDF - 0xA1 + 1);
    for (unsigned b = 0xA1; b <= 0xDF; ++b) {
        const char byte = static_cast<char>(b);
        single[b - 0xA1] = Decode(cp932, &byte, 1, true);
    }
    std::vector<unsigned> pair(60 * 256);
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
        for (unsigned trail = 0x40; IsLeadByte(lead) && trail <= 0xFC; ++trail) {
            if (IsTrailByte(trail)) {
                const char bytes[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                pair[LeadRow(lead) * 256 + trail] = Decode(cp932, bytes, 2, true);
            }
        }
    }
    std::vector<unsigned> code(0x10000);
    for (unsigned c = 0; c < 0x10000; ++c) {
        code[c] =
            IsSurrogate(static_cast<UChar>(c)) ? 0xFFFF : Encode(cp932, static_cast<UChar>(c));
    }
    ucnv_close(cp932);

    UConverter* euc = Open("EUC-JP");
    std::vector<unsigned> two(94 * 94);
    std::vector<unsigned> three(94 * 94);
    for (unsigned b0 = 0xA1; b0 <= 0xFE; ++b0) {
        for (unsigned b1 = 0xA1; b1 <= 0xFE; ++b1) {
            const std::size_t index = (b0 - 0xA1) * 94 + b1 - 0xA1;
            // NEC row 13 (lead 0xAD), the rows from 0xF5 and JIS X 0212 rows from 0xF3 on are
            // ICU's own; the system's converter does not know them.
            if (b0 != 0xAD && b0 <= 0xF4) {
                const char bytes[2] = {static_cast<char>(b0), static_cast<char>(b1)};
                two[index] = Decode(euc, bytes, 2, false);
            }
            if (b0 <= 0xF2) {
                const char bytes[3] = {'\x8F', static_cast<char>(b0), static_cast<char>(b1)};
                three[index] = Decode(euc, bytes, 3, false);
            }
        }
    }
    std::vector<unsigned> kana(0xDF - 0xA1 + 1);
    for (unsigned b1 = 0xA1; b1 <= 0xDF; ++b1) {
        const char bytes[2] = {'\x8E', static_cast<char>(b1)};
        kana[b1 - 0xA1] = Decode(euc, bytes, 2, false);
    }
    ucnv_close(euc);

    // Folding rings: each unit is linked into the ring of what it folds to, in increasing order.
    std::vector<unsigned> fold(0x10000);
    std::vector<unsigned> next_alike(0x10000);
    std::vector<unsigned> last_of_class(0x10000, 0);
    std::vector<bool> seen(0x10000, false);
    for (unsigned c = 0; c < 0x10000; ++c) {
        UChar32 folded = IsSurrogate(static_cast<UChar>(c))
                             ? static_cast<UChar32>(c)
                             : u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT);
        if (folded > 0xFFFF) {
            folded = static_cast<UChar32>(c);
        }
        const auto f = static_cast<unsigned>(folded);
        fold[c] = f;
        if (seen[f]) {
            next_alike[c] = next_alike[last_of_class[f]];
            next_alike[last_of_class[f]] = c;
        } else {
            next_alike[c] = c;
            seen[f] = true;
        }
        last_of_class[f] = c;
    }

    std::FILE* out = std::fopen(argv[1], "w");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    std::fprintf(out, "// Made by popuran_icu_tables from ICU's converters; not to be edited.\n");
    std::fprintf(out, "#include \"folder/services/icu_tables.h\"\n\n");
    std::fprintf(out, "namespace popuran::folder::icu_tables {\n\n");
    Write(out, "char16_t", "kCp932Single", single);
    Write(out, "char16_t", "kCp932Pair", pair);
    Write(out, "std::uint16_t", "kCp932Code", code);
    Write(out, "char16_t", "kEucTwo", two);
    Write(out, "char16_t", "kEucThree", three);
    Write(out, "char16_t", "kEucKana", kana);
    Write(out, "char16_t", "kFold", fold);
    Write(out, "char16_t", "kNextAlike", next_alike);
    std::fprintf(out, "}  // namespace popuran::folder::icu_tables\n");
    return std::fclose(out) == 0 ? 0 : 1;
}
