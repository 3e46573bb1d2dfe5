// Helpers for the window tests: one application object, captured messages, typing.
#pragma once

#include <functional>
#include <ostream>
#include <vector>

#include <QApplication>
#include <QCoreApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QString>
#include <QTest>
#include <gtest/gtest.h>

#include "ui/frm_main.h"
#include "ui/mod_main.h"

// Readable failure output for QString comparisons.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace popuran::testing {

// The one application object of a test program. It stays reachable until exit.
inline QApplication& App() {
    static int argc = 1;
    static char name[] = "popuran-ui-test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Puts a capturing message routine in place for the life of the object, so that no test ever
// waits on a modal box.
class CapturedMessages {
public:
    CapturedMessages() {
        previous_ = ui::ModMain::SetMessageRoutine(
            [this](QWidget*, const QString& text, const QString& detail) {
                texts.push_back(text);
                details.push_back(detail);
                if (on_message) {
                    on_message(text);
                }
            });
    }
    ~CapturedMessages() { ui::ModMain::SetMessageRoutine(std::move(previous_)); }

    std::vector<QString> texts;
    std::vector<QString> details;  // the details area of each message, empty when it has none
    std::function<void(const QString&)> on_message;

private:
    ui::ModMain::MessageRoutine previous_;
};

// A loaded, shown main window with captured messages.
class WindowTest : public ::testing::Test {
protected:
    WindowTest() { window_.Form_Load(); }

    QApplication& app_ = App();
    CapturedMessages messages_;
    ui::FrmMain window_;
};

// Types one character as a key press and release carrying it, the way a keyboard delivers
// text; characters outside ASCII arrive with no key code of their own.
inline void TypeChar(QWidget* widget, QChar c) {
    const int key = c.unicode() < 0x80 ? QChar(c).toUpper().unicode() : 0;
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
    QCoreApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(c));
    QCoreApplication::sendEvent(widget, &release);
}

inline void Type(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        TypeChar(widget, c);
    }
}

// What an input method sends when the user confirms composed text.
inline void Commit(QWidget* widget, const QString& text) {
    QInputMethodEvent event;
    event.setCommitString(text);
    QCoreApplication::sendEvent(widget, &event);
}

// The user picks entry `index` of the mode list.
inline void ChooseListEntry(ui::FrmMain& window, int index) {
    window.CboType->setCurrentIndex(index);
    Q_EMIT window.CboType->activated(index);
}

}  // namespace popuran::testing
