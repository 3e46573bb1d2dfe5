// A folder that cannot be listed is reported once, although both the file listing and the
// folder collection list it.
#include <cerrno>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "folder/services/failure.h"
#include "run/run_control.h"
#include "support/fake_file_services.h"
#include "support/fake_view.h"
#include "support/temp_tree.h"

namespace popuran::testing {
namespace {

TEST(FailureReport, AFolderThatCannotBeListedIsReportedOnce) {
    TempTree tree;
    tree.Create("A.TXT", "a");
    tree.Create("sub/B.TXT", "b");
    FakeView view;
    FakeFileServices files;
    files.FailEvery(FileOp::List, EACCES);
    run::RunControl control(view, files);
    control.State().CurrentMode = run::kModeLower;
    view.boxes = {u"", u"", u"*", tree.Text()};
    view.chk_sub = true;
    control.CmdRpl_Click();

    ASSERT_EQ(view.messages.size(), 2u);
    EXPECT_EQ(U8(view.messages[0]), tree.Root() + "/*: " + folder::SystemMessage(EACCES));
    EXPECT_EQ(U8(view.messages[1]), "検索したファイルの数 = 0\r変換したファイルの数 = 0");
    EXPECT_EQ(tree.Names(), (std::vector<std::string>{"A.TXT", "sub"}));
}

}  // namespace
}  // namespace popuran::testing
