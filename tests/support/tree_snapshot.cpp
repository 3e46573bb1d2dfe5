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

bool IsDotName(const std::string& relative) {
    const auto slash = relative.rfind('/');
    return relative[slash == std::string::npos ? 0 : slash + 1] == '.';
}

// The file whose backup `path` would be ("" if it is no backup name).
std::string BackedUp(const std::string& path) {
    return path.size() > 4 && path.ends_with(".BAK") ? path.substr(0, path.size() - 4) : "";
}

void Note(Damage& damage, int& counter, const std::string& detail) {
    ++counter;
    damage.details.push_back(detail);
}

// A new entry that is neither a backup nor a claimed file: a leftover temporary or a surprise.
void CountStray(const std::string& path, Damage& damage) {
    if (IsDotName(path)) {
        ++damage.leftovers;
    } else {
        Note(damage, damage.unexpected, "unexpected file: " + path);
    }
}

// Links and folders are never touched by any mode.
void CheckLinksAndFolders(const TreeSnapshot& before, const TreeSnapshot& after, Damage& damage) {
    const auto entries = [](const TreeSnapshot& tree) {
        std::set<std::string> all(tree.folders.begin(), tree.folders.end());
        for (const auto& [path, target] : tree.links) {
            all.insert(path + " -> " + target);
        }
        return all;
    };
    const std::set<std::string> old_entries = entries(before);
    const std::set<std::string> new_entries = entries(after);
    for (const auto& entry : old_entries) {
        if (new_entries.count(entry) == 0) {
            Note(damage, damage.unexpected, "link or folder changed or gone: " + entry);
        }
    }
    for (const auto& entry : new_entries) {
        if (old_entries.count(entry) == 0) {
            Note(damage, damage.unexpected, "new link or folder: " + entry);
        }
    }
}

}  // namespace

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

Damage CheckContents(const TreeSnapshot& before, const TreeSnapshot& after,
                     const std::map<std::string, std::string>& expected_new) {
    Damage damage;
    // The bytes a file may hold afterwards, besides its own: its new ones, or for a backup
    // (new or refreshed) the former bytes of its file.
    const auto may_hold = [&](const std::string& path, const std::string& bytes) {
        const auto fresh = expected_new.find(path);
        const auto base = before.files.find(BackedUp(path));
        return (fresh != expected_new.end() && bytes == fresh->second) ||
               (base != before.files.end() && bytes == base->second);
    };
    for (const auto& [path, old_bytes] : before.files) {
        const auto found = after.files.find(path);
        if (found == after.files.end()) {
            Note(damage, damage.damaged, "lost: " + path);
        } else if (found->second != old_bytes && !may_hold(path, found->second)) {
            Note(damage, damage.damaged, "neither old nor new bytes: " + path);
        }
    }
    for (const auto& [path, bytes] : after.files) {
        if (before.files.count(path) != 0) {
            continue;
        }
        if (before.files.count(BackedUp(path)) == 0) {
            CountStray(path, damage);
        } else if (bytes != before.files.at(BackedUp(path))) {
            Note(damage, damage.damaged, "backup is not the former file: " + path);
        }
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
        if (found == after.files.end() || found->second != before.files.at(path) ||
            !claimed.insert(moved).second) {
            Note(damage, damage.damaged, "not found under its old or new name: " + path);
        }
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
