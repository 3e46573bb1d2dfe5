// Bad input: texts, patterns, names and links at the limits. Each gets a clear message or a
// clean result, and no file is damaged.
#include <cctype>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "folder/services/file_services.h"
#include "support/fake_view.h"
#include "support/safety_row.h"
#include "support/temp_tree.h"
#include "support/tree_snapshot.h"

namespace popuran::testing {
namespace {

using Outcome = WindowRun;

Outcome RunWith(run::RunMode mode, const std::u16string& search, const std::u16string& replace,
                const std::u16string& pattern, const TempTree& tree, bool subfolders = false) {
    folder::PosixFileServices files;
    return RunFromWindow(files, mode, {search, replace, pattern, tree.Text()}, subfolders);
}

template <class Text>
Text Repeat(const Text& text, int n) {
    Text out;
    for (int i = 0; i < n; ++i) {
        out += text;
    }
    return out;
}

std::string Lower(std::string path) {
    for (char& c : path) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return path;
}

// The tree must be exactly the expected one; every entry that is not counts as damaged.
void CheckTree(const TempTree& tree, const TreeSnapshot& expected, const std::string& input,
               const char* result) {
    const auto differences = Differences(expected, SnapshotTree(tree.Root()));
    EXPECT_EQ(differences, std::vector<std::string>{});
    RecordSafetyRow("bad input", input, result, static_cast<int>(differences.size()));
}

TEST(BadInput, SearchAndReplacementTexts) {
    const std::string long_bytes = Repeat<std::string>("\x82\xA0", 10000);  // あ
    const std::string long_z = Repeat<std::string>("z", 10000);
    const std::string long_file = "x" + long_bytes + "y" + long_bytes + "x" + long_bytes.substr(2);
    const std::string long_done = "x" + long_z + "y" + long_z + "x" + long_bytes.substr(2);
    // Mode 0 on a.txt; `after` is nullptr when the file must stay as it was.
    struct Case {
        const char* input;
        std::u16string search;
        std::u16string replacement;
        std::string bytes;
        const char* after;
        const char* refusal;  // the message of a refused start, or nullptr
        const char* result;
    } const cases[] = {
        {"mode 0: search text holds NUL", std::u16string(u"\0b", 2), u"-",
         std::string("a\0b\0b", 5), "a--", nullptr,
         "NUL matched like any character in a text file"},
        {"mode 0: search and replacement with line ends", u"\r\n", u"\n", "l1\r\nl2\r\nl3",
         "l1\nl2\nl3", nullptr, "line ends replaced exactly; nothing else changed"},
        {"mode 0: search text is a lone surrogate", u"\xD800", u"x", "abc \x95\x5C", nullptr,
         nullptr, "matches nothing; nothing written"},
        {"mode 0: replacement text is a lone surrogate", u"b", u"\xDC80", "abc", nullptr, nullptr,
         "no encoding can write it: the file is left as it was and counted"},
        {"mode 0: search and replacement of 10,000 characters",
         Repeat<std::u16string>(u"あ", 10000), Repeat<std::u16string>(u"z", 10000), long_file,
         long_done.c_str(), nullptr,
         "both occurrences replaced exactly; one character less is no match"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        TempTree tree;
        tree.Create("a.txt", c.bytes);
        const TreeSnapshot before = SnapshotTree(tree.Root());
        const Outcome out = RunWith(run::kModeReplace, c.search, c.replacement, u"*", tree);
        ASSERT_EQ(out.messages.size(), 1u);
        if (c.refusal != nullptr) {
            EXPECT_EQ(U8(out.messages[0]), c.refusal);
            EXPECT_EQ(out.focus, std::vector<int>{1});
        }
        EXPECT_EQ(out.state.ChangedFileCount, c.after != nullptr ? 1 : 0);
        TreeSnapshot expected = before;
        if (c.after != nullptr) {
            expected.files = {{"a.txt", c.after}, {"a.txt.BAK", c.bytes}};
        }
        CheckTree(tree, expected, c.input, c.result);
    }
}

TEST(BadInput, PatternsWithSlashQuestionMarkAndNonAscii) {
    struct Case {
        const char* pattern;
        std::vector<std::string> renamed;  // by mode 2, of A.TXT, AB.TXT, 表示.TXT, sub/C.TXT
        const char* result;
    } const cases[] = {
        {"表*.TXT", {"表示.TXT"}, "non-ASCII pattern matched by character: only 表示.TXT"},
        {"sub/*.TXT",
         {"sub/C.TXT"},
         "the pattern's folder part names a folder below the search folder: its files only"},
        {"sub/../*.TXT",
         {"A.TXT", "AB.TXT", "表示.TXT"},
         "a '..' in the pattern is taken as written, like any path"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern);
        TempTree tree;
        for (const char* name : {"A.TXT", "AB.TXT", "表示.TXT", "sub/C.TXT"}) {
            tree.Create(name, name);
        }
        const TreeSnapshot before = SnapshotTree(tree.Root());
        const Outcome out = RunWith(run::kModeLower, u"", u"", U16(c.pattern), tree);
        ASSERT_EQ(out.messages.size(), 1u);
        EXPECT_EQ(out.state.ChangedFileCount, static_cast<std::int32_t>(c.renamed.size()));
        TreeSnapshot expected = before;
        for (const auto& name : c.renamed) {
            expected.files.erase(name);
            expected.files[Lower(name)] = name;
        }
        CheckTree(tree, expected, std::string("mode 2: pattern ") + c.pattern, c.result);
    }
}

TEST(BadInput, NamesAtTheLengthLimitAndNotUtf8) {
    const std::string long_txt = std::string(251, 'a') + ".txt";               // 255 bytes
    const std::string grows = Repeat<std::string>("\xC8\xBA", 125) + "A.TXT";  // Ⱥ: 3 in lower
    // A file holding "abc"; `new_name` and `new_bytes` are "" where they must stay.
    struct Case {
        const char* input;
        run::RunMode mode;
        std::u16string search;
        std::u16string replace;
        std::string name;
        std::string new_name;
        std::string new_bytes;
        const char* result;
    } const cases[] = {
        {"mode 0: 255-byte name (backup name would be 259 bytes)", 0, u"b", u"x", long_txt, "", "",
         "no backup possible, so no write-back: file untouched, not counted"},
        {"mode 1: rename of a 255-byte name to a longer extension", 1, u"txt", u"html", long_txt,
         "", "", "rename fails (name too long): file stays, not counted"},
        {"mode 2: lower case makes a 255-byte name 380 bytes long", 2, u"", u"", grows, "", "",
         "rename fails (name too long): file stays, not counted"},
        {"mode 2: name that is not UTF-8", 2, u"", u"", "\xFF\xFENAME.TXT", "\xFF\xFEname.txt", "",
         "letters converted, the other bytes kept exactly"},
        {"mode 0: name that is not UTF-8", 0, u"b", u"x", "\xFF\xFEmemo.txt", "", "axc",
         "replaced; backup named with the same bytes plus .BAK"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        TempTree tree;
        tree.Create(c.name, "abc");
        const TreeSnapshot before = SnapshotTree(tree.Root());
        const Outcome out = RunWith(c.mode, c.search, c.replace, u"*", tree);
        ASSERT_EQ(out.messages.size(), 1u) << U8(out.messages[0]);
        const bool changes = !c.new_name.empty() || !c.new_bytes.empty();
        EXPECT_EQ(out.state.ChangedFileCount, changes ? 1 : 0);
        TreeSnapshot expected = before;
        if (!c.new_bytes.empty()) {
            expected.files = {{c.name, c.new_bytes}, {c.name + ".BAK", "abc"}};
        } else if (!c.new_name.empty()) {
            expected.files = {{c.new_name, "abc"}};
        }
        CheckTree(tree, expected, c.input, c.result);
    }
}

TEST(BadInput, FolderLoopsAndLinksOutOfTheTreeAreNotFollowed) {
    TempTree outside;
    outside.Create("OUT.TXT", "outside");
    TempTree tree;
    tree.Create("A.TXT", "a");
    tree.Create("sub/B.TXT", "b");
    ASSERT_EQ(symlink("..", tree.Path("sub/LOOP").c_str()), 0);
    ASSERT_EQ(symlink(".", tree.Path("sub/SELF").c_str()), 0);
    ASSERT_EQ(symlink(outside.Root().c_str(), tree.Path("OUTSIDE").c_str()), 0);
    ASSERT_EQ(symlink(outside.Path("OUT.TXT").c_str(), tree.Path("LINK.TXT").c_str()), 0);
    const TreeSnapshot before = SnapshotTree(tree.Root());
    const Outcome out = RunWith(run::kModeLower, u"", u"", u"*", tree, /*subfolders=*/true);
    ASSERT_EQ(out.messages.size(), 1u);
    EXPECT_EQ(U8(out.messages[0]), "検索したファイルの数 = 2\r変換したファイルの数 = 2");
    EXPECT_EQ(outside.Names(), std::vector<std::string>{"OUT.TXT"});
    TreeSnapshot expected = before;
    expected.files = {{"a.txt", "a"}, {"sub/b.txt", "b"}};
    CheckTree(tree, expected,
              "mode 2 with subfolders: folder loops (sub/LOOP -> .., sub/SELF -> .) and links to "
              "a folder and a file outside the tree",
              "links neither listed nor followed: the run ends, links and the outside untouched");
}

}  // namespace
}  // namespace popuran::testing
