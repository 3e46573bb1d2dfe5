#include "cli/run_cli.h"

#include <exception>

#include "cli/json_writer.h"
#include "cli/terminal_view.h"
#include "folder/services/diff_capture.h"
#include "folder/services/dry_run_file_services.h"
#include "folder/services/file_services.h"
#include "folder/services/journal.h"
#include "folder/services/unified_diff.h"
#include "folder/services/utf8.h"
#include "run/undo.h"

namespace popuran::cli {

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailure = 1;
constexpr int kExitRefused = 2;
constexpr int kExitStopped = 130;

}  // namespace

int RunUndo(const Options& options, std::ostream& out, std::ostream& err) {
    folder::PosixFileServices files;
    const std::string journals = folder::JournalFolder();
    if (options.undo_id.empty() && folder::JournalIds(journals).empty()) {
        err << "popuran-cli: 元に戻せる実行がありません。\n";
        return kExitRefused;
    }
    auto result = run::UndoRun(files, journals, options.undo_id);
    if (!result) {
        err << "popuran-cli: " << result.error().Describe() << '\n';
        return kExitRefused;
    }
    for (const auto& left : result->left) {
        err << folder::TextToUtf8(left.path) << ": " << folder::TextToUtf8(left.reason) << '\n';
    }
    if (options.json) {
        WriteUndoJson(out, *result);
    } else {
        out << TerminalLines(run::UndoSummary(*result)) << '\n';
    }
    out.flush();
    return kExitDone;
}

int RunHistory(const Options& options, std::ostream& out) {
    const std::string folder = folder::JournalFolder();
    std::vector<folder::JournalEntry> entries;
    for (const auto& id : folder::JournalIds(folder)) {
        if (auto entry = folder::ReadJournal(folder, id)) {
            entries.push_back(std::move(*entry));
        }
    }
    if (options.json) {
        WriteHistoryJson(out, entries);
    } else {
        for (const auto& e : entries) {
            out << HistoryLine(e) << '\n';
        }
    }
    out.flush();
    return kExitDone;
}

int RunCli(const Options& options, std::ostream& out, std::ostream& err, bool progress,
           const volatile std::sig_atomic_t* interrupts) {
    try {
        if (options.undo) {
            return RunUndo(options, out, err);
        }
        if (options.history) {
            return RunHistory(options, out);
        }
        TerminalView view(options, out, err, progress, interrupts);
        folder::PosixFileServices real;
        folder::DryRunFileServices dry(real);
        folder::JournalWriter journal(folder::JournalFolder());
        folder::JournallingFileServices journalled(real, journal);
        folder::FileServices& chosen = options.dry_run
                                           ? static_cast<folder::FileServices&>(dry)
                                           : static_cast<folder::FileServices&>(journalled);
        folder::DiffCapture capture(chosen);
        if (options.diff && !options.json) {
            view.SetDiff([&](const run::Change& change) {
                // The old contents: the backup after a real run, the file itself in a dry run.
                const std::u16string old_path =
                    options.dry_run ? change.path : change.path + u".BAK";
                auto old_bytes = real.ReadAll(old_path);
                const std::string new_bytes = capture.TakeNew(change.path);
                if (!old_bytes) {
                    return std::string();
                }
                return folder::UnifiedDiff(folder::ReadableText(change.encoding, *old_bytes),
                                           folder::ReadableText(change.encoding, new_bytes),
                                           folder::TextToUtf8(change.path));
            });
        }
        folder::FileServices& files =
            options.diff ? static_cast<folder::FileServices&>(capture) : chosen;
        run::RunControl control(view, files);
        if (!options.dry_run) {
            control.SetJournal(&journal);
        }
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
            WriteRunJson(out, options, control, view.Changes(), view.Failures(), stopped);
        }
        out.flush();
        return stopped ? kExitStopped : kExitDone;
    } catch (const std::exception& e) {
        err << "popuran-cli: " << e.what() << '\n';
        return kExitFailure;
    }
}

}  // namespace popuran::cli
