// FrmMain: the main window.
#pragma once

#include <QWidget>

namespace popuran::ui {

class FrmMain : public QWidget {
    Q_OBJECT
public:
    explicit FrmMain(QWidget* parent = nullptr);
};

}  // namespace popuran::ui
