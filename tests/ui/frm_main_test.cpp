// The main window: start-up state, the layout of each mode, the frozen mode during a run, the
// pattern box's key filter, the histories, the folder picker and the keyboard.
#include "ui/frm_main.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

#include "ui/mod_dialog_tree_top.h"
#include "ui_harness.h"

namespace popuran::ui {
namespace {

using testing::ChooseListEntry;
using testing::Commit;
using testing::Type;
using testing::WindowTest;

const QString kStart = QStringLiteral("開始");
const QString kRunning = QStringLiteral("中止");

QStringList Entries(const QComboBox* box) {
    QStringList entries;
    for (int i = 0; i < box->count(); ++i) {
        entries << box->itemText(i);
    }
    return entries;
}

using FrmMainTest = WindowTest;

TEST_F(FrmMainTest, StartsInMode0ReadyToRun) {
    FrmMain& w = window_;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("ぽぷらん ： 文字列置換"));
    EXPECT_EQ(w.CurrentMode(), 0);
    EXPECT_EQ(w.CboType->currentText(), QStringLiteral("文字列置換"));
    EXPECT_EQ(Entries(w.CboType),
              (QStringList{QStringLiteral("文字列置換"), QStringLiteral("拡張子置換"),
                           QStringLiteral("ﾌｧｲﾙ名変換")}));
    EXPECT_TRUE(w.ChkBin->isChecked());
    EXPECT_FALSE(w.ChkSub->isChecked());
    EXPECT_TRUE(w.OptFN[0]->isChecked());
    EXPECT_FALSE(w.FraFN->isVisible());
    for (QWidget* shown : {static_cast<QWidget*>(w.LblSrc), static_cast<QWidget*>(w.Cbobox[0]),
                           static_cast<QWidget*>(w.LblRpl), static_cast<QWidget*>(w.Cbobox[1]),
                           static_cast<QWidget*>(w.ChkBin)}) {
        EXPECT_TRUE(shown->isVisible()) << shown->metaObject()->className();
    }
    for (QComboBox* box : w.Cbobox) {
        EXPECT_TRUE(box->currentText().isEmpty());
        EXPECT_EQ(box->count(), 0);
    }
    EXPECT_EQ(w.LblStat->text(), QStringLiteral("バージョン情報"));
    EXPECT_EQ(w.CmdRpl->text(), kStart);
    EXPECT_TRUE(w.CmdRpl->isDefault());
    EXPECT_TRUE(messages_.texts.empty());
}

TEST_F(FrmMainTest, HasTheDesignedFixedSizeAndNoMaximiseButton) {
    FrmMain& w = window_;
    ASSERT_EQ(w.screen()->logicalDotsPerInch(), 96);
    // 8505 x 2580 twips at 15 twips to the pixel.
    EXPECT_EQ(w.minimumSize(), QSize(567, 172));
    EXPECT_EQ(w.maximumSize(), QSize(567, 172));
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(w.windowFlags() & Qt::WindowMinimizeButtonHint);
    // Start/Stop at 6720, 240, 1620 x 730 twips; the folder box stops short of the "<<" button.
    EXPECT_EQ(w.CmdRpl->geometry(), QRect(448, 16, 108, 49));
    EXPECT_LE(w.Cbobox[3]->geometry().right(), w.CmdPlace->geometry().left());
    EXPECT_FALSE(w.windowIcon().isNull());
}

TEST_F(FrmMainTest, EachModeHasItsCaptionAndLayout) {
    struct Case {
        int entry;   // list entry chosen, or -1 for none
        int option;  // option button clicked afterwards, or -1 for none
        int mode;
        const char16_t* caption;
        const char16_t* search_label;  // nullptr: the top rows are hidden
        const char16_t* replace_label;
        bool chk_bin;
        const char* why;
    };
    const Case cases[] = {
        {1, -1, 1, u"ぽぷらん ： 拡張子置換", u"検索する拡張子(&F):", u"置換後の拡張子(&W):", false,
         "extension replacement relabels the top rows and hides the case box"},
        {0, -1, 0, u"ぽぷらん ： 文字列置換", u"検索する文字列(&F):", u"置換後の文字列(&W):", true,
         "string replacement"},
        {2, -1, 2, u"ぽぷらん ： ファイル名変換（大文字→小文字）", nullptr, nullptr, false,
         "the name entry gives lower case"},
        {2, 1, 3, u"ぽぷらん ： ファイル名変換（小文字→大文字）", nullptr, nullptr, false,
         "the second option button gives upper case"},
        {-1, 0, 2, u"ぽぷらん ： ファイル名変換（大文字→小文字）", nullptr, nullptr, false,
         "the first option button gives lower case again"},
        {-1, 1, 3, u"ぽぷらん ： ファイル名変換（小文字→大文字）", nullptr, nullptr, false,
         "upper case once more"},
        {2, -1, 2, u"ぽぷらん ： ファイル名変換（大文字→小文字）", nullptr, nullptr, false,
         "the name entry gives mode 2 although the second button is selected"},
        {1, -1, 1, u"ぽぷらん ： 拡張子置換", u"検索する拡張子(&F):", u"置換後の拡張子(&W):", false,
         "back from the names to extensions"},
    };
    FrmMain& w = window_;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        if (c.entry >= 0) {
            ChooseListEntry(w, c.entry);
        }
        if (c.option >= 0) {
            QTest::mouseClick(w.OptFN[static_cast<std::size_t>(c.option)], Qt::LeftButton);
        }
        EXPECT_EQ(w.CurrentMode(), c.mode);
        EXPECT_EQ(w.windowTitle(), QString::fromStdU16String(c.caption));
        const bool rows = c.search_label != nullptr;
        EXPECT_EQ(w.FraFN->isVisible(), !rows);
        EXPECT_EQ(w.LblSrc->isVisible(), rows);
        EXPECT_EQ(w.Cbobox[0]->isVisible(), rows);
        EXPECT_EQ(w.LblRpl->isVisible(), rows);
        EXPECT_EQ(w.Cbobox[1]->isVisible(), rows);
        if (rows) {
            EXPECT_EQ(w.LblSrc->text(), QString::fromStdU16String(c.search_label));
            EXPECT_EQ(w.LblRpl->text(), QString::fromStdU16String(c.replace_label));
        }
        EXPECT_EQ(w.ChkBin->isVisible(), c.chk_bin);
        EXPECT_TRUE(w.Cbobox[2]->isVisible());
        EXPECT_TRUE(w.Cbobox[3]->isVisible());
    }
    // The option buttons are left as the user set them.
    EXPECT_TRUE(w.OptFN[1]->isChecked());
}

TEST_F(FrmMainTest, HiddenRowsKeepTheirTexts) {
    FrmMain& w = window_;
    w.Cbobox[0]->setEditText(QStringLiteral("htm"));
    w.Cbobox[1]->setEditText(QStringLiteral("html"));
    ChooseListEntry(w, 2);
    ChooseListEntry(w, 1);
    EXPECT_EQ(w.Cbobox[0]->currentText(), QStringLiteral("htm"));
    EXPECT_EQ(w.Cbobox[1]->currentText(), QStringLiteral("html"));
}

TEST_F(FrmMainTest, ReturningToMode0ChecksTheCaseBoxAgain) {
    FrmMain& w = window_;
    QTest::mouseClick(w.ChkBin, Qt::LeftButton);
    ASSERT_FALSE(w.ChkBin->isChecked());
    ChooseListEntry(w, 1);
    EXPECT_FALSE(w.ChkBin->isChecked()) << "hidden, it keeps its state";
    ChooseListEntry(w, 0);
    EXPECT_TRUE(w.ChkBin->isChecked());

    QTest::mouseClick(w.ChkBin, Qt::LeftButton);
    ChooseListEntry(w, 0);
    EXPECT_TRUE(w.ChkBin->isChecked()) << "choosing mode 0 again while in it";
}

TEST_F(FrmMainTest, TheModeStaysFixedWhileARunIsActive) {
    FrmMain& w = window_;
    // What the run control writes on Start.
    w.CmdRpl->setText(kRunning);
    w.setWindowTitle(QStringLiteral("ぽぷらん ： 文字列置換　[実行中]"));
    ChooseListEntry(w, 1);
    EXPECT_EQ(w.CboType->currentText(), QStringLiteral("拡張子置換"));
    EXPECT_EQ(w.CurrentMode(), 0);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("ぽぷらん ： 文字列置換　[実行中]"));
    EXPECT_TRUE(w.ChkBin->isVisible());
    EXPECT_EQ(w.LblSrc->text(), QStringLiteral("検索する文字列(&F):"));
    ChooseListEntry(w, 2);
    EXPECT_EQ(w.CurrentMode(), 0);
    EXPECT_FALSE(w.FraFN->isVisible());

    // After the run the list shows another entry until the user chooses again.
    w.CmdRpl->setText(kStart);
    EXPECT_EQ(w.CurrentMode(), 0);
    ChooseListEntry(w, 2);
    EXPECT_EQ(w.CurrentMode(), 2);

    w.CmdRpl->setText(kRunning);
    QTest::mouseClick(w.OptFN[1], Qt::LeftButton);
    EXPECT_TRUE(w.OptFN[1]->isChecked());
    EXPECT_EQ(w.CurrentMode(), 2);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("ぽぷらん ： ファイル名変換（大文字→小文字）"));
    w.CmdRpl->setText(kStart);
}

TEST_F(FrmMainTest, OnlyThePatternBoxFiltersTypedCharacters) {
    struct Case {
        int box;
        const char16_t* typed;
        const char16_t* shown;
        const char* why;
    };
    const Case cases[] = {
        {2, u"*.TXT", u"*.TXT", "a pattern of letters, stars and dots"},
        {2, u"a?c", u"ac", "the question mark is dropped"},
        {2, u"my_f-1", u"myf1", "underscore and hyphen are dropped"},
        {2, u"a b\u3000c", u"abc", "spaces, also the ideographic one"},
        {2, u"日本語x", u"x", "Japanese characters do not appear"},
        {2, u"ｶﾅé0", u"0", "half-width katakana and Latin letters beyond ASCII"},
        {2, u"!\"#$%&'()+,/:;<=>@[\\]^`{|}~", u"", "all other ASCII punctuation"},
        {2, u"azAZ09", u"azAZ09", "the ends of the ranges"},
        {0, u"a?_- 日本", u"a?_- 日本", "the search box takes everything"},
        {1, u"a?_- 日本", u"a?_- 日本", "the replacement box takes everything"},
        {3, u"a?_- 日本", u"a?_- 日本", "the folder box takes everything"},
    };
    FrmMain& w = window_;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        QComboBox* box = w.Cbobox[static_cast<std::size_t>(c.box)];
        box->setEditText(QString());
        Type(box, QString::fromStdU16String(c.typed));
        EXPECT_EQ(box->currentText(), QString::fromStdU16String(c.shown));
    }
}

TEST_F(FrmMainTest, ThePatternBoxStillEdits) {
    QComboBox* box = window_.Cbobox[2];
    Type(box, QStringLiteral("abc"));
    QTest::keyClick(box, Qt::Key_Backspace);
    EXPECT_EQ(box->currentText(), QStringLiteral("ab"));
    QTest::keyClick(box, Qt::Key_Home);
    QTest::keyClick(box, Qt::Key_Delete);
    EXPECT_EQ(box->currentText(), QStringLiteral("b"));
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    Type(box, QStringLiteral("x"));
    EXPECT_EQ(box->currentText(), QStringLiteral("x")) << "select-all still works";
}

TEST_F(FrmMainTest, InputMethodTextIsFilteredInThePatternBoxOnly) {
    FrmMain& w = window_;
    Commit(w.Cbobox[2], QStringLiteral("ｔｘｔ*.txt_"));
    EXPECT_EQ(w.Cbobox[2]->currentText(), QStringLiteral("*.txt"));
    Commit(w.Cbobox[0], QStringLiteral("日本語_"));
    EXPECT_EQ(w.Cbobox[0]->currentText(), QStringLiteral("日本語_"));
}

TEST_F(FrmMainTest, TextNotTypedIsNotFiltered) {
    FrmMain& w = window_;
    w.SetBoxText(2, u"a_b?");
    EXPECT_EQ(w.Cbobox[2]->currentText(), QStringLiteral("a_b?"));
    w.RecordHistory();
    w.Cbobox[2]->setEditText(QString());
    w.Cbobox[2]->setCurrentIndex(0);
    EXPECT_EQ(w.Cbobox[2]->currentText(), QStringLiteral("a_b?")) << "an entry of the list";
}

TEST_F(FrmMainTest, HistoryKeepsDistinctTextsNewestFirst) {
    FrmMain& w = window_;
    for (const char16_t* folder : {u"A", u"B", u"A"}) {
        w.SetBoxText(3, folder);
        w.RecordHistory();
        EXPECT_EQ(w.BoxText(3), folder) << "the box keeps its text";
    }
    EXPECT_EQ(Entries(w.Cbobox[3]), (QStringList{QStringLiteral("B"), QStringLiteral("A")}));

    w.SetBoxText(0, u"abc");
    w.RecordHistory();
    w.SetBoxText(0, u"ABC");
    w.RecordHistory();
    w.SetBoxText(0, u"  ");
    w.RecordHistory();
    EXPECT_EQ(Entries(w.Cbobox[0]),
              (QStringList{QStringLiteral("  "), QStringLiteral("ABC"), QStringLiteral("abc")}))
        << "letter case counts; blanks are a text like any other";
    EXPECT_EQ(w.Cbobox[1]->count(), 0) << "an empty box adds nothing";
}

TEST_F(FrmMainTest, HiddenBoxesRecordTheirTexts) {
    FrmMain& w = window_;
    w.SetBoxText(0, u"旧");
    w.SetBoxText(1, u"新");
    ChooseListEntry(w, 2);
    ASSERT_FALSE(w.Cbobox[0]->isVisible());
    w.RecordHistory();
    EXPECT_EQ(Entries(w.Cbobox[0]), QStringList{QStringLiteral("旧")});
    EXPECT_EQ(Entries(w.Cbobox[1]), QStringList{QStringLiteral("新")});
}

class FolderPickerTest : public WindowTest {
protected:
    FolderPickerTest() {
        previous_ =
            modDialogTreeTop::SetDialogFunction([this](QWidget* owner, const QString& prompt) {
                owners.push_back(owner);
                prompts.push_back(prompt);
                return answer;
            });
    }
    ~FolderPickerTest() override { modDialogTreeTop::SetDialogFunction(std::move(previous_)); }

    QString answer;
    std::vector<QWidget*> owners;
    QStringList prompts;

private:
    modDialogTreeTop::DialogFunction previous_;
};

TEST_F(FolderPickerTest, CancelKeepsTheFolderText) {
    FrmMain& w = window_;
    QTest::mouseClick(w.CmdPlace, Qt::LeftButton);
    EXPECT_EQ(w.Cbobox[3]->currentText(), QString());
    w.SetBoxText(3, u"/data/old");
    QTest::mouseClick(w.CmdPlace, Qt::LeftButton);
    EXPECT_EQ(w.Cbobox[3]->currentText(), QStringLiteral("/data/old"));
    ASSERT_EQ(prompts.size(), 2);
    EXPECT_EQ(prompts[0], QStringLiteral("検索するフォルダを指定してください。"));
    EXPECT_EQ(owners[0], &w);
}

TEST_F(FolderPickerTest, AChosenPathReplacesTheTextExactly) {
    FrmMain& w = window_;
    w.SetBoxText(3, u"/data/old");
    for (const char* path : {"/home/ユーザー/文書/", "/srv/a b"}) {
        answer = QString::fromUtf8(path);
        QTest::mouseClick(w.CmdPlace, Qt::LeftButton);
        EXPECT_EQ(w.Cbobox[3]->currentText(), answer);
    }
    EXPECT_EQ(w.Cbobox[3]->count(), 0) << "the list waits for a run";
}

TEST_F(FrmMainTest, EnterInABoxPressesStart) {
    FrmMain& w = window_;
    w.activateWindow();
    w.Cbobox[2]->setFocus();
    QTest::keyClick(w.Cbobox[2], Qt::Key_Return);
    // The empty search box refuses the run.
    ASSERT_EQ(messages_.texts.size(), 1u);
    EXPECT_EQ(messages_.texts[0], QStringLiteral("検索する文字列を入力して下さい。"));
    EXPECT_EQ(w.CmdRpl->text(), kStart);
}

TEST_F(FrmMainTest, AccessKeysAndTabFollowTheDesign) {
    FrmMain& w = window_;
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    const std::pair<Qt::Key, QWidget*> keys[] = {{Qt::Key_N, w.Cbobox[2]},
                                                 {Qt::Key_L, w.Cbobox[3]},
                                                 {Qt::Key_F, w.Cbobox[0]},
                                                 {Qt::Key_W, w.Cbobox[1]}};
    for (const auto& [key, target] : keys) {
        QTest::keyClick(&w, key, Qt::AltModifier);
        EXPECT_EQ(QApplication::focusWidget(), target->focusProxy() ? target->focusProxy() : target)
            << QKeySequence(key).toString().toStdString();
    }

    QWidget* const order[] = {w.Cbobox[0], w.Cbobox[1], w.Cbobox[2], w.Cbobox[3], w.CmdPlace,
                              w.ChkSub,    w.ChkBin,    w.CmdRpl,    w.CboType,   w.CmdEnd};
    w.Cbobox[0]->setFocus();
    for (QWidget* expected : order) {
        QWidget* focus = QApplication::focusWidget();
        EXPECT_TRUE(focus == expected || focus->parentWidget() == expected)
            << expected->metaObject()->className();
        QTest::keyClick(focus, Qt::Key_Tab);
    }
}

}  // namespace
}  // namespace popuran::ui
