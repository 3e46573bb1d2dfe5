#include "folder/dry_run_file_services.h"

#include <gtest/gtest.h>

#include "support/fake_view.h"
#include "support/temp_tree.h"

namespace popuran::folder {
namespace {

using testing::U8;

TEST(DryRunFileServices, RenamesTakeAndFreeNamesWithoutTouchingTheDisk) {
    testing::TempTree tree;
    tree.Create("a", "1");
    tree.Create("b", "22");
    tree.Create("c", "333");
    PosixFileServices real;
    DryRunFileServices dry(real);

    EXPECT_EQ(dry.Rename(tree.Text("a"), tree.Text("b")).error().code.value(), EEXIST);
    ASSERT_TRUE(dry.Rename(tree.Text("b"), tree.Text("d")));  // frees b
    ASSERT_TRUE(dry.Rename(tree.Text("a"), tree.Text("b")));  // takes it, frees a
    ASSERT_TRUE(dry.Rename(tree.Text("c"), tree.Text("a")));
    EXPECT_EQ(dry.Rename(tree.Text("c"), tree.Text("e")).error().code.value(), ENOENT);
    EXPECT_EQ(*dry.Length(tree.Text("a")), 3);
    EXPECT_EQ(*dry.Length(tree.Text("b")), 1);
    EXPECT_EQ(*dry.Length(tree.Text("d")), 2);
    EXPECT_FALSE(dry.Length(tree.Text("c")));
    EXPECT_EQ(*dry.ReadAll(tree.Text("d")), "22");

    // Back under its real name, and a round trip through a second name.
    ASSERT_TRUE(dry.Rename(tree.Text("d"), tree.Text("x")));
    ASSERT_TRUE(dry.Rename(tree.Text("x"), tree.Text("c")));
    EXPECT_EQ(*dry.ReadAll(tree.Text("c")), "22");
    EXPECT_FALSE(dry.Length(tree.Text("x")));
    EXPECT_FALSE(dry.Length(tree.Text("d")));

    EXPECT_EQ(dry.Rename(tree.Text("c"), tree.Text("sub/c")).error().code.value(), EINVAL);
    EXPECT_EQ(dry.Rename(tree.Text("c"), tree.Text("..")).error().code.value(), EINVAL);

    auto out = dry.BeginReplace(tree.Text("a"));
    ASSERT_TRUE(out);
    ASSERT_TRUE((*out)->Write("changed"));
    ASSERT_TRUE((*out)->Commit());
    ASSERT_TRUE(dry.CopyForBackup(tree.Text("a"), tree.Text("a.BAK")));

    EXPECT_EQ(tree.Names(), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(tree.Read("a"), "1");
    EXPECT_EQ(tree.Read("b"), "22");
}

}  // namespace
}  // namespace popuran::folder
