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

}  // namespace
}  // namespace popuran::folder
