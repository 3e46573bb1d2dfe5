// Path helpers: split a path at its last '.' or its last '/'.
#pragma once

#include <string>
#include <string_view>

namespace popuran::folder {

inline constexpr char16_t kSeparator = u'/';

// The text after the last '.', or empty when there is none. Looks at the whole text, folder
// names included.
std::u16string ExtensionOf(std::u16string_view s);
// The text up to and including the last '.', or empty when there is none.
std::u16string BaseNameOf(std::u16string_view s);
// The text up to and including the last '/', or empty when there is none.
std::u16string FolderOf(std::u16string_view s);
// The text after the last '/', or empty when there is none (a bare name gives empty).
std::u16string FileNameOf(std::u16string_view s);
// Whether the name ends in "BAK" in any letter case: backups are named name + ".BAK", and mode 0
// leaves every such name out so that a run never works on its own backups.
bool EndsInBak(std::u16string_view name);

}  // namespace popuran::folder
