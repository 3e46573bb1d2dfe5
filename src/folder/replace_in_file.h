// ReplaceInFile and ReplaceAll: mode 0, content replacement with a backup.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "folder/replace_engine.h"
#include "folder/work.h"

namespace popuran::folder {

// Replaces every occurrence of state.SearchText by state.ReplaceText in the file, after copying
// it to path + ".BAK". The file is read in the encoding chosen (state.Encoding), or in the one
// detected for it; files that are not text, or hold no occurrence, are not touched. A file left
// as it is for its encoding (uncertain, another encoding, or one that cannot hold the
// replacement) raises state.EncodingSkippedCount. Raises the other counters only for a file
// that really changed. Returns true when a stop request ended it (the file is then untouched).
// Yields.
bool ReplaceInFile(Work& work, std::u16string_view path);

// The patterns of the search text in every encoding the run may read a file in, each set of
// bytes once where the patterns find exactly their bytes: a file in which none of them finds
// a match has nothing to replace.
std::vector<SearchPattern> CandidatePatterns(const run::RunState& state);

// Left-to-right, non-overlapping replacement of search by replacement in text (exact, or
// ignoring letter case when state.CaseSensitive is 0); the new text goes to state.WorkText.
// Returns the number of replacements, or 0 when a stop was requested on the way. Moves the
// progress marker every 20 replacements of the run. Yields.
std::int32_t ReplaceAll(Work& work, std::u16string_view text, std::u16string_view search,
                        std::u16string_view replacement);

}  // namespace popuran::folder
