// popuran-cli's --encoding, the encoding of each JSON change and the count of files left alone.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/cli_options.h"
#include "support/program_run.h"
#include "support/temp_tree.h"

namespace popuran::cli {
namespace {

TEST(ParseOptions, EncodingChoices) {
    const struct {
        const char* value;
        int choice;  // -1: refused
    } cases[] = {{"auto", 0}, {"cp932", 1}, {"utf-8", 2}, {"euc-jp", 3}, {"sjis", -1}, {"", -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        std::string error;
        const auto options = ParseOptions({"--mode", "0", "--encoding", c.value}, error);
        EXPECT_EQ(options ? options->encoding : -1, c.choice);
    }
    std::string error;
    EXPECT_EQ(ParseOptions({"--mode", "0"}, error)->encoding, 0) << "auto by default";
}

TEST(CliEncodings, ChangesNameTheirEncodingAndFilesLeftAloneAreCounted) {
    testing::TempTree tree;
    tree.Create("u.txt", "\xEF\xBE\x90");  // ﾐ in UTF-8
    tree.Create("d.txt", "\xD0\xDE");      // a rare kanji in EUC-JP, or ﾐﾞ in code page 932
    const std::vector<std::string> args = {"--mode",    "replace",  "--search",  "ﾐ",
                                           "--replace", "X",        "--pattern", "*.txt",
                                           "--folder",  tree.Root()};
    auto with = [&args](std::vector<std::string> more) {
        more.insert(more.begin(), args.begin(), args.end());
        return testing::RunProgram(POPURAN_CLI, more);
    };
    const auto json = with({"--json", "--verbose"});
    EXPECT_EQ(json.status, 0);
    EXPECT_EQ(json.out,
              "{\"mode\":0,\"searched\":2,\"changed\":1,\"replaced\":1,"
              "\"encoding_skipped\":1,\"stopped\":false,\"failed_count\":0,\"failed\":[],"
              "\"changes\":[{\"path\":\"" +
                  tree.Path("u.txt") + "\",\"replaced\":1,\"encoding\":\"utf-8\"}]}\n");
    const auto plain = with({});
    EXPECT_EQ(plain.out,
              "検索したファイルの数 = 2\n置換したファイルの数 = 0\n置換した文字列の数 = 0\n"
              "文字コードが原因で置換できなかったファイルの数 = 1\n");
    EXPECT_EQ(tree.Read("d.txt"), "\xD0\xDE");
    // The fixed code page 932 reads d.txt as ﾐﾞ; a replacement it cannot hold is refused.
    EXPECT_EQ(with({"--encoding", "cp932"}).out,
              "検索したファイルの数 = 2\n置換したファイルの数 = 1\n置換した文字列の数 = 1\n");
    EXPECT_EQ(tree.Read("d.txt"), "X\xDE");
    const auto refused = testing::RunProgram(
        POPURAN_CLI, {"--mode", "0", "--search", "X", "--replace", "한", "--pattern", "*.txt",
                      "--encoding", "cp932", "--folder", tree.Root()});
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err, "置換後の文字列に Shift_JIS で表せない文字が含まれています。\n");
}

}  // namespace
}  // namespace popuran::cli
