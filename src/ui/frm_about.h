// FrmAbout: the version window, opened from the main window's status label.
#pragma once

#include <functional>

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QUrl>

#include "ui/click_label.h"

namespace popuran::ui {

class FrmAbout : public QDialog {
    Q_OBJECT
public:
    // The window is modeless and owned by `owner`, over which it opens centred.
    explicit FrmAbout(QWidget* owner);

    // Fills the icon, the link pointer and the version text. A step that fails is skipped.
    void Form_Load();

    // The version text as it is built, lines separated by carriage returns.
    static QString VersionText();

    // Hands an address to the desktop ("open"); failures are silent. Tests put a recording
    // function in place. Returns the function that was in place; an empty one restores the
    // desktop's.
    using UrlOpener = std::function<void(const QUrl& url)>;
    static UrlOpener SetUrlOpener(UrlOpener opener);

    // Controls, in tab order.
    QLabel* LblVerInfo;
    QPushButton* CmdOk;
    ClickLabel* LblMail;
    ClickLabel* LblURL;
    QLabel* ImgIcon;

private Q_SLOTS:
    void cmdOK_Click();
    void LblMail_Click();
    void LblURL_Click();

private:
    static void Open(const QUrl& url);
};

}  // namespace popuran::ui
