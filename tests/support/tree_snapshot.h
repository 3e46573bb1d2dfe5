// TreeSnapshot: the files, links and folders below a folder, and the damage a run did to them.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace popuran::testing {

// Every entry below a folder, by path relative to it ("sub/a.txt"). Links are recorded with
// their targets and never followed.
struct TreeSnapshot {
    std::map<std::string, std::string> files;  // regular files and their bytes
    std::map<std::string, std::string> links;  // symbolic links and their targets
    std::set<std::string> folders;
};

TreeSnapshot SnapshotTree(const std::string& root);
// Writes the files, folders and links of a snapshot below root (which must exist).
void WriteTree(const std::string& root, const TreeSnapshot& tree);

// What a run did to a tree, counted against the tree before it.
struct Damage {
    int damaged = 0;     // files lost, or holding bytes that are neither their old nor new ones
    int leftovers = 0;   // new dot-files (temporaries left by a killed process)
    int unexpected = 0;  // other new entries, or links and folders changed or gone
    std::vector<std::string> details;  // one line per damaged or unexpected entry

    bool Clean() const { return damaged == 0 && unexpected == 0; }
    std::string Describe() const;  // the first details, for a failure message
};

// Contents work (mode 0): every file of `before` holds its old bytes or, where `expected_new`
// names it, its new bytes; a new file NAME.BAK holds the old bytes of NAME (or the bytes it had
// before); dot-files that were not there are leftovers; links and folders stay.
Damage CheckContents(const TreeSnapshot& before, const TreeSnapshot& after,
                     const std::map<std::string, std::string>& expected_new = {});

// Renames (modes 1 to 3): every file of `before` is found exactly once, with its bytes, under
// its old path or under `new_path(old)`; nothing else appears but dot-file leftovers.
Damage CheckRenames(const TreeSnapshot& before, const TreeSnapshot& after,
                    const std::function<std::string(const std::string&)>& new_path);

}  // namespace popuran::testing
