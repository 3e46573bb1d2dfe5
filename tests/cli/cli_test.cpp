// popuran-cli as a process: exit statuses, output forms, messages, interrupts.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "cli/cli_options.h"
#include "cli/json_writer.h"
#include "cli/terminal_view.h"
#include "support/program_run.h"
#include "support/temp_tree.h"
#include "support/tree_snapshot.h"

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
    using Args = std::vector<std::string>;
    const struct {
        Args args;
        int status;
        std::string out;
        std::string err;
    } cases[] = {
        {{"--help"}, 0, "--mode MODE", ""},
        {{"--version"}, 0, "popuran-cli 1.10\n", ""},
        {{"--folder", "/tmp"}, 2, "", "usage:"},
        {{"--mode", "sideways"}, 2, "", "usage:"},
        {{"--mode"}, 2, "", "usage:"},
        {{"--mode", "0", "--bogus"}, 2, "", "usage:"},
        {{"--mode", "0", "--null=yes"}, 2, "", "usage:"},
        {{"--mode", "replace", "--search", "same", "--replace", "same", "--pattern", "*.txt",
          "--folder", tree.Root()},
         2,
         "",
         "検索する文字列と置換後の文字列が一致してます。\n"},
        {{"--mode", "lower", "--pattern", "*", "--json"},
         2,
         "",
         "検索する場所を指定して下さい。\n"},
        // A folder that is not there (a typo) or a file in its place is refused.
        {{"--mode", "upper", "--pattern", "*", "--folder", tree.Path("a.txt") + "/"},
         2,
         "",
         "検索する場所が見つかりません。\n"},
        {{"--mode", "ext", "--search", "a", "--replace", "b", "--folder", tree.Path("no/such")},
         2,
         "",
         "検索する場所が見つかりません。\n"},
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

TEST_F(CliTest, LowerCaseRunPlainAndJson) {
    tree.Create("README.TXT", "x");
    tree.Create("sub/Note.md", "x");
    tree.Create("sub/empty", "");
    auto run = RunCli({"--mode", "lower", "--pattern", "*", "--folder", tree.Root(), "--subfolders",
                       "--dry-run"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, tree.Path("README.TXT") + "\t" + tree.Path("readme.txt") + "\n" +
                           tree.Path("sub/Note.md") + "\t" + tree.Path("sub/note.md") + "\n" +
                           "検索したファイルの数 = 3\n変換したファイルの数 = 2\n");
    EXPECT_EQ(tree.Names(), (std::vector<std::string>{"README.TXT", "sub"}));

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
    EXPECT_EQ(tree.Names(), (std::vector<std::string>{"readme.txt", "sub"}));
}

TEST_F(CliTest, FirstInterruptStopsAfterTheFileInHand) {
    // Many files, so that the run is still going when the interrupt comes.
    for (int i = 0; i < 3000; ++i) {
        tree.Create("F" + std::to_string(i), "x");
    }
    // The interrupt is sent once the run has renamed a file, so that the handler is surely
    // installed and the run under way.
    auto run =
        RunCli({"--mode", "lower", "--pattern", "*", "--folder", tree.Root()}, [this](pid_t pid) {
            for (int i = 0; i < 20000; ++i) {
                const auto names = tree.Names();
                if (!names.empty() && names.back()[0] == 'f') {
                    break;
                }
                usleep(500);
            }
            kill(pid, SIGINT);
        });
    if (run.status == 0) {
        GTEST_SKIP() << "the run ended before the interrupt arrived";
    }
    EXPECT_EQ(run.status, 130) << run.err;
    EXPECT_NE(run.out.find("検索したファイルの数 = 3000\n変換したファイルの数 = "),
              std::string::npos);
    // Every file is there exactly once, under its old name or its new one, and the count tells
    // how many have the new one.
    const auto names = tree.Names();
    EXPECT_EQ(names.size(), 3000u);
    const auto renamed = std::count_if(names.begin(), names.end(),
                                       [](const std::string& name) { return name[0] == 'f'; });
    EXPECT_NE(run.out.find("変換したファイルの数 = " + std::to_string(renamed) + "\n"),
              std::string::npos)
        << run.out;
}

TEST(JsonString, EscapesWhatJsonNeedsAndLoneSurrogates) {
    EXPECT_EQ(JsonString(u"a\"b\\c\n\t\x01"), "\"a\\\"b\\\\c\\n\\t\\u0001\"");
    EXPECT_EQ(JsonString(u"日本\U0001F600"), "\"日本\U0001F600\"");
    EXPECT_EQ(JsonString(std::u16string(u"x") + char16_t(0xDC81)), "\"x\\uDC81\"");
}

TEST(ParseOptions, ValuesAreTakenExactly) {
    std::string error;
    auto options = ParseOptions(
        {"--mode=ext", "--search", " txt ", "--replace=*", "--folder", "/d", "--ignore-case"},
        error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->mode, 1);
    EXPECT_EQ(options->boxes[0], u" txt ");
    EXPECT_EQ(options->boxes[1], u"*");
    EXPECT_EQ(options->boxes[2], u"");
    EXPECT_TRUE(options->ignore_case);
    EXPECT_FALSE(ParseOptions({"--mode", "0", "--json=yes"}, error));
}

// Names may hold line ends; with -0 or --null each change record ends in NUL instead, in a real
// run and in a dry run alike, and the summary stays as it is.
TEST_F(CliTest, NullEndsEachChangeRecord) {
    tree.Create("A\nB.TXT", "abc");
    tree.Create("c.txt", "abc");
    const std::string summary_lines = "検索したファイルの数 = 2\n";
    auto renames =
        RunCli({"--mode", "lower", "--pattern", "*", "--folder", tree.Root(), "--dry-run", "-0"});
    EXPECT_EQ(renames.status, 0) << renames.err;
    EXPECT_EQ(renames.out, tree.Path("A\nB.TXT") + "\t" + tree.Path("a\nb.txt") + '\0' +
                               summary_lines + "変換したファイルの数 = 1\n");

    auto replaced = RunCli({"--mode", "replace", "--search", "b", "--replace", "x", "--pattern",
                            "*", "--folder", tree.Root(), "--verbose", "--null"});
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_EQ(replaced.out, tree.Path("A\nB.TXT") + "\t1" + '\0' + tree.Path("c.txt") + "\t1" +
                                '\0' + summary_lines +
                                "置換したファイルの数 = 2\n置換した文字列の数 = 2\n");
    EXPECT_EQ(tree.Read("c.txt"), "axc");
}

// The dry run's change lines and summary are exactly what the real run then does, also where
// an earlier rename of the run takes or frees a name, and it changes nothing at all.
TEST_F(CliTest, DryRunPredictsTheRealRun) {
    struct Case {
        std::vector<std::string> files;
        std::vector<std::string> args;
        bool changes;  // whether the run changes anything
        const char* why;
    };
    const std::vector<Case> cases = {
        {{"A.TXT", "a.TXT", "B.txt", "b.TXT", "C"},
         {"--mode", "lower"},
         true,
         "the first rename takes the name the next one wanted"},
        {{"x.htm", "x.html", "y.htm", "z.HTM"},
         {"--mode", "ext", "--search", "htm", "--replace", "html"},
         true,
         "an existing target is never overwritten"},
        {{"m.a", "m.b", "n.a"},
         {"--mode", "ext", "--search", "*", "--replace", "b"},
         true,
         "several files want one name"},
        {{"a.txt", "b.txt"},
         {"--mode", "ext", "--search", "txt", "--replace", "../htm"},
         false,
         "names out of the folder are refused alike"},
        {{"memo.txt", "README", "a.dat"},
         {"--mode", "0", "--search", "contents", "--replace", "x"},
         true,
         "contents and backups"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        testing::TempTree work;
        for (const auto& name : c.files) {
            work.Create(name, "contents of " + name);
        }
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--pattern", "*", "--folder", work.Root()});
        auto dry_args = args;
        dry_args.push_back("--dry-run");
        const testing::TreeSnapshot before = testing::SnapshotTree(work.Root());
        const ProgramRun dry = RunCli(dry_args);
        EXPECT_EQ(testing::Differences(before, testing::SnapshotTree(work.Root())),
                  std::vector<std::string>{});
        args.push_back("--verbose");
        const ProgramRun real = RunCli(args);
        EXPECT_EQ(dry.status, 0);
        EXPECT_EQ(real.status, 0);
        EXPECT_EQ(dry.out, real.out);
        EXPECT_EQ(testing::SnapshotTree(work.Root()).files != before.files, c.changes) << real.out;
    }
}

}  // namespace
}  // namespace popuran::cli
