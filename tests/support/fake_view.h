// FakeView: a RunView that records what a run does to its window.
#pragma once

#include <array>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "folder/services/file_services.h"
#include "folder/services/journal.h"
#include "run/state/run_state.h"
#include "run/state/run_view.h"

namespace popuran::testing {

class FakeView : public run::RunView {
public:
    FakeView();

    std::u16string BoxText(int box) const override { return boxes.at(static_cast<size_t>(box)); }
    void SetBoxText(int box, std::u16string_view text) override {
        boxes.at(static_cast<size_t>(box)) = std::u16string(text);
    }
    bool Checked(run::CheckBox which) const override {
        return which == run::CheckBox::ChkSub ? chk_sub : chk_bin;
    }
    std::u16string CaptionText(run::Caption which) const override;
    void SetCaption(run::Caption which, std::u16string_view text) override;
    void EnableStartButton(bool enabled) override { start_enabled = enabled; }
    void ShowMessage(std::u16string_view text) override;
    void FocusBox(int) override {}
    void RecordHistory() override { ++history_calls; }
    void ReportChange(const run::Change& change) override { changes.push_back(change); }

    // Runs `action` at the nth real yield (1-based) and at no other.
    void AtYield(int nth, std::function<void()> action) { at_yield_[nth] = std::move(action); }
    // Runs `action` at every real yield.
    void OnEveryYield(std::function<void()> action) { every_yield_ = std::move(action); }

    std::array<std::u16string, 4> boxes;
    bool chk_sub = false;
    bool chk_bin = true;
    std::map<run::Caption, std::u16string> captions;
    // Every caption set, in order, as "Window=...", "CmdRpl=...", "LblPath=...", "LblStat=...",
    // with "Message=..." for every message shown, in the same order.
    std::vector<std::u16string> caption_log;
    bool start_enabled = true;
    std::vector<std::u16string> messages;
    int history_calls = 0;
    std::vector<run::Change> changes;
    int yields = 0;

protected:
    void YieldToEvents() override;

private:
    std::map<int, std::function<void()>> at_yield_;
    std::function<void()> every_yield_;
};

// What a whole run started from a FakeView's Start button left behind.
struct WindowRun {
    run::RunState state;
    std::vector<std::u16string> messages;
    std::vector<run::FailedFile> failures;
    std::vector<run::Change> changes;
};

// The window's choices besides the mode and the boxes; the journal, if any, records the run.
struct RunOptions {
    bool subfolders = false;
    bool case_sensitive = true;
    run::EncodingChoice encoding = run::kEncodingAuto;
    folder::JournalWriter* journal = nullptr;
};

// The whole-run helper of the tests: mode and the four boxes (search, replacement, pattern,
// folder) set as a user would, then Start clicked once.
WindowRun RunFromWindow(folder::FileServices& files, run::RunMode mode,
                        const std::array<std::u16string, 4>& boxes, const RunOptions& options = {});

// Text helpers for assertions: UTF-16 <-> UTF-8 for readable failure output.
std::string U8(std::u16string_view text);
std::u16string U16(std::string_view utf8);

}  // namespace popuran::testing
