#include "folder/renaming.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "folder/file_services.h"
#include "run/run_state.h"
#include "support/fake_view.h"
#include "support/temp_tree.h"

namespace popuran::folder {
namespace {

using testing::U16;
using testing::U8;

// One folder on disk and the state of a run over it.
struct Bench {
    testing::TempTree tree;
    testing::FakeView view;
    run::RunState state;
    PosixFileServices files;
    Work work{state, view, files};
    std::int32_t handled = 0;

    std::vector<std::string> Names(const std::string& folder = "") const {
        return tree.Names(folder);
    }
};

// A JPEG head: JFIF at offset 6.
const std::string kJpeg("\xff\xd8\xff\xe0\0\x10JFIF\0\x01", 12);

struct ExtensionCase {
    std::vector<std::string> files;  // each created holding its own name
    const char* search;
    const char* replace;
    const char* target;  // the file handed to ReplaceExtension
    std::vector<std::string> after;
    std::int32_t changed;
    std::int32_t handled;
    const char* why;
};

TEST(ReplaceExtension, RenamesSelectedFiles) {
    const std::vector<ExtensionCase> cases = {
        {{"page.htm"}, "htm", "html", "page.htm", {"page.html"}, 1, 1, "htm to html"},
        {{"PAGE.HTM"}, "htm", "html", "PAGE.HTM", {"PAGE.html"}, 1, 1, "new text as typed"},
        {{"page.html"}, "htm", "html", "page.html", {"page.html"}, 0, 0, "ends in tml"},
        {{"memo.txt"}, ".TXT", "htm", "memo.txt", {"memo.htm"}, 1, 1, "dot and case"},
        {{"memotxt"}, "txt", "htm", "memotxt", {"memotxt.htm"}, 1, 1, "no dot needed"},
        {{"memo.txt"}, "*", "TXT", "memo.txt", {"memo.txt"}, 0, 1, "already txt"},
        {{"memo.txt"}, "\u3000 ", " htm\u3000", "memo.txt", {"memo.htm"}, 1, 1, "blanks"},
        {{"memo.txt"}, "m*", "htm", "memo.txt", {"memo.htm"}, 1, 1, "star anywhere"},
        {{"memo.txt"}, "txt", "", "memo.txt", {"memo."}, 1, 1, "empty replacement"},
        {{"txt"}, "txt", "", "txt", {"txt"}, 0, 1, "empty replacement, no extension"},
        {{"a.b.txt"}, "txt", "htm", "a.b.txt", {"a.b.htm"}, 1, 1, "last dot only"},
        {{"page.html"}, "*", "html ", "page.html", {"page.html"}, 0, 1, "same name again"},
        {{"a.txt", "a.htm"}, "txt", "htm", "a.txt", {"a.htm", "a.txt"}, 0, 1, "collision"},
    };
    for (const ExtensionCase& c : cases) {
        SCOPED_TRACE(c.why);
        Bench b;
        for (const std::string& name : c.files) {
            b.tree.Create(name, name);
        }
        b.state.CurrentMode = run::kModeExtension;
        b.state.SearchText = U16(c.search);
        b.state.ReplaceText = U16(c.replace);
        ReplaceExtension(b.work, b.tree.Text(c.target), b.handled);
        EXPECT_EQ(b.Names(), c.after);
        EXPECT_EQ(b.state.ChangedFileCount, c.changed);
        EXPECT_EQ(b.handled, c.handled);
        EXPECT_EQ(b.view.yields, c.handled);
        EXPECT_EQ(b.view.changes.size(), static_cast<std::size_t>(c.changed));
        for (const std::string& name : c.files) {
            // Renamed or not, every file keeps its contents (which are its first name).
            const std::string now = b.tree.Exists(name) ? name : c.after.front();
            EXPECT_EQ(b.tree.Read(now), name);
        }
    }
}

TEST(ReplaceExtension, NameWithoutDotInFolderWithDot) {
    Bench b;
    b.tree.Create("v1.2/notes", "notes");
    b.tree.Create("v1.2/README", "readme");
    b.state.CurrentMode = run::kModeExtension;
    b.state.SearchText = u"*";
    b.state.ReplaceText = u"txt";
    ReplaceExtension(b.work, b.tree.Text("v1.2/notes"), b.handled);
    b.state.ReplaceText = u"*";
    ReplaceExtension(b.work, b.tree.Text("v1.2/README"), b.handled);
    EXPECT_EQ(b.Names("v1.2"), (std::vector<std::string>{"README.txt", "notes.txt"}));
    EXPECT_EQ(b.Names(), std::vector<std::string>{"v1.2"});
    EXPECT_EQ(b.state.ChangedFileCount, 2);
    ASSERT_EQ(b.view.changes.size(), 1u + 1u);
    EXPECT_EQ(U8(b.view.changes[0].path), b.tree.Path("v1.2/notes"));
    EXPECT_EQ(U8(b.view.changes[0].new_path), b.tree.Path("v1.2/notes.txt"));
    EXPECT_EQ(b.view.changes[0].replaced, 0);
}

TEST(ReplaceExtension, StarAsksTheContents) {
    Bench b;
    b.tree.Create("photo.dat", kJpeg);
    b.tree.Create("photo.JPG", kJpeg);
    b.tree.Create("page", "<html><head><title>t</title></head><body>");
    b.tree.Create("blob.bin", std::string("\0\0\0\0\0\0\0\0\0\0", 10));
    b.tree.Create("tiny.bin", std::string("\0\0\0", 3));  // too short: the range error
    b.tree.Create("clash.dat", kJpeg);
    b.tree.Create("clash.jpg", "older");
    b.state.CurrentMode = run::kModeExtension;
    b.state.SearchText = u"*";
    b.state.ReplaceText = u" *";
    for (const char* name :
         {"photo.dat", "photo.JPG", "page", "blob.bin", "tiny.bin", "clash.dat"}) {
        ReplaceExtension(b.work, b.tree.Text(name), b.handled);
    }
    EXPECT_EQ(b.Names(),
              (std::vector<std::string>{"blob.bin", "clash.dat", "clash.jpg", "page.html",
                                        "photo.JPG", "photo.jpg", "tiny.bin"}));
    EXPECT_EQ(b.tree.Read("photo.jpg"), kJpeg);
    EXPECT_EQ(b.tree.Read("clash.jpg"), "older");
    EXPECT_EQ(b.state.ChangedFileCount, 2);
    EXPECT_EQ(b.view.changes.size(), 2u);
    EXPECT_EQ(b.handled, 6);
}

struct CaseCase {
    run::RunMode mode;
    std::string name;
    std::vector<std::string> others;  // further files in the folder
    std::vector<std::string> after;
    std::int32_t changed;
    std::int32_t handled;
    const char* why;
};

TEST(ConvertNameCase, ConvertsCasedLettersOnly) {
    const std::vector<CaseCase> cases = {
        {run::kModeLower, "README.TXT", {}, {"readme.txt"}, 1, 1, "lower"},
        {run::kModeUpper, "readme.txt", {}, {"README.TXT"}, 1, 1, "upper"},
        {run::kModeLower, "readme.txt", {}, {"readme.txt"}, 0, 0, "already lower"},
        {run::kModeUpper,
         "\xe3\x81\x8b\xe3\x81\xaa"
         "abc\xe6\xbc\xa2.txt",
         {},
         {"\xe3\x81\x8b\xe3\x81\xaa"
          "ABC\xe6\xbc\xa2.TXT"},
         1,
         1,
         "kana and kanji stay"},
        {run::kModeUpper, "\xe3\x81\x8b.123", {}, {"\xe3\x81\x8b.123"}, 0, 0, "nothing cased"},
        {run::kModeLower, "\xef\xbc\xa1.TXT", {}, {"\xef\xbd\x81.txt"}, 1, 1, "full-width A"},
        {run::kModeUpper,
         "stra\xc3\x9f"
         "e",
         {},
         {"STRA\xc3\x9f"
          "E"},
         1,
         1,
         "sharp s stays"},
        {run::kModeLower, "AB\xff\xfe.TXT", {}, {"ab\xff\xfe.txt"}, 1, 1, "non-UTF-8 bytes"},
        {run::kModeLower, "A.TXT", {"a.txt"}, {"A.TXT", "a.txt"}, 0, 1, "collision"},
    };
    for (const CaseCase& c : cases) {
        SCOPED_TRACE(c.why);
        Bench b;
        b.tree.Create(c.name, "mine");
        for (const std::string& other : c.others) {
            b.tree.Create(other, "other");
        }
        b.state.CurrentMode = c.mode;
        ConvertNameCase(b.work, b.tree.Text(c.name), b.handled);
        EXPECT_EQ(b.Names(), c.after);
        EXPECT_EQ(b.state.ChangedFileCount, c.changed);
        EXPECT_EQ(b.handled, c.handled);
        EXPECT_EQ(b.view.yields, c.handled);
        EXPECT_EQ(b.view.changes.size(), static_cast<std::size_t>(c.changed));
        for (const std::string& other : c.others) {
            EXPECT_EQ(b.tree.Read(other), "other");
        }
    }
}

// The square moves one cell per handled file, from the folder's counter; a file whose name
// stays as it is does not move it.
TEST(ConvertNameCase, ProgressCaptionsFollowTheHandledCounter) {
    Bench b;
    for (const char* name : {"A", "b", "C"}) {
        b.tree.Create(name, "x");
    }
    b.state.CurrentMode = run::kModeLower;
    b.handled = 9;
    for (const char* name : {"A", "b", "C"}) {
        ConvertNameCase(b.work, b.tree.Text(name), b.handled);
    }
    EXPECT_EQ(b.handled, 11);
    const std::vector<std::u16string> expected = {
        u"LblStat=　　　　　　　　　　■",
        u"LblStat=　　　　　　　　　■　",
    };
    EXPECT_EQ(b.view.caption_log, expected);
    EXPECT_EQ(b.state.ChangedFileCount, 2);
}

TEST(ReplaceExtension, ProgressCaptionForEverySelectedFile) {
    Bench b;
    b.tree.Create("a.txt", "x");
    b.tree.Create("b.doc", "x");
    b.tree.Create("c.htm", "x");
    b.state.CurrentMode = run::kModeExtension;
    b.state.SearchText = u"txt";
    b.state.ReplaceText = u"txt";
    for (const char* name : {"a.txt", "b.doc", "c.htm"}) {
        ReplaceExtension(b.work, b.tree.Text(name), b.handled);
    }
    EXPECT_EQ(b.view.caption_log, std::vector<std::u16string>{u"LblStat=　■　　　　　　　　　"});
    EXPECT_EQ(b.state.ChangedFileCount, 0);
}

}  // namespace
}  // namespace popuran::folder
