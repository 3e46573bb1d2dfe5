// A preview from the window, the real run from the preview, and its undo, on a real folder.
#include <cstdlib>

#include <QCoreApplication>
#include <QTest>
#include <gtest/gtest.h>

#include "support/temp_tree.h"
#include "ui/frm_preview.h"
#include "ui_harness.h"

namespace popuran::ui {
namespace {

// The journal goes to a fresh folder for the life of the window.
struct StateHome {
    StateHome() { setenv("XDG_STATE_HOME", dir.Root().c_str(), 1); }
    ~StateHome() { unsetenv("XDG_STATE_HOME"); }
    testing::TempTree dir;
};

TEST(PreviewAndUndo, PreviewThenRunThenUndoGiveBackTheFolder) {
    QApplication& app = testing::App();
    (void)app;
    StateHome state;
    testing::CapturedMessages messages;
    testing::TempTree tree;
    FrmMain window;
    window.Form_Load();
    window.SetYieldInterval(std::chrono::nanoseconds(0));
    tree.Create("a.txt", "one abc\r\ntwo abc\r\n");
    tree.Create("b.txt", "nothing here");
    tree.Create("c.txt", "abc");
    window.SetBoxText(run::kSearchBox, u"abc");
    window.SetBoxText(run::kReplaceBox, u"XY");
    window.SetBoxText(run::kPatternBox, u"*.txt");
    window.Cbobox[run::kFolderBox]->setEditText(QString::fromStdString(tree.Root()));
    EXPECT_FALSE(window.CmdUndo->isEnabled());

    QTest::mouseClick(window.CmdPreview, Qt::LeftButton);
    FrmPreview* preview = window.Preview();
    ASSERT_NE(preview, nullptr);
    EXPECT_TRUE(messages.texts.empty());
    ASSERT_EQ(preview->Model().rowCount(), 2);
    EXPECT_EQ(preview->Model().Row(0).path, QString::fromStdString(tree.Path("a.txt")));
    EXPECT_EQ(preview->Model().Row(0).replaced, 2);
    EXPECT_TRUE(preview->LblTotals->text().contains(QStringLiteral("置換した文字列の数 = 3")));
    EXPECT_TRUE(preview->TxtLines->toPlainText().contains(QStringLiteral("-one abc")));
    EXPECT_TRUE(preview->TxtLines->toPlainText().contains(QStringLiteral("+one XY")));
    EXPECT_EQ(tree.Names(), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));

    QTest::mouseClick(preview->CmdRun, Qt::LeftButton);
    QTRY_COMPARE(tree.Read("c.txt"), std::string("XY"));
    EXPECT_EQ(tree.Read("a.txt"), "one XY\r\ntwo XY\r\n");
    ASSERT_EQ(messages.texts.size(), 1u);
    EXPECT_TRUE(window.CmdUndo->isEnabled());

    QString question;
    const auto previous = ModMain::SetConfirmRoutine([&](QWidget*, const QString& text) {
        question = text;
        return true;
    });
    QTest::mouseClick(window.CmdUndo, Qt::LeftButton);
    ModMain::SetConfirmRoutine(previous);
    EXPECT_TRUE(question.contains(QStringLiteral("2 個のファイル"))) << question.toStdString();
    EXPECT_EQ(tree.Read("a.txt"), "one abc\r\ntwo abc\r\n");
    EXPECT_EQ(tree.Read("c.txt"), "abc");
    ASSERT_EQ(messages.texts.size(), 2u);
    EXPECT_TRUE(messages.texts[1].startsWith(QStringLiteral("元に戻したファイルの数 = 2")));
    EXPECT_FALSE(window.CmdUndo->isEnabled());
}

}  // namespace
}  // namespace popuran::ui
