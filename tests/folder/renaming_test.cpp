#include "folder/renaming.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "folder/services/file_services.h"
#include "run/state/run_state.h"
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

    // The files handled so far show in the state, in the window and in the handled counter.
    void ExpectCounts(std::int32_t changed, std::int32_t handled_files) const {
        EXPECT_EQ(state.ChangedFileCount, changed);
        EXPECT_EQ(view.changes.size(), static_cast<std::size_t>(changed));
        EXPECT_EQ(handled, handled_files);
        EXPECT_EQ(view.yields, handled_files);
    }
};

// A JPEG head: JFIF at offset 6.
const std::string kJpeg("\xff\xd8\xff\xe0\0\x10JFIF\0\x01", 12);

TEST(ReplaceExtension, RenamesSelectedFiles) {
    struct Case {
        std::vector<std::string> files;  // each holding its own name; the first is handed over
        const char* search;
        const char* replace;
        std::vector<std::string> after;
        std::int32_t changed;
        std::int32_t handled;
        const char* why;
    };
    const Case cases[] = {
        {{"page.htm"}, "htm", "html", {"page.html"}, 1, 1, "htm to html"},
        {{"PAGE.HTM"}, "htm", "html", {"PAGE.html"}, 1, 1, "new text as typed"},
        {{"page.html"}, "htm", "html", {"page.html"}, 0, 0, "ends in tml"},
        {{"memo.txt"}, ".TXT", "htm", {"memo.htm"}, 1, 1, "dot and case"},
        {{"memotxt"}, "txt", "htm", {"memotxt.htm"}, 1, 1, "no dot needed"},
        {{"memo.txt"}, "*", "TXT", {"memo.txt"}, 0, 1, "already txt"},
        {{"memo.txt"}, "\u3000 ", " htm\u3000", {"memo.htm"}, 1, 1, "blanks"},
        {{"memo.txt"}, "m*", "htm", {"memo.htm"}, 1, 1, "star anywhere"},
        {{"memo.txt"}, "txt", "", {"memo."}, 1, 1, "empty replacement"},
        {{"txt"}, "txt", "", {"txt"}, 0, 1, "empty replacement, no extension"},
        {{"a.b.txt"}, "txt", "htm", {"a.b.htm"}, 1, 1, "last dot only"},
        {{"page.html"}, "*", "html ", {"page.html"}, 0, 1, "same name again"},
        {{"a.txt", "a.htm"}, "txt", "htm", {"a.htm", "a.txt"}, 0, 1, "collision"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Bench b;
        for (const std::string& name : c.files) {
            b.tree.Create(name, name);
        }
        b.state.CurrentMode = run::kModeExtension;
        b.state.SearchText = U16(c.search);
        b.state.ReplaceText = U16(c.replace);
        ReplaceExtension(b.work, b.tree.Text(c.files.front()), b.handled);
        EXPECT_EQ(b.tree.Names(), c.after);
        b.ExpectCounts(c.changed, c.handled);
        for (const std::string& name : c.files) {
            // Renamed or not, every file keeps its contents (which are its first name).
            EXPECT_EQ(b.tree.Read(b.tree.Exists(name) ? name : c.after.front()), name);
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
    EXPECT_EQ(b.tree.Names("v1.2"), (std::vector<std::string>{"README.txt", "notes.txt"}));
    EXPECT_EQ(b.tree.Names(), std::vector<std::string>{"v1.2"});
    b.ExpectCounts(2, 2);
    ASSERT_FALSE(b.view.changes.empty());
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
    EXPECT_EQ(b.tree.Names(),
              (std::vector<std::string>{"blob.bin", "clash.dat", "clash.jpg", "page.html",
                                        "photo.JPG", "photo.jpg", "tiny.bin"}));
    EXPECT_EQ(b.tree.Read("photo.jpg"), kJpeg);
    EXPECT_EQ(b.tree.Read("clash.jpg"), "older");
    b.ExpectCounts(2, 6);
}

TEST(ConvertNameCase, ConvertsCasedLettersOnly) {
    struct Case {
        run::RunMode mode;
        std::string name;
        std::vector<std::string> after;  // the folder's names afterwards
        std::int32_t changed;
        std::int32_t handled;
        const char* why;
    };
    const Case cases[] = {
        {run::kModeLower, "README.TXT", {"readme.txt"}, 1, 1, "lower"},
        {run::kModeUpper, "readme.txt", {"README.TXT"}, 1, 1, "upper"},
        {run::kModeLower, "readme.txt", {"readme.txt"}, 0, 0, "already lower"},
        {run::kModeUpper, "かなabc漢.txt", {"かなABC漢.TXT"}, 1, 1, "kana and kanji stay"},
        {run::kModeUpper, "か.123", {"か.123"}, 0, 0, "nothing cased"},
        {run::kModeLower, "Ａ.TXT", {"ａ.txt"}, 1, 1, "full-width A"},
        {run::kModeUpper, "straße", {"STRAßE"}, 1, 1, "sharp s stays"},
        {run::kModeLower, "AB\xff\xfe.TXT", {"ab\xff\xfe.txt"}, 1, 1, "non-UTF-8 bytes"},
        {run::kModeLower, "A.TXT", {"A.TXT", "a.txt"}, 0, 1, "collision with a.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Bench b;
        b.tree.Create(c.name, "mine");
        if (c.after.size() > 1) {
            b.tree.Create(c.after.back(), "other");
        }
        b.state.CurrentMode = c.mode;
        ConvertNameCase(b.work, b.tree.Text(c.name), b.handled);
        EXPECT_EQ(b.tree.Names(), c.after);
        b.ExpectCounts(c.changed, c.handled);
        EXPECT_EQ(b.tree.Read(c.after.back()), c.after.size() > 1 ? "other" : "mine");
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
