#include "support/tree_snapshot.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace popuran::testing {

namespace {

std::string Join(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

// Read with read(2) straight into the result: a tree of many megabytes is read after every
// kill.
std::string ReadBytes(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw std::runtime_error("cannot read " + path);
    }
    struct stat st {};
    std::size_t size = fstat(fd, &st) == 0 ? static_cast<std::size_t>(st.st_size) : 0;
    std::string bytes(size + 1, '\0');  // one more, to notice a file that grew
    std::size_t done = 0;
    for (;;) {
        if (done == bytes.size()) {
            bytes.resize(bytes.size() * 2);
        }
        const ssize_t got = read(fd, bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    close(fd);
    bytes.resize(done);
    return bytes;
}

void Walk(const std::string& root, const std::string& relative, TreeSnapshot& tree) {
    const std::string folder = relative.empty() ? root : root + "/" + relative;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        throw std::runtime_error("cannot open " + folder + ": " + std::strerror(errno));
    }
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    closedir(dir);
    for (const auto& name : names) {
        const std::string path = Join(relative, name);
        const std::string full = root + "/" + path;
        struct stat st {};
        if (lstat(full.c_str(), &st) != 0) {
            continue;  // gone while we looked
        }
        if (S_ISLNK(st.st_mode)) {
            std::string target(4096, '\0');
            const ssize_t n = readlink(full.c_str(), target.data(), target.size());
            target.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
            tree.links[path] = target;
        } else if (S_ISDIR(st.st_mode)) {
            tree.folders.insert(path);
            Walk(root, path, tree);
        } else if (S_ISREG(st.st_mode)) {
            tree.files[path] = ReadBytes(full);
        }
    }
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Links and folders are never touched by any mode.
void CheckLinksAndFolders(const TreeSnapshot& before, const TreeSnapshot& after, Damage& damage) {
    for (const auto& [path, target] : before.links) {
        const auto found = after.links.find(path);
        if (found == after.links.end() || found->second != target) {
            ++damage.unexpected;
            damage.details.push_back("link changed or gone: " + path);
        }
    }
    for (const auto& [path, target] : after.links) {
        if (before.links.count(path) == 0) {
            ++damage.unexpected;
            damage.details.push_back("new link: " + path);
        }
    }
    for (const auto& path : before.folders) {
        if (after.folders.count(path) == 0) {
            ++damage.unexpected;
            damage.details.push_back("folder gone: " + path);
        }
    }
    for (const auto& path : after.folders) {
        if (before.folders.count(path) == 0) {
            ++damage.unexpected;
            damage.details.push_back("new folder: " + path);
        }
    }
}

// A new entry that is neither a backup nor a claimed file: a leftover temporary or a surprise.
void CountStray(const std::string& path, Damage& damage) {
    if (IsDotName(path)) {
        ++damage.leftovers;
    } else {
        ++damage.unexpected;
        damage.details.push_back("unexpected file: " + path);
    }
}

}  // namespace

bool IsDotName(const std::string& relative) {
    const auto slash = relative.rfind('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    return start < relative.size() && relative[start] == '.';
}

std::string Damage::Describe() const {
    std::string text = std::to_string(damaged) + " damaged, " + std::to_string(unexpected) +
                       " unexpected, " + std::to_string(leftovers) + " leftovers";
    for (std::size_t i = 0; i < details.size() && i < 10; ++i) {
        text += "\n  " + details[i];
    }
    return text;
}

TreeSnapshot SnapshotTree(const std::string& root) {
    TreeSnapshot tree;
    Walk(root, "", tree);
    return tree;
}

void WriteTree(const std::string& root, const TreeSnapshot& tree) {
    for (const auto& folder : tree.folders) {  // sorted, so parents come first
        mkdir((root + "/" + folder).c_str(), 0755);
    }
    for (const auto& [path, bytes] : tree.files) {
        std::ofstream out(root + "/" + path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            throw std::runtime_error("cannot write " + path);
        }
    }
    for (const auto& [path, target] : tree.links) {
        if (symlink(target.c_str(), (root + "/" + path).c_str()) != 0) {
            throw std::runtime_error("cannot link " + path);
        }
    }
}

Damage CheckContents(const TreeSnapshot& before, const TreeSnapshot& after,
                     const std::map<std::string, std::string>& expected_new) {
    Damage damage;
    for (const auto& [path, old_bytes] : before.files) {
        const auto found = after.files.find(path);
        if (found == after.files.end()) {
            ++damage.damaged;
            damage.details.push_back("lost: " + path);
            continue;
        }
        const std::string& now = found->second;
        const auto fresh = expected_new.find(path);
        bool fine = now == old_bytes || (fresh != expected_new.end() && now == fresh->second);
        // A backup that was there before may be refreshed with its file's former bytes.
        if (!fine && EndsWith(path, ".BAK")) {
            const auto base = before.files.find(path.substr(0, path.size() - 4));
            fine = base != before.files.end() && now == base->second;
        }
        if (!fine) {
            ++damage.damaged;
            damage.details.push_back("neither old nor new bytes: " + path);
        }
    }
    for (const auto& [path, bytes] : after.files) {
        if (before.files.count(path) != 0) {
            continue;
        }
        if (EndsWith(path, ".BAK")) {
            const auto base = before.files.find(path.substr(0, path.size() - 4));
            if (base != before.files.end()) {
                if (bytes != base->second) {
                    ++damage.damaged;
                    damage.details.push_back("backup is not the former file: " + path);
                }
                continue;
            }
        }
        CountStray(path, damage);
    }
    CheckLinksAndFolders(before, after, damage);
    return damage;
}

Damage CheckRenames(const TreeSnapshot& before, const TreeSnapshot& after,
                    const std::function<std::string(const std::string&)>& new_path) {
    Damage damage;
    std::set<std::string> claimed;
    std::vector<std::string> unmatched;
    // Files still under their old names first, so that a name taken by a file that stayed is
    // not handed to a file that should have moved there.
    for (const auto& [path, bytes] : before.files) {
        const auto found = after.files.find(path);
        if (found != after.files.end() && found->second == bytes) {
            claimed.insert(path);
        } else {
            unmatched.push_back(path);
        }
    }
    for (const auto& path : unmatched) {
        const std::string moved = new_path(path);
        const auto found = after.files.find(moved);
        if (found != after.files.end() && found->second == before.files.at(path) &&
            claimed.insert(moved).second) {
            continue;
        }
        ++damage.damaged;
        damage.details.push_back("not found under its old or new name: " + path);
    }
    for (const auto& [path, bytes] : after.files) {
        if (claimed.count(path) == 0) {
            CountStray(path, damage);
        }
    }
    CheckLinksAndFolders(before, after, damage);
    return damage;
}

}  // namespace popuran::testing
