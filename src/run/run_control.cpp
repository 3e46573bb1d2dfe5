#include "run/run_control.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "folder/list_ahead.h"
#include "folder/process_folder.h"
#include "folder/replace_ahead.h"
#include "folder/replace_in_file.h"
#include "folder/services/path_helpers.h"
#include "folder/services/text_search.h"
#include "folder/services/utf8.h"
#include "folder/work.h"
#include "run/collect_subfolders.h"
#include "run/validate_inputs.h"

namespace popuran::run {

namespace {

// In mode 1 the pattern is made to carry the search extension: "*.htm" with "html" gives
// "*.html", "*" with "txt" gives "*.txt".
std::u16string PatternWithExtension(const std::u16string& pattern,
                                    const std::u16string& extension) {
    if (pattern.find(u'.') != std::u16string::npos) {
        return folder::BaseNameOf(pattern) + extension;
    }
    return pattern + u"." + extension;
}

constexpr char16_t kFolderNotFound[] = u"検索する場所が見つかりません。";

std::u16string Summary(RunMode mode, std::int32_t total, const RunState& state,
                       std::size_t failed) {
    auto number = [](std::int32_t n) { return folder::Utf8ToText(std::to_string(n)); };
    std::u16string text = u"検索したファイルの数 = " + number(total) + u"\r";
    if (mode == kModeReplace) {
        text += u"置換したファイルの数 = " + number(state.ChangedFileCount) + u"\r";
        text += u"置換した文字列の数 = " + number(state.ReplacedStringCount);
        if (state.EncodingSkippedCount != 0) {
            text += u"\r文字コードが原因で置換できなかったファイルの数 = " +
                    number(state.EncodingSkippedCount);
        }
    } else if (mode == kModeExtension) {
        text += u"置換したファイルの数 = " + number(state.ChangedFileCount);
    } else {
        text += u"変換したファイルの数 = " + number(state.ChangedFileCount);
    }
    // Files that could not be changed are said so, or a user reads "0 changed" as "nothing to
    // do"; the list itself is the front end's to show.
    if (failed != 0) {
        text += u"\r処理できなかったファイルの数 = " +
                number(static_cast<std::int32_t>(std::min<std::size_t>(failed, INT32_MAX)));
    }
    return text;
}

}  // namespace

void RunControl::CmdRpl_Click() {
    if (view_.CaptionText(Caption::CmdRpl) == kStartCaption) {
        Start();
        return;
    }
    // A click during a run: the button goes grey so that no further click arrives, and the run
    // notices the request at its next poll.
    view_.EnableStartButton(false);
    RequestStop();
}

void RunControl::RequestStop() { state_.StopRequested = 1; }

void RunControl::Abandon() {
    abandoned_ = true;
    RequestStop();
}

std::u16string RunControl::SearchFolder() const {
    std::u16string folder_path = folder::TrimTrailingBlanks(view_.BoxText(kFolderBox));
    if (folder_path.empty() || folder_path.back() != folder::kSeparator) {
        folder_path += folder::kSeparator;
    }
    return folder_path;
}

bool RunControl::SearchFolderFound() {
    // A folder that cannot even be looked at is left to the listing, which says why.
    const auto found = files_.IsFolder(SearchFolder());
    if (!found || *found) {
        return true;
    }
    view_.ShowMessage(kFolderNotFound);
    view_.FocusBox(kFolderBox);
    return false;
}

void RunControl::Start() {
    RunState& s = state_;
    const RunMode mode = s.CurrentMode;
    if (!ValidateInputs(view_, mode, s.Encoding) || !SearchFolderFound()) {
        outcome_ = Outcome::Refused;
        return;
    }
    if (mode == kModeExtension) {
        view_.SetBoxText(kPatternBox, PatternWithExtension(view_.BoxText(kPatternBox),
                                                           view_.BoxText(kSearchBox)));
    }
    s.CaseSensitive = view_.Checked(CheckBox::ChkBin) ? 1 : 0;
    s.SearchText = view_.BoxText(kSearchBox);
    s.ReplaceText = view_.BoxText(kReplaceBox);

    view_.SetCaption(Caption::LblStat, u"");
    view_.SetCaption(Caption::CmdRpl, kStopCaption);
    view_.SetCaption(Caption::Window, view_.CaptionText(Caption::Window) + u"\u3000[実行中]");

    s.FileCount = 0;
    s.ChangedFileCount = 0;
    s.ReplacedStringCount = 0;
    s.EncodingSkippedCount = 0;
    s.StopRequested = 0;
    s.ProgressTicks = 0;
    abandoned_ = false;
    view_.ClearFailures();
    view_.RecordHistory();

    const std::u16string folder_path = SearchFolder();
    std::u16string pattern = folder::TrimTrailingBlanks(view_.BoxText(kPatternBox));
    if (!pattern.empty() && pattern.front() == u'.') {
        pattern.erase(0, 1);
    }

    if (journal_ != nullptr) {
        folder::JournalHeader header;
        header.mode = mode;
        header.folder = view_.BoxText(kFolderBox);
        header.pattern = view_.BoxText(kPatternBox);
        header.search = s.SearchText;
        header.replace = s.ReplaceText;
        header.subfolders = view_.Checked(CheckBox::ChkSub);
        header.case_sensitive = s.CaseSensitive != 0;
        journal_->BeginRun(std::move(header));
    }

    folder::Work work{s, view_, files_};
    folder::ProcessFolder(work, folder_path + pattern);
    std::int32_t total = s.FileCount;

    // The subfolder box is read only now, after the top folder, so that a click on it while the
    // top folder is worked on still counts for this run.
    if (view_.Checked(CheckBox::ChkSub)) {
        s.FolderCount = 0;
        // In mode 0 the other cores read and search the files of the folders to come, from the
        // first block of folders on, while this thread still lists the rest of the tree.
        std::optional<folder::ReplaceAhead> ahead;
        if (mode == kModeReplace && folder::SeveralCores()) {
            ahead.emplace(files_, folder::CandidatePatterns(s),
                          folder::ReplaceAhead::Folders{{}, /*more_to_come=*/true});
        }
        // The pattern paths of FolderList[first, end).
        const auto pattern_paths = [&](std::int32_t first, std::int32_t end) {
            std::vector<std::u16string> paths;
            for (std::int32_t i = first; i < end; ++i) {
                paths.push_back(s.FolderList[static_cast<std::size_t>(i)] + u"/" + pattern);
            }
            return paths;
        };
        CollectSubfolders(work, folder_path, [&](std::int32_t first, std::int32_t end) {
            if (ahead) {
                ahead->AddFolders(pattern_paths(first, end));
            }
        });
        if (ahead) {
            ahead->NoMoreFolders();
            work.ahead = &*ahead;
        }
        const std::int32_t count = s.FolderCount;
        // In the renaming modes the other core lists the folders to come meanwhile.
        std::optional<folder::ListAhead> listings;
        if (mode != kModeReplace) {
            work.listings = &listings.emplace(files_, pattern_paths(0, count));
        }
        for (std::int32_t i = 0; i < count; ++i) {
            if (s.StopRequested != 0) {
                // The folders left are only counted, as the summary counts them; those listed
                // ahead already are counted from their listings.
                if (listings) {
                    listings->Stop();
                }
                total += folder::CountFiles(work, pattern_paths(i, count));
                break;
            }
            const std::u16string sub = s.FolderList[static_cast<std::size_t>(i)] + u"/";
            folder::ProcessFolder(work, sub + pattern);
            total += s.FileCount;
        }
        work.listings = nullptr;
    }
    total_ = total;
    if (journal_ != nullptr) {
        journal_->EndRun();
        if (const auto& failure = journal_->WriteFailure(); failure && !abandoned_) {
            view_.ShowMessage(
                u"元に戻すための記録を書けなかったため、この実行は元に戻せません。\r" +
                folder::Utf8ToText(failure->Describe()));
        }
    }
    outcome_ = s.StopRequested != 0 ? Outcome::Stopped : Outcome::Completed;

    view_.SetCaption(Caption::LblPath, u"");
    view_.SetCaption(Caption::Window, ModeNames[mode]);
    if (!abandoned_) {
        view_.ShowSummary(Summary(mode, total, s, view_.Failures().size()));
    }
    view_.SetCaption(Caption::LblStat, kAboutCaption);
    view_.SetCaption(Caption::CmdRpl, kStartCaption);
    view_.EnableStartButton(true);
}

}  // namespace popuran::run
