#include "ui/mod_main.h"

#include <utility>

#include <QCoreApplication>
#include <QFont>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QStringList>
#include <QTranslator>

#include "run/state/run_state.h"
#include "ui/frm_main.h"
#include "ui/qt_text.h"

namespace popuran::ui::ModMain {

namespace {

void ShowMessageBox(QWidget* owner, const QString& text, const QString& details) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QMessageBox box(QMessageBox::NoIcon, ToQString(run::kProgramTitle), shown, QMessageBox::Ok,
                    owner);
    // A file name such as "<b>.txt" in a failure description must show as written.
    box.setTextFormat(Qt::PlainText);
    if (!details.isEmpty()) {
        box.setDetailedText(details);
    }
    box.exec();
}

ConfirmRoutine& Confirmation() {
    static ConfirmRoutine routine;
    return routine;
}

MessageRoutine& Routine() {
    static MessageRoutine routine;
    return routine;
}

}  // namespace

void ShowMessage(const QString& text, QWidget* owner, const QString& details) {
    const MessageRoutine& routine = Routine();
    if (routine) {
        routine(owner, text, details);
    } else {
        ShowMessageBox(owner, text, details);
    }
}

MessageRoutine SetMessageRoutine(MessageRoutine routine) {
    return std::exchange(Routine(), std::move(routine));
}

bool Confirm(const QString& text, QWidget* owner) {
    if (const ConfirmRoutine& routine = Confirmation(); routine) {
        return routine(owner, text);
    }
    QString shown = text;
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QMessageBox box(QMessageBox::Question, ToQString(run::kProgramTitle), shown,
                    QMessageBox::Yes | QMessageBox::No, owner);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

ConfirmRoutine SetConfirmRoutine(ConfirmRoutine routine) {
    return std::exchange(Confirmation(), std::move(routine));
}

void UseJapaneseFont(QApplication& app) {
    // Japanese glyph shapes differ from the Chinese ones that share their code points, so a
    // family made for Japanese comes first.
    static const char* const kFamilies[] = {"Noto Sans CJK JP", "Noto Sans JP", "IPAPGothic",
                                            "IPAGothic",        "VL PGothic",   "TakaoPGothic"};
    const QStringList installed = QFontDatabase::families(QFontDatabase::Japanese);
    for (const char* family : kFamilies) {
        const QString name = QString::fromLatin1(family);
        if (installed.contains(name)) {
            QFont font(name);
            font.setPointSize(9);
            app.setFont(font);
            return;
        }
    }
}

bool UseJapaneseQtTexts(QApplication& app) {
    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_ja"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

std::unique_ptr<FrmMain> Main() {
    // The window decides when the program ends: during a run that is only once the run has
    // returned, which the automatic quit on the last closed window would not wait for.
    QApplication::setQuitOnLastWindowClosed(false);
    auto window = std::make_unique<FrmMain>();
    QObject::connect(window.get(), &FrmMain::ProgramEnded, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    window->Form_Load();
    return window;
}

}  // namespace popuran::ui::ModMain
