// ProcessFolder and CollectFiles: the run's work on one folder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "folder/work.h"

namespace popuran::folder {

// Lists the files of the folder of pattern_path whose names match its last component and whose
// attributes equal `attribute` exactly into state.FileList; in mode 0 names ending in "BAK"
// (any case) are left out. Returns how many. A listing failure is shown with ShowMessage and
// gives 0. With `lengths`, the length the listing saw of each listed file goes there too (-1
// where the services do not tell).
std::int32_t CollectFiles(Work& work, std::u16string_view pattern_path, std::uint32_t attribute,
                          std::vector<std::int64_t>* lengths = nullptr);

// How many files CollectFiles would list in all these folders (pattern paths), without
// listing them into state.FileList: after a stop, the folders left are only counted for the
// summary. Folders listed ahead (work.listings) are counted from their listings; with services
// that allow reads from other threads, on several cores, a second thread shares the rest. A
// folder that cannot be listed is reported as CollectFiles reports it.
std::int32_t CountFiles(Work& work, const std::vector<std::u16string>& pattern_paths);

// Lists the folder, then hands each non-empty file to the operation of the current mode,
// showing its path and yielding before each one. Sets state.FileCount. Returns early once a stop
// is requested. Yields.
void ProcessFolder(Work& work, std::u16string_view pattern_path);

}  // namespace popuran::folder
