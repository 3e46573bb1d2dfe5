#include <QApplication>

#include "ui/frm_main.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    popuran::ui::FrmMain window;
    window.show();
    return QApplication::exec();
}
