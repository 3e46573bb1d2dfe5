// The program's icon, shown by both windows and installed for the desktop.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace popuran::ui {

QPixmap ProgramPixmap();  // 32 x 32
QIcon ProgramIcon();

}  // namespace popuran::ui
