// Work: what the steps of one run share (the run state, the window, the file system, the
// type database).
#pragma once

#include <set>
#include <string>

#include "filetype/magic_database.h"
#include "folder/services/file_services.h"
#include "run/state/run_state.h"
#include "run/state/run_view.h"

namespace popuran::folder {

class ListAhead;
class ReplaceAhead;

struct Work {
    run::RunState& state;
    run::RunView& view;
    FileServices& files;
    // Names the types that the built-in rules do not know; opened only if mode 1 asks it.
    filetype::MagicDatabase types{};
    // Folders whose listing failed and was reported in this run: the file listing and the
    // folder collection list the same folders, and a user is told once.
    std::set<std::u16string> unlisted{};
    // Mode 0's look-ahead over the subfolders of the run, when there is one.
    ReplaceAhead* ahead = nullptr;
    // The listings made ahead of the run's subfolders in the renaming modes, when there are.
    ListAhead* listings = nullptr;
};

}  // namespace popuran::folder
