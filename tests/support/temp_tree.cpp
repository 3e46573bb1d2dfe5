#include "support/temp_tree.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "folder/services/utf8.h"

namespace popuran::testing {

namespace {

namespace fs = std::filesystem;

// The whole file, read at once: byte by byte would be slow on the large trees of the crash tests.
std::string ReadBytes(std::ifstream& in) {
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return std::move(bytes).str();
}

// Write and search bits are given back first, so that a locked folder can be emptied.
void RemoveAll(const fs::path& path) {
    std::error_code error;
    if (fs::is_directory(fs::symlink_status(path, error))) {
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, error);
        for (const auto& entry : fs::directory_iterator(path, error)) {
            RemoveAll(entry.path());
        }
    }
    fs::remove(path, error);
}

}  // namespace

TempTree::TempTree() {
    std::string pattern = ::testing::TempDir();
    if (pattern.empty() || pattern.back() != '/') {
        pattern += '/';
    }
    pattern += "popuran-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
    }
    root_ = pattern;
}

TempTree::~TempTree() { RemoveAll(root_); }

std::string TempTree::Path(const std::string& relative) const {
    return relative.empty() ? root_ : root_ + "/" + relative;
}

std::u16string TempTree::Text(const std::string& relative) const {
    return folder::Utf8ToText(Path(relative));
}

void TempTree::MakeFolder(const std::string& relative) {
    std::error_code error;
    fs::create_directories(Path(relative), error);
    ASSERT_FALSE(error) << relative << ": " << error.message();
}

void TempTree::Create(const std::string& relative, const std::string& bytes) {
    if (const auto slash = relative.rfind('/'); slash != std::string::npos) {
        MakeFolder(relative.substr(0, slash));
    }
    std::ofstream out(Path(relative), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out) << "cannot write " << relative;
}

std::string TempTree::Read(const std::string& relative) const {
    std::ifstream in(Path(relative), std::ios::binary);
    EXPECT_TRUE(in) << "cannot read " << relative;
    return ReadBytes(in);
}

std::vector<std::string> TempTree::Names(const std::string& relative) const {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(Path(relative), error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TreeSnapshot SnapshotTree(const std::string& root) {
    TreeSnapshot tree;
    // Directory links are not followed by the iterator; links are read, never resolved.
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string path = entry.path().string().substr(root.size() + 1);
        if (entry.is_symlink()) {
            tree.links[path] = fs::read_symlink(entry.path()).string();
        } else if (entry.is_directory()) {
            tree.folders[path];
        } else if (entry.is_regular_file()) {
            std::ifstream in(entry.path(), std::ios::binary);
            tree.files[path] = ReadBytes(in);
        }
    }
    return tree;
}

void WriteTree(const std::string& root, const TreeSnapshot& tree) {
    for (const auto& [folder, none] : tree.folders) {
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
            if (found == got.end() || found->second != value) {
                differences.push_back(kind + (found == got.end() ? " gone: " : " changed: ") +
                                      path);
            }
        }
        for (const auto& [path, value] : got) {
            if (!want.contains(path)) {
                differences.push_back(kind + " appeared: " + path);
            }
        }
    };
    compare(expected.files, actual.files, "file");
    compare(expected.links, actual.links, "link");
    compare(expected.folders, actual.folders, "folder");
    return differences;
}

void RecordSafetyRow(const std::string& area, const std::string& input, const std::string& result,
                     int damaged) {
    // Numbered per test: the counter starts again whenever another test records.
    static std::string test_name;
    static int row = 0;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name =
        info == nullptr ? "" : std::string(info->test_suite_name()) + "." + info->name();
    if (name != test_name) {
        test_name = name;
        row = 0;
    }
    const std::string key = "row" + std::to_string(++row);
    ::testing::Test::RecordProperty(key + "_area", area);
    ::testing::Test::RecordProperty(key + "_input", input);
    ::testing::Test::RecordProperty(key + "_result", result);
    ::testing::Test::RecordProperty(key + "_damaged", damaged);
}

void ExpectTreeAndRecord(const std::string& root, const TreeSnapshot& expected,
                         const std::string& area, const std::string& input,
                         const std::string& result) {
    const auto differences = Differences(expected, SnapshotTree(root));
    EXPECT_EQ(differences, std::vector<std::string>{});
    RecordSafetyRow(area, input, result, static_cast<int>(differences.size()));
}

std::string AsciiLower(std::string path) {
    for (std::size_t i = path.rfind('/') + 1; i < path.size(); ++i) {
        path[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(path[i])));
    }
    return path;
}

}  // namespace popuran::testing
