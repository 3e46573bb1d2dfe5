// Whole runs started from the window on real temporary folders: what the window shows in each
// state, the summary, and stopping or closing in the middle of a large file.
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "support/temp_tree.h"
#include "ui/frm_about.h"
#include "ui_harness.h"

namespace popuran::ui {
namespace {

using testing::TempTree;

class WindowRunTest : public testing::WindowTest {
protected:
    void Fill(const char16_t* search, const char16_t* replacement, const char16_t* pattern) {
        window_.SetBoxText(0, search);
        window_.SetBoxText(1, replacement);
        window_.SetBoxText(2, pattern);
        window_.Cbobox[3]->setEditText(QString::fromStdString(tree_.Root()));
    }
    QString Root() const { return QString::fromStdString(tree_.Root()); }

    // Runs `action` once, at the first yield at which the progress marker is showing: the run
    // is then inside the replacements of a file.
    void AtProgress(std::function<void()> action) {
        auto* timer = new QTimer(&window_);
        timer->setInterval(0);
        QObject::connect(timer, &QTimer::timeout, timer, [this, timer, action] {
            const QString stat = window_.LblStat->text();
            if (!stat.isEmpty() && stat != QStringLiteral("バージョン情報")) {
                timer->stop();
                action();
            }
        });
        timer->start();
    }

    TempTree tree_;
};

struct Seen {
    QString stop_caption;
    bool stop_enabled = false;
    QString title;
    QString path;
    QString stat;
    bool about_opened = false;
};

TEST_F(WindowRunTest, AReplacementRunFromStartToSummary) {
    const std::string original = "abc ABC abc\r\n";
    tree_.Create("a.txt", original);
    tree_.Create("b.txt", "xyz\r\n");
    tree_.Create("c.dat", "abc");
    Fill(u"abc", u"置換", u"*.txt");

    // What the window shows at the run's first yield, before the first file.
    Seen seen;
    QTimer::singleShot(0, &window_, [this, &seen] {
        seen.stop_caption = window_.CmdRpl->text();
        seen.stop_enabled = window_.CmdRpl->isEnabled();
        seen.title = window_.windowTitle();
        seen.path = window_.LblPath->text();
        seen.stat = window_.LblStat->text();
        QTest::mouseClick(window_.LblStat, Qt::LeftButton);
        seen.about_opened = window_.About() != nullptr;
    });
    Seen closing;
    messages_.on_message = [this, &closing](const QString&) {
        closing.stop_caption = window_.CmdRpl->text();
        closing.title = window_.windowTitle();
        closing.path = window_.LblPath->text();
    };
    QTest::mouseClick(window_.CmdRpl, Qt::LeftButton);

    EXPECT_EQ(seen.stop_caption, QStringLiteral("中止"));
    EXPECT_TRUE(seen.stop_enabled);
    EXPECT_EQ(seen.title, QStringLiteral("ぽぷらん ： 文字列置換　[実行中]"));
    EXPECT_EQ(seen.path, Root() + QStringLiteral("/a.txt"));
    EXPECT_EQ(seen.stat, QString());
    EXPECT_FALSE(seen.about_opened) << "the status label is inert during a run";

    ASSERT_EQ(messages_.texts.size(), 1u);
    EXPECT_EQ(messages_.texts[0], QStringLiteral("検索したファイルの数 = 2\r置換したファイルの数 = "
                                                 "1\r置換した文字列の数 = 2"));
    EXPECT_EQ(closing.stop_caption, QStringLiteral("中止"));
    EXPECT_EQ(closing.title, QStringLiteral("文字列置換"));
    EXPECT_EQ(closing.path, QString());

    EXPECT_EQ(window_.CmdRpl->text(), QStringLiteral("開始"));
    EXPECT_TRUE(window_.CmdRpl->isEnabled());
    EXPECT_EQ(window_.LblStat->text(), QStringLiteral("バージョン情報"));
    EXPECT_EQ(window_.windowTitle(), QStringLiteral("文字列置換"));
    EXPECT_EQ(tree_.Read("a.txt"), "\x92\x75\x8a\xb7 ABC \x92\x75\x8a\xb7\r\n");
    EXPECT_EQ(tree_.Read("a.txt.BAK"), original);
    EXPECT_EQ(tree_.Read("c.dat"), "abc");
    EXPECT_EQ(window_.Cbobox[0]->itemText(0), QStringLiteral("abc"));
    EXPECT_EQ(window_.Cbobox[3]->itemText(0), Root());

    // After the run the status label opens the About window again.
    QTest::mouseClick(window_.LblStat, Qt::LeftButton);
    EXPECT_NE(window_.About(), nullptr);
}

TEST_F(WindowRunTest, AnExtensionRunShowsTheRewrittenPattern) {
    tree_.Create("index.htm", "<html>");
    tree_.Create("note.txt", "x");
    testing::ChooseListEntry(window_, 1);
    Fill(u"htm", u"html", u"*");
    QTest::mouseClick(window_.CmdRpl, Qt::LeftButton);

    EXPECT_EQ(window_.Cbobox[2]->currentText(), QStringLiteral("*.htm"));
    EXPECT_EQ(window_.Cbobox[2]->itemText(0), QStringLiteral("*.htm"));
    ASSERT_EQ(messages_.texts.size(), 1u);
    EXPECT_EQ(messages_.texts[0],
              QStringLiteral("検索したファイルの数 = 1\r置換したファイルの数 = 1"));
    EXPECT_EQ(tree_.Names(), (std::vector<std::string>{"index.html", "note.txt"}));
    EXPECT_EQ(window_.windowTitle(), QStringLiteral("拡張子置換"));

    // A second run shows the bare mode name followed by the running mark.
    QString title;
    QTimer::singleShot(0, &window_, [this, &title] { title = window_.windowTitle(); });
    Fill(u"html", u"htm", u"*.html");
    QTest::mouseClick(window_.CmdRpl, Qt::LeftButton);
    EXPECT_EQ(title, QStringLiteral("拡張子置換　[実行中]"));
}

TEST_F(WindowRunTest, AStopInsideALargeFileLeavesItUntouched) {
    struct Case {
        bool by_enter;
        const char* why;
    };
    for (const Case c : {Case{false, "a click on Stop"}, Case{true, "Enter in a box"}}) {
        SCOPED_TRACE(c.why);
        messages_.texts.clear();
        std::string big;
        for (int i = 0; i < 400000; ++i) {
            big += "ab ";
        }
        tree_.Create("big.txt", big);
        Fill(u"a", u"z", u"*.txt");
        bool disabled_at_once = false;
        AtProgress([this, &disabled_at_once, c] {
            if (c.by_enter) {
                QTest::keyClick(window_.Cbobox[1], Qt::Key_Return);
            } else {
                QTest::mouseClick(window_.CmdRpl, Qt::LeftButton);
            }
            disabled_at_once = !window_.CmdRpl->isEnabled();
        });
        QTest::mouseClick(window_.CmdRpl, Qt::LeftButton);

        EXPECT_TRUE(disabled_at_once);
        ASSERT_EQ(messages_.texts.size(), 1u);
        EXPECT_EQ(messages_.texts[0], QStringLiteral("検索したファイルの数 = 1\r置換したファイルの"
                                                     "数 = 0\r置換した文字列の数 = 0"));
        EXPECT_TRUE(tree_.Read("big.txt") == big) << "the file is as it was";
        EXPECT_EQ(tree_.Names(), std::vector<std::string>{"big.txt"}) << "no backup, no leftovers";
        EXPECT_EQ(window_.CmdRpl->text(), QStringLiteral("開始"));
        EXPECT_TRUE(window_.CmdRpl->isEnabled());
    }
}

TEST_F(WindowRunTest, ExitDuringARunEndsTheProgramWithoutASummary) {
    std::string big;
    for (int i = 0; i < 400000; ++i) {
        big += "ab ";
    }
    tree_.Create("big.txt", big);
    tree_.Create("later.txt", "a");
    Fill(u"a", u"z", u"*.txt");
    QSignalSpy ended(&window_, &FrmMain::ProgramEnded);
    int ended_during_run = -1;
    AtProgress([this, &ended, &ended_during_run] {
        QTest::mouseClick(window_.LblStat, Qt::LeftButton);  // inert now
        QTest::mouseClick(window_.CmdEnd, Qt::LeftButton);
        ended_during_run = static_cast<int>(ended.count());
    });
    QTest::mouseClick(window_.CmdRpl, Qt::LeftButton);

    EXPECT_EQ(ended_during_run, 0) << "the program ends only once the run has let go";
    EXPECT_EQ(ended.count(), 1);
    EXPECT_FALSE(window_.isVisible());
    EXPECT_TRUE(messages_.texts.empty());
    EXPECT_TRUE(tree_.Read("big.txt") == big);
    EXPECT_EQ(tree_.Read("later.txt"), "a") << "no file is touched after the close";
    EXPECT_EQ(tree_.Names(), (std::vector<std::string>{"big.txt", "later.txt"}));
}

}  // namespace
}  // namespace popuran::ui
