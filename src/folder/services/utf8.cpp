// UTF-8 to text and back, lossless for any byte string (file names are bytes, not UTF-8).
#include "folder/services/utf8.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace popuran::folder {

namespace {

// A byte that is not part of valid UTF-8 becomes this plus the byte: U+DC80..U+DCFF, low
// surrogates that valid UTF-8 can never produce, so TextToUtf8 can tell them apart.
constexpr char32_t kEscapeBase = 0xDC00;

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// The length of the valid UTF-8 sequence at bytes[i] and its code point, or 0 when the bytes
// there do not form one (overlong forms, encoded surrogates and code points above U+10FFFF
// included).
std::size_t DecodeOne(std::string_view bytes, std::size_t i, char32_t& cp) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[i + k]); };
    const std::size_t avail = bytes.size() - i;
    const unsigned char b0 = at(0);
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        if (avail < 2 || !IsContinuation(at(1))) {
            return 0;
        }
        cp = (char32_t{b0} & 0x1F) << 6 | (char32_t{at(1)} & 0x3F);
        return 2;
    }
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        if (avail < 3) {
            return 0;
        }
        const unsigned char b1 = at(1);
        // The second byte's range rules out overlong forms (E0) and surrogates (ED).
        const unsigned char lo = b0 == 0xE0 ? 0xA0 : 0x80;
        const unsigned char hi = b0 == 0xED ? 0x9F : 0xBF;
        if (b1 < lo || b1 > hi || !IsContinuation(at(2))) {
            return 0;
        }
        cp = (char32_t{b0} & 0x0F) << 12 | (char32_t{b1} & 0x3F) << 6 | (char32_t{at(2)} & 0x3F);
        return 3;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        if (avail < 4) {
            return 0;
        }
        const unsigned char b1 = at(1);
        // F0 90.. is the first non-overlong form; F4 8F.. the last below U+110000.
        const unsigned char lo = b0 == 0xF0 ? 0x90 : 0x80;
        const unsigned char hi = b0 == 0xF4 ? 0x8F : 0xBF;
        if (b1 < lo || b1 > hi || !IsContinuation(at(2)) || !IsContinuation(at(3))) {
            return 0;
        }
        cp = (char32_t{b0} & 0x07) << 18 | (char32_t{b1} & 0x3F) << 12 |
             (char32_t{at(2)} & 0x3F) << 6 | (char32_t{at(3)} & 0x3F);
        return 4;
    }
    return 0;
}

void AppendUtf8(std::string& out, char32_t cp) {
    const auto put = [&](char32_t v) { out.push_back(static_cast<char>(v)); };
    if (cp < 0x80) {
        put(cp);
    } else if (cp < 0x800) {
        put(0xC0 | cp >> 6);
        put(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        put(0xE0 | cp >> 12);
        put(0x80 | (cp >> 6 & 0x3F));
        put(0x80 | (cp & 0x3F));
    } else {
        put(0xF0 | cp >> 18);
        put(0x80 | (cp >> 12 & 0x3F));
        put(0x80 | (cp >> 6 & 0x3F));
        put(0x80 | (cp & 0x3F));
    }
}

}  // namespace

std::u16string Utf8ToText(std::string_view bytes) {
    std::u16string text;
    text.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) {
            text.push_back(static_cast<char16_t>(b));
            ++i;
            continue;
        }
        char32_t cp = 0;
        const std::size_t n = DecodeOne(bytes, i, cp);
        if (n == 0) {
            // Only this byte is escaped; decoding starts afresh at the next one, so a valid
            // sequence right after a stray byte still decodes.
            text.push_back(static_cast<char16_t>(kEscapeBase + b));
            ++i;
            continue;
        }
        if (cp < 0x10000) {
            text.push_back(static_cast<char16_t>(cp));
        } else {
            text.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            text.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        }
        i += n;
    }
    return text;
}

std::string TextToUtf8(std::u16string_view text) {
    // The ASCII start, all of most paths, is copied in one go.
    std::size_t ascii = 0;
    while (ascii < text.size() && text[ascii] < 0x80) {
        ++ascii;
    }
    std::string bytes(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(ascii));
    if (ascii == text.size()) {
        return bytes;
    }
    bytes.reserve(text.size() + text.size() / 2);
    for (std::size_t i = ascii; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (u < 0x80) {
            bytes.push_back(static_cast<char>(u));
        } else if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                   text[i + 1] <= 0xDFFF) {
            const char32_t cp = 0x10000 + ((char32_t{u} - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            AppendUtf8(bytes, cp);
            ++i;
        } else if (u >= 0xDC80 && u <= 0xDCFF) {
            bytes.push_back(static_cast<char>(u - kEscapeBase));
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            // Any other unpaired surrogate cannot have come from a name or any byte string;
            // writing its generalized three-byte form would make a name no tool can decode,
            // so it becomes '?'.
            bytes.push_back('?');
        } else {
            AppendUtf8(bytes, u);
        }
    }
    return bytes;
}

}  // namespace popuran::folder
