// A whole run started from the window on a real temporary folder: closing the window in the
// middle of a large file ends the program without a summary.
#include <QSignalSpy>
#include <QTimer>
#include <gtest/gtest.h>

#include "support/temp_tree.h"
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
