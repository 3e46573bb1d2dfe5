// TerminalView: the run's window, as a terminal sees it.
#pragma once

#include <chrono>
#include <csignal>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "run/run_control.h"
#include "run/state/run_view.h"

namespace popuran::cli {

// Boxes and check boxes come from the command line; messages go to the error stream, the summary
// and the change lines to the output stream (or into the JSON object). An interrupt counted in
// `interrupts` acts as a click on Stop at the next yield.
class TerminalView final : public run::RunView {
public:
    TerminalView(const Options& options, std::ostream& out, std::ostream& err, bool progress,
                 const volatile std::sig_atomic_t* interrupts);

    void Attach(run::RunControl* control) { control_ = control; }
    // With --diff: gives the unified diff of a change of mode 0, printed after its line.
    void SetDiff(std::function<std::string(const run::Change&)> diff) { diff_ = std::move(diff); }

    std::u16string BoxText(int box) const override;
    void SetBoxText(int box, std::u16string_view text) override;
    bool Checked(run::CheckBox which) const override;
    std::u16string CaptionText(run::Caption which) const override;
    void SetCaption(run::Caption which, std::u16string_view text) override;
    void EnableStartButton(bool) override {}
    void ShowMessage(std::u16string_view text) override;
    void ShowSummary(std::u16string_view text) override;
    void FocusBox(int) override {}
    void RecordHistory() override {}
    void ReportChange(const run::Change& change) override;

    // The changes reported so far; kept only for --json.
    const std::vector<run::Change>& Changes() const { return changes_; }
    std::int32_t FilesDone() const { return files_done_; }

protected:
    void YieldToEvents() override;
    // "PATH: reason" on the error stream, one line per file.
    void FileFailed(const run::FailedFile& failure) override;

private:
    void ClearProgress();

    const Options& options_;
    std::ostream& out_;
    std::ostream& err_;
    bool progress_;
    const volatile std::sig_atomic_t* interrupts_;
    run::RunControl* control_ = nullptr;
    std::function<std::string(const run::Change&)> diff_;
    std::u16string captions_[4];
    std::array<std::u16string, run::kBoxCount> boxes_;
    std::vector<run::Change> changes_;
    std::int32_t files_done_ = 0;
    bool progress_shown_ = false;
    std::chrono::steady_clock::time_point last_progress_{};
};

// A message as terminal lines: the window separates lines by carriage returns, a terminal by
// line feeds.
std::string TerminalLines(std::u16string_view text);

}  // namespace popuran::cli
