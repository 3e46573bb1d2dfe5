// The About window: opened from the status label, one at a time, its text, its links.
#include "ui/frm_about.h"

#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include "ui_harness.h"

namespace popuran::ui {
namespace {

class FrmAboutTest : public testing::WindowTest {
protected:
    FrmAboutTest() {
        previous_ = FrmAbout::SetUrlOpener([this](const QUrl& url) { opened.push_back(url); });
    }
    ~FrmAboutTest() override { FrmAbout::SetUrlOpener(std::move(previous_)); }

    FrmAbout* OpenAbout() {
        QTest::mouseClick(window_.LblStat, Qt::LeftButton);
        return window_.About();
    }
    bool WaitClosed() {
        return QTest::qWaitFor([this] { return window_.About() == nullptr; }, 2000);
    }

    std::vector<QUrl> opened;

private:
    FrmAbout::UrlOpener previous_;
};

TEST_F(FrmAboutTest, ShowsTheVersionLinesAndTheIcon) {
    FrmAbout* about = OpenAbout();
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->isVisible());
    EXPECT_FALSE(about->isModal());
    EXPECT_EQ(about->windowTitle(), QStringLiteral("バージョン情報"));
    EXPECT_EQ(FrmAbout::VersionText(),
              QStringLiteral("\rぽぷらん  Version 1.10\r\rCopyright (C) 2024 ぽぷらん開発チーム"));
    EXPECT_EQ(about->LblVerInfo->text().split(QLatin1Char('\n')),
              (QStringList{QString(), QStringLiteral("ぽぷらん  Version 1.10"), QString(),
                           QStringLiteral("Copyright (C) 2024 ぽぷらん開発チーム")}));
    EXPECT_FALSE(about->ImgIcon->pixmap().isNull());
    EXPECT_EQ(about->LblURL->cursor().shape(), Qt::PointingHandCursor);
    // The links lie inside the text area, below the copyright line.
    const QRect info = about->LblVerInfo->geometry();
    EXPECT_TRUE(info.contains(about->LblMail->geometry()));
    EXPECT_TRUE(info.contains(about->LblURL->geometry()));
    EXPECT_LT(about->LblMail->geometry().bottom(), about->LblURL->geometry().top());
}

TEST_F(FrmAboutTest, OpensOnceAndAnewAfterClosing) {
    FrmAbout* first = OpenAbout();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(OpenAbout(), first) << "a second click opens no second window";
    EXPECT_EQ(window_.findChildren<FrmAbout*>().size(), 1);

    QTest::mouseClick(first->CmdOk, Qt::LeftButton);
    ASSERT_TRUE(WaitClosed());
    FrmAbout* second = OpenAbout();
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(second->LblVerInfo->text().contains(QStringLiteral("Version 1.10")));
}

TEST_F(FrmAboutTest, EnterPressesOk) {
    FrmAbout* about = OpenAbout();
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->CmdOk->isDefault());
    QTest::keyClick(about, Qt::Key_Return);
    EXPECT_TRUE(WaitClosed());
}

TEST_F(FrmAboutTest, LinksHandOnExactlyWhatTheyShow) {
    FrmAbout* about = OpenAbout();
    ASSERT_NE(about, nullptr);
    QTest::mouseClick(about->LblMail, Qt::LeftButton);
    QTest::mouseClick(about->LblURL, Qt::LeftButton);
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0].toString(), QStringLiteral("mailto:popuran@example.org"));
    EXPECT_EQ(opened[0].toString(), QStringLiteral("mailto:") + about->LblMail->text());
    EXPECT_EQ(opened[1].toString(), QStringLiteral("https://popuran.example.org/"));
    EXPECT_EQ(opened[1].toString(), about->LblURL->text());
}

TEST_F(FrmAboutTest, TheStatusLabelOpensItOnlyWhileItReadsVersionInformation) {
    for (const char16_t* caption : {u"", u"　　■　　　　　　　　", u"バージョン情報 "}) {
        window_.SetCaption(run::Caption::LblStat, caption);
        EXPECT_EQ(OpenAbout(), nullptr);
    }
    window_.SetCaption(run::Caption::LblStat, u"バージョン情報");
    EXPECT_NE(OpenAbout(), nullptr);
}

TEST_F(FrmAboutTest, ClosingTheMainWindowClosesItAndEndsTheProgram) {
    ASSERT_NE(OpenAbout(), nullptr);
    QSignalSpy ended(&window_, &FrmMain::ProgramEnded);
    QTest::mouseClick(window_.CmdEnd, Qt::LeftButton);
    EXPECT_FALSE(window_.isVisible());
    EXPECT_EQ(ended.count(), 1);
    EXPECT_TRUE(WaitClosed());
}

}  // namespace
}  // namespace popuran::ui
