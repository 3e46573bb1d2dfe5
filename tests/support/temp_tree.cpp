#include "support/temp_tree.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <gtest/gtest.h>

#include "folder/services/utf8.h"

namespace popuran::testing {

namespace {

namespace fs = std::filesystem;

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
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool TempTree::Exists(const std::string& relative) const {
    std::error_code error;
    return fs::exists(fs::symlink_status(Path(relative), error));
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

}  // namespace popuran::testing
