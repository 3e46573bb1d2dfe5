// Crash consistency: popuran-cli killed with SIGKILL at random moments (seeded) never leaves a
// file damaged, and a later run on the same tree finishes the work.
#include <cctype>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <signal.h>
#include <time.h>

#include <gtest/gtest.h>

#include "support/program_run.h"
#include "support/safety_row.h"
#include "support/temp_tree.h"
#include "support/tree_snapshot.h"

namespace popuran::testing {
namespace {

constexpr std::uint32_t kSeed = 20240611;

int JsonNumber(const std::string& json, const std::string& key) {
    const auto at = json.find("\"" + key + "\":");
    return at == std::string::npos ? -1 : std::stoi(json.substr(at + key.size() + 3));
}

// popuran-cli on every file below root; with kill_after_us >= 0 it is killed with SIGKILL that
// many microseconds after it was started (or, had it ended by then, not at all).
ProgramRun RunCli(std::vector<std::string> args, const std::string& root, long kill_after_us = -1) {
    args.insert(args.end(), {"--pattern", "*", "--subfolders", "--json", "--folder", root});
    if (kill_after_us < 0) {
        return RunProgram(POPURAN_CLI, args);
    }
    return RunProgram(POPURAN_CLI, args, [kill_after_us](pid_t pid) {
        timespec delay{kill_after_us / 1000000, (kill_after_us % 1000000) * 1000};
        while (nanosleep(&delay, &delay) != 0) {
        }
        kill(pid, SIGKILL);
    });
}

// What a kill did to a tree: files damaged, and hidden temporaries left behind.
struct Damage {
    int damaged = 0;
    int leftovers = 0;
    std::vector<std::string> details;  // one line per damaged file
};

// Every file of `pristine` must be found under its old path or `new_path(old)`, holding its old
// bytes or, where `done` names it, its new bytes; every other file must be a backup NAME.BAK
// holding the old bytes of NAME, or a dot-file (a leftover temporary). No two files of the
// corpora hold the same bytes, so no file can be taken for another.
Damage Check(const TreeSnapshot& pristine, const TreeSnapshot& tree,
             const std::function<std::string(const std::string&)>& new_path,
             const std::map<std::string, std::string>& done) {
    Damage damage;
    std::set<std::string> found;
    for (const auto& [path, bytes] : pristine.files) {
        const auto fresh = done.find(path);
        const auto holds = [&](const std::string& at) {
            const auto file = tree.files.find(at);
            return file != tree.files.end() &&
                   (file->second == bytes ||
                    (fresh != done.end() && file->second == fresh->second));
        };
        if (holds(path) || holds(new_path(path))) {
            found.insert(holds(path) ? path : new_path(path));
        } else {
            ++damage.damaged;
            damage.details.push_back("not found under its old or new name: " + path);
        }
    }
    for (const auto& [path, bytes] : tree.files) {
        const auto slash = path.rfind('/');
        const auto base = pristine.files.find(path.substr(0, path.size() - 4));
        if (found.count(path) != 0 ||
            (path.ends_with(".BAK") && base != pristine.files.end() && bytes == base->second)) {
            continue;
        }
        if (path[slash == std::string::npos ? 0 : slash + 1] == '.') {
            ++damage.leftovers;
        } else {
            ++damage.damaged;
            damage.details.push_back("unexpected file: " + path);
        }
    }
    return damage;
}

struct Kills {
    int inside = 0;     // kills that landed inside a run
    int leftovers = 0;  // hidden temporaries seen after the kills
    int damaged = 0;
    int first_changed = -1;  // "changed" of the undisturbed first run
};

// One undisturbed run times the work; then the work is killed `kills` times at random moments
// within that time, each time on the tree the kills before left, and the tree is checked after
// each. A tree whose run finished starts afresh, so that later kills still land inside a run. A
// last undisturbed run must finish the work. Each tree is checked against `pristine`, `new_path`
// and `done` (see Check); `finished` checks a tree and the program's output after a complete run.
void KillAtRandomMoments(
    const TreeSnapshot& pristine, const std::vector<std::string>& args, int kills,
    const std::function<std::string(const std::string&)>& new_path,
    const std::map<std::string, std::string>& done,
    const std::function<void(const TreeSnapshot&, const std::string&)>& finished, Kills& report) {
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
    const ProgramRun full = RunCli(args, work->Root());
    complete(full);
    report.first_changed = JsonNumber(full.out, "changed");
    reset();

    std::mt19937 rng(kSeed);
    std::uniform_int_distribution<long> delay(0, static_cast<long>(full.seconds * 1e6));
    for (int k = 0; k <= kills; ++k) {
        SCOPED_TRACE(k == kills ? "last run" : "kill " + std::to_string(k));
        const ProgramRun run = RunCli(args, work->Root(), k == kills ? -1 : delay(rng));
        const TreeSnapshot tree = SnapshotTree(work->Root());
        const Damage damage = Check(pristine, tree, new_path, done);
        EXPECT_EQ(damage.damaged, 0) << ::testing::PrintToString(damage.details);
        EXPECT_EQ(tree.folders, pristine.folders);
        report.damaged += damage.damaged;
        if (run.status == 128 + SIGKILL) {
            ++report.inside;
            continue;
        }
        report.leftovers += damage.leftovers;
        complete(run);
        reset();
    }
}

// --- Mode 0 ----------------------------------------------------------------------------------

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

// A text of at least `size` bytes, and what the run makes of it.
std::pair<std::string, std::string> MakeText(std::mt19937& rng, std::size_t size, bool matches) {
    std::string before;
    std::string after;
    std::uniform_int_distribution<std::size_t> pick(0, 19);
    while (before.size() < size) {
        const std::size_t k = pick(rng);
        const bool match = matches && k < 2;
        before += match ? kMatch : kFiller[k % std::size(kFiller)];
        after += match ? kMatchReplaced : kFiller[k % std::size(kFiller)];
    }
    return {before, after};
}

TEST(CrashConsistency, ReplaceKilledAtRandomMomentsLeavesOldOrNewBytes) {
    // 200 small files in four folders, some without a match or not text, and three of 2 to 4 MB
    // full of matches.
    TreeSnapshot pristine;
    std::map<std::string, std::string> expected;
    std::mt19937 rng(kSeed);
    const char* const folders[] = {"", "a/", "a/b/", "c/"};
    pristine.folders = {"a", "a/b", "c"};
    std::uniform_int_distribution<std::size_t> small(200, 30000);
    int changing = 0;
    for (int i = 0; i < 203; ++i) {
        const std::string folder = folders[i % 4];
        const std::string n = std::to_string(i);
        const bool big = i >= 200;
        auto [before, after] =
            MakeText(rng, big ? std::size_t(i - 198) << 20 : small(rng), big || i % 10 != 0);
        std::string name = folder + (big ? "big_" : "memo_") + n + ".txt";
        if (!big && i % 10 == 1) {  // a zero byte and no text ending: not text, never written
            name = folder + "data_" + n + ".dat";
            before.insert(before.size() / 2, 1, '\0');
            after = before;
        } else if (!big && i % 10 == 2) {
            name = folder + "README_" + n;
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
    Kills kills;
    KillAtRandomMoments(
        pristine, {"--mode", "0", "--search", "表示", "--replace", "ひょうじ"}, 50,
        [](const std::string& path) { return path; }, expected, finished, kills);
    EXPECT_EQ(kills.first_changed, changing);
    RecordSafetyRow("kill",
                    "mode 0: SIGKILL at 50 random moments (" + std::to_string(kills.inside) +
                        " inside a run), 203 files of up to 4 MB, re-run after each",
                    "every file old or new bytes, every .BAK complete; " +
                        std::to_string(kills.leftovers) +
                        " hidden temporaries left, never listed; final run completes",
                    kills.damaged);
}

// --- Modes 1 and 2 ---------------------------------------------------------------------------

TEST(CrashConsistency, RenamesKilledAtRandomMomentsKeepEveryFileUnderOneName) {
    struct Case {
        const char* why;
        std::vector<std::string> flags;
        std::string (*name)(int);  // the name of file i
        std::string (*new_path)(const std::string&);
    } const cases[] = {
        {"mode 1: txt to htm",
         {"--mode", "1", "--search", "txt", "--replace", "htm"},
         [](int i) { return "n" + std::to_string(i) + ".txt"; },
         [](const std::string& p) { return p.substr(0, p.size() - 3) + "htm"; }},
        {"mode 2: names to lower case",
         {"--mode", "2"},
         [](int i) { return "FILE" + std::to_string(i) + ".TXT"; },
         [](const std::string& p) {
             std::string lower = p;
             for (std::size_t i = p.rfind('/') + 1; i < p.size(); ++i) {
                 lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(p[i])));
             }
             return lower;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        // 1,500 files in three folders; every 50th finds its new name taken.
        TreeSnapshot pristine;
        pristine.folders = {"Sub", "Sub/Deeper"};
        const char* const folders[] = {"", "Sub/", "Sub/Deeper/"};
        for (int i = 0; i < 1500; ++i) {
            const std::string path = folders[i % 3] + c.name(i);
            pristine.files[path] = "file " + std::to_string(i) + "\n";
            if (i % 50 == 0) {
                pristine.files[c.new_path(path)] = "older " + std::to_string(i) + "\n";
            }
        }
        const auto finished = [&](const TreeSnapshot& tree, const std::string&) {
            int moved = 0;
            for (const auto& [path, bytes] : pristine.files) {
                moved += tree.files.count(path) == 0 ? 1 : 0;
            }
            EXPECT_EQ(moved, 1500 - 30) << "all but those whose new name was taken";
        };
        Kills kills;
        KillAtRandomMoments(pristine, c.flags, 50, c.new_path, {}, finished, kills);
        EXPECT_EQ(kills.first_changed, 1500 - 30);
        EXPECT_EQ(kills.leftovers, 0) << "a rename needs no temporary file";
        RecordSafetyRow(
            "kill",
            std::string(c.why) + ": SIGKILL at 50 random moments (" + std::to_string(kills.inside) +
                " inside a run), 1,530 files, 30 new names taken, re-run after each",
            "every file under exactly one name, old or new, bytes intact; " +
                std::to_string(kills.leftovers) + " hidden temporaries left; final run completes",
            kills.damaged);
    }
}

}  // namespace
}  // namespace popuran::testing
