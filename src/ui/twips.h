// Design positions in twips, turned into pixels for the screen a window is on.
#pragma once

#include <QRect>
#include <QWidget>

namespace popuran::ui {

// 1440 twips to the inch: 15 twips to a pixel at 96 dpi. `scale` is the screen's logical dpi
// divided by 96.
class Twips {
public:
    explicit Twips(double scale) : scale_(scale) {}
    // The scale of the screen that `widget` is on (1 when there is none).
    static Twips For(const QWidget& widget);

    int Px(int twips) const;
    QRect Rect(int left, int top, int width, int height) const;
    double Scale() const { return scale_; }

private:
    double scale_;
};

}  // namespace popuran::ui
