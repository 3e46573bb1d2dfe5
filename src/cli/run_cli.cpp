#include "cli/run_cli.h"

#include <exception>

#include "cli/json_writer.h"
#include "cli/terminal_view.h"
#include "folder/services/dry_run_file_services.h"
#include "folder/services/file_services.h"

namespace popuran::cli {

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailure = 1;
constexpr int kExitRefused = 2;
constexpr int kExitStopped = 130;

}  // namespace

int RunCli(const Options& options, std::ostream& out, std::ostream& err, bool progress,
           const volatile std::sig_atomic_t* interrupts) {
    try {
        TerminalView view(options, out, err, progress, interrupts);
        folder::PosixFileServices real;
        folder::DryRunFileServices dry(real);
        folder::FileServices& files = options.dry_run ? static_cast<folder::FileServices&>(dry)
                                                      : static_cast<folder::FileServices&>(real);
        run::RunControl control(view, files);
        view.Attach(&control);
        control.State().CurrentMode = options.mode;
        control.State().Encoding = options.encoding;
        control.CmdRpl_Click();

        const auto outcome = control.LastOutcome();
        if (outcome == run::RunControl::Outcome::Refused) {
            return kExitRefused;
        }
        const bool stopped = outcome == run::RunControl::Outcome::Stopped;
        if (options.json) {
            WriteRunJson(out, options, control, view.Changes(), stopped);
        }
        out.flush();
        return stopped ? kExitStopped : kExitDone;
    } catch (const std::exception& e) {
        err << "popuran-cli: " << e.what() << '\n';
        return kExitFailure;
    }
}

}  // namespace popuran::cli
