#include "run/collect_subfolders.h"

#include <cstdint>
#include <string>
#include <vector>

#include "folder/services/path_helpers.h"
#include "folder/services/utf8.h"

namespace popuran::run {

namespace {

// Lists one folder and appends the block of its accepted subfolders; false when the listing
// failed (reported, nothing appended).
bool AppendBlock(folder::Work& work, const std::u16string& folder_path) {
    const std::u16string parent = folder::FolderOf(folder_path);
    auto entries = work.files.ListFolders(parent);
    if (!entries) {
        if (work.unlisted.insert(parent).second) {
            work.view.ShowMessage(folder::Utf8ToText(entries.error().Describe()));
        }
        return false;
    }
    auto& state = work.state;
    for (const auto& entry : *entries) {
        if (entry.attributes != folder::kAttrDirectory) {
            continue;
        }
        const auto slot = static_cast<std::size_t>(state.FolderCount);
        if (state.FolderList.size() <= slot) {
            state.FolderList.resize(slot + 1);
        }
        state.FolderList[slot] = parent + entry.name;
        ++state.FolderCount;
    }
    return true;
}

}  // namespace

void CollectSubfolders(folder::Work& work, std::u16string_view folder,
                       const std::function<void(std::int32_t first, std::int32_t end)>& on_block) {
    // The recursion of the natural form is kept on an explicit stack so that a very deep tree
    // cannot overflow the call stack: each frame is one folder's block and the next child in it.
    struct Frame {
        std::int32_t begin;
        std::int32_t end;
        std::int32_t next;
    };
    auto& state = work.state;
    std::vector<Frame> stack;
    auto append = [&](const std::u16string& folder_path) {
        const std::int32_t first = state.FolderCount;
        if (!AppendBlock(work, folder_path)) {
            return;
        }
        stack.push_back({first, state.FolderCount, first});
        if (on_block && state.FolderCount > first) {
            on_block(first, state.FolderCount);
        }
    };
    append(std::u16string(folder));
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next == top.end) {
            stack.pop_back();
            continue;
        }
        const std::u16string child = state.FolderList[static_cast<std::size_t>(top.next)] + u"/";
        ++top.next;
        append(child);
    }
}

}  // namespace popuran::run
