// What the window says of files it could not change, and of a search folder that is not there.
#include <cerrno>
#include <cstdio>

#include <gtest/gtest.h>

#include "folder/services/failure.h"
#include "support/temp_tree.h"
#include "ui_harness.h"

namespace popuran::ui {
namespace {

class FailureSummaryTest : public testing::WindowTest {
protected:
    void Start(const std::string& folder) {
        messages_.texts.clear();
        messages_.details.clear();
        testing::ChooseListEntry(window_, 1);  // extension replacement
        window_.SetBoxText(0, u"htm");
        window_.SetBoxText(1, u"html");
        window_.SetBoxText(2, u"*");
        window_.Cbobox[3]->setEditText(QString::fromStdString(folder));
        QTest::mouseClick(window_.CmdRpl, Qt::LeftButton);
    }

    testing::TempTree tree_;
};

TEST_F(FailureSummaryTest, FailuresAreCountedAndListedAndAMissingFolderIsRefused) {
    tree_.Create("a.htm", "a");
    tree_.Create("a.html", "taken");
    tree_.Create("b.htm", "b");
    Start(tree_.Root());
    EXPECT_EQ(messages_.texts, std::vector<QString>{QStringLiteral(
                                   "検索したファイルの数 = 2\r置換したファイルの数 = 1\r"
                                   "処理できなかったファイルの数 = 1")});
    EXPECT_EQ(messages_.details, std::vector<QString>{QString::fromStdString(
                                     tree_.Path("a.htm") + ": " + folder::SystemMessage(EEXIST) +
                                     " (" + tree_.Path("a.html") + ")\n")});

    window_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
    for (const char* folder : {"no/such", "a.htm"}) {
        SCOPED_TRACE(folder);
        window_.Cbobox[0]->setFocus();
        Start(tree_.Path(folder));
        EXPECT_EQ(messages_.texts,
                  std::vector<QString>{QStringLiteral("検索する場所が見つかりません。")});
        EXPECT_TRUE(window_.Cbobox[3]->hasFocus());
        EXPECT_EQ(window_.Cbobox[2]->currentText(), QStringLiteral("*")) << "box 2 not rewritten";
    }
    // The next run starts with an empty list.
    ASSERT_EQ(std::remove(tree_.Path("a.html").c_str()), 0);
    Start(tree_.Root());
    EXPECT_EQ(messages_.details, std::vector<QString>{QString()});
    EXPECT_EQ(tree_.Names(), (std::vector<std::string>{"a.html", "b.html"}));
}

}  // namespace
}  // namespace popuran::ui
