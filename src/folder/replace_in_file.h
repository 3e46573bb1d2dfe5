// ReplaceInFile and ReplaceAll: mode 0, content replacement with a backup.
#pragma once

#include <cstdint>
#include <string_view>

#include "folder/work.h"

namespace popuran::folder {

// Replaces every occurrence of state.SearchText by state.ReplaceText in the file, after copying
// it to path + ".BAK". Files that are not text, or hold no occurrence, are not touched. Raises
// the counters only for a file that really changed. Returns true when a stop request ended it
// (the file is then untouched). Yields.
bool ReplaceInFile(Work& work, std::u16string_view path);

// Left-to-right, non-overlapping replacement of search by replacement in text (exact, or
// ignoring letter case when state.CaseSensitive is 0); the new text goes to state.WorkText.
// Returns the number of replacements, or 0 when a stop was requested on the way. Moves the
// progress marker every 20 replacements of the run. Yields.
std::int32_t ReplaceAll(Work& work, std::u16string_view text, std::u16string_view search,
                        std::u16string_view replacement);

}  // namespace popuran::folder
