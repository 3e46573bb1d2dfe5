// UndoRun: puts back the changes of one journalled run, never over anything changed since.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "folder/services/failure.h"
#include "folder/services/file_services.h"
#include "folder/services/journal.h"

namespace popuran::run {

// A change that was left as it stands, and why.
struct UndoLeft {
    std::u16string path;
    std::u16string reason;
};

struct UndoResult {
    folder::JournalHeader run;   // the run that was undone
    std::int32_t restored = 0;   // files given back their contents or their old names
    std::vector<UndoLeft> left;  // changes left as they stand
};

// Undoes run `id` of the journals in `folder` (the newest run when id is empty), newest change
// first. A rewritten file gets its backup's contents back only while it still holds exactly what
// the run wrote and the backup still holds exactly what it replaced; a renamed file gets its old
// name back only while the new name still holds it and the old name is free. Everything else is
// left and listed. Undone changes are marked in the journal, so a second undo, or one after a
// kill, does nothing more than what is left. Fails only when the journal cannot be read.
folder::Result<UndoResult> UndoRun(folder::FileServices& files, const std::string& folder,
                                   std::string id);

// The summary of an undo, lines separated by '\r' as in the run's summary.
std::u16string UndoSummary(const UndoResult& result);

}  // namespace popuran::run
