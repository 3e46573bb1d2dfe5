#include "support/temp_tree.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "folder/services/utf8.h"

namespace popuran::testing {

namespace {

void RemoveAll(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        return;
    }
    if (S_ISDIR(st.st_mode)) {
        chmod(path.c_str(), 0700);
        if (DIR* dir = opendir(path.c_str())) {
            std::vector<std::string> names;
            while (dirent* entry = readdir(dir)) {
                const std::string name = entry->d_name;
                if (name != "." && name != "..") {
                    names.push_back(name);
                }
            }
            closedir(dir);
            for (const auto& name : names) {
                RemoveAll(path + "/" + name);
            }
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

}  // namespace

TempTree::TempTree() {
    std::string pattern = ::testing::TempDir();
    if (pattern.empty() || pattern.back() != '/') {
        pattern += '/';
    }
    pattern += "popuran-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
    }
    root_ = buffer.data();
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
    std::filesystem::create_directories(Path(relative), error);
    ASSERT_FALSE(error) << relative << ": " << error.message();
}

void TempTree::Create(const std::string& relative, const std::string& bytes) {
    const auto slash = relative.rfind('/');
    if (slash != std::string::npos) {
        MakeFolder(relative.substr(0, slash));
    }
    std::ofstream out(Path(relative), std::ios::binary | std::ios::trunc);
    ASSERT_TRUE(out) << "cannot create " << relative;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out) << "cannot write " << relative;
}

std::string TempTree::Read(const std::string& relative) const {
    std::ifstream in(Path(relative), std::ios::binary);
    EXPECT_TRUE(in) << "cannot read " << relative;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool TempTree::Exists(const std::string& relative) const {
    struct stat st {};
    return lstat(Path(relative).c_str(), &st) == 0;
}

std::vector<std::string> TempTree::Names(const std::string& relative) const {
    std::vector<std::string> names;
    if (DIR* dir = opendir(Path(relative).c_str())) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace popuran::testing
