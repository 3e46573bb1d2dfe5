// Whole runs started from the window on real temporary folders: what the window shows in each
// state, the summary, and stopping or closing in the middle of a large file.
#include <QSignalSpy>
#include <QTimer>
#include <gtest/gtest.h>

#include "support/temp_tree.h"
#include "ui/frm_about.h"
#include "ui_harness.h"

namespace popuran::ui {
namespace {

class WindowRunTest : public testing::WindowTest {
protected:
    // Every yield dispatches events, so that what a test does at a yield does not depend on
    // the speed of the machine.
    WindowRunTest() { window_.SetYieldInterval(std::chrono::nanoseconds(0)); }

    void Fill(const char16_t* search, const char16_t* replacement, const char16_t* pattern) {
        window_.SetBoxText(0, search);
        window_.SetBoxText(1, replacement);
        window_.SetBoxText(2, pattern);
        window_.Cbobox[3]->setEditText(Root());
    }
    QString Root() const { return QString::fromStdString(tree_.Root()); }
    // A file long enough that the run yields many times inside it.
    std::string CreateBigFile() {
        std::string big;
        for (int i = 0; i < 20000; ++i) {
            big += "ab ";
        }
        tree_.Create("big.txt", big);
        return big;
    }
    // Runs `action` at the first yield at which the progress marker shows: the run is then
    // inside the replacements of a file.
    void AtProgress(std::function<void()> action) {
        auto* timer = new QTimer(&window_);
        QObject::connect(timer, &QTimer::timeout, timer, [this, timer, action] {
            const QString stat = window_.LblStat->text();
            if (!stat.isEmpty() && stat != QStringLiteral("バージョン情報")) {
                timer->stop();
                action();
            }
        });
        timer->start(0);
    }
    QString Caption() const { return window_.windowTitle(); }

    testing::TempTree tree_;
};

TEST_F(WindowRunTest, AReplacementRunFromStartToSummary) {
    tree_.Create("a.txt", "abc ABC abc\r\n");
    tree_.Create("b.txt", "xyz\r\n");
    tree_.Create("c.dat", "abc");
    Fill(u"abc", u"置換", u"*.txt");

    QStringList running;  // at the first yield, before the first file
    QTimer::singleShot(0, &window_, [this, &running] {
        QTest::mouseClick(window_.LblStat, Qt::LeftButton);
        running << window_.CmdRpl->text() << Caption() << window_.LblPath->text()
                << window_.LblStat->text() << (window_.About() ? "About" : "no About");
    });
    QStringList closing;  // while the summary shows
    messages_.on_message = [this, &closing](const QString&) {
        closing << window_.CmdRpl->text() << Caption() << window_.LblPath->text();
    };
    QTest::mouseClick(window_.CmdRpl, Qt::LeftButton);

    EXPECT_EQ(running, (QStringList{QStringLiteral("中止"),
                                    QStringLiteral("ぽぷらん ： 文字列置換　[実行中]"),
                                    Root() + QStringLiteral("/a.txt"), QString(), "no About"}));
    EXPECT_EQ(closing,
              (QStringList{QStringLiteral("中止"), QStringLiteral("文字列置換"), QString()}));
    EXPECT_EQ(messages_.texts, std::vector<QString>{QStringLiteral(
                                   "検索したファイルの数 = 2\r置換したファイルの数 = 1\r"
                                   "置換した文字列の数 = 2")});
    EXPECT_EQ(window_.CmdRpl->text(), QStringLiteral("開始"));
    EXPECT_TRUE(window_.CmdRpl->isEnabled());
    EXPECT_EQ(Caption(), QStringLiteral("文字列置換"));
    // An ASCII file takes a Japanese replacement in UTF-8.
    EXPECT_EQ(tree_.Read("a.txt"), "置換 ABC 置換\r\n");
    EXPECT_EQ(tree_.Read("a.txt.BAK"), "abc ABC abc\r\n");
    EXPECT_EQ(tree_.Read("c.dat"), "abc");
    EXPECT_EQ(window_.Cbobox[3]->itemText(0), Root()) << "the history has the folder";
    QTest::mouseClick(window_.LblStat, Qt::LeftButton);
    EXPECT_NE(window_.About(), nullptr) << "the status label opens About again";
}

TEST_F(WindowRunTest, AStopInsideALargeFileLeavesItUntouched) {
    for (const bool by_enter : {false, true}) {
        SCOPED_TRACE(by_enter ? "Enter in a box" : "a click on Stop");
        messages_.texts.clear();
        const std::string big = CreateBigFile();
        Fill(u"a", u"z", u"*.txt");
        bool disabled_at_once = false;
        AtProgress([this, &disabled_at_once, by_enter] {
            if (by_enter) {
                QTest::keyClick(window_.Cbobox[1], Qt::Key_Return);
            } else {
                QTest::mouseClick(window_.CmdRpl, Qt::LeftButton);
            }
            disabled_at_once = !window_.CmdRpl->isEnabled();
        });
        QTest::mouseClick(window_.CmdRpl, Qt::LeftButton);

        EXPECT_TRUE(disabled_at_once);
        EXPECT_EQ(messages_.texts, std::vector<QString>{QStringLiteral(
                                       "検索したファイルの数 = 1\r置換したファイルの数 = 0\r"
                                       "置換した文字列の数 = 0")});
        EXPECT_TRUE(tree_.Read("big.txt") == big);
        EXPECT_EQ(tree_.Names(), std::vector<std::string>{"big.txt"}) << "no backup, no leftovers";
        EXPECT_EQ(window_.CmdRpl->text(), QStringLiteral("開始"));
        EXPECT_TRUE(window_.CmdRpl->isEnabled());
    }
}

TEST_F(WindowRunTest, ExitDuringARunEndsTheProgramWithoutASummary) {
    const std::string big = CreateBigFile();
    tree_.Create("later.txt", "a");
    Fill(u"a", u"z", u"*.txt");
    QSignalSpy ended(&window_, &FrmMain::ProgramEnded);
    int ended_inside_run = -1;
    AtProgress([this, &ended, &ended_inside_run] {
        QTest::mouseClick(window_.CmdEnd, Qt::LeftButton);
        ended_inside_run = static_cast<int>(ended.count());
    });
    QTest::mouseClick(window_.CmdRpl, Qt::LeftButton);

    EXPECT_EQ(ended_inside_run, 0) << "the program ends only once the run has let go";
    EXPECT_EQ(ended.count(), 1);
    EXPECT_FALSE(window_.isVisible());
    EXPECT_TRUE(messages_.texts.empty());
    EXPECT_TRUE(tree_.Read("big.txt") == big);
    EXPECT_EQ(tree_.Read("later.txt"), "a") << "no file is touched after the close";
}

}  // namespace
}  // namespace popuran::ui
