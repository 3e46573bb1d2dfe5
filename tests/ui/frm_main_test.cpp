// The main window: start-up state, the layout of each mode, the frozen mode during a run, the
// pattern box's key filter, the histories, the folder picker and the keys.
#include "ui/frm_main.h"

#include <QScreen>
#include <gtest/gtest.h>

#include "ui/mod_dialog_tree_top.h"
#include "ui_harness.h"

namespace popuran::ui {
namespace {

using testing::ChooseListEntry;
using testing::Type;
using FrmMainTest = testing::WindowTest;

QString S(const char16_t* text) { return QString::fromStdU16String(text); }

QStringList Entries(const QComboBox* box) {
    QStringList entries;
    for (int i = 0; i < box->count(); ++i) {
        entries << box->itemText(i);
    }
    return entries;
}

TEST_F(FrmMainTest, StartsInMode0ReadyToRun) {
    FrmMain& w = window_;
    EXPECT_EQ(w.windowTitle(), S(u"ぽぷらん ： 文字列置換"));
    EXPECT_EQ(w.CurrentMode(), 0);
    EXPECT_EQ(Entries(w.CboType),
              (QStringList{S(u"文字列置換"), S(u"拡張子置換"), S(u"ﾌｧｲﾙ名変換")}));
    EXPECT_EQ(w.CboType->currentIndex(), 0);
    EXPECT_TRUE(w.ChkBin->isChecked() && w.ChkBin->isVisible());
    EXPECT_FALSE(w.ChkSub->isChecked());
    EXPECT_TRUE(w.OptFN[0]->isChecked());
    EXPECT_FALSE(w.FraFN->isVisible());
    EXPECT_EQ(w.LblStat->text(), S(u"バージョン情報"));
    EXPECT_EQ(w.CmdRpl->text(), S(u"開始"));
    // 8505 x 2940 twips at 15 twips to the pixel, fixed, no maximise button.
    ASSERT_EQ(w.screen()->logicalDotsPerInch(), 96);
    EXPECT_EQ(w.minimumSize(), QSize(567, 196));
    EXPECT_EQ(w.maximumSize(), QSize(567, 196));
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(w.CmdRpl->geometry(), QRect(448, 16, 108, 49));
}

TEST_F(FrmMainTest, EachModeHasItsCaptionAndLayout) {
    struct Case {
        int entry;   // list entry chosen first, or -1
        int option;  // option button clicked then, or -1
        int mode;
        const char16_t* caption;
        const char16_t* search_label;  // nullptr: the two top rows are hidden
        const char* why;
    };
    const char16_t* lower = u"ぽぷらん ： ファイル名変換（大文字→小文字）";
    const char16_t* upper = u"ぽぷらん ： ファイル名変換（小文字→大文字）";
    const Case cases[] = {
        {1, -1, 1, u"ぽぷらん ： 拡張子置換", u"検索する拡張子(&F):",
         "extensions relabel the rows"},
        {0, -1, 0, u"ぽぷらん ： 文字列置換", u"検索する文字列(&F):", "back to strings"},
        {2, -1, 2, lower, nullptr, "the name entry gives lower case"},
        {-1, 1, 3, upper, nullptr, "the second option button gives upper case"},
        {-1, 0, 2, lower, nullptr, "the first option button gives lower case"},
        {-1, 1, 3, upper, nullptr, "upper case again"},
        {2, -1, 2, lower, nullptr, "the name entry gives mode 2 whichever button is selected"},
        {1, -1, 1, u"ぽぷらん ： 拡張子置換", u"検索する拡張子(&F):", "names to extensions"},
    };
    FrmMain& w = window_;
    w.SetBoxText(0, u"htm");
    w.SetBoxText(1, u"html");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        if (c.entry >= 0) {
            ChooseListEntry(w, c.entry);
        }
        if (c.option >= 0) {
            QTest::mouseClick(w.OptFN[static_cast<std::size_t>(c.option)], Qt::LeftButton);
        }
        EXPECT_EQ(w.CurrentMode(), c.mode);
        EXPECT_EQ(w.windowTitle(), S(c.caption));
        const bool rows = c.search_label != nullptr;
        EXPECT_EQ(w.FraFN->isVisible(), !rows);
        for (QWidget* row : {static_cast<QWidget*>(w.LblSrc), static_cast<QWidget*>(w.Cbobox[0]),
                             static_cast<QWidget*>(w.LblRpl), static_cast<QWidget*>(w.Cbobox[1])}) {
            EXPECT_EQ(row->isVisible(), rows);
        }
        if (rows) {
            EXPECT_EQ(w.LblSrc->text(), S(c.search_label));
            // The second row names the same thing: 文字列 or 拡張子.
            EXPECT_EQ(w.LblRpl->text(), S(u"置換後の") + S(c.search_label).mid(4, 3) + S(u"(&W):"));
        }
        EXPECT_EQ(w.ChkBin->isVisible(), c.mode == 0);
    }
    EXPECT_TRUE(w.OptFN[1]->isChecked()) << "the option buttons stay as the user left them";
    EXPECT_EQ(w.BoxText(0), u"htm") << "hidden rows keep their texts";
    EXPECT_EQ(w.BoxText(1), u"html");
}

TEST_F(FrmMainTest, EveryReturnToMode0ChecksTheCaseBoxAgain) {
    FrmMain& w = window_;
    QTest::mouseClick(w.ChkBin, Qt::LeftButton);
    ChooseListEntry(w, 1);
    EXPECT_FALSE(w.ChkBin->isChecked()) << "hidden, it keeps its state";
    ChooseListEntry(w, 0);
    EXPECT_TRUE(w.ChkBin->isChecked());
    QTest::mouseClick(w.ChkBin, Qt::LeftButton);
    ChooseListEntry(w, 0);
    EXPECT_TRUE(w.ChkBin->isChecked()) << "choosing mode 0 while in it";
}

TEST_F(FrmMainTest, TheModeStaysFixedWhileARunIsActive) {
    FrmMain& w = window_;
    w.CmdRpl->setText(S(u"中止"));  // what Start writes
    ChooseListEntry(w, 2);
    EXPECT_EQ(w.CboType->currentText(), S(u"ﾌｧｲﾙ名変換"));
    EXPECT_EQ(w.CurrentMode(), 0);
    EXPECT_EQ(w.windowTitle(), S(u"ぽぷらん ： 文字列置換"));
    EXPECT_FALSE(w.FraFN->isVisible());
    EXPECT_TRUE(w.ChkBin->isVisible());

    w.CmdRpl->setText(S(u"開始"));
    EXPECT_EQ(w.CurrentMode(), 0) << "the list shows another entry until the user chooses";
    ChooseListEntry(w, 2);
    w.CmdRpl->setText(S(u"中止"));
    QTest::mouseClick(w.OptFN[1], Qt::LeftButton);
    EXPECT_EQ(w.CurrentMode(), 2);
    EXPECT_EQ(w.windowTitle(), S(u"ぽぷらん ： ファイル名変換（大文字→小文字）"));
}

TEST_F(FrmMainTest, OnlyThePatternBoxFiltersTypedCharacters) {
    struct Case {
        int box;
        const char16_t* typed;
        const char16_t* shown;
    };
    const Case cases[] = {
        {2, u"*.TXT", u"*.TXT"},
        {2, u"a?c", u"ac"},
        {2, u"my_f-1", u"myf1"},
        {2, u"a b\u3000c", u"abc"},
        {2, u"日本語x", u"x"},
        {2, u"ｶﾅé0", u"0"},
        {2, u"!\"#$%&'()+,/:;<=>@[\\]^`{|}~", u""},
        {2, u"azAZ09", u"azAZ09"},
        {0, u"a?_- 日本", u"a?_- 日本"},
        {1, u"a?_- 日本", u"a?_- 日本"},
        {3, u"a?_- 日本", u"a?_- 日本"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QString::fromStdU16String(c.typed).toStdString());
        QComboBox* box = window_.Cbobox[static_cast<std::size_t>(c.box)];
        box->setEditText(QString());
        Type(box, S(c.typed));
        EXPECT_EQ(box->currentText(), S(c.shown));
    }
}

TEST_F(FrmMainTest, ThePatternBoxStillEditsAndTakesTextNotTyped) {
    FrmMain& w = window_;
    QComboBox* box = w.Cbobox[2];
    Type(box, S(u"abc"));
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClick(box, Qt::Key_Home);
    QTest::keyClick(box, Qt::Key_Delete);
    EXPECT_EQ(box->currentText(), S(u"b"));
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    Type(box, S(u"x"));
    EXPECT_EQ(box->currentText(), S(u"x")) << "shortcuts still work";

    // Text composed by an input method is typed text; text set by the program or taken from
    // the list is not.
    testing::Commit(box, S(u"ｔｘｔ*.txt_"));
    EXPECT_EQ(box->currentText(), S(u"x*.txt"));
    testing::Commit(w.Cbobox[0], S(u"日本語_"));
    EXPECT_EQ(w.BoxText(0), u"日本語_");
    w.SetBoxText(2, u"a_b?");
    w.RecordHistory();
    w.SetBoxText(2, u"");
    box->setCurrentIndex(0);
    EXPECT_EQ(w.BoxText(2), u"a_b?");
}

TEST_F(FrmMainTest, HistoryKeepsDistinctTextsNewestFirst) {
    FrmMain& w = window_;
    for (const char16_t* folder : {u"A", u"B", u"A"}) {
        w.SetBoxText(3, folder);
        w.RecordHistory();
        EXPECT_EQ(w.BoxText(3), folder) << "the box keeps its text";
    }
    EXPECT_EQ(Entries(w.Cbobox[3]), (QStringList{S(u"B"), S(u"A")}));
    ChooseListEntry(w, 2);  // boxes 0 and 1 are hidden but still record
    for (const char16_t* text : {u"abc", u"ABC", u"  "}) {
        w.SetBoxText(0, text);
        w.RecordHistory();
    }
    EXPECT_EQ(Entries(w.Cbobox[0]), (QStringList{S(u"  "), S(u"ABC"), S(u"abc")}));
    EXPECT_EQ(w.Cbobox[1]->count(), 0) << "an empty box adds nothing";
}

TEST_F(FrmMainTest, ThePickerResultReplacesTheFolderTextUnlessCancelled) {
    QStringList prompts;
    QString answer;
    auto previous = modDialogTreeTop::SetDialogFunction([&](QWidget* owner, const QString& p) {
        EXPECT_EQ(owner, &window_);
        prompts << p;
        return answer;
    });
    FrmMain& w = window_;
    QTest::mouseClick(w.CmdPlace, Qt::LeftButton);
    EXPECT_EQ(w.BoxText(3), u"") << "cancel on an empty box";
    w.SetBoxText(3, u"/data/old");
    QTest::mouseClick(w.CmdPlace, Qt::LeftButton);
    EXPECT_EQ(w.BoxText(3), u"/data/old") << "cancel keeps the text";
    for (const char16_t* path : {u"/home/ユーザー/文書/", u"/srv/a b"}) {
        answer = S(path);
        QTest::mouseClick(w.CmdPlace, Qt::LeftButton);
        EXPECT_EQ(w.BoxText(3), path) << "exactly as the picker gives it";
    }
    EXPECT_EQ(w.Cbobox[3]->count(), 0) << "the list waits for a run";
    EXPECT_EQ(prompts.value(0), S(u"検索するフォルダを指定してください。"));
    modDialogTreeTop::SetDialogFunction(std::move(previous));
}

TEST_F(FrmMainTest, AccessKeysFocusTheBoxesAndEnterPressesStart) {
    FrmMain& w = window_;
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    const std::pair<Qt::Key, QWidget*> access_keys[] = {{Qt::Key_N, w.Cbobox[2]},
                                                        {Qt::Key_L, w.Cbobox[3]},
                                                        {Qt::Key_F, w.Cbobox[0]},
                                                        {Qt::Key_W, w.Cbobox[1]}};
    for (const auto& [key, box] : access_keys) {
        QTest::keyClick(&w, key, Qt::AltModifier);
        EXPECT_TRUE(box->hasFocus()) << QKeySequence(key).toString().toStdString();
    }
    // The empty search box refuses the run.
    QTest::keyClick(w.Cbobox[2], Qt::Key_Return);
    EXPECT_EQ(messages_.texts, std::vector<QString>{S(u"検索する文字列を入力して下さい。")});
}

}  // namespace
}  // namespace popuran::ui
