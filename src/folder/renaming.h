// ReplaceExtension and ConvertNameCase: modes 1 to 3, renaming in place.
#pragma once

#include <cstdint>
#include <string_view>

#include "folder/work.h"

namespace popuran::folder {

// Mode 1: gives the file the extension state.ReplaceText (or, for "*", the one its contents
// call for) when its path ends in state.SearchText. `handled` is the ProcessFolder call's
// handled-file counter. Yields.
void ReplaceExtension(Work& work, std::u16string_view path, std::int32_t& handled);

// Modes 2 and 3: renames the file to its name in lower (2) or upper (3) case. Yields.
void ConvertNameCase(Work& work, std::u16string_view path, std::int32_t& handled);

}  // namespace popuran::folder
