#include "folder/services/path_helpers.h"

#include "folder/services/code_units.h"

namespace popuran::folder {

std::u16string ExtensionOf(std::u16string_view s) {
    const auto p = s.rfind(u'.');
    return p == std::u16string_view::npos ? std::u16string() : std::u16string(s.substr(p + 1));
}

std::u16string BaseNameOf(std::u16string_view s) {
    const auto p = s.rfind(u'.');
    return p == std::u16string_view::npos ? std::u16string() : std::u16string(s.substr(0, p + 1));
}

std::u16string FolderOf(std::u16string_view s) {
    const auto q = s.rfind(kSeparator);
    return q == std::u16string_view::npos ? std::u16string() : std::u16string(s.substr(0, q + 1));
}

std::u16string FileNameOf(std::u16string_view s) {
    const auto q = s.rfind(kSeparator);
    return q == std::u16string_view::npos ? std::u16string() : std::u16string(s.substr(q + 1));
}

bool EndsInBak(std::u16string_view name) {
    if (name.size() < 3) {
        return false;
    }
    const auto tail = name.substr(name.size() - 3);
    return AsciiUpper(tail[0]) == u'B' && AsciiUpper(tail[1]) == u'A' &&
           AsciiUpper(tail[2]) == u'K';
}

}  // namespace popuran::folder
