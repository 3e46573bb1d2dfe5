// TreeSnapshot: the files, links and folders below a folder, to compare a tree with another.
#pragma once

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

// One line per entry in which `actual` differs from `expected` ("bytes differ: sub/a.txt"):
// files lost, appeared or holding other bytes, links and folders changed, gone or new.
std::vector<std::string> Differences(const TreeSnapshot& expected, const TreeSnapshot& actual);

}  // namespace popuran::testing
