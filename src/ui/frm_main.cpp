#include "ui/frm_main.h"

namespace popuran::ui {

FrmMain::FrmMain(QWidget* parent) : QWidget(parent) {
    setWindowTitle(QStringLiteral("ぽぷらん"));
}

}  // namespace popuran::ui
