// TerminalView: boxes from the command line, messages and changes on the terminal.
#include "cli/terminal_view.h"

#include <string>

#include "folder/services/utf8.h"

namespace popuran::cli {

namespace {

std::string Bytes(std::u16string_view text) { return folder::TextToUtf8(text); }

}  // namespace

std::string TerminalLines(std::u16string_view text) {
    std::string bytes = Bytes(text);
    for (auto& c : bytes) {
        if (c == '\r') {
            c = '\n';
        }
    }
    return bytes;
}

TerminalView::TerminalView(const Options& options, std::ostream& out, std::ostream& err,
                           bool progress, const volatile std::sig_atomic_t* interrupts)
    : options_(options),
      out_(out),
      err_(err),
      progress_(progress),
      interrupts_(interrupts),
      boxes_(options.boxes) {
    captions_[static_cast<int>(run::Caption::CmdRpl)] = run::kStartCaption;
    captions_[static_cast<int>(run::Caption::Window)] =
        std::u16string(run::kProgramTitle) + u" ： " + run::ModeNames[options.mode];
}

std::u16string TerminalView::BoxText(int box) const {
    return boxes_.at(static_cast<std::size_t>(box));
}

void TerminalView::SetBoxText(int box, std::u16string_view text) {
    boxes_.at(static_cast<std::size_t>(box)) = std::u16string(text);
}

bool TerminalView::Checked(run::CheckBox which) const {
    return which == run::CheckBox::ChkSub ? options_.subfolders : !options_.ignore_case;
}

std::u16string TerminalView::CaptionText(run::Caption which) const {
    return captions_[static_cast<int>(which)];
}

void TerminalView::SetCaption(run::Caption which, std::u16string_view text) {
    captions_[static_cast<int>(which)] = std::u16string(text);
    if (which != run::Caption::LblPath || text.empty()) {
        return;
    }
    ++files_done_;
    if (!progress_) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - last_progress_ < std::chrono::milliseconds(100)) {
        return;
    }
    last_progress_ = now;
    err_ << "\r\033[K" << files_done_ << ": " << Bytes(text) << std::flush;
    progress_shown_ = true;
}

void TerminalView::ClearProgress() {
    if (progress_shown_) {
        err_ << "\r\033[K" << std::flush;
        progress_shown_ = false;
    }
}

void TerminalView::ShowMessage(std::u16string_view text) {
    ClearProgress();
    err_ << TerminalLines(text) << '\n' << std::flush;
}

void TerminalView::ShowSummary(std::u16string_view text) {
    ClearProgress();
    if (!options_.json) {
        out_ << TerminalLines(text) << '\n' << std::flush;
    }
}

void TerminalView::ReportChange(const run::Change& change) {
    // Only the JSON report lists the changes at the end; kept otherwise, they would make a run
    // over a million files hold a million paths.
    if (options_.json) {
        changes_.push_back(change);
        return;
    }
    const bool listed = options_.verbose || options_.dry_run;
    const std::string diff = diff_ && change.new_path.empty() ? diff_(change) : std::string();
    if (!listed && diff.empty()) {
        return;
    }
    ClearProgress();
    // A name may hold a line end; with --null a record ends where no name can go on.
    const char end = options_.null ? '\0' : '\n';
    if (listed && change.new_path.empty()) {
        out_ << Bytes(change.path) << '\t' << change.replaced << end;
    } else if (listed) {
        out_ << Bytes(change.path) << '\t' << Bytes(change.new_path) << end;
    }
    out_ << diff;
    out_.flush();
}

void TerminalView::FileFailed(const run::FailedFile& failure) {
    ClearProgress();
    err_ << Bytes(failure.path) << ": " << Bytes(failure.reason) << '\n' << std::flush;
}

void TerminalView::YieldToEvents() {
    // The first interrupt is a click on Stop; the run stops at its next safe point.
    if (interrupts_ != nullptr && *interrupts_ > 0 && control_ != nullptr &&
        control_->State().StopRequested == 0 &&
        CaptionText(run::Caption::CmdRpl) != run::kStartCaption) {
        control_->CmdRpl_Click();
    }
}

}  // namespace popuran::cli
