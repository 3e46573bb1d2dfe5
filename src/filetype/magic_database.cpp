#include "filetype/magic_database.h"

#include <magic.h>

namespace popuran::filetype {

namespace {

bool IsLetterOrDigit(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

// "jpeg/jpg/jpe/jfif" as its parts; "???" (nothing known) and any part with another character
// are left out.
std::vector<std::u16string> SplitExtensions(std::string_view listed) {
    std::vector<std::u16string> parts;
    while (!listed.empty()) {
        const std::size_t slash = listed.find('/');
        std::string_view part = listed.substr(0, slash);
        listed = slash == std::string_view::npos ? std::string_view() : listed.substr(slash + 1);
        std::u16string extension;
        for (char c : part) {
            if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c - 'A' + 'a');
            }
            if (!IsLetterOrDigit(c)) {
                extension.clear();
                break;
            }
            extension += static_cast<char16_t>(c);
        }
        if (!extension.empty()) {
            parts.push_back(std::move(extension));
        }
    }
    return parts;
}

}  // namespace

MagicDatabase::~MagicDatabase() {
    if (magic_ != nullptr) {
        magic_close(magic_);
    }
}

std::vector<std::u16string> MagicDatabase::Extensions(std::string_view head) {
    if (!opened_) {
        opened_ = true;
        magic_ = magic_open(MAGIC_EXTENSION);
        if (magic_ != nullptr && magic_load(magic_, nullptr) != 0) {
            magic_close(magic_);
            magic_ = nullptr;
        }
    }
    if (magic_ == nullptr || head.empty()) {
        return {};
    }
    const char* listed = magic_buffer(magic_, head.data(), head.size());
    if (listed == nullptr) {
        return {};
    }
    return SplitExtensions(listed);
}

}  // namespace popuran::filetype
