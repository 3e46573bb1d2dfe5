// ReportFailure: how a file that could not be changed is made known.
#pragma once

#include <string_view>

#include "folder/services/failure.h"
#include "folder/work.h"

namespace popuran::folder {

// Tells the view that the run meant to change the file at `path` and could not, with the
// system's reason (and the other path concerned, such as the backup or the new name, when the
// failure was there). A file that is no longer there is not reported: there is nothing left to
// change.
void ReportFailure(Work& work, std::u16string_view path, const Failure& failure);

}  // namespace popuran::folder
