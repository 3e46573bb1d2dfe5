// ModMain: the start-up routine and the message box through which everything is reported.
#pragma once

#include <functional>
#include <memory>

#include <QApplication>
#include <QString>
#include <QWidget>

namespace popuran::ui {

class FrmMain;

namespace ModMain {

// Shows `text` in a modal box titled "ぽぷらん" with one OK button and no icon; returns when the
// user has closed it. Carriage returns start new lines. The text is never read as markup.
// Non-empty `details` go in the box's details area, shown on request.
void ShowMessage(const QString& text, QWidget* owner = nullptr, const QString& details = {});

// What ShowMessage does. Tests put a capturing routine in place so that nothing blocks on a
// modal box. Returns the routine that was in place; an empty routine restores the message box.
using MessageRoutine =
    std::function<void(QWidget* owner, const QString& text, const QString& details)>;
MessageRoutine SetMessageRoutine(MessageRoutine routine);

// Asks a yes/no question in a modal box titled "ぽぷらん"; true for yes. Tests put a routine in
// place as for messages.
bool Confirm(const QString& text, QWidget* owner = nullptr);
using ConfirmRoutine = std::function<bool(QWidget* owner, const QString& text)>;
ConfirmRoutine SetConfirmRoutine(ConfirmRoutine routine);

// Makes the platform's Japanese font the application's font, when one is installed.
void UseJapaneseFont(QApplication& app);

// Makes Qt's own texts (the folder picker's "Look in", the buttons' "Cancel") Japanese, whatever
// the locale, as the program's own texts are. Returns false when Qt's Japanese translation is not
// installed (Debian: qt6-translations-l10n); Qt's texts then stay English.
bool UseJapaneseQtTexts(QApplication& app);

// Start-up: creates the main window, which loads itself, and shows it. The program ends when
// the window has been closed; the window asks the application to quit then.
std::unique_ptr<FrmMain> Main();

}  // namespace ModMain

}  // namespace popuran::ui
