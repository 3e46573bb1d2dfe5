// popuran: the window program.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <QApplication>
#include <QStringList>
#include <QTimer>

#include "ui/app_icon.h"
#include "ui/frm_main.h"
#include "ui/frm_preview.h"
#include "ui/mod_main.h"

namespace {

bool HasEnv(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

// Qt aborts with a long plug-in message when there is nothing to draw on; a user without a
// desktop gets one clear line and a way forward instead.
bool DisplayAvailable() {
    return HasEnv("DISPLAY") || HasEnv("WAYLAND_DISPLAY") || HasEnv("QT_QPA_PLATFORM");
}

// Options for the documentation scripts, not for users: --screenshot-mode N --screenshot FILE
// saves a picture of the window laid out for mode N (with --preview-of FOLDER: of the preview of
// that mode's run over FOLDER); --write-icon FILE saves the icon as PNG.
struct ScriptOptions {
    int mode = -1;
    QString screenshot;
    QString preview_of;
    QString icon;
};

ScriptOptions ReadScriptOptions(const QStringList& args) {
    ScriptOptions options;
    for (qsizetype i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--screenshot-mode")) {
            options.mode = args[i + 1].toInt();
        } else if (args[i] == QLatin1String("--screenshot")) {
            options.screenshot = args[i + 1];
        } else if (args[i] == QLatin1String("--preview-of")) {
            options.preview_of = args[i + 1];
        } else if (args[i] == QLatin1String("--write-icon")) {
            options.icon = args[i + 1];
        }
    }
    return options;
}

// Fills the window as a user would for `mode` and saves its picture.
void TakeScreenshot(popuran::ui::FrmMain& window, int mode, const QString& file,
                    const QString& preview_of) {
    if (mode == 1) {
        window.CboType->setCurrentIndex(1);
        Q_EMIT window.CboType->activated(1);
        window.Cbobox[0]->setEditText(QStringLiteral("htm"));
        window.Cbobox[1]->setEditText(QStringLiteral("html"));
        window.Cbobox[2]->setEditText(QStringLiteral("*.htm"));
    } else if (mode >= 2) {
        window.CboType->setCurrentIndex(2);
        Q_EMIT window.CboType->activated(2);
        window.Cbobox[2]->setEditText(QStringLiteral("*.*"));
        window.ChkSub->setChecked(true);
    } else {
        window.Cbobox[0]->setEditText(QStringLiteral("旧製品名"));
        window.Cbobox[1]->setEditText(QStringLiteral("新製品名"));
        window.Cbobox[2]->setEditText(QStringLiteral("*.txt"));
    }
    window.Cbobox[popuran::run::kFolderBox]->setEditText(
        preview_of.isEmpty() ? QStringLiteral("/home/user/文書") : preview_of);
    window.CmdRpl->setFocus();
    QTimer::singleShot(500, &window, [&window, file, preview_of] {
        QWidget* shown = &window;
        if (!preview_of.isEmpty()) {
            window.CmdPreview->click();
            shown = window.Preview();
        }
        const bool saved = shown != nullptr && shown->grab().save(file);
        QCoreApplication::exit(saved ? 0 : 1);
    });
}

}  // namespace

int main(int argc, char** argv) {
    if (!DisplayAvailable()) {
        std::fputs(
            "popuran: 画面が見つかりません。ウィンドウなしで実行するには popuran-cli を使って"
            "ください / no display found; use popuran-cli for a run without a window\n",
            stderr);
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("popuran"));
    QApplication::setDesktopFileName(QStringLiteral("popuran"));
    QApplication::setWindowIcon(popuran::ui::ProgramIcon());
    popuran::ui::ModMain::UseJapaneseFont(app);
    popuran::ui::ModMain::UseJapaneseQtTexts(app);

    const ScriptOptions options = ReadScriptOptions(QApplication::arguments());
    if (!options.icon.isEmpty()) {
        return popuran::ui::ProgramPixmap().save(options.icon) ? 0 : 1;
    }
    std::unique_ptr<popuran::ui::FrmMain> window = popuran::ui::ModMain::Main();
    if (!options.screenshot.isEmpty()) {
        TakeScreenshot(*window, options.mode, options.screenshot, options.preview_of);
    }
    return QApplication::exec();
}
