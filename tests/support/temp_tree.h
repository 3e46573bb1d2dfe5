// TempTree: a fresh temporary folder for one test, removed afterwards.
#pragma once

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
    bool Exists(const std::string& relative) const;  // lstat, links not followed
    // Names in one folder ("" for the root), sorted bytewise, "." and ".." left out.
    std::vector<std::string> Names(const std::string& relative = "") const;

private:
    std::string root_;
};

}  // namespace popuran::testing
