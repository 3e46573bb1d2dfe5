// TempTree: a fresh temporary folder for one test, removed afterwards. TreeSnapshot: the files,
// links and folders below a folder, to compare a tree with another; the rows of the safety
// table, which count the entries a fault or a bad input damaged.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace popuran::testing {

class TempTree {
public:
    TempTree();   // mkdtemp under ::testing::TempDir()
    ~TempTree();  // removes everything below, restoring write bits first
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    // The folder's path in native bytes, without a trailing '/'.
    const std::string& Root() const { return root_; }
    // Root() + "/" + relative.
    std::string Path(const std::string& relative) const;
    // The same as a UTF-16 text (names decoded as the work decodes them).
    std::u16string Text(const std::string& relative = "") const;

    // Creates a file (and the folders above it) holding exactly these bytes.
    void Create(const std::string& relative, const std::string& bytes);
    void MakeFolder(const std::string& relative);  // with the folders above it
    // The bytes of a file; fails the test when it cannot be read.
    std::string Read(const std::string& relative) const;
    // Names in one folder ("" for the root), sorted bytewise, "." and ".." left out.
    std::vector<std::string> Names(const std::string& relative = "") const;

private:
    std::string root_;
};

// Every entry below a folder, by path relative to it ("sub/a.txt"). Links are recorded with
// their targets and never followed.
struct TreeSnapshot {
    std::map<std::string, std::string> files;    // regular files and their bytes
    std::map<std::string, std::string> links;    // symbolic links and their targets
    std::map<std::string, std::string> folders;  // each with ""
};

TreeSnapshot SnapshotTree(const std::string& root);
// Writes the files, folders and links of a snapshot below root (which must exist).
void WriteTree(const std::string& root, const TreeSnapshot& tree);

// One line per entry in which `actual` differs from `expected` ("bytes differ: sub/a.txt"):
// files lost, appeared or holding other bytes, links and folders changed, gone or new.
std::vector<std::string> Differences(const TreeSnapshot& expected, const TreeSnapshot& actual);

// Adds the row to the running test's properties (row<N>_area, _input, _result, _damaged), where
// scripts/safety_table.py reads them from GoogleTest's JSON output. `damaged` is the count the
// test measured; the caller asserts on it separately.
void RecordSafetyRow(const std::string& area, const std::string& input, const std::string& result,
                     int damaged);

// Expects the tree below root to be exactly `expected` (every entry that is not counts as
// damaged) and records the row.
void ExpectTreeAndRecord(const std::string& root, const TreeSnapshot& expected,
                         const std::string& area, const std::string& input,
                         const std::string& result);

// The path with every ASCII letter of its last part in lower case.
std::string AsciiLower(std::string path);

}  // namespace popuran::testing
