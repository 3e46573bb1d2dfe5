#include "ui/twips.h"

#include <cmath>

#include <QScreen>

namespace popuran::ui {

Twips Twips::For(const QWidget& widget) {
    const QScreen* screen = widget.screen();
    if (screen == nullptr || screen->logicalDotsPerInch() <= 0) {
        return Twips(1.0);
    }
    return Twips(screen->logicalDotsPerInch() / 96.0);
}

int Twips::Px(int twips) const { return static_cast<int>(std::lround(twips * scale_ / 15.0)); }

QRect Twips::Rect(int left, int top, int width, int height) const {
    // Edges are rounded, not sizes, so that controls that touch in the design still touch.
    const int x = Px(left);
    const int y = Px(top);
    return QRect(x, y, Px(left + width) - x, Px(top + height) - y);
}

}  // namespace popuran::ui
