// ClickLabel: a label that reports a click of the left mouse button.
#pragma once

#include <QLabel>
#include <QMouseEvent>

namespace popuran::ui {

class ClickLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

Q_SIGNALS:
    void Clicked();

protected:
    // A click is a press and release of the left button over the label, as for a button.
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool pressed_ = false;
};

}  // namespace popuran::ui
