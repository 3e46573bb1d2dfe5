#include "ui/mod_dialog_tree_top.h"

#include <utility>

#include <QFileDialog>

namespace popuran::ui::modDialogTreeTop {

namespace {

DialogFunction& Function() {
    static DialogFunction function;
    return function;
}

}  // namespace

QString ShowFolderDialog(QWidget* owner, const QString& prompt) {
    const DialogFunction& function = Function();
    if (function) {
        return function(owner, prompt);
    }
    // No start folder: the picker opens where the platform chooses, as a fresh browse would.
    return QFileDialog::getExistingDirectory(owner, prompt, QString(), QFileDialog::ShowDirsOnly);
}

DialogFunction SetDialogFunction(DialogFunction function) {
    return std::exchange(Function(), std::move(function));
}

}  // namespace popuran::ui::modDialogTreeTop
