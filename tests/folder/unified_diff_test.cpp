#include "folder/services/unified_diff.h"

#include <gtest/gtest.h>

namespace popuran::folder {
namespace {

// Expected hunks as GNU diff -u writes them for the same texts.
TEST(UnifiedDiff, HunksAsDiffWritesThem) {
    struct Case {
        const char* old_text;
        const char* new_text;
        const char* hunks;
        const char* why;
    } const cases[] = {
        {"a\nb\nc\n", "a\nb\nc\n", "", "equal texts give nothing"},
        {"a\nb\nc\n", "a\nX\nY\nc\n", "@@ -1,3 +1,4 @@\n a\n-b\n+X\n+Y\n c\n",
         "a line replaced by two"},
        {"", "new\n", "@@ -0,0 +1 @@\n+new\n", "an empty side is numbered 0,0"},
        {"1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n12\n", "2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n",
         "@@ -1,4 +1,3 @@\n-1\n 2\n 3\n 4\n@@ -9,4 +8,3 @@\n 9\n 10\n 11\n-12\n",
         "changes more than six lines apart make two hunks"},
        {"x\nlast", "x\nLAST",
         "@@ -1,2 +1,2 @@\n x\n-last\n\\ No newline at end of file\n+LAST\n"
         "\\ No newline at end of file\n",
         "a last line without a line end"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const std::string hunks = c.hunks;
        EXPECT_EQ(UnifiedDiff(c.old_text, c.new_text, "f"),
                  hunks.empty() ? hunks : "--- f\n+++ f\n" + hunks);
    }
}

}  // namespace
}  // namespace popuran::folder
