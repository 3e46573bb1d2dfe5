#include "support/tree_snapshot.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace popuran::testing {

namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return std::move(bytes).str();
}

}  // namespace

TreeSnapshot SnapshotTree(const std::string& root) {
    TreeSnapshot tree;
    // Directory links are not followed by the iterator; links are read, never resolved.
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string path = entry.path().string().substr(root.size() + 1);
        if (entry.is_symlink()) {
            tree.links[path] = fs::read_symlink(entry.path()).string();
        } else if (entry.is_directory()) {
            tree.folders.insert(path);
        } else if (entry.is_regular_file()) {
            tree.files[path] = ReadBytes(entry.path());
        }
    }
    return tree;
}

void WriteTree(const std::string& root, const TreeSnapshot& tree) {
    for (const auto& folder : tree.folders) {
        fs::create_directories(root + "/" + folder);
    }
    for (const auto& [path, bytes] : tree.files) {
        std::ofstream out(root + "/" + path, std::ios::binary | std::ios::trunc);
        if (!out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
            throw std::runtime_error("cannot write " + path);
        }
    }
    for (const auto& [path, target] : tree.links) {
        fs::create_symlink(target, root + "/" + path);
    }
}

std::vector<std::string> Differences(const TreeSnapshot& expected, const TreeSnapshot& actual) {
    using Entries = std::map<std::string, std::string>;
    std::vector<std::string> differences;
    const auto compare = [&](const Entries& want, const Entries& got, const std::string& kind) {
        for (const auto& [path, value] : want) {
            const auto found = got.find(path);
            if (found == got.end()) {
                differences.push_back(kind + " gone: " + path);
            } else if (found->second != value) {
                differences.push_back(kind + " changed: " + path);
            }
        }
        for (const auto& [path, value] : got) {
            if (want.count(path) == 0) {
                differences.push_back(kind + " appeared: " + path);
            }
        }
    };
    const auto folders = [](const TreeSnapshot& tree) {
        Entries entries;
        for (const auto& folder : tree.folders) {
            entries[folder];
        }
        return entries;
    };
    compare(expected.files, actual.files, "file");
    compare(expected.links, actual.links, "link");
    compare(folders(expected), folders(actual), "folder");
    return differences;
}

}  // namespace popuran::testing
