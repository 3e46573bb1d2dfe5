#include "ui/frm_about.h"

#include <algorithm>
#include <utility>

#include <QDesktopServices>
#include <QFontMetrics>
#include <QPalette>

#include "run/state/run_state.h"
#include "ui/qt_text.h"
#include "ui/twips.h"

namespace popuran::ui {

namespace {

constexpr char16_t kCaption[] = u"バージョン情報";
constexpr char16_t kVersion[] = u"1.10";
constexpr char16_t kCopyright[] = u"Copyright (C) 2024 ぽぷらん開発チーム";
constexpr char kMailAddress[] = "popuran@example.org";
constexpr char kWebAddress[] = "https://popuran.example.org/";

FrmAbout::UrlOpener& Opener() {
    static FrmAbout::UrlOpener opener;
    return opener;
}

void StyleLink(QLabel& label) {
    label.setTextFormat(Qt::PlainText);
    label.setAlignment(Qt::AlignCenter);
    label.setAutoFillBackground(true);
    QPalette palette = label.palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::WindowText, QColor(0, 0, 255));
    label.setPalette(palette);
    QFont font = label.font();
    font.setPointSize(9);
    font.setUnderline(true);
    label.setFont(font);
}

}  // namespace

FrmAbout::FrmAbout(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setWindowTitle(ToQString(kCaption));
    setModal(false);

    // Built in reverse stacking order: the icon and the links lie on top of the version text.
    LblVerInfo = new QLabel(this);
    LblVerInfo->setTextFormat(Qt::PlainText);
    LblVerInfo->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    LblVerInfo->setFrameStyle(QFrame::Box | QFrame::Plain);
    LblVerInfo->setAutoFillBackground(true);
    QPalette white = LblVerInfo->palette();
    white.setColor(QPalette::Window, Qt::white);
    LblVerInfo->setPalette(white);

    CmdOk = new QPushButton(QStringLiteral("OK"), this);
    CmdOk->setDefault(true);
    CmdOk->setAutoDefault(true);

    LblMail = new ClickLabel(QString::fromLatin1(kMailAddress), this);
    StyleLink(*LblMail);
    LblMail->setCursor(Qt::PointingHandCursor);
    LblURL = new ClickLabel(QString::fromLatin1(kWebAddress), this);
    StyleLink(*LblURL);

    ImgIcon = new QLabel(this);

    // The design fits a font with short lines; with a taller font the text area grows so that
    // the links never cover the copyright line.
    const Twips t = Twips::For(*this);
    const QFontMetrics text_metrics(LblVerInfo->font());
    const QFontMetrics link_metrics(LblMail->font());
    const int line = text_metrics.lineSpacing();
    const int link_height = link_metrics.height();
    const int text_bottom = 4 * line + 2;
    const int mail_top = std::max(t.Px(960), text_bottom + line / 2);
    const int url_top = std::max(t.Px(1275), mail_top + link_height + line / 4);
    const int info_height = std::max(t.Px(1575), url_top + link_height + line);
    const int width = t.Px(4335);
    const int button_height = t.Px(495);

    LblVerInfo->setGeometry(0, 0, width, info_height);
    CmdOk->setGeometry(0, info_height - 1, width, button_height);
    for (auto [label, top] : {std::pair{LblMail, mail_top}, std::pair{LblURL, url_top}}) {
        label->adjustSize();
        label->move((width - label->width()) / 2, top);
    }
    ImgIcon->setGeometry(t.Rect(120, 120, 480, 480));
    setFixedSize(width, info_height - 1 + button_height);

    connect(CmdOk, &QPushButton::clicked, this, &FrmAbout::cmdOK_Click);
    connect(LblMail, &ClickLabel::Clicked, this, &FrmAbout::LblMail_Click);
    connect(LblURL, &ClickLabel::Clicked, this, &FrmAbout::LblURL_Click);
}

QString FrmAbout::VersionText() {
    return ToQString(u"\r" + std::u16string(run::kProgramTitle) + u"  Version " + kVersion +
                     u"\r\r" + kCopyright);
}

void FrmAbout::Form_Load() {
    if (const QWidget* owner = parentWidget(); owner != nullptr) {
        const QPixmap icon = owner->windowIcon().pixmap(32, 32);
        if (!icon.isNull()) {
            ImgIcon->setPixmap(icon);
        }
    }
    LblURL->setCursor(LblMail->cursor());
    // The label draws a line per carriage return; Qt breaks lines at line feeds.
    QString shown = VersionText();
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    LblVerInfo->setText(shown);
}

FrmAbout::UrlOpener FrmAbout::SetUrlOpener(UrlOpener opener) {
    return std::exchange(Opener(), std::move(opener));
}

void FrmAbout::Open(const QUrl& url) {
    const UrlOpener& opener = Opener();
    if (opener) {
        opener(url);
        return;
    }
    // Without a mail program or browser nothing happens, and nothing is reported.
    (void)QDesktopServices::openUrl(url);
}

void FrmAbout::cmdOK_Click() { close(); }

void FrmAbout::LblMail_Click() { Open(QUrl(QStringLiteral("mailto:") + LblMail->text())); }

void FrmAbout::LblURL_Click() { Open(QUrl(LblURL->text())); }

}  // namespace popuran::ui
