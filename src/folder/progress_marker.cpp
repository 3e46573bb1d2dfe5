#include "folder/progress_marker.h"

namespace popuran::folder {

std::u16string ProgressMarker(std::int32_t step) {
    int k = step < 0 ? 0 : static_cast<int>(step % 20);
    if (k > 10) {
        k = 20 - k;
    }
    std::u16string text(11, u'\u3000');
    text[static_cast<std::size_t>(k)] = u'\u25A0';
    return text;
}

}  // namespace popuran::folder
