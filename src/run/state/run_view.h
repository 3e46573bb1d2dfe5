// RunView: what a run needs of the window it runs in.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace popuran::run {

enum class Caption { Window, CmdRpl, LblPath, LblStat };

// The Start/Stop button reads kStartCaption while idle and kStopCaption during a run; this is
// the one sign of a run that every part tests. The status label reads kAboutCaption while idle.
inline constexpr char16_t kStartCaption[] = u"開始";
inline constexpr char16_t kStopCaption[] = u"中止";
inline constexpr char16_t kAboutCaption[] = u"バージョン情報";
enum class CheckBox { ChkSub, ChkBin };
// The four boxes Cbobox(0..3), by what they hold.
inline constexpr int kSearchBox = 0;   // the search text, or the search extension in mode 1
inline constexpr int kReplaceBox = 1;  // the replacement text or extension
inline constexpr int kPatternBox = 2;  // the file-name pattern
inline constexpr int kFolderBox = 3;   // the folder to search
inline constexpr int kBoxCount = 4;

// One change made (or, in a dry run, that would be made) to a file.
struct Change {
    std::u16string path;        // the file (mode 0) or its old path (modes 1 to 3)
    std::u16string new_path;    // modes 1 to 3: the new path; empty in mode 0
    std::int32_t replaced = 0;  // mode 0: replacements in the file
    std::string encoding;       // mode 0: the file's encoding ("cp932", "utf-8", ...)
};

// A file that the run meant to change and could not, with the system's reason.
struct FailedFile {
    std::u16string path;
    std::u16string reason;
};

// Implemented by the window (FrmMain), by the terminal front end and by the tests' FakeView.
// Boxes are Cbobox(0..3): search text, replacement text, file-name pattern, folder.
class RunView {
public:
    virtual ~RunView() = default;

    virtual std::u16string BoxText(int box) const = 0;
    virtual void SetBoxText(int box, std::u16string_view text) = 0;
    virtual bool Checked(CheckBox which) const = 0;
    virtual std::u16string CaptionText(Caption which) const = 0;
    virtual void SetCaption(Caption which, std::u16string_view text) = 0;
    virtual void EnableStartButton(bool enabled) = 0;
    // Modal; returns when the user has closed the message.
    virtual void ShowMessage(std::u16string_view text) = 0;
    // The closing summary of a run; a message box like any other unless a front end says
    // otherwise.
    virtual void ShowSummary(std::u16string_view text) { ShowMessage(text); }
    virtual void FocusBox(int box) = 0;
    // Adds the four box texts to their drop-down histories.
    virtual void RecordHistory() = 0;
    // Told of every change as it is made; the terminal front end lists them.
    virtual void ReportChange(const Change& change);

    // Records a file that the run meant to change and could not, and tells the front end.
    void ReportFailure(FailedFile failure);
    // The files recorded since the last ClearFailures (a Start clears them).
    const std::vector<FailedFile>& Failures() const { return failures_; }
    void ClearFailures() { failures_.clear(); }

    // Lets pending window events run (a Stop click among them). Calls that come less than
    // YieldInterval() after the previous real one return at once, so tight loops may call it
    // freely.
    void Yield();
    void SetYieldInterval(std::chrono::nanoseconds interval) { yield_interval_ = interval; }
    std::chrono::nanoseconds YieldInterval() const { return yield_interval_; }

protected:
    // Dispatches pending events; may run a Stop click before it returns.
    virtual void YieldToEvents() = 0;
    // Told of each failure as ReportFailure records it; the terminal front end prints it.
    virtual void FileFailed(const FailedFile&) {}

private:
    std::vector<FailedFile> failures_;
    std::chrono::nanoseconds yield_interval_ = std::chrono::milliseconds(10);
    std::chrono::steady_clock::time_point last_yield_{};
};

}  // namespace popuran::run
