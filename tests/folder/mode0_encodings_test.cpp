// Mode 0 on files in every encoding, through the run that the window and the command line share.
#include <algorithm>
#include <cstdio>
#include <string>

#include <iconv.h>

#include <gtest/gtest.h>

#include "folder/services/file_services.h"
#include "support/fake_view.h"
#include "support/temp_tree.h"

namespace popuran::run {
namespace {

using testing::U16;
using testing::U8;

// The system's own converter makes the expected bytes.
std::string Iconv(const char* to, const std::string& utf8) {
    iconv_t cd = iconv_open(to, "UTF-8");
    std::string in = utf8;
    std::string out(utf8.size() * 4 + 4, '\0');
    char* ip = in.data();
    char* op = out.data();
    std::size_t il = in.size();
    std::size_t ol = out.size();
    const std::size_t done = iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    EXPECT_NE(done, static_cast<std::size_t>(-1)) << to << ": " << utf8;
    out.resize(out.size() - ol);
    return out;
}

struct Form {
    const char* name;
    const char* iconv_name;
    const char* mark;
    const char* encoding;  // as a change names it
};
const Form kForms[] = {
    {"cp932.txt", "CP932", "", "cp932"},
    {"utf8.txt", "UTF-8", "", "utf-8"},
    {"bom.txt", "UTF-8", "\xEF\xBB\xBF", "utf-8-bom"},
    {"euc.txt", "EUC-JP", "", "euc-jp"},
    {"le.txt", "UTF-16LE", "\xFF\xFE", "utf-16le"},
    {"be.txt", "UTF-16BE", "\xFE\xFF", "utf-16be"},
};

std::string InForm(const Form& form, const std::string& utf8) {
    return form.mark + Iconv(form.iconv_name, utf8);
}

class Mode0EncodingsTest : public ::testing::Test {
protected:
    testing::WindowRun Run(std::u16string search, std::u16string replacement,
                           bool ignore_case = false, EncodingChoice encoding = kEncodingAuto) {
        return testing::RunFromWindow(
            real, kModeReplace, {std::move(search), std::move(replacement), u"*.txt", tree.Text()},
            {.case_sensitive = !ignore_case, .encoding = encoding});
    }

    testing::TempTree tree;
    folder::PosixFileServices real;
};

TEST_F(Mode0EncodingsTest, EveryEncodingIsReplacedInItsOwnBytes) {
    const std::string text = "ＡＢＣ 日本語の文章です。 abc\r\n";
    const struct {
        const char16_t* search;
        const char16_t* replacement;
        bool ignore_case;
        const char* expected;   // the new text of every file that changes
        const char* unchanged;  // the files that keep their bytes, by first letter
        const char* why;
    } cases[] = {
        {u"abc", u"xyz", false, "ＡＢＣ 日本語の文章です。 xyz\r\n", "", "ASCII search"},
        {u"日本語", u"英語", false, "ＡＢＣ 英語の文章です。 abc\r\n", "", "Japanese search"},
        {u"abc", u"한", false, "ＡＢＣ 日本語の文章です。 한\r\n", "ce",
         "a replacement that code page 932 and EUC-JP cannot hold"},
        {u"ａｂｃ", u"x", true, "x 日本語の文章です。 abc\r\n", "", "ignore-case on ＡＢＣ"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        for (const Form& form : kForms) {
            tree.Create(form.name, InForm(form, text));
        }
        const std::string unchanged = c.unchanged;
        const auto run = Run(c.search, c.replacement, c.ignore_case);
        for (const Form& form : kForms) {
            SCOPED_TRACE(form.name);
            const bool keeps = unchanged.find(form.name[0]) != std::string::npos;
            // A byte order mark and the CRLF line ends stay; every other byte is the encoding's.
            EXPECT_EQ(tree.Read(form.name), InForm(form, keeps ? text : c.expected));
            // A backup where the file changed, removed for the next case.
            EXPECT_EQ(std::remove(tree.Path(std::string(form.name) + ".BAK").c_str()) == 0, !keeps);
        }
        // Each change names the encoding it was written in.
        for (const auto& change : run.changes) {
            const std::string name = U8(change.path.substr(change.path.rfind(u'/') + 1));
            const auto form = std::find_if(std::begin(kForms), std::end(kForms),
                                           [&](const Form& f) { return name == f.name; });
            ASSERT_NE(form, std::end(kForms));
            EXPECT_EQ(change.encoding, form->encoding);
        }
        EXPECT_EQ(run.state.ChangedFileCount, 6 - static_cast<int>(unchanged.size()));
        EXPECT_EQ(run.state.EncodingSkippedCount, static_cast<int>(unchanged.size()));
    }
}

TEST_F(Mode0EncodingsTest, UncertainFilesChangeOnlyWhereEveryReadingAgrees) {
    // ﾆ is the byte C6 in code page 932, the first byte of 日 in EUC-JP (the trap). D0 DE is a
    // rare kanji in EUC-JP or ﾐﾞ in code page 932: uncertain, and the readings differ for ﾐ.
    tree.Create("eucjp.txt", "\xC6\xFC\xCB\xDC\xA4\xCE\xCA\xB8\xBE\xCF");  // 日本の文章
    tree.Create("short.txt", "\xD0\xDE");
    Run(u"ﾆ", u"X");
    auto run = Run(u"ﾐ", u"X");
    EXPECT_EQ(tree.Read("eucjp.txt"), "\xC6\xFC\xCB\xDC\xA4\xCE\xCA\xB8\xBE\xCF");
    EXPECT_EQ(tree.Read("short.txt"), "\xD0\xDE");
    EXPECT_EQ(run.state.EncodingSkippedCount, 1);
    EXPECT_EQ(run.state.ChangedFileCount, 0);
    // An ASCII search and replacement change every reading alike (letter case aside, when it
    // does not matter): the file is changed.
    tree.Create("short.txt", "\xD0\xDE ABC");
    run = Run(u"abc", u"xyz", /*ignore_case=*/true);
    EXPECT_EQ(tree.Read("short.txt"), "\xD0\xDE xyz");
    EXPECT_EQ(run.state.EncodingSkippedCount, 0);
    EXPECT_EQ(run.state.ChangedFileCount, 1);
    // A non-ASCII replacement in an ASCII-only file is written as UTF-8.
    tree.Create("ascii.txt", "abc\n");
    Run(u"abc", u"漢字");
    EXPECT_EQ(tree.Read("ascii.txt"), "漢字\n");
}

TEST_F(Mode0EncodingsTest, AFixedChoiceReadsEveryFileInIt) {
    tree.Create("euc.txt", Iconv("EUC-JP", "日本語の文章です。\n"));
    tree.Create("sjis.txt", Iconv("CP932", "日本語の文章です。\n"));
    Run(u"日本語", u"英語", false, kEncodingEucJp);
    EXPECT_EQ(tree.Read("euc.txt"), Iconv("EUC-JP", "英語の文章です。\n"));
    EXPECT_EQ(tree.Read("sjis.txt"), Iconv("CP932", "日本語の文章です。\n"));
    // Code page 932 refuses at Start what it cannot write; 〜 it can.
    EXPECT_EQ(U8(Run(u"です", u"한", false, kEncodingCp932).messages.back()),
              "置換後の文字列に Shift_JIS で表せない文字が含まれています。");
    Run(u"です", u"〜", false, kEncodingCp932);
    EXPECT_EQ(tree.Read("sjis.txt"), Iconv("CP932", "日本語の文章〜。\n"));
}

}  // namespace
}  // namespace popuran::run
