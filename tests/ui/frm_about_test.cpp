// The About window: opened from the status label, one at a time, its text, its links.
#include "ui/frm_about.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

#include "ui_harness.h"

namespace popuran::ui {
namespace {

class FrmAboutTest : public testing::WindowTest {
protected:
    FrmAboutTest() {
        previous_ = FrmAbout::SetUrlOpener([this](const QUrl& url) { opened << url.toString(); });
    }
    ~FrmAboutTest() override { FrmAbout::SetUrlOpener(std::move(previous_)); }

    FrmAbout* ClickStatus() {
        QTest::mouseClick(window_.LblStat, Qt::LeftButton);
        return window_.About();
    }
    bool WaitClosed() {
        return QTest::qWaitFor([this] { return window_.About() == nullptr; }, 2000);
    }

    QStringList opened;

private:
    FrmAbout::UrlOpener previous_;
};

TEST_F(FrmAboutTest, OneWindowWithTheVersionLinesAndEnterPressesOk) {
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "first opening" : "opened anew after OK");
        FrmAbout* about = ClickStatus();
        ASSERT_NE(about, nullptr);
        EXPECT_EQ(ClickStatus(), about) << "a second click opens no second window";
        EXPECT_EQ(window_.findChildren<FrmAbout*>().size(), 1);
        EXPECT_FALSE(about->isModal());
        EXPECT_EQ(about->LblVerInfo->text().split(QLatin1Char('\n')),
                  (QStringList{QString(), QStringLiteral("ぽぷらん  Version 1.10"), QString(),
                               QStringLiteral("Copyright (C) 2024 ぽぷらん開発チーム")}));
        EXPECT_FALSE(about->ImgIcon->pixmap().isNull());
        EXPECT_EQ(about->LblURL->cursor().shape(), Qt::PointingHandCursor);
        EXPECT_TRUE(about->LblVerInfo->geometry().contains(about->LblURL->geometry()));
        QTest::keyClick(about, Qt::Key_Return);
        ASSERT_TRUE(WaitClosed());
    }
}

TEST_F(FrmAboutTest, LinksHandOnExactlyWhatTheyShow) {
    FrmAbout* about = ClickStatus();
    ASSERT_NE(about, nullptr);
    QTest::mouseClick(about->LblMail, Qt::LeftButton);
    QTest::mouseClick(about->LblURL, Qt::LeftButton);
    EXPECT_EQ(opened, (QStringList{QStringLiteral("mailto:popuran@example.org"),
                                   QStringLiteral("https://popuran.example.org/")}));
    EXPECT_EQ(about->LblMail->text(), QStringLiteral("popuran@example.org"));
    EXPECT_EQ(about->LblURL->text(), QStringLiteral("https://popuran.example.org/"));
    EXPECT_TRUE(about->LblMail->font().underline() && about->LblURL->font().underline());
}

TEST_F(FrmAboutTest, ExitClosesItAndEndsTheProgram) {
    ASSERT_NE(ClickStatus(), nullptr);
    QSignalSpy ended(&window_, &FrmMain::ProgramEnded);
    QTest::mouseClick(window_.CmdEnd, Qt::LeftButton);
    EXPECT_FALSE(window_.isVisible());
    EXPECT_EQ(ended.count(), 1);
    EXPECT_TRUE(WaitClosed());
}

}  // namespace
}  // namespace popuran::ui
