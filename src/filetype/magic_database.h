// MagicDatabase: the system's file-type database (libmagic), asked which extensions fit some bytes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct magic_set;

namespace popuran::filetype {

// Opened on the first question, not before, so that a run that never asks pays nothing, and
// then kept for every later question until the object goes. Not for two threads at once.
class MagicDatabase {
public:
    MagicDatabase() = default;
    ~MagicDatabase();
    MagicDatabase(const MagicDatabase&) = delete;
    MagicDatabase& operator=(const MagicDatabase&) = delete;

    // The extensions that the database lists for a file beginning with head, lower-case and
    // without dots, the usual one first; empty when it names none, or when the database cannot
    // be opened (then it is not tried again). Only extensions made of ASCII letters and digits
    // are kept, so that no answer can carry a separator or a dot into a file name.
    std::vector<std::u16string> Extensions(std::string_view head);

private:
    magic_set* magic_ = nullptr;
    bool opened_ = false;
};

}  // namespace popuran::filetype
