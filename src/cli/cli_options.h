// The command line of popuran-cli.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "run/state/run_state.h"
#include "run/state/run_view.h"

namespace popuran::cli {

struct Options {
    run::RunMode mode = 0;
    std::array<std::u16string, run::kBoxCount> boxes;  // search, replace, pattern, folder
    bool subfolders = false;
    bool ignore_case = false;
    run::EncodingChoice encoding = run::kEncodingAuto;
    bool dry_run = false;
    bool verbose = false;
    bool diff = false;  // a unified diff of each changed file, for reading
    bool json = false;
    bool null = false;    // -0/--null: change lines end in NUL, for names that hold a line end
    bool undo = false;    // --undo [ID]: undo a journalled run instead of running
    std::string undo_id;  // empty: the newest run
    bool history = false;
    bool help = false;
    bool version = false;
};

// Parses the arguments after the program name; on an error returns nothing and sets `error`.
// Arguments are taken exactly as given (not trimmed); "--opt VALUE" and "--opt=VALUE" both work.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error);

extern const char kUsage[];

}  // namespace popuran::cli
