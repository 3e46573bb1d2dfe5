// The text encodings of file contents: code page 932, UTF-8, EUC-JP and UTF-16, unit by unit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace popuran::folder {

enum class Encoding : std::uint8_t { kCp932, kUtf8, kUtf8Bom, kEucJp, kUtf16Le, kUtf16Be };

// "cp932", "utf-8", "utf-8-bom", "euc-jp", "utf-16le", "utf-16be".
std::string_view EncodingName(Encoding encoding);
// The bytes a file in the encoding begins with (empty for code page 932, UTF-8 and EUC-JP).
std::string_view ByteOrderMark(Encoding encoding);
// The longest character unit in bytes.
std::size_t MaxUnitBytes(Encoding encoding);

// What a byte, or a well-formed sequence that has no character, decodes to: the lone code unit
// U+DC00 + byte for a single byte, plane 15 (code page 932 and EUC-JP pairs) or plane 16 (EUC-JP
// three-byte sequences) for a sequence kept as one unit, so that its later bytes are never read
// as characters of their own.
bool IsEscape(char32_t value);

// The character unit at bytes[0] (avail >= 1 bytes there): returns its length and sets value to
// its character or escape. A unit that the bytes end inside counts as escaped single bytes.
// EUC-JP is the table of the system's own converter: JIS X 0208, half-width katakana after
// 0x8E and JIS X 0212 after 0x8F, without the vendor rows. UTF-16 is read from even offsets
// only; a lone surrogate is its own value.
std::size_t DecodeUnit(Encoding encoding, const unsigned char* bytes, std::size_t avail,
                       char32_t& value);
// The bytes (after any byte order mark) as text, unit by unit.
std::u16string DecodeText(Encoding encoding, std::string_view bytes);

// Characters that the Japanese encodings map to different code points (〜 U+301C and ～ U+FF5E,
// ‖ and ∥, − and －, ¢ and ￠, £ and ￡, ¬ and ￢, — and ―) are one character: both forms give
// the same value here (the form code page 932 decodes to); every other character is itself.
char32_t SameCharacter(char32_t c);
// The other form of such a character, or c itself.
char32_t OtherForm(char32_t c);

// True when every character of the text has a code in the encoding (the other form of a
// character counts); unpaired surrogates and escapes have none.
bool CanEncodeText(Encoding encoding, std::u16string_view text);
// The text's bytes in the encoding, without a byte order mark; a character that has no code
// but whose other form has is written as that form; one that has neither becomes '?' (check
// CanEncodeText first).
std::string EncodeText(Encoding encoding, std::u16string_view text);

// Bytes in an encoding that mode 0 leaves alone ("ISO-2022-JP", "UTF-32LE", ...), decoded by
// ICU with U+FFFD for what does not decode; empty when ICU does not know the name.
std::u16string DecodeByIcu(const char* name, std::string_view bytes);

}  // namespace popuran::folder
