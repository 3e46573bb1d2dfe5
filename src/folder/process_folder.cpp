#include "folder/process_folder.h"

#include <exception>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "folder/list_ahead.h"
#include "folder/renaming.h"
#include "folder/replace_ahead.h"
#include "folder/replace_engine.h"
#include "folder/replace_in_file.h"
#include "folder/services/path_helpers.h"
#include "folder/services/utf8.h"

namespace popuran::folder {

namespace {

// A folder that cannot be listed is reported once per run, however often it is asked for.
void ReportUnlisted(Work& work, std::u16string_view pattern_path, const Failure& failure) {
    if (work.unlisted.insert(FolderOf(pattern_path)).second) {
        work.view.ShowMessage(Utf8ToText(failure.Describe()));
    }
}

}  // namespace

std::int32_t CollectFiles(Work& work, std::u16string_view pattern_path, std::uint32_t attribute,
                          std::vector<std::int64_t>* lengths) {
    auto& state = work.state;
    const std::u16string folder = FolderOf(pattern_path);
    auto entries = work.listings != nullptr ? work.listings->Take(pattern_path)
                                            : work.files.List(pattern_path);
    if (!entries) {
        ReportUnlisted(work, pattern_path, entries.error());
        return 0;
    }
    std::int32_t count = 0;
    if (lengths != nullptr) {
        lengths->clear();
    }
    for (const auto& entry : *entries) {
        if (entry.attributes != attribute) {
            continue;
        }
        if (state.CurrentMode == run::kModeReplace && EndsInBak(entry.name)) {
            continue;
        }
        const auto slot = static_cast<std::size_t>(count);
        if (state.FileList.size() <= slot) {
            state.FileList.resize(slot + 1);
        }
        state.FileList[slot] = folder + entry.name;
        if (lengths != nullptr) {
            lengths->push_back(entry.length);
        }
        ++count;
    }
    return count;
}

std::int32_t CountFiles(Work& work, const std::vector<std::u16string>& pattern_paths) {
    bool (*leave_out)(std::u16string_view) = nullptr;
    if (work.state.CurrentMode == run::kModeReplace) {
        leave_out = EndsInBak;
    }
    std::vector<Result<std::int32_t>> counts(pattern_paths.size(), 0);
    // The folders listed ahead are counted from their listings. The others are split in two
    // runs of neighbouring folders, one for each thread: handing them out one at a time to
    // whichever thread was free made the early stops a fifth slower.
    std::vector<std::size_t> unlisted;
    for (std::size_t i = 0; i < pattern_paths.size(); ++i) {
        const auto* held =
            work.listings != nullptr ? work.listings->Held(pattern_paths[i]) : nullptr;
        if (held != nullptr) {
            counts[i] = CountEntries(*held, kAttrArchive, leave_out);
        } else {
            unlisted.push_back(i);
        }
    }
    auto count = [&](std::size_t begin, std::size_t end) {
        for (std::size_t k = begin; k < end; ++k) {
            const std::size_t i = unlisted[k];
            try {
                counts[i] = work.files.Count(pattern_paths[i], kAttrArchive, leave_out);
            } catch (const std::exception&) {
                counts[i] = Fail(ENOMEM, NativePath(pattern_paths[i]));
            }
        }
    };
    const std::size_t half = unlisted.size() / 2;
    std::thread other;
    if (half > 0 && work.files.ConcurrentReads() && SeveralCores()) {
        try {
            other = std::thread(count, half, unlisted.size());
        } catch (const std::system_error&) {
        }
    }
    count(0, other.joinable() ? half : unlisted.size());
    if (other.joinable()) {
        other.join();
    }
    std::int32_t total = 0;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        if (counts[i]) {
            total += *counts[i];
        } else {
            ReportUnlisted(work, pattern_paths[i], counts[i].error());
        }
    }
    return total;
}

void ProcessFolder(Work& work, std::u16string_view pattern_path) {
    auto& state = work.state;
    // Every mode takes the length from the listing, where the services give it. In mode 0 the
    // look-ahead compares it with the length it read: a file that changed its length between
    // the two is read again, and one that changes after both is as a change after the run.
    std::vector<std::int64_t> listed_lengths;
    state.FileCount = CollectFiles(work, pattern_path, kAttrArchive, &listed_lengths);
    std::int32_t handled = 0;
    // In mode 0 the other core reads and searches the next files meanwhile; it stops and is
    // waited for whenever this call returns.
    std::optional<ReplaceAhead> own_ahead;
    ReplaceAhead* ahead = nullptr;
    if (state.CurrentMode == run::kModeReplace) {
        const auto begin = state.FileList.begin();
        if (work.ahead != nullptr) {
            ahead = work.ahead;
            ahead->EnterFolder(pattern_path,
                               std::vector<std::u16string>(begin, begin + state.FileCount));
        } else if (state.FileCount > 1 && SeveralCores()) {
            ahead = &own_ahead.emplace(work.files, CandidatePatterns(state),
                                       std::vector<std::u16string>(begin, begin + state.FileCount));
        }
    }
    for (std::int32_t i = 0; i < state.FileCount; ++i) {
        if (state.StopRequested != 0) {
            return;
        }
        // A copy: the list may not be touched again, but the path must outlive the step.
        const std::u16string path = state.FileList[static_cast<std::size_t>(i)];
        work.view.SetCaption(run::Caption::LblPath, path);
        work.view.Yield();
        const auto listed = listed_lengths[static_cast<std::size_t>(i)];
        const auto length = listed >= 0 ? Result<std::int64_t>(listed) : work.files.Length(path);
        if (length && *length > 0) {
            switch (state.CurrentMode) {
                case run::kModeReplace:
                    // A file that was read to its end without a match would be left as it is.
                    if (ahead && ahead->HoldsNoMatch(static_cast<std::size_t>(i), *length)) {
                        break;
                    }
                    if (ReplaceInFile(work, path)) {
                        return;
                    }
                    break;
                case run::kModeExtension:
                    ReplaceExtension(work, path, handled);
                    break;
                default:
                    ConvertNameCase(work, path, handled);
                    break;
            }
        }
        if (state.StopRequested != 0) {
            return;
        }
    }
}

}  // namespace popuran::folder
