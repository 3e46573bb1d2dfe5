// RunControl: the Start/Stop button, the run from end to end, and its summary.
#pragma once

#include <cstdint>
#include <string>

#include "folder/services/file_services.h"
#include "folder/services/journal.h"
#include "run/state/run_state.h"
#include "run/state/run_view.h"

namespace popuran::run {

// Owns the run state of one window. The window sets State().CurrentMode (only while idle).
class RunControl {
public:
    RunControl(RunView& view, folder::FileServices& files) : view_(view), files_(files) {}

    // Every real run is recorded in this journal (not owned), so that it can be undone; the
    // services handed to the constructor must be the journal's JournallingFileServices.
    void SetJournal(folder::JournalWriter* journal) { journal_ = journal; }

    RunState& State() { return state_; }
    const RunState& State() const { return state_; }

    // The Start/Stop button: Start when its caption is exactly "開始", else a stop request.
    // A Start runs the whole batch before it returns. Yields.
    void CmdRpl_Click();
    // Sets StopRequested.
    void RequestStop();
    // The window is closing during a run: stop at the next safe point and skip the summary.
    void Abandon();
    bool Abandoned() const { return abandoned_; }

    enum class Outcome { None, Refused, Completed, Stopped };
    // How the last click that asked for a Start ended, and the files it searched in all.
    Outcome LastOutcome() const { return outcome_; }
    std::int32_t Total() const { return total_; }

private:
    void Start();
    // The search folder as the run uses it: box 3 without trailing blanks, ending in '/'.
    std::u16string SearchFolder() const;
    // Refuses (message, focus on box 3) a search folder that does not exist or is no folder.
    bool SearchFolderFound();

    RunView& view_;
    folder::FileServices& files_;
    folder::JournalWriter* journal_ = nullptr;
    RunState state_;
    bool abandoned_ = false;
    Outcome outcome_ = Outcome::None;
    std::int32_t total_ = 0;
};

}  // namespace popuran::run
