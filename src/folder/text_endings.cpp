#include "folder/text_endings.h"

#include <algorithm>
#include <array>
#include <string>

#include "folder/services/text_search.h"

namespace popuran::folder {

TextKind TextKindByName(std::u16string_view path) {
    static constexpr std::array<std::u16string_view, 3> kText3 = {u"TXT", u"INI", u"HTM"};
    static constexpr std::array<std::u16string_view, 26> kBinary3 = {
        u"EXE", u"BIN", u"DLL", u"LZH", u"ZIP", u"ZAB", u"CLP", u"JPG", u"PIC",
        u"PCD", u"BMP", u"GIF", u"TIF", u"CAM", u"RLE", u"WMF", u"MID", u"WAV",
        u"MP3", u".RA", u"VQF", u"RTF", u"PDF", u"XLS", u"PPT", u"MDB"};
    static constexpr std::array<std::u16string_view, 3> kBinary4 = {u"JPEG", u"TIFF", u"PICT"};
    auto last = [path](std::size_t n) {
        return ToUpper(path.substr(path.size() > n ? path.size() - n : 0));
    };
    const std::u16string three = last(3);
    if (std::find(kText3.begin(), kText3.end(), three) != kText3.end()) {
        return TextKind::kText;
    }
    if (std::find(kBinary3.begin(), kBinary3.end(), three) != kBinary3.end()) {
        return TextKind::kBinary;
    }
    const std::u16string four = last(4);
    if (four == u"HTML") {
        return TextKind::kText;
    }
    if (std::find(kBinary4.begin(), kBinary4.end(), four) != kBinary4.end()) {
        return TextKind::kBinary;
    }
    return TextKind::kUnknown;
}

}  // namespace popuran::folder
