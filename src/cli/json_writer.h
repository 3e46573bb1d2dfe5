// The JSON object that popuran-cli --json prints for a run.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_options.h"
#include "run/run_control.h"
#include "run/state/run_view.h"

namespace popuran::cli {

// JSON string literal of a text; characters that are not valid Unicode (lone surrogates from
// names that are not UTF-8) are written as \uXXXX escapes.
std::string JsonString(std::u16string_view text);

// Writes the run's counts, its failures, and its changes with --verbose or --dry-run, as one
// line.
void WriteRunJson(std::ostream& out, const Options& options, const run::RunControl& control,
                  const std::vector<run::Change>& changes,
                  const std::vector<run::FailedFile>& failures, bool stopped);

}  // namespace popuran::cli
