// CollectSubfolders: every folder below the search folder, in blocks, depth first.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "folder/work.h"

namespace popuran::run {

// Appends the folders below `folder` (ending in '/') to state.FolderList and FolderCount: the
// direct subfolders of each visited folder form one block, folders are visited depth first in
// listing order. Only plain folders are taken (not links, hidden or read-only ones). A folder
// that cannot be listed is reported with ShowMessage and contributes nothing; the rest of the
// tree is still collected. No depth limit. Does not yield. on_block, when given, hears of each
// block as it is appended: FolderList[first, end).
void CollectSubfolders(
    folder::Work& work, std::u16string_view folder,
    const std::function<void(std::int32_t first, std::int32_t end)>& on_block = {});

}  // namespace popuran::run
