// Mode 0 on files in every encoding, through the run as the window and the command line run it.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <iconv.h>

#include <gtest/gtest.h>

#include "folder/services/dry_run_file_services.h"
#include "folder/services/file_services.h"
#include "run/run_control.h"
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
    RunControl& Run(std::u16string search, std::u16string replacement, bool ignore_case = false,
                    EncodingChoice encoding = kEncodingAuto, bool dry = false) {
        view = testing::FakeView();
        view.boxes = {std::move(search), std::move(replacement), u"*.txt", tree.Text()};
        view.chk_bin = !ignore_case;
        control = std::make_unique<RunControl>(
            view, dry ? static_cast<folder::FileServices&>(dry_files) : real);
        control->State().CurrentMode = kModeReplace;
        control->State().Encoding = encoding;
        control->CmdRpl_Click();
        return *control;
    }

    testing::TempTree tree;
    testing::FakeView view;
    folder::PosixFileServices real;
    folder::DryRunFileServices dry_files{real};
    std::unique_ptr<RunControl> control;
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
        {u"。", u"〜", false, "ＡＢＣ 日本語の文章です〜 abc\r\n", "",
         "〜 written as each encoding's code for it"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        for (const Form& form : kForms) {
            tree.Create(form.name, InForm(form, text));
        }
        const std::string unchanged = c.unchanged;
        Run(c.search, c.replacement, c.ignore_case);
        for (const Form& form : kForms) {
            SCOPED_TRACE(form.name);
            const bool keeps = unchanged.find(form.name[0]) != std::string::npos;
            // A byte order mark and the CRLF line ends stay; every other byte is the encoding's.
            EXPECT_EQ(tree.Read(form.name), InForm(form, keeps ? text : c.expected));
            EXPECT_EQ(tree.Exists(std::string(form.name) + ".BAK"), !keeps);
        }
        // Each change names the encoding it was written in.
        for (const auto& change : view.changes) {
            const std::string name = U8(change.path.substr(change.path.rfind(u'/') + 1));
            const auto form = std::find_if(std::begin(kForms), std::end(kForms),
                                           [&](const Form& f) { return name == f.name; });
            ASSERT_NE(form, std::end(kForms));
            EXPECT_EQ(change.encoding, form->encoding);
        }
        const auto& state = control->State();
        EXPECT_EQ(state.ChangedFileCount, 6 - static_cast<int>(unchanged.size()));
        EXPECT_EQ(state.EncodingSkippedCount, static_cast<int>(unchanged.size()));
        const bool summary_line = U8(view.messages.back())
                                      .find(
                                          "文字コードが原因で置換できなかった"
                                          "ファイルの数 = 2") != std::string::npos;
        EXPECT_EQ(summary_line, !unchanged.empty());
        for (const auto& name : tree.Names()) {
            if (name.ends_with(".BAK")) {
                std::remove(tree.Path(name).c_str());
            }
        }
    }
}

TEST_F(Mode0EncodingsTest, UncertainFilesChangeOnlyWhereEveryReadingAgrees) {
    // ﾆ is the byte C6 in code page 932, the first byte of 日 in EUC-JP (the trap). D0 DE is a
    // rare kanji in EUC-JP or ﾐﾞ in code page 932: uncertain, and the readings differ for ﾐ.
    tree.Create("eucjp.txt", "\xC6\xFC\xCB\xDC\xA4\xCE\xCA\xB8\xBE\xCF");  // 日本の文章
    tree.Create("short.txt", "\xD0\xDE");
    Run(u"ﾆ", u"X");
    Run(u"ﾐ", u"X");
    EXPECT_EQ(tree.Read("eucjp.txt"), "\xC6\xFC\xCB\xDC\xA4\xCE\xCA\xB8\xBE\xCF");
    EXPECT_EQ(tree.Read("short.txt"), "\xD0\xDE");
    EXPECT_EQ(control->State().EncodingSkippedCount, 1);
    EXPECT_EQ(control->State().ChangedFileCount, 0);
    // An ASCII search and replacement change every reading alike (letter case aside, when it
    // does not matter): the file is changed.
    tree.Create("short.txt", "\xD0\xDE ABC");
    Run(u"abc", u"xyz", /*ignore_case=*/true);
    EXPECT_EQ(tree.Read("short.txt"), "\xD0\xDE xyz");
    EXPECT_EQ(control->State().EncodingSkippedCount, 0);
    EXPECT_EQ(control->State().ChangedFileCount, 1);
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
    Run(u"です", u"한", false, kEncodingCp932);
    EXPECT_EQ(U8(view.messages.back()),
              "置換後の文字列に Shift_JIS で表せない文字が含まれています。");
    Run(u"です", u"〜", false, kEncodingCp932);
    EXPECT_EQ(tree.Read("sjis.txt"), Iconv("CP932", "日本語の文章〜。\n"));
}

}  // namespace
}  // namespace popuran::run
