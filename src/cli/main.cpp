// popuran-cli: the batch run without a window.
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include <unistd.h>

#include "cli/cli_options.h"
#include "cli/run_cli.h"

namespace {

volatile std::sig_atomic_t interrupts = 0;

// The first interrupt asks the run to stop at its next safe point; a second one ends the
// program at once, like closing the window (every write is atomic, so no file is half-done).
extern "C" void OnInterrupt(int) {
    interrupts = interrupts + 1;
    if (interrupts >= 2) {
        _exit(130);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const auto options = popuran::cli::ParseOptions(args, error);
    if (!options) {
        std::cerr << "popuran-cli: " << error << "\n" << popuran::cli::kUsage;
        return 2;
    }
    if (options->help) {
        std::cout << popuran::cli::kUsage;
        return 0;
    }
    if (options->version) {
        std::cout << "popuran-cli " << POPURAN_VERSION << "\n";
        return 0;
    }
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    return popuran::cli::RunCli(*options, std::cout, std::cerr, isatty(STDERR_FILENO) == 1,
                                &interrupts);
}
