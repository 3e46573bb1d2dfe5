// popuran-cli as a process: exit statuses, output forms, messages, interrupts.
#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "cli/cli_options.h"
#include "cli/terminal_view.h"
#include "support/temp_tree.h"

namespace popuran::cli {
namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs popuran-cli with these arguments; standard output and error go to files of the tree.
// `before_wait` runs with the child's pid while it is running.
Outcome RunCliProcess(const testing::TempTree& scratch, const std::vector<std::string>& args,
                      const std::function<void(pid_t)>& before_wait = {}) {
    const std::string out_path = scratch.Path("stdout");
    const std::string err_path = scratch.Path("stderr");
    const pid_t pid = fork();
    if (pid == 0) {
        freopen(out_path.c_str(), "w", stdout);
        freopen(err_path.c_str(), "w", stderr);
        std::vector<char*> argv;
        std::string program = POPURAN_CLI;
        argv.push_back(program.data());
        std::vector<std::string> copies = args;
        for (auto& a : copies) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    if (before_wait) {
        before_wait(pid);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    Outcome outcome;
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    outcome.out = Slurp(out_path);
    outcome.err = Slurp(err_path);
    return outcome;
}

class CliTest : public ::testing::Test {
protected:
    testing::TempTree tree;     // the files worked on
    testing::TempTree scratch;  // the captured output
};

TEST_F(CliTest, HelpVersionAndWrongCommandLines) {
    auto help = RunCliProcess(scratch, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--mode MODE"), std::string::npos);
    auto version = RunCliProcess(scratch, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "popuran-cli 1.10\n");
    for (const auto& args : std::vector<std::vector<std::string>>{{"--folder", "/tmp"},
                                                                  {"--mode", "sideways"},
                                                                  {"--mode"},
                                                                  {"--mode", "0", "--bogus"}}) {
        auto wrong = RunCliProcess(scratch, args);
        EXPECT_EQ(wrong.status, 2) << args.back();
        EXPECT_TRUE(wrong.out.empty());
        EXPECT_NE(wrong.err.find("usage:"), std::string::npos);
    }
}

TEST_F(CliTest, RefusedInputPrintsTheMessageAndTouchesNothing) {
    tree.Create("a.txt", "same");
    auto refused = RunCliProcess(scratch, {"--mode", "replace", "--search", "same", "--replace",
                                           "same", "--pattern", "*.txt", "--folder", tree.Root()});
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err, "検索する文字列と置換後の文字列が一致してます。\n");
    EXPECT_TRUE(refused.out.empty());
    EXPECT_EQ(tree.Names(), std::vector<std::string>{"a.txt"});

    auto no_folder = RunCliProcess(scratch, {"--mode", "lower", "--pattern", "*", "--json"});
    EXPECT_EQ(no_folder.status, 2);
    EXPECT_EQ(no_folder.err, "検索する場所を指定して下さい。\n");
    EXPECT_TRUE(no_folder.out.empty());
}

TEST_F(CliTest, LowerCaseRunPlainAndJson) {
    tree.Create("README.TXT", "x");
    tree.Create("sub/Note.md", "x");
    tree.Create("sub/empty", "");
    auto run = RunCliProcess(scratch, {"--mode", "lower", "--pattern", "*", "--folder", tree.Root(),
                                       "--subfolders", "--dry-run"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, tree.Path("README.TXT") + "\t" + tree.Path("readme.txt") + "\n" +
                           tree.Path("sub/Note.md") + "\t" + tree.Path("sub/note.md") + "\n" +
                           "検索したファイルの数 = 3\n変換したファイルの数 = 2\n");
    EXPECT_EQ(tree.Names(), (std::vector<std::string>{"README.TXT", "sub"}));

    auto json = RunCliProcess(scratch, {"--mode", "2", "--pattern", "*", "--folder", tree.Root(),
                                        "--subfolders", "--json", "--verbose"});
    EXPECT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.out,
              "{\"mode\":2,\"searched\":3,\"changed\":2,\"stopped\":false,"
              "\"changes\":[{\"from\":\"" +
                  tree.Path("README.TXT") + "\",\"to\":\"" + tree.Path("readme.txt") +
                  "\"},{\"from\":\"" + tree.Path("sub/Note.md") + "\",\"to\":\"" +
                  tree.Path("sub/note.md") + "\"}]}\n");
    EXPECT_TRUE(json.err.empty());
    EXPECT_EQ(tree.Names(), (std::vector<std::string>{"readme.txt", "sub"}));
}

TEST_F(CliTest, ListingFailuresGoToStandardError) {
    tree.Create("a", "x");
    auto run = RunCliProcess(
        scratch, {"--mode", "upper", "--pattern", "*", "--folder", tree.Path("a") + "/"});
    // A file in place of the folder lists nothing and says nothing.
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "検索したファイルの数 = 0\n変換したファイルの数 = 0\n");
    EXPECT_TRUE(run.err.empty());
}

TEST_F(CliTest, FirstInterruptStopsAfterTheFileInHand) {
    // Many files, so that the run is still going when the interrupt comes.
    for (int i = 0; i < 3000; ++i) {
        tree.Create("F" + std::to_string(i), "x");
    }
    // The interrupt is sent once the run has renamed a file, so that the handler is surely
    // installed and the run under way.
    auto run = RunCliProcess(
        scratch, {"--mode", "lower", "--pattern", "*", "--folder", tree.Root()}, [this](pid_t pid) {
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
    // Every file is there exactly once, under its old name or its new one.
    const auto names = tree.Names();
    EXPECT_EQ(names.size(), 3000u);
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

}  // namespace
}  // namespace popuran::cli

namespace popuran::cli {
namespace {

// The dry run's change lines and summary are exactly what the real run then does, also where
// an earlier rename of the run takes or frees a name.
TEST_F(CliTest, DryRunPredictsTheRealRun) {
    struct Case {
        std::vector<std::string> files;
        std::vector<std::string> args;
        const char* why;
    };
    const std::vector<Case> cases = {
        {{"A.TXT", "a.TXT", "B.txt", "b.TXT", "C"},
         {"--mode", "lower", "--pattern", "*"},
         "the first rename takes the name the next one wanted"},
        {{"x.htm", "x.html", "y.htm", "z.HTM"},
         {"--mode", "ext", "--search", "htm", "--replace", "html", "--pattern", "*"},
         "an existing target is never overwritten"},
        {{"m.a", "m.b", "n.a"},
         {"--mode", "ext", "--search", "*", "--replace", "b", "--pattern", "*"},
         "several files want one name"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        testing::TempTree work;
        for (const auto& name : c.files) {
            work.Create(name, "contents of " + name);
        }
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--folder", work.Root()});
        auto dry_args = args;
        dry_args.push_back("--dry-run");
        const auto before = work.Names();
        auto dry = RunCliProcess(scratch, dry_args);
        EXPECT_EQ(work.Names(), before);
        args.push_back("--verbose");
        auto real = RunCliProcess(scratch, args);
        EXPECT_EQ(dry.status, 0);
        EXPECT_EQ(real.status, 0);
        EXPECT_EQ(dry.out, real.out);
        EXPECT_NE(real.out.find('\t'), std::string::npos);
    }
}

}  // namespace
}  // namespace popuran::cli
