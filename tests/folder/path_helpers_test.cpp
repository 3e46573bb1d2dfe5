#include "folder/services/path_helpers.h"

#include <gtest/gtest.h>

#include "folder/progress_marker.h"
#include "support/fake_view.h"

namespace popuran::folder {
namespace {

using testing::U8;

TEST(PathHelpers, SplitAtLastDotAndLastSeparator) {
    struct Case {
        const char16_t* argument;
        const char16_t* extension;
        const char16_t* base_name;
        const char16_t* folder;
        const char16_t* file_name;
    };
    const Case cases[] = {
        {u"/docs/memo.txt", u"txt", u"/docs/memo.", u"/docs/", u"memo.txt"},
        {u"/docs/archive.tar.gz", u"gz", u"/docs/archive.tar.", u"/docs/", u"archive.tar.gz"},
        {u"/docs/README", u"", u"", u"/docs/", u"README"},
        {u"memo.txt", u"txt", u"memo.", u"", u""},
        {u"memo.", u"", u"memo.", u"", u""},
        {u".profile", u"profile", u".", u"", u""},
        {u"README", u"", u"", u"", u""},
        {u"/docs/", u"", u"", u"/docs/", u""},
        {u"/my.dir/README", u"dir/README", u"/my.", u"/my.dir/", u"README"},
        {u"", u"", u"", u"", u""},
        // '\' is an ordinary character of a name here.
        {u"/a\\b.c\\d", u"c\\d", u"/a\\b.", u"/", u"a\\b.c\\d"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(U8(c.argument));
        EXPECT_EQ(U8(ExtensionOf(c.argument)), U8(c.extension));
        EXPECT_EQ(U8(BaseNameOf(c.argument)), U8(c.base_name));
        EXPECT_EQ(U8(FolderOf(c.argument)), U8(c.folder));
        EXPECT_EQ(U8(FileNameOf(c.argument)), U8(c.file_name));
    }
}

TEST(ProgressMarker, SquareMovesRightThenBackEveryTwentySteps) {
    struct Case {
        std::int32_t step;
        int cell;
    };
    const Case cases[] = {{0, 0},  {1, 1},  {9, 9},   {10, 10}, {11, 9},  {12, 8},
                          {19, 1}, {20, 0}, {30, 10}, {45, 5},  {50, 10}, {2147483647, 7}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        const std::u16string marker = ProgressMarker(c.step);
        ASSERT_EQ(marker.size(), 11u);
        for (int i = 0; i < 11; ++i) {
            EXPECT_EQ(marker[static_cast<std::size_t>(i)], i == c.cell ? u'\u25A0' : u'\u3000')
                << "cell " << i;
        }
    }
}

}  // namespace
}  // namespace popuran::folder
