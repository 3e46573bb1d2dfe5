#include "filetype/magic_database.h"

#include <cerrno>

#include <fcntl.h>
#include <magic.h>
#include <sys/mman.h>
#include <unistd.h>

namespace popuran::filetype {

namespace {

bool IsLetterOrDigit(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

// "jpeg/jpg/jpe/jfif" as its parts; "???" (nothing known) and any part with another character
// are left out.
std::vector<std::u16string> SplitExtensions(std::string_view listed) {
    std::vector<std::u16string> parts;
    while (!listed.empty()) {
        const std::size_t slash = listed.find('/');
        const std::string_view part = listed.substr(0, slash);
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

magic_set* OpenDatabase(int flags) {
    magic_set* magic = magic_open(flags);
    if (magic != nullptr && magic_load(magic, nullptr) != 0) {
        magic_close(magic);
        return nullptr;
    }
    return magic;
}

// Replaces the contents of the memory file with bytes and rewinds it.
bool Refill(int fd, std::string_view bytes) {
    if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0) {
        return false;
    }
    while (!bytes.empty()) {
        const ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return lseek(fd, 0, SEEK_SET) == 0;
}

}  // namespace

MagicDatabase::~MagicDatabase() {
    for (magic_set* magic : {extensions_, mime_types_}) {
        if (magic != nullptr) {
            magic_close(magic);
        }
    }
    if (memory_file_ >= 0) {
        close(memory_file_);
    }
}

// Some types (gzip among them) are named only when the database reads a file, not a buffer:
// the bytes are put in a file in memory, so that the answer is the one `file` gives for them.
const char* MagicDatabase::Answer(magic_set* magic, std::string_view head) {
    if (memory_file_ >= 0 && Refill(memory_file_, head)) {
        return magic_descriptor(magic, memory_file_);
    }
    return magic_buffer(magic, head.data(), head.size());
}

MagicAnswer MagicDatabase::Ask(std::string_view head, bool with_mime_type) {
    if (!opened_) {
        opened_ = true;
        extensions_ = OpenDatabase(MAGIC_EXTENSION);
        memory_file_ = memfd_create("popuran-head", MFD_CLOEXEC);
    }
    MagicAnswer answer;
    if (extensions_ == nullptr || head.empty()) {
        return answer;
    }
    if (const char* listed = Answer(extensions_, head); listed != nullptr) {
        answer.extensions = SplitExtensions(listed);
    }
    if (with_mime_type && !mime_types_opened_) {
        mime_types_opened_ = true;
        mime_types_ = OpenDatabase(MAGIC_MIME_TYPE);
    }
    if (with_mime_type && mime_types_ != nullptr) {
        if (const char* mime_type = Answer(mime_types_, head); mime_type != nullptr) {
            answer.mime_type = mime_type;
        }
    }
    return answer;
}

}  // namespace popuran::filetype
