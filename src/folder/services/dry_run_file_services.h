// DryRunFileServices: the file system as a run would leave it, without changing anything.
#pragma once

#include <map>
#include <set>
#include <string>

#include "folder/services/file_services.h"

namespace popuran::folder {

// Reads go to the real file system; writes, backups and renames are only remembered. Renames are
// kept in memory so that later questions (does this name exist? what is this file's length?)
// are answered as after a real run: a dry run then predicts the real one, also where an earlier
// rename takes or frees a name. Writes, backups and renames are refused where the real calls
// would be: names over the length limit, folders this user may not write. Listings are passed
// through: a run lists each folder before it renames anything in it.
class DryRunFileServices final : public FileServices {
public:
    explicit DryRunFileServices(FileServices& real) : real_(real) {}

    [[nodiscard]] Result<std::vector<DirEntry>> List(std::u16string_view pattern_path) override;
    [[nodiscard]] Result<std::vector<DirEntry>> ListFolders(std::u16string_view folder) override {
        return real_.ListFolders(folder);
    }
    [[nodiscard]] Result<bool> IsFolder(std::u16string_view path) override {
        return real_.IsFolder(path);
    }
    [[nodiscard]] Result<void> CheckCreate(std::u16string_view path) override {
        return real_.CheckCreate(path);
    }
    [[nodiscard]] Result<std::uint32_t> Attributes(std::u16string_view path) override;
    [[nodiscard]] Result<std::int64_t> Length(std::u16string_view path) override;
    [[nodiscard]] Result<std::string> ReadHead(std::u16string_view path,
                                               std::size_t max_bytes) override;
    [[nodiscard]] Result<std::string> ReadAll(std::u16string_view path) override;
    [[nodiscard]] Result<std::unique_ptr<InputFile>> OpenInput(std::u16string_view path) override;
    [[nodiscard]] Result<std::unique_ptr<AtomicOutput>> BeginReplace(
        std::u16string_view path) override;
    [[nodiscard]] Result<void> CopyForBackup(std::u16string_view from,
                                             std::u16string_view to) override;
    [[nodiscard]] Result<void> Rename(std::u16string_view old_path,
                                      std::u16string_view new_path) override;

private:
    // Where the file now called `path` really is, or nothing when no file has that name now.
    Result<std::u16string> Resolve(std::u16string_view path);

    FileServices& real_;
    std::map<std::u16string, std::u16string> moved_in_;  // new path -> real path
    std::set<std::u16string> moved_out_;                 // real paths renamed away
};

}  // namespace popuran::folder
