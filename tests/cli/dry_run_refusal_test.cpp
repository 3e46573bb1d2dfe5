// The dry run predicts the refusals of a real run too, run as an ordinary user (for whom, unlike
// root, a folder without write permission is closed).
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/program_run.h"
#include "support/temp_tree.h"

namespace popuran::testing {
namespace {

constexpr char kSetpriv[] = "/usr/bin/setpriv";

// popuran-cli as the user nobody, with untranslated messages and a journal it may write.
ProgramRun RunAsNobody(std::vector<std::string> args, const std::string& state) {
    args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", "env",
                               "LC_ALL=C", "XDG_STATE_HOME=" + state, POPURAN_CLI});
    return RunProgram(kSetpriv, args);
}

TEST(DryRunRefusals, TheDryRunReportsWhatTheRealRunCannotDo) {
    if (geteuid() != 0 || access(kSetpriv, X_OK) != 0) {
        GTEST_SKIP() << "needs root and setpriv to run as an ordinary user";
    }
    const struct Case {
        std::vector<std::string> args;
        std::string long_name;  // the new name or the backup's is one byte over the limit
        std::string changed;
        std::string long_failure;
    } cases[] = {
        {{"--mode", "ext", "--search", "htm", "--replace", "html"},
         std::string(251, 'x') + ".htm",
         "ok.html",
         "File name too long"},
        {{"--mode", "replace", "--search", "needle", "--replace", "pin"},
         std::string(248, 'y') + ".txt",
         "ok.txt.BAK",
         "File name too long (%.BAK)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[1]);
        TempTree tree;
        const std::string ext = c.long_name.substr(c.long_name.size() - 4);
        tree.Create("locked/a" + ext, "needle");
        tree.Create("open/ok" + ext, "needle");
        tree.Create("open/" + c.long_name, "needle");
        ASSERT_EQ(chmod(tree.Root().c_str(), 0755), 0);
        // Owner-writable, so it is searched, but closed to nobody.
        ASSERT_EQ(chmod(tree.Path("locked").c_str(), 0755), 0);
        ASSERT_EQ(chmod(tree.Path("open").c_str(), 0777), 0);
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--pattern", "*", "--folder", tree.Root(), "--subfolders",
                                 "--json", "--verbose"});

        std::vector<std::string> dry_args = args;
        dry_args.push_back("--dry-run");
        TempTree state;
        ASSERT_EQ(chmod(state.Root().c_str(), 0777), 0);
        const ProgramRun dry = RunAsNobody(dry_args, state.Root());
        const ProgramRun real = RunAsNobody(args, state.Root());

        EXPECT_EQ(dry.out, real.out);
        EXPECT_EQ(dry.err, real.err);
        const std::string long_path = tree.Path("open/" + c.long_name);
        std::string long_failure = c.long_failure;
        if (const auto at = long_failure.find('%'); at != std::string::npos) {
            long_failure.replace(at, 1, long_path);
        }
        EXPECT_EQ(real.err, tree.Path("locked/a" + ext) + ": Permission denied\n" + long_path +
                                ": " + long_failure + "\n");
        EXPECT_NE(real.out.find("\"failed_count\":2,"), std::string::npos) << real.out;
        EXPECT_NE(real.out.find("\"changed\":1,"), std::string::npos) << real.out;
        EXPECT_TRUE(tree.Exists("open/" + c.changed));
        EXPECT_TRUE(tree.Exists("locked/a" + ext));
    }
}

}  // namespace
}  // namespace popuran::testing
