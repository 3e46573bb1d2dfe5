// popuran-cli as a process: exit statuses, output forms, messages, interrupts.
#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "cli/json_writer.h"
#include "cli/terminal_view.h"
#include "folder/services/journal.h"
#include "support/program_run.h"
#include "support/temp_tree.h"

namespace popuran::cli {
namespace {

using testing::ProgramRun;

ProgramRun RunCli(const std::vector<std::string>& args,
                  const std::function<void(pid_t)>& while_running = {}) {
    return testing::RunProgram(POPURAN_CLI, args, while_running);
}

class CliTest : public ::testing::Test {
protected:
    testing::TempTree tree;  // the files worked on
};

// Command lines that do no work, or none at all: the exit status, and what each stream holds
// ("" for nothing).
TEST_F(CliTest, ExitStatusesAndMessagesOfCommandLinesThatRunNoWork) {
    tree.Create("a.txt", "same");
    const std::string same = "検索する文字列と置換後の文字列が一致してます。\n";
    const std::string not_found = "検索する場所が見つかりません。\n";
    const struct {
        int status;
        std::string out, err;
        std::vector<std::string> args;
    } cases[] = {
        {0, "--mode MODE", "", {"--help"}},
        {0, "popuran-cli 1.10\n", "", {"--version"}},
        {2, "", "usage:", {"--folder", "/tmp"}},
        {2, "", same, {"--mode=0", "--search=same", "--replace=same", "--folder", tree.Root()}},
        // A folder that is not there (a typo) or a file in its place is refused.
        {2, "", not_found, {"--mode", "upper", "--pattern", "*", "--folder", tree.Path("a.txt/")}},
        {2,
         "",
         not_found,
         {"--mode=ext", "--search=a", "--replace=b", "--folder", tree.Path("no")}},
        {2, "", "unknown mode '4' (replace, ext, lower, upper or 0 to 3)\n", {"--mode=4"}},
        {2, "", "--folder needs a value\n", {"--mode", "0", "--folder"}},
        {2, "", "--mode is required\n", {"--search=x"}},
        {2, "", "--json takes no value\n", {"--mode", "0", "--json=yes"}},
        {2, "", "unknown argument '-x'\n", {"--mode", "0", "-x"}},
        {2, "", "--undo and --history do not run: leave out --mode\n", {"--undo", "--mode", "0"}},
        {2,
         "",
         "unknown encoding 'sjis' (auto, cp932, utf-8 or euc-jp)\n",
         {"--mode", "0", "--encoding", "sjis"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        const ProgramRun run = RunCli(c.args);
        EXPECT_EQ(run.status, c.status);
        for (const auto& [stream, expected] : {std::pair(run.out, c.out), {run.err, c.err}}) {
            if (expected.empty()) {
                EXPECT_EQ(stream, "");
            } else {
                EXPECT_NE(stream.find(expected), std::string::npos) << stream;
            }
        }
    }
    EXPECT_EQ(tree.Names(), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(tree.Read("a.txt"), "same");
}

TEST_F(CliTest, JsonOfARenameAndOfAReplacementInEachEncoding) {
    tree.Create("README.TXT", "x");
    tree.Create("sub/Note.md", "x");
    tree.Create("sub/empty", "");
    auto json = RunCli({"--mode", "2", "--pattern", "*", "--folder", tree.Root(), "--subfolders",
                        "--json", "--verbose"});
    EXPECT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.out,
              "{\"mode\":2,\"searched\":3,\"changed\":2,\"stopped\":false,"
              "\"failed_count\":0,\"failed\":[],"
              "\"changes\":[{\"from\":\"" +
                  tree.Path("README.TXT") + "\",\"to\":\"" + tree.Path("readme.txt") +
                  "\"},{\"from\":\"" + tree.Path("sub/Note.md") + "\",\"to\":\"" +
                  tree.Path("sub/note.md") + "\"}]}\n");
    EXPECT_TRUE(json.err.empty());

    testing::TempTree texts;
    texts.Create("u.txt", "\xEF\xBE\x90");  // ﾐ in UTF-8
    texts.Create("d.txt", "\xD0\xDE");      // a rare kanji in EUC-JP, or ﾐﾞ in code page 932
    const std::vector<std::string> args = {"--mode",    "replace",   "--search",  "ﾐ",
                                           "--replace", "X",         "--pattern", "*.txt",
                                           "--folder",  texts.Root()};
    auto with = [&args](std::vector<std::string> more) {
        more.insert(more.begin(), args.begin(), args.end());
        return RunCli(more);
    };
    EXPECT_EQ(with({"--json", "--verbose"}).out,
              "{\"mode\":0,\"searched\":2,\"changed\":1,\"replaced\":1,"
              "\"encoding_skipped\":1,\"stopped\":false,\"failed_count\":0,\"failed\":[],"
              "\"changes\":[{\"path\":\"" +
                  texts.Path("u.txt") + "\",\"replaced\":1,\"encoding\":\"utf-8\"}]}\n");
    // The fixed code page 932 reads d.txt as ﾐﾞ.
    EXPECT_EQ(with({"--encoding", "cp932"}).out,
              "検索したファイルの数 = 2\n置換したファイルの数 = 1\n置換した文字列の数 = 1\n");
    EXPECT_EQ(texts.Read("d.txt"), "X\xDE");
}

// Waits until the run has renamed a file, so that its handler is surely installed, then sends
// an interrupt. `in_time`: at least `left` files still had their old names when it was sent.
void InterruptUnderWay(const testing::TempTree& tree, pid_t pid, std::ptrdiff_t left,
                       bool& in_time) {
    std::vector<std::string> names;
    for (int i = 0; i < 20000; ++i) {
        names = tree.Names();
        if (!names.empty() && names.back()[0] == 'f') {
            break;
        }
        usleep(500);
    }
    in_time = std::count_if(names.begin(), names.end(),
                            [](const std::string& name) { return name[0] == 'F'; }) >= left;
    kill(pid, SIGINT);
}

// Whether a SIGINT is still waiting to be delivered to the process.
bool InterruptPending(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("SigPnd:", 0) == 0 || line.rfind("ShdPnd:", 0) == 0) {
            if ((std::stoull(line.substr(7), nullptr, 16) & (1ull << (SIGINT - 1))) != 0) {
                return true;
            }
        }
    }
    return false;
}

// The first interrupt stops the run after the file in hand: every file is there once, under its
// old name or its new one, and the summary counts the new ones. A second ends the program at
// once, without a summary; it is sent only once the first has been delivered, so that the two
// are not merged into one.
TEST_F(CliTest, AnInterruptStopsAfterTheFileInHandAndASecondEndsTheProgram) {
    for (int i = 0; i < 3000; ++i) {
        tree.Create("F" + std::to_string(i), "x");
    }
    for (int i = 0; i < 1000; ++i) {
        tree.MakeFolder("d" + std::to_string(i));
    }
    for (const bool twice : {false, true}) {
        SCOPED_TRACE(twice ? "twice" : "once");
        bool in_time = false;
        auto run =
            RunCli({"--mode", "lower", "--pattern", "*", "--folder", tree.Root(), "--subfolders"},
                   [&](pid_t pid) {
                       InterruptUnderWay(tree, pid, twice ? 1 : 100, in_time);
                       for (int i = 0; twice && i < 100000 && InterruptPending(pid); ++i) {
                       }
                       if (twice) {
                           kill(pid, SIGINT);
                       }
                   });
        if (!in_time) {
            GTEST_SKIP() << "the run was nearly done before the interrupt was sent";
        }
        EXPECT_EQ(run.status, 130) << run.err;
        const auto names = tree.Names();
        const auto renamed = std::count_if(names.begin(), names.end(),
                                           [](const std::string& name) { return name[0] == 'f'; });
        EXPECT_EQ(names.size(), 4000u);
        EXPECT_EQ(run.out, twice ? ""
                                 : "検索したファイルの数 = 3000\n変換したファイルの数 = " +
                                       std::to_string(renamed) + "\n");
    }
}

// --history lists the runs that can be undone, --undo gives the last one back and names each
// file it leaves, and a journal that names no known mode is still listed.
TEST_F(CliTest, HistoryAndUndoAsTextAndJson) {
    const testing::TempTree state;
    setenv("XDG_STATE_HOME", state.Root().c_str(), 1);
    for (const char* name : {"A.TXT", "B.TXT", "C.TXT"}) {
        tree.Create(name, name);
    }
    // The folder named from where the command runs: the journal keeps the whole path.
    const std::filesystem::path root(tree.Root());
    const auto here = std::filesystem::current_path();
    std::filesystem::current_path(root.parent_path());
    EXPECT_EQ(RunCli({"--mode", "lower", "--pattern", "*", "--folder", root.filename()}).status, 0);
    std::filesystem::current_path(here);
    tree.Create("A.TXT", "taken");
    tree.Create("B.TXT", "taken");
    const auto ids = folder::JournalIds(state.Path("popuran"));
    ASSERT_EQ(ids.size(), 1u);
    const std::string entry = ids[0] + "\",\"start\":";
    EXPECT_EQ(RunCli({"--history", "--json"}).out.find("[{\"id\":\"" + entry), 0u);
    const std::string line = RunCli({"--history"}).out;
    EXPECT_EQ(line.substr(line.find("\tlower\t")), "\tlower\t" + tree.Root() + "\t3\n");

    const auto undo = RunCli({"--undo", "--json"});
    const std::string reason = "元の名前が使われています";
    EXPECT_EQ(undo.out, "{\"run\":\"" + ids[0] + "\",\"restored\":1,\"left_count\":2,\"left\":[" +
                            "{\"path\":\"" + tree.Path("b.txt") + "\",\"reason\":\"" + reason +
                            "\"},{\"path\":\"" + tree.Path("a.txt") + "\",\"reason\":\"" + reason +
                            "\"}]}\n");
    EXPECT_NE(RunCli({"--history"}).out.find("\t3 (1 undone)\n"), std::string::npos);

    // The mode field of the journal's first line, damaged.
    const std::string path = state.Path("popuran/" + ids[0] + ".journal");
    std::string bytes = state.Read("popuran/" + ids[0] + ".journal");
    std::size_t field = 0;
    for (int tab = 0; tab < 3; ++tab) {
        field = bytes.find('\t', field) + 1;
    }
    bytes.replace(field, 1, "9");
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    EXPECT_NE(RunCli({"--history"}).out.find("\t?\t"), std::string::npos);
}

TEST(JsonString, EscapesWhatJsonNeedsAndLoneSurrogates) {
    EXPECT_EQ(JsonString(u"a\"b\\c\n\t\x01"), "\"a\\\"b\\\\c\\n\\t\\u0001\"");
    EXPECT_EQ(JsonString(u"日本\U0001F600"), "\"日本\U0001F600\"");
    EXPECT_EQ(JsonString(std::u16string(u"x") + char16_t(0xDC81)), "\"x\\uDC81\"");
}

// Names may hold line ends; with -0 (or --null) each change record ends in NUL instead, and
// the summary stays as it is.
TEST_F(CliTest, NullEndsEachChangeRecord) {
    tree.Create("A\nB.TXT", "abc");
    tree.Create("c.txt", "abc");
    auto replaced = RunCli({"--mode", "replace", "--search", "b", "--replace", "x", "--pattern",
                            "*", "--folder", tree.Root(), "--verbose", "-0"});
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_EQ(replaced.out, tree.Path("A\nB.TXT") + "\t1" + '\0' + tree.Path("c.txt") + "\t1" +
                                '\0' + "検索したファイルの数 = 2\n" +
                                "置換したファイルの数 = 2\n置換した文字列の数 = 2\n");
    EXPECT_EQ(tree.Read("c.txt"), "axc");
}

}  // namespace
}  // namespace popuran::cli
