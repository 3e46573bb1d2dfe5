// Work: what the steps of one run share (the run state, the window, the file system).
#pragma once

#include "folder/services/file_services.h"
#include "run/state/run_state.h"
#include "run/state/run_view.h"

namespace popuran::folder {

struct Work {
    run::RunState& state;
    run::RunView& view;
    FileServices& files;
};

}  // namespace popuran::folder
