// Code page 932 (Microsoft's Shift-JIS): decoding that loses no byte, encoding and lengths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace popuran::folder {

// Decoding loses no byte: every byte sequence decodes to a text that Cp932Encode turns back into
// the same bytes, except for the 398 codes of characters that have a second code.
//  - A mapped single byte or lead/trail pair becomes its character.
//  - A lead/trail pair that has no character stays one character, the private-use code point
//    U+F0000 + (lead << 8 | trail), so its trail byte is never read as an ASCII character.
//  - Any other byte becomes the lone code unit U+DC00 + byte (as for file names).
// A character with two codes (NEC row 13, the NEC-selected and the IBM extension rows) decodes
// from either; encoding writes the one code the system's own converter writes: the JIS code
// where there is one, else the IBM-extension code (never the NEC-selected rows ED/EE). Mode 0
// keeps a file's own bytes outside the replaced spans, so this only affects replacement texts.

// Decodes bytes to text.
std::u16string Cp932Decode(std::string_view bytes);
// As Cp932Decode, and offsets[i] is the byte offset where the character holding code unit i
// starts; offsets.back() == bytes.size(), so offsets has text.size() + 1 entries. Both outputs
// are replaced. Throws std::length_error for 4 GiB of bytes or more (offsets are 32 bits).
void Cp932DecodeWithOffsets(std::string_view bytes, std::u16string& text,
                            std::vector<std::uint32_t>& offsets);
// Encodes text; the inverse of Cp932Decode (see above for characters with two codes). A
// character that has no code page 932 code (and is not one of the escapes above) is written as
// '?'; use Cp932CanEncode to refuse such texts first.
std::string Cp932Encode(std::u16string_view text);
// True when every character of the text is a real code page 932 character: no unpaired
// surrogate, no escape code point, nothing without a code.
bool Cp932CanEncode(std::u16string_view text);
// The code that Cp932Encode writes for the BMP character c (a byte, or lead << 8 | trail), or
// 0xFFFF when it has none.
std::uint16_t Cp932CodeOf(char16_t c);
// Number of bytes (1 or 2) that form the character starting at bytes[0]; avail >= 1 is how
// many bytes are there. A lead byte at the very end counts 1.
std::size_t Cp932CharLength(const unsigned char* bytes, std::size_t avail);

}  // namespace popuran::folder
