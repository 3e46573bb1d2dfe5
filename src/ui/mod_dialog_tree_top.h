// modDialogTreeTop: the platform's folder picker, knowing nothing of the main window.
#pragma once

#include <functional>

#include <QString>
#include <QWidget>

namespace popuran::ui::modDialogTreeTop {

// Shows the modal folder picker over `owner` with `prompt` as its title. Returns the chosen
// folder's full path as the picker gives it, or an empty text when nothing was chosen.
QString ShowFolderDialog(QWidget* owner, const QString& prompt);

// What ShowFolderDialog does; tests put a substitute in place. Returns the function that was in
// place; an empty function restores the platform's picker.
using DialogFunction = std::function<QString(QWidget* owner, const QString& prompt)>;
DialogFunction SetDialogFunction(DialogFunction function);

}  // namespace popuran::ui::modDialogTreeTop
