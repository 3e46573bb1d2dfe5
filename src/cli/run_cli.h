// RunCli: one whole run of popuran-cli, from parsed options to exit status.
#pragma once

#include <csignal>
#include <ostream>

#include "cli/cli_options.h"

namespace popuran::cli {

// Runs what a Start click runs, with the dry-run services for --dry-run. Returns the exit
// status: 0 done, 130 stopped, 2 inputs refused, 1 an unexpected failure. An interrupt counted
// in `interrupts` is a click on Stop.
int RunCli(const Options& options, std::ostream& out, std::ostream& err, bool progress,
           const volatile std::sig_atomic_t* interrupts);

}  // namespace popuran::cli
