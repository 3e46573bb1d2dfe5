// Crash consistency: popuran-cli killed with SIGKILL at random moments (seeded) never leaves a
// file damaged, `popuran-cli --undo` then gives back every file the killed run changed, and a
// later run on the same tree finishes the work.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <signal.h>
#include <stdlib.h>
#include <time.h>

#include <gtest/gtest.h>

#include "support/program_run.h"
#include "support/temp_tree.h"

namespace popuran::testing {
namespace {

constexpr std::uint32_t kSeed = 20240611;
constexpr int kKills = 20;
using NewPath = std::function<std::string(const std::string&)>;
std::string Same(const std::string& path) { return path; }

int JsonNumber(const std::string& json, const std::string& key) {
    const auto at = json.find("\"" + key + "\":");
    return at == std::string::npos ? -1 : std::stoi(json.substr(at + key.size() + 3));
}

// popuran-cli on every file below root, killed with SIGKILL kill_after_us microseconds after
// its start when that is not negative (unless it has ended by then).
ProgramRun RunCli(std::vector<std::string> args, const std::string& root, long kill_after_us) {
    args.insert(args.end(), {"--pattern", "*", "--subfolders", "--json", "--folder", root});
    return RunProgram(POPURAN_CLI, args, [kill_after_us](pid_t pid) {
        timespec delay{kill_after_us / 1000000, (kill_after_us % 1000000) * 1000};
        if (kill_after_us >= 0) {
            while (nanosleep(&delay, &delay) != 0) {
            }
            kill(pid, SIGKILL);
        }
    });
}

// What a kill did to a tree. Every file of `pristine` must be found under its old path or
// new_path(old), holding its old bytes or, where `done` names it, its new bytes; any other file
// must be a backup NAME.BAK holding the old bytes of NAME, or a dot-file (a leftover temporary).
// No two files hold the same bytes, so no file can be taken for another.
struct Damage {
    std::vector<std::string> damaged;
    int leftovers = 0;
};

Damage Check(const TreeSnapshot& pristine, const TreeSnapshot& tree, const NewPath& new_path,
             const std::map<std::string, std::string>& done) {
    Damage damage;
    std::set<std::string> found;
    for (const auto& [path, bytes] : pristine.files) {
        const auto holds = [&](const std::string& at) {
            const auto file = tree.files.find(at);
            return file != tree.files.end() &&
                   (file->second == bytes || (done.count(path) && file->second == done.at(path)));
        };
        if (holds(path) || holds(new_path(path))) {
            found.insert(holds(path) ? path : new_path(path));
        } else {
            damage.damaged.push_back("not found under its old or new name: " + path);
        }
    }
    for (const auto& [path, bytes] : tree.files) {
        const auto base = pristine.files.find(path.substr(0, path.size() - 4));
        if (found.count(path) != 0 ||
            (path.ends_with(".BAK") && base != pristine.files.end() && bytes == base->second)) {
            continue;
        }
        const auto slash = path.rfind('/');
        if (path[slash == std::string::npos ? 0 : slash + 1] == '.') {
            ++damage.leftovers;
        } else {
            damage.damaged.push_back("unexpected file: " + path);
        }
    }
    return damage;
}

struct Kills {
    int leftovers = 0;       // hidden temporaries seen after the kills
    int first_changed = -1;  // "changed" of the undisturbed first run
};

// One undisturbed run times the work; then the work is killed kKills times at random moments
// within that time, and the tree is checked after each, then undone and checked again: every file
// of `pristine` under its old name with its old bytes, besides them only backups and hidden
// temporaries. A tree whose run finished starts afresh. A last undisturbed run must finish the
// work; `finished` checks a finished tree and the output. The safety table gets a row for
// `work_done` (what was run on which files), saying that `kept` held after every kill.
Kills KillAtRandomMoments(
    const TreeSnapshot& pristine, const std::vector<std::string>& args, const NewPath& new_path,
    const std::map<std::string, std::string>& done,
    const std::function<void(const TreeSnapshot&, const std::string&)>& finished,
    const std::string& work_done, const std::string& kept) {
    Kills report;
    int inside = 0;
    int damaged = 0;
    std::unique_ptr<TempTree> work;
    const auto reset = [&] {
        work = std::make_unique<TempTree>();
        WriteTree(work->Root(), pristine);
    };
    const auto complete = [&](const ProgramRun& run) {
        ASSERT_EQ(run.status, 0) << run.err;
        finished(SnapshotTree(work->Root()), run.out);
    };
    reset();
    const ProgramRun full = RunCli(args, work->Root(), -1);
    complete(full);
    report.first_changed = JsonNumber(full.out, "changed");
    reset();

    std::mt19937 rng(kSeed);
    std::uniform_int_distribution<long> delay(0, static_cast<long>(full.seconds * 1e6));
    for (int k = 0; k <= kKills; ++k) {
        SCOPED_TRACE(k == kKills ? "last run" : "kill " + std::to_string(k));
        const TempTree state;  // the journal of this run alone
        setenv("XDG_STATE_HOME", state.Root().c_str(), 1);
        const ProgramRun run = RunCli(args, work->Root(), k == kKills ? -1 : delay(rng));
        const TreeSnapshot tree = SnapshotTree(work->Root());
        const Damage damage = Check(pristine, tree, new_path, done);
        EXPECT_EQ(damage.damaged, std::vector<std::string>{});
        EXPECT_EQ(tree.folders, pristine.folders);
        damaged += static_cast<int>(damage.damaged.size());
        if (run.status == 128 + SIGKILL) {
            ++inside;
            // A run killed before its first change has nothing to undo but the runs before.
            const ProgramRun undo = RunProgram(POPURAN_CLI, {"--undo"});
            EXPECT_TRUE(undo.status == 0 ? undo.err.empty() : undo.status == 2) << undo.err;
            EXPECT_EQ(Check(pristine, SnapshotTree(work->Root()), Same, {}).damaged,
                      std::vector<std::string>{});
            continue;
        }
        report.leftovers += damage.leftovers;
        complete(run);
        reset();
    }
    RecordSafetyRow("kill",
                    work_done + ": SIGKILL at " + std::to_string(kKills) + " random moments (" +
                        std::to_string(inside) + " inside a run), undone and re-run after each",
                    kept + "; " + std::to_string(report.leftovers) +
                        " hidden temporaries left, never listed; final run completes",
                    damaged);
    return report;
}

// Code page 932 pieces of text for replacing 表示 by ひょうじ. The traps hold the bytes of 表示
// across a character boundary, where a byte search would go wrong.
const char kMatch[] = "\x95\x5C\x8E\xA6";
const char kMatchReplaced[] = "\x82\xD0\x82\xE5\x82\xA4\x82\xB6";
const char* const kFiller[] = {
    "lorem ipsum dolor ",
    "\r\n",
    "\x83\x65\x83\x58\x83\x67 ",  // テスト
    "\xB1\xB2\xB3",               // half-width kana
    "\x89\x95\x5C\x8E\xA6",       // 鴛 \ 示: 95 5C 8E A6 inside
    "\x81\x95\x5C\x8E\xA6",       // a pair 81 95, then \ 示
    "\x95\x5C\x5C\x8E\xA6",       // 表 \ 示
    "\xFD ",                      // a byte that is no character
};

TEST(CrashConsistency, ReplaceKilledAtRandomMomentsLeavesOldOrNewBytes) {
    // 200 small files in four folders, some without a match or not text, and three of 0.5 to 1.5 MB
    // full of matches.
    TreeSnapshot pristine;
    std::map<std::string, std::string> expected;
    std::mt19937 rng(kSeed);
    const char* const folders[] = {"", "a/", "a/b/", "c/"};
    pristine.folders = {{"a", ""}, {"a/b", ""}, {"c", ""}};
    std::uniform_int_distribution<std::size_t> small(200, 30000);
    std::uniform_int_distribution<std::size_t> pick(0, 19);
    int changing = 0;
    for (int i = 0; i < 203; ++i) {
        const bool big = i >= 200;
        const bool matches = big || i % 10 != 0;
        const std::size_t size = big ? std::size_t(i - 199) << 19 : small(rng);
        std::string before;
        std::string after;
        while (before.size() < size) {
            const std::size_t k = pick(rng);
            const bool match = matches && k < 2;
            before += match ? kMatch : kFiller[k % std::size(kFiller)];
            after += match ? kMatchReplaced : kFiller[k % std::size(kFiller)];
        }
        std::string name =
            folders[i % 4] + std::string(big ? "big_" : "memo_") + std::to_string(i) + ".txt";
        if (!big && i % 10 == 1) {  // a zero byte and no text ending: not text, never written
            name = folders[i % 4] + std::string("data_") + std::to_string(i) + ".dat";
            before.insert(before.size() / 2, 1, '\0');
            after = before;
        } else if (!big && i % 10 == 3) {  // a text ending makes even a zero byte text
            before += '\0';
            after += '\0';
        }
        pristine.files[name] = before;
        expected[name] = after;
        changing += after != before ? 1 : 0;
    }
    // A temporary left behind by a kill is never taken for a file.
    const auto finished = [&](const TreeSnapshot& tree, const std::string& out) {
        EXPECT_EQ(JsonNumber(out, "searched"), 203);
        for (const auto& [path, bytes] : expected) {
            EXPECT_EQ(tree.files.at(path), bytes) << path;
            if (bytes != pristine.files.at(path)) {
                EXPECT_EQ(tree.files.at(path + ".BAK"), pristine.files.at(path)) << path;
            }
        }
    };
    const Kills kills =
        KillAtRandomMoments(pristine, {"--mode", "0", "--search", "表示", "--replace", "ひょうじ"},
                            Same, expected, finished, "mode 0 on 203 files of up to 1.5 MB",
                            "every file old or new bytes, every .BAK complete");
    EXPECT_EQ(kills.first_changed, changing);
}

TEST(CrashConsistency, RenamesKilledAtRandomMomentsKeepEveryFileUnderOneName) {
    const auto htm = [](const std::string& p) { return p.substr(0, p.size() - 3) + "htm"; };
    const struct {
        const char* why;
        std::vector<std::string> flags;
        const char* name;  // of file i, before its number
        NewPath new_path;
    } cases[] = {
        {"mode 1: txt to htm", {"--mode", "1", "--search", "txt", "--replace", "htm"}, "n", htm},
        {"mode 2: names to lower case", {"--mode", "2"}, "FILE", AsciiLower},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        // 600 files in three folders; every 50th finds its new name taken.
        TreeSnapshot pristine;
        pristine.folders = {{"Sub", ""}, {"Sub/Deeper", ""}};
        const char* const folders[] = {"", "Sub/", "Sub/Deeper/"};
        for (int i = 0; i < 600; ++i) {
            const std::string path = folders[i % 3] + (c.name + std::to_string(i)) +
                                     (c.name[0] == 'n' ? ".txt" : ".TXT");
            pristine.files[path] = "file " + std::to_string(i) + "\n";
            if (i % 50 == 0) {
                pristine.files[c.new_path(path)] = "older " + std::to_string(i) + "\n";
            }
        }
        const auto finished = [&](const TreeSnapshot& tree, const std::string&) {
            int moved = 0;
            for (const auto& file : pristine.files) {
                moved += tree.files.count(file.first) == 0 ? 1 : 0;
            }
            EXPECT_EQ(moved, 600 - 12) << "all but those whose new name was taken";
        };
        const Kills kills =
            KillAtRandomMoments(pristine, c.flags, c.new_path, {}, finished,
                                std::string(c.why) + " on 612 files, 12 new names taken",
                                "every file under exactly one name, old or new, bytes intact");
        EXPECT_EQ(kills.first_changed, 600 - 12);
        EXPECT_EQ(kills.leftovers, 0) << "a rename needs no temporary file";
    }
}

}  // namespace
}  // namespace popuran::testing
