// What the window says of files it could not change, and of a search folder that is not there.
#include <cerrno>

#include <unistd.h>

#include <gtest/gtest.h>

#include "folder/services/failure.h"
#include "support/temp_tree.h"
#include "ui_harness.h"

namespace popuran::ui {
namespace {

class FailureSummaryTest : public testing::WindowTest {
protected:
    void Start(const QString& folder) {
        testing::ChooseListEntry(window_, 1);  // extension replacement
        window_.SetBoxText(0, u"htm");
        window_.SetBoxText(1, u"html");
        window_.SetBoxText(2, u"*");
        window_.Cbobox[3]->setEditText(folder);
        QTest::mouseClick(window_.CmdRpl, Qt::LeftButton);
    }
    QString Path(const char* name) const { return QString::fromStdString(tree_.Path(name)); }

    testing::TempTree tree_;
};

TEST_F(FailureSummaryTest, TheSummaryCountsTheFailuresAndItsDetailsListThem) {
    tree_.Create("a.htm", "a");
    tree_.Create("a.html", "taken");
    tree_.Create("b.htm", "b");
    Start(QString::fromStdString(tree_.Root()));

    ASSERT_EQ(messages_.texts.size(), 1u);
    EXPECT_EQ(messages_.texts[0],
              QStringLiteral("検索したファイルの数 = 2\r置換したファイルの数 = 1\r"
                             "処理できなかったファイルの数 = 1"));
    EXPECT_EQ(messages_.details[0], Path("a.htm") + QStringLiteral(": ") +
                                        QString::fromStdString(folder::SystemMessage(EEXIST)) +
                                        QStringLiteral(" (") + Path("a.html") +
                                        QStringLiteral(")\n"));
    EXPECT_EQ(tree_.Read("a.html"), "taken");

    // The next run starts with an empty list.
    ASSERT_EQ(unlink(tree_.Path("a.html").c_str()), 0);
    messages_.texts.clear();
    messages_.details.clear();
    Start(QString::fromStdString(tree_.Root()));
    EXPECT_EQ(messages_.details, std::vector<QString>{QString()});
}

TEST_F(FailureSummaryTest, ASearchFolderThatIsNotThereIsRefused) {
    tree_.Create("file.htm", "x");
    window_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
    for (const char* folder : {"no/such", "file.htm"}) {
        SCOPED_TRACE(folder);
        messages_.texts.clear();
        window_.Cbobox[0]->setFocus();
        Start(Path(folder));
        EXPECT_EQ(messages_.texts,
                  std::vector<QString>{QStringLiteral("検索する場所が見つかりません。")});
        EXPECT_TRUE(window_.Cbobox[3]->hasFocus());
        EXPECT_EQ(window_.Cbobox[2]->currentText(), QStringLiteral("*")) << "box 2 not rewritten";
        EXPECT_EQ(tree_.Read("file.htm"), "x");
    }
}

}  // namespace
}  // namespace popuran::ui
