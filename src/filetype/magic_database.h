// MagicDatabase: the system's file-type database (libmagic), asked which type some bytes are.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct magic_set;

namespace popuran::filetype {

// What the database says of some bytes.
struct MagicAnswer {
    // The extensions it lists, lower-case and without dots, the usual one first. Only
    // extensions made of ASCII letters and digits are kept, so that no answer can carry a
    // separator or a dot into a file name.
    std::vector<std::u16string> extensions;
    std::string mime_type;  // "image/png", ...; empty when asked without it
};

// Opened on the first question, not before, so that a run that never asks pays nothing, and
// then kept for every later question until the object goes. Not for two threads at once.
class MagicDatabase {
public:
    MagicDatabase() = default;
    ~MagicDatabase();
    MagicDatabase(const MagicDatabase&) = delete;
    MagicDatabase& operator=(const MagicDatabase&) = delete;

    // The answer for a file that begins with head (the MIME type only when asked for); empty
    // when the database names nothing or cannot be opened (then it is not tried again).
    MagicAnswer Ask(std::string_view head, bool with_mime_type);

private:
    const char* Answer(magic_set* magic, std::string_view head);

    magic_set* extensions_ = nullptr;
    magic_set* mime_types_ = nullptr;
    int memory_file_ = -1;
    bool opened_ = false;
    bool mime_types_opened_ = false;
};

}  // namespace popuran::filetype
