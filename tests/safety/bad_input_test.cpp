// Bad input: texts, patterns, names and links at the limits. Each gets a clear message or a
// clean result, and no file is damaged.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "folder/file_services.h"
#include "run/run_control.h"
#include "support/fake_view.h"
#include "support/safety_row.h"
#include "support/temp_tree.h"
#include "support/tree_snapshot.h"

namespace popuran::testing {
namespace {

struct Outcome {
    run::RunState state;
    std::vector<std::u16string> messages;
    std::vector<int> focus;
};

Outcome RunWith(run::RunMode mode, const std::array<std::u16string, 4>& boxes,
                bool subfolders = false) {
    FakeView view;
    folder::PosixFileServices files;
    run::RunControl control(view, files);
    control.State().CurrentMode = mode;
    view.boxes = boxes;
    view.chk_sub = subfolders;
    control.CmdRpl_Click();
    return Outcome{control.State(), view.messages, view.focus};
}

std::string Repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) {
        out += s;
    }
    return out;
}

std::u16string Repeat(const std::u16string& s, int n) {
    std::u16string out;
    for (int i = 0; i < n; ++i) {
        out += s;
    }
    return out;
}

const char* const kModeNames[] = {"mode 0", "mode 1", "mode 2", "mode 3"};

// --- Texts ------------------------------------------------------------------------------------

struct TextCase {
    const char* input;
    run::RunMode mode;
    std::u16string search;
    std::u16string replacement;
    std::map<std::string, std::string> files;  // before
    std::map<std::string, std::string> after;  // the files that change, and how
    std::int32_t changed;
    const char* message;  // a refusal, or nullptr for a run that ends in its summary
    const char* result;
};

TEST(BadInput, SearchAndReplacementTexts) {
    const std::u16string long_search = Repeat(u"あ", 10000);
    const std::string long_search_bytes = Repeat("\x82\xA0", 10000);
    const std::u16string long_replacement = Repeat(u"z", 10000);
    const TextCase cases[] = {
        {"mode 0: search text holds NUL",
         0,
         std::u16string(u"\0b", 2),
         u"-",
         {{"zero.txt", std::string("a\0b\0b", 5)}, {"zero.dat", std::string("a\0b", 3)}},
         {{"zero.txt", "a--"}},
         1,
         nullptr,
         "NUL matched like any character in text files; a file with NUL and no text ending is "
         "not text and stays"},
        {"mode 0: search and replacement with line ends",
         0,
         u"\r\n",
         u"\n",
         {{"crlf.txt", "l1\r\nl2\r\nl3"}, {"lf.txt", "l1\nl2\n"}},
         {{"crlf.txt", "l1\nl2\nl3"}},
         1,
         nullptr,
         "line ends replaced exactly; nothing else changed"},
        {"mode 0: search text is a lone surrogate",
         0,
         u"\xD800",
         u"x",
         {{"a.txt", "abc \x95\x5C"}},
         {},
         0,
         nullptr,
         "matches nothing; nothing written"},
        {"mode 0: replacement text is a lone surrogate",
         0,
         u"b",
         u"\xDC80",
         {{"a.txt", "abc"}},
         {},
         0,
         "置換後の文字列に Shift_JIS で表せない文字が含まれています。",
         "refused before the run, focus on the replacement box; nothing written"},
        {"mode 0: search and replacement of 10,000 characters",
         0,
         long_search,
         long_replacement,
         {{"long.txt", "x" + long_search_bytes + "y" + long_search_bytes},
          {"short.txt", "x" + long_search_bytes.substr(2)}},
         {{"long.txt", "x" + Repeat("z", 10000) + "y" + Repeat("z", 10000)}},
         1,
         nullptr,
         "both occurrences replaced exactly; a file holding one character less stays"},
        {"mode 1: replacement extension with '/'",
         1,
         u"txt",
         u"x/htm",
         {{"a.txt", "a"}},
         {},
         0,
         nullptr,
         "a rename out of the folder is refused: file keeps its name, not counted"},
        {"mode 1: replacement extension '../htm'",
         1,
         u"txt",
         u"../htm",
         {{"a.txt", "a"}},
         {},
         0,
         nullptr,
         "refused like any name with '/': file stays, not counted"},
        {"mode 1: replacement extension holds NUL",
         1,
         u"txt",
         std::u16string(u"h\0tm", 4),
         {{"a.txt", "a"}},
         {},
         0,
         nullptr,
         "no name can hold NUL: the rename is refused, file stays, not counted"},
        {"mode 1: replacement extension of 10,000 characters",
         1,
         u"txt",
         long_replacement,
         {{"a.txt", "a"}},
         {},
         0,
         nullptr,
         "name too long for the file system: rename fails, not counted"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        TempTree tree;
        for (const auto& [name, bytes] : c.files) {
            tree.Create(name, bytes);
        }
        const TreeSnapshot before = SnapshotTree(tree.Root());
        const Outcome out = RunWith(c.mode, {c.search, c.replacement, u"*", tree.Text()});
        ASSERT_EQ(out.messages.size(), 1u);
        if (c.message != nullptr) {
            EXPECT_EQ(U8(out.messages[0]), c.message);
            EXPECT_EQ(out.focus, std::vector<int>{1});
        } else {
            EXPECT_NE(U8(out.messages[0]).find("ファイルの数 = " + std::to_string(c.changed)),
                      std::string::npos)
                << U8(out.messages[0]);
            EXPECT_EQ(out.state.ChangedFileCount, c.changed);
        }
        const TreeSnapshot after = SnapshotTree(tree.Root());
        for (const auto& [name, bytes] : c.files) {
            const auto changed = c.after.find(name);
            EXPECT_EQ(after.files.at(name), changed == c.after.end() ? bytes : changed->second)
                << name;
        }
        EXPECT_EQ(after.files.size(), c.files.size() + c.after.size()) << "backups only";
        const Damage damage = CheckContents(before, after, c.after);
        EXPECT_TRUE(damage.Clean()) << damage.Describe();
        RecordSafetyRow("bad input", c.input, c.result, damage.damaged + damage.unexpected);
    }
}

// --- Patterns ---------------------------------------------------------------------------------

TEST(BadInput, PatternsWithSlashQuestionMarkAndNonAscii) {
    struct Case {
        const char* pattern;
        std::vector<std::string> renamed;  // by mode 2, of A.TXT, AB.TXT, 表示.TXT, sub/C.TXT
        const char* result;
    } const cases[] = {
        {"?.TXT", {"A.TXT"}, "'?' stands for one character: only A.TXT"},
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
        const Outcome out = RunWith(run::kModeLower, {u"", u"", U16(c.pattern), tree.Text()});
        ASSERT_EQ(out.messages.size(), 1u);
        EXPECT_EQ(out.state.ChangedFileCount, static_cast<std::int32_t>(c.renamed.size()));
        const auto lower = [&](const std::string& p) {
            for (const auto& r : c.renamed) {
                if (r == p) {
                    std::string l = p;
                    for (char& ch : l) {
                        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
                    }
                    return l;
                }
            }
            return p;
        };
        const TreeSnapshot after = SnapshotTree(tree.Root());
        const Damage damage = CheckRenames(before, after, lower);
        EXPECT_TRUE(damage.Clean()) << damage.Describe();
        for (const auto& r : c.renamed) {
            EXPECT_EQ(after.files.count(lower(r)), 1u) << r;
        }
        RecordSafetyRow("bad input", std::string("mode 2: pattern ") + c.pattern, c.result,
                        damage.damaged + damage.unexpected);
    }
}

// --- Names ------------------------------------------------------------------------------------

TEST(BadInput, NamesAtTheLengthLimitAndNotUtf8) {
    const std::string long_txt = std::string(251, 'a') + ".txt";  // 255 bytes
    const std::string grows = Repeat("\xC8\xBA", 125) + "A.TXT";  // Ⱥ: 2 bytes, 3 in lower case
    struct Case {
        const char* input;
        run::RunMode mode;
        std::array<std::u16string, 2> texts;
        std::string name;
        std::string bytes;
        std::string new_name;   // "" when the file must keep its name
        std::string new_bytes;  // "" when its bytes stay
        const char* result;
    } const cases[] = {
        {"mode 0: 255-byte name (backup name would be 259 bytes)",
         0,
         {u"b", u"x"},
         long_txt,
         "abc",
         "",
         "",
         "no backup possible, so no write-back: file untouched, not counted"},
        {"mode 1: rename of a 255-byte name to a longer extension",
         1,
         {u"txt", u"html"},
         long_txt,
         "abc",
         "",
         "",
         "rename fails (name too long): file stays, not counted"},
        {"mode 2: lower case makes a 255-byte name 380 bytes long",
         2,
         {u"", u""},
         grows,
         "g",
         "",
         "",
         "rename fails (name too long): file stays, not counted"},
        {"mode 2: name that is not UTF-8",
         2,
         {u"", u""},
         "\xFF\xFE"
         "NAME.TXT",
         "n",
         "\xFF\xFE"
         "name.txt",
         "",
         "letters converted, the other bytes kept exactly"},
        {"mode 0: name that is not UTF-8",
         0,
         {u"b", u"x"},
         "\xFF\xFE"
         "memo.txt",
         "abc",
         "",
         "axc",
         "replaced; backup named with the same bytes plus .BAK"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        TempTree tree;
        tree.Create(c.name, c.bytes);
        const TreeSnapshot before = SnapshotTree(tree.Root());
        const Outcome out = RunWith(c.mode, {c.texts[0], c.texts[1], u"*", tree.Text()});
        ASSERT_EQ(out.messages.size(), 1u) << U8(out.messages[0]);
        const bool changes = !c.new_name.empty() || !c.new_bytes.empty();
        EXPECT_EQ(out.state.ChangedFileCount, changes ? 1 : 0);
        const TreeSnapshot after = SnapshotTree(tree.Root());
        Damage damage;
        if (c.mode == run::kModeReplace) {
            std::map<std::string, std::string> expected;
            if (!c.new_bytes.empty()) {
                expected[c.name] = c.new_bytes;
                EXPECT_EQ(after.files.at(c.name + ".BAK"), c.bytes);
            }
            EXPECT_EQ(after.files.size(), changes ? 2u : 1u);
            damage = CheckContents(before, after, expected);
        } else {
            damage = CheckRenames(before, after, [&](const std::string& p) {
                return c.new_name.empty() ? p : c.new_name;
            });
            EXPECT_EQ(after.files.count(changes ? c.new_name : c.name), 1u);
        }
        EXPECT_TRUE(damage.Clean()) << damage.Describe();
        RecordSafetyRow("bad input", c.input, c.result, damage.damaged + damage.unexpected);
    }
}

// --- Links ------------------------------------------------------------------------------------

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
    const Outcome out = RunWith(run::kModeLower, {u"", u"", u"*", tree.Text()}, true);
    ASSERT_EQ(out.messages.size(), 1u);
    EXPECT_EQ(U8(out.messages[0]), "検索したファイルの数 = 2\r変換したファイルの数 = 2");
    const Damage damage = CheckRenames(before, SnapshotTree(tree.Root()), [](std::string p) {
        for (char& ch : p) {
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        }
        return p;
    });
    EXPECT_TRUE(damage.Clean()) << damage.Describe();
    EXPECT_EQ(outside.Names(), std::vector<std::string>{"OUT.TXT"});
    RecordSafetyRow("bad input",
                    "mode 2 with subfolders: folder loops (sub/LOOP -> .., sub/SELF -> .) and "
                    "links to a folder and a file outside the tree",
                    "links neither listed nor followed: the run ends, links and the outside "
                    "untouched",
                    damage.damaged + damage.unexpected);
}

}  // namespace
}  // namespace popuran::testing
