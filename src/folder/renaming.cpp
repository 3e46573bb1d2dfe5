#include "folder/renaming.h"

#include <cerrno>
#include <exception>
#include <new>
#include <string>

#include "filetype/extension_by_content.h"
#include "folder/progress_marker.h"
#include "folder/report_failure.h"
#include "folder/services/path_helpers.h"
#include "folder/services/text_search.h"

namespace popuran::folder {

namespace {

// True when the last suffix.size() characters of text equal suffix, upper-cased on both sides.
// A suffix longer than the text never matches.
bool EndsWithIgnoringCase(std::u16string_view text, std::u16string_view suffix) {
    if (suffix.size() > text.size()) {
        return false;
    }
    return ToUpper(text.substr(text.size() - suffix.size())) == ToUpper(suffix);
}

// The path up to and including the last '.' of its file name; a name without a dot gets one,
// so that a dot in a folder name is never taken for the file's.
std::u16string StemOf(std::u16string_view path) {
    if (FileNameOf(path).find(u'.') != std::u16string::npos) {
        return BaseNameOf(path);
    }
    return std::u16string(path) + u".";
}

// Counts the file as changed, then renames it; the count is taken back when the rename fails,
// so that only renames that took effect are counted.
void CountedRename(Work& work, std::u16string_view path, const std::u16string& new_path) {
    // A file that would keep its very name is not renamed and does not count.
    if (new_path == path) {
        return;
    }
    work.state.ChangedFileCount += 1;
    Result<void> renamed;
    try {
        renamed = work.files.Rename(path, new_path);
    } catch (const std::bad_alloc&) {
        renamed = Fail(ENOMEM, NativePath(path));
    } catch (const std::exception&) {
        renamed = Fail(EIO, NativePath(path));
    }
    if (!renamed) {
        work.state.ChangedFileCount -= 1;
        ReportFailure(work, path, renamed.error());
        return;
    }
    work.view.ReportChange(run::Change{std::u16string(path), new_path, 0, {}});
}

void ShowStep(Work& work, std::int32_t& handled) {
    handled += 1;
    work.view.SetCaption(run::Caption::LblStat, ProgressMarker(handled));
    work.view.Yield();
}

bool SelectedBySearchText(std::u16string_view search_text, std::u16string_view path) {
    if (search_text.find(u'*') != std::u16string_view::npos) {
        return true;
    }
    const std::u16string wanted = TrimBlanks(search_text);
    return wanted.empty() || EndsWithIgnoringCase(path, wanted);
}

// Renames the file after its contents, unless they are not recognised or the name already ends
// in the extension they call for.
void RenameByContent(Work& work, std::u16string_view path) {
    const Result<std::u16string> ext = filetype::ExtensionByContent(work.files, path, &work.types);
    if (!ext) {
        // ERANGE: the file is too short to tell, which is no fault of the system.
        if (ext.error().code.value() != ERANGE) {
            ReportFailure(work, path, ext.error());
        }
        return;
    }
    if (ext->empty() || EndsWithIgnoringCase(path, *ext)) {
        return;
    }
    CountedRename(work, path, StemOf(path) + *ext);
}

void ReplaceExtensionSteps(Work& work, std::u16string_view path, std::int32_t& handled) {
    if (!SelectedBySearchText(work.state.SearchText, path)) {
        return;
    }
    const std::u16string replacement = TrimBlanks(work.state.ReplaceText);
    if (replacement == u"*") {
        RenameByContent(work, path);
    } else if (ToUpper(ExtensionOf(path)) != ToUpper(work.state.ReplaceText)) {
        // The untrimmed text decides whether the file already carries the extension; the
        // trimmed one is what the file gets.
        CountedRename(work, path, StemOf(path) + replacement);
    }
    ShowStep(work, handled);
}

void ConvertNameCaseSteps(Work& work, std::u16string_view path, std::int32_t& handled) {
    const std::u16string name = FileNameOf(path);
    const std::u16string new_name =
        work.state.CurrentMode == run::kModeUpper ? ToUpper(name) : ToLower(name);
    if (new_name == name) {
        return;
    }
    CountedRename(work, path, FolderOf(path) + new_name);
    ShowStep(work, handled);
}

}  // namespace

void ReplaceExtension(Work& work, std::u16string_view path, std::int32_t& handled) {
    // A failure inside one file's step (memory for a huge name, say) skips the step only.
    try {
        ReplaceExtensionSteps(work, path, handled);
    } catch (const std::exception&) {
        return;
    }
}

void ConvertNameCase(Work& work, std::u16string_view path, std::int32_t& handled) {
    try {
        ConvertNameCaseSteps(work, path, handled);
    } catch (const std::exception&) {
        return;
    }
}

}  // namespace popuran::folder
