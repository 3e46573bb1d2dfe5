// Crash consistency: popuran-cli killed with SIGKILL at random moments (seeded) never leaves a
// file damaged, and a later run on the same tree finishes the work.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "folder/file_services.h"
#include "folder/text_services.h"
#include "support/safety_row.h"
#include "support/temp_tree.h"
#include "support/tree_snapshot.h"

namespace popuran::testing {
namespace {

constexpr int kKills = 50;
constexpr std::uint32_t kSeed = 20240611;

struct CliRun {
    bool killed = false;  // ended by our SIGKILL, not by itself
    int status = -1;      // exit status when it ended by itself
    std::string out;
    double seconds = 0;
};

// Runs popuran-cli on `args`; with kill_after_us >= 0 it is killed with SIGKILL that many
// microseconds after it was started (or, had it ended by then, not at all).
CliRun RunCli(const std::vector<std::string>& args, long kill_after_us = -1) {
    TempTree scratch;
    const std::string out_path = scratch.Path("out");
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int null = open("/dev/null", O_WRONLY);
        dup2(out, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        std::vector<std::string> copies = args;
        std::string program = POPURAN_CLI;
        std::vector<char*> argv{program.data()};
        for (auto& a : copies) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    if (kill_after_us >= 0) {
        timespec delay{kill_after_us / 1000000, (kill_after_us % 1000000) * 1000};
        while (nanosleep(&delay, &delay) != 0) {
        }
        kill(pid, SIGKILL);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    CliRun run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = scratch.Exists("out") ? scratch.Read("out") : "";
    return run;
}

int JsonNumber(const std::string& json, const std::string& key) {
    const auto at = json.find("\"" + key + "\":");
    return at == std::string::npos ? -1 : std::stoi(json.substr(at + key.size() + 3));
}

// A tree that starts afresh from a snapshot whenever a run finished before its kill, so that
// the later kills still land inside a run.
class Workspace {
public:
    explicit Workspace(const TreeSnapshot& pristine) : pristine_(pristine) { Reset(); }
    void Reset() {
        tree_ = std::make_unique<TempTree>();
        WriteTree(tree_->Root(), pristine_);
    }
    const std::string& Root() const { return tree_->Root(); }

private:
    const TreeSnapshot& pristine_;
    std::unique_ptr<TempTree> tree_;
};

// Every dot-file left behind must be one that no listing of the work ever picks up.
int CountListedLeftovers(const std::string& root, const TreeSnapshot& after,
                         const TreeSnapshot& before) {
    folder::PosixFileServices files;
    int listed = 0;
    for (const auto& [path, bytes] : after.files) {
        if (before.files.count(path) != 0 || !IsDotName(path)) {
            continue;
        }
        const auto slash = path.rfind('/');
        const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
        const std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
        auto entries = files.List(folder::Utf8ToText(root + "/" + folder + "*"));
        if (!entries) {
            continue;
        }
        for (const auto& entry : *entries) {
            if (entry.name == folder::Utf8ToText(name) &&
                (entry.attributes & folder::kAttrHidden) == 0) {
                ++listed;
            }
        }
    }
    return listed;
}

// --- Mode 0 ----------------------------------------------------------------------------------

// Code page 932 pieces with their bytes before and after replacing 表示 by ひょうじ. The traps
// hold the bytes of 表示 across a character boundary, where a byte search would go wrong.
struct Piece {
    const char* before;
    const char* after;
};
const Piece kMatch = {"\x95\x5C\x8E\xA6", "\x82\xD0\x82\xE5\x82\xA4\x82\xB6"};
const Piece kFiller[] = {
    {"lorem ipsum dolor ", nullptr},
    {"\r\n", nullptr},
    {"\x83\x65\x83\x58\x83\x67 ", nullptr},  // テスト
    {"\xB1\xB2\xB3", nullptr},               // half-width kana
    {"\x89\x95\x5C\x8E\xA6", nullptr},       // 鴛 \ 示: 95 5C 8E A6 inside
    {"\x81\x95\x5C\x8E\xA6", nullptr},       // a pair 81 95, then \ 示
    {"\x95\x5C\x5C\x8E\xA6", nullptr},       // 表 \ 示
    {"\xFD ", nullptr},                      // a byte that is no character
};

struct Contents {
    std::string before;
    std::string after;
};

Contents MakeText(std::mt19937& rng, std::size_t size, bool with_matches, bool with_zero) {
    Contents c;
    std::uniform_int_distribution<int> pick(0, 19);
    while (c.before.size() < size) {
        const int k = pick(rng);
        if (with_matches && k < 2) {
            c.before += kMatch.before;
            c.after += kMatch.after;
            continue;
        }
        const Piece& piece = kFiller[static_cast<std::size_t>(k) % std::size(kFiller)];
        c.before += piece.before;
        c.after += piece.before;
    }
    if (with_zero) {
        c.before.insert(c.before.size() / 2, 1, '\0');
        c.after = c.before;  // not text: never written
    }
    return c;
}

// 200 small files in four folders, some of them without a match or not text, and three of
// 2 to 4 MB full of matches.
void MakeReplaceCorpus(TreeSnapshot& pristine, std::map<std::string, std::string>& expected) {
    std::mt19937 rng(kSeed);
    const char* const folders[] = {"", "a/", "a/b/", "c/"};
    pristine.folders = {"a", "a/b", "c"};
    std::uniform_int_distribution<std::size_t> small(200, 30000);
    auto add = [&](const std::string& path, const Contents& c, bool changes) {
        pristine.files[path] = c.before;
        expected[path] = changes ? c.after : c.before;
    };
    for (int i = 0; i < 200; ++i) {
        const std::string folder = folders[i % 4];
        const std::string n = std::to_string(i);
        switch (i % 10) {
            case 0:
                add(folder + "plain_" + n + ".txt", MakeText(rng, small(rng), false, false), false);
                break;
            case 1:  // a zero byte and no text ending: not text, never written
                add(folder + "data_" + n + ".dat", MakeText(rng, small(rng), true, true), false);
                break;
            case 2:
                add(folder + "README_" + n, MakeText(rng, small(rng), true, false), true);
                break;
            case 3:  // a text ending makes even a zero byte text
            {
                Contents c = MakeText(rng, small(rng), true, false);
                c.before += '\0';
                c.after += '\0';
                add(folder + "zero_" + n + ".txt", c, true);
                break;
            }
            default:
                add(folder + "memo_" + n + ".txt", MakeText(rng, small(rng), true, false), true);
                break;
        }
    }
    std::uniform_int_distribution<std::size_t> big(std::size_t{2} << 20, std::size_t{4} << 20);
    for (int i = 0; i < 3; ++i) {
        add(std::string(folders[i]) + "big_" + std::to_string(i) + ".txt",
            MakeText(rng, big(rng), true, false), true);
    }
}

std::vector<std::string> ReplaceArgs(const std::string& root) {
    return {"--mode",   "0",    "--folder",  root,       "--pattern",    "*",
            "--search", "表示", "--replace", "ひょうじ", "--subfolders", "--json"};
}

TEST(CrashConsistency, ReplaceKilledAtRandomMomentsLeavesOldOrNewBytes) {
    TreeSnapshot pristine;
    std::map<std::string, std::string> expected;
    MakeReplaceCorpus(pristine, expected);
    std::size_t changing = 0;
    for (const auto& [path, bytes] : pristine.files) {
        changing += expected.at(path) != bytes ? 1 : 0;
    }

    // One undisturbed run gives the new bytes (which must agree with the model worked out
    // piece by piece above) and the length of a run, which bounds the kill delays.
    Workspace reference(pristine);
    const CliRun full = RunCli(ReplaceArgs(reference.Root()));
    ASSERT_EQ(full.status, 0) << full.out;
    const TreeSnapshot done = SnapshotTree(reference.Root());
    for (const auto& [path, bytes] : expected) {
        ASSERT_EQ(done.files.at(path), bytes) << path;
    }
    EXPECT_EQ(JsonNumber(full.out, "changed"), static_cast<int>(changing));
    RecordProperty("full_run_ms", static_cast<int>(full.seconds * 1000));

    Workspace work(pristine);
    std::mt19937 rng(kSeed);
    std::uniform_int_distribution<long> delay(0, static_cast<long>(full.seconds * 1e6));
    int inside = 0;
    int leftovers = 0;
    int damaged = 0;
    for (int k = 0; k < kKills; ++k) {
        SCOPED_TRACE("kill " + std::to_string(k));
        const CliRun run = RunCli(ReplaceArgs(work.Root()), delay(rng));
        const TreeSnapshot after = SnapshotTree(work.Root());
        const Damage damage = CheckContents(pristine, after, expected);
        EXPECT_TRUE(damage.Clean()) << damage.Describe();
        EXPECT_EQ(CountListedLeftovers(work.Root(), after, pristine), 0);
        damaged += damage.damaged;
        if (run.killed) {
            ++inside;
            continue;
        }
        ASSERT_EQ(run.status, 0);
        leftovers += damage.leftovers;
        for (const auto& [path, bytes] : expected) {
            EXPECT_EQ(after.files.at(path), bytes) << "a finished run changes every file: " << path;
        }
        work.Reset();
    }
    const CliRun last = RunCli(ReplaceArgs(work.Root()));
    ASSERT_EQ(last.status, 0);
    EXPECT_EQ(JsonNumber(last.out, "searched"), 200 + 3) << "no leftover was listed";
    const TreeSnapshot after = SnapshotTree(work.Root());
    for (const auto& [path, bytes] : expected) {
        EXPECT_EQ(after.files.at(path), bytes) << path;
        if (bytes != pristine.files.at(path)) {
            EXPECT_EQ(after.files.at(path + ".BAK"), pristine.files.at(path)) << path;
        }
    }
    const Damage end = CheckContents(pristine, after, expected);
    EXPECT_TRUE(end.Clean()) << end.Describe();
    leftovers += end.leftovers;
    RecordProperty("kills_inside_a_run", inside);
    RecordProperty("hidden_leftovers", leftovers);
    RecordSafetyRow(
        "kill",
        "mode 0: SIGKILL at " + std::to_string(kKills) + " random moments (" +
            std::to_string(inside) + " inside a run), 203 files of up to 4 MB, re-run after each",
        "every file old or new bytes, every .BAK complete; " + std::to_string(leftovers) +
            " hidden temporaries left, never listed; final run completes",
        damaged + end.damaged);
}

// --- Modes 1 and 2 ---------------------------------------------------------------------------

struct RenameCase {
    const char* why;
    std::vector<std::string> flags;
    // The name of file i, and of a file already standing at its new name (or "").
    std::function<std::string(int)> name;
    std::function<std::string(int)> blocker;
    std::function<std::string(const std::string&)> new_path;
};

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return s;
}

TEST(CrashConsistency, RenamesKilledAtRandomMomentsKeepEveryFileUnderOneName) {
    const RenameCase cases[] = {
        {"mode 1: txt to htm",
         {"--mode", "1", "--search", "txt", "--replace", "htm"},
         [](int i) { return "n" + std::to_string(i) + ".txt"; },
         [](int i) { return i % 50 == 0 ? "n" + std::to_string(i) + ".htm" : ""; },
         [](const std::string& p) {
             return p.size() > 4 && p.substr(p.size() - 4) == ".txt"
                        ? p.substr(0, p.size() - 4) + ".htm"
                        : p;
         }},
        {"mode 2: names to lower case",
         {"--mode", "2"},
         [](int i) { return "FILE" + std::to_string(i) + ".TXT"; },
         [](int i) { return i % 50 == 0 ? "file" + std::to_string(i) + ".txt" : ""; },
         [](const std::string& p) {
             const auto slash = p.rfind('/');
             return slash == std::string::npos
                        ? Lower(p)
                        : p.substr(0, slash + 1) + Lower(p.substr(slash + 1));
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        TreeSnapshot pristine;
        pristine.folders = {"Sub", "Sub/Deeper"};
        const char* const folders[] = {"", "Sub/", "Sub/Deeper/"};
        for (int i = 0; i < 1500; ++i) {
            const std::string folder = folders[i % 3];
            pristine.files[folder + c.name(i)] = "file " + std::to_string(i) + "\n";
            if (const std::string b = c.blocker(i); !b.empty()) {
                pristine.files[folder + b] = "older " + std::to_string(i) + "\n";
            }
        }
        auto args = [&](const std::string& root) {
            std::vector<std::string> a = c.flags;
            for (const char* extra : {"--pattern", "*", "--subfolders", "--json", "--folder"}) {
                a.push_back(extra);
            }
            a.push_back(root);
            return a;
        };
        Workspace reference(pristine);
        const CliRun full = RunCli(args(reference.Root()));
        ASSERT_EQ(full.status, 0);
        EXPECT_EQ(JsonNumber(full.out, "changed"), 1500 - 30);

        Workspace work(pristine);
        std::mt19937 rng(kSeed);
        std::uniform_int_distribution<long> delay(0, static_cast<long>(full.seconds * 1e6));
        int inside = 0;
        int leftovers = 0;
        int damaged = 0;
        for (int k = 0; k < kKills; ++k) {
            SCOPED_TRACE("kill " + std::to_string(k));
            const CliRun run = RunCli(args(work.Root()), delay(rng));
            const TreeSnapshot after = SnapshotTree(work.Root());
            const Damage damage = CheckRenames(pristine, after, c.new_path);
            EXPECT_TRUE(damage.Clean()) << damage.Describe();
            EXPECT_EQ(CountListedLeftovers(work.Root(), after, pristine), 0);
            damaged += damage.damaged;
            if (run.killed) {
                ++inside;
            } else {
                leftovers += damage.leftovers;
                work.Reset();
            }
        }
        const CliRun last = RunCli(args(work.Root()));
        ASSERT_EQ(last.status, 0);
        const TreeSnapshot after = SnapshotTree(work.Root());
        const Damage end = CheckRenames(pristine, after, c.new_path);
        EXPECT_TRUE(end.Clean()) << end.Describe();
        leftovers += end.leftovers;
        // In the end every file is under its new name, but those whose new name was taken.
        int moved = 0;
        for (const auto& [path, bytes] : pristine.files) {
            moved += after.files.count(path) == 0 ? 1 : 0;
        }
        EXPECT_EQ(moved, 1500 - 30);
        RecordSafetyRow("kill",
                        std::string(c.why) + ": SIGKILL at " + std::to_string(kKills) +
                            " random moments (" + std::to_string(inside) +
                            " inside a run), 1,530 files, 30 new names taken, re-run after each",
                        "every file under exactly one name, old or new, bytes intact; " +
                            std::to_string(leftovers) +
                            " hidden temporaries left; final run completes",
                        damaged + end.damaged);
    }
}

}  // namespace
}  // namespace popuran::testing
