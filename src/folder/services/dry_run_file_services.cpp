#include "folder/services/dry_run_file_services.h"

#include <cerrno>

#include "folder/services/path_helpers.h"

namespace popuran::folder {

namespace {

class DiscardingOutput final : public AtomicOutput {
public:
    Result<void> Write(std::string_view) override { return {}; }
    Result<void> Commit() override { return {}; }
};

}  // namespace

Result<std::u16string> DryRunFileServices::Resolve(std::u16string_view path) {
    const std::u16string key(path);
    if (const auto it = moved_in_.find(key); it != moved_in_.end()) {
        return it->second;
    }
    if (moved_out_.count(key) != 0) {
        return Fail(ENOENT, NativePath(path));
    }
    return key;
}

Result<std::vector<DirEntry>> DryRunFileServices::List(std::u16string_view pattern_path) {
    return real_.List(pattern_path);
}

Result<std::uint32_t> DryRunFileServices::Attributes(std::u16string_view path) {
    auto real = Resolve(path);
    if (!real) {
        return tl::unexpected(real.error());
    }
    return real_.Attributes(*real);
}

Result<std::int64_t> DryRunFileServices::Length(std::u16string_view path) {
    auto real = Resolve(path);
    if (!real) {
        return tl::unexpected(real.error());
    }
    return real_.Length(*real);
}

Result<std::string> DryRunFileServices::ReadHead(std::u16string_view path, std::size_t max_bytes) {
    auto real = Resolve(path);
    if (!real) {
        return tl::unexpected(real.error());
    }
    return real_.ReadHead(*real, max_bytes);
}

Result<std::string> DryRunFileServices::ReadAll(std::u16string_view path) {
    auto real = Resolve(path);
    if (!real) {
        return tl::unexpected(real.error());
    }
    return real_.ReadAll(*real);
}

Result<std::unique_ptr<InputFile>> DryRunFileServices::OpenInput(std::u16string_view path) {
    auto real = Resolve(path);
    if (!real) {
        return tl::unexpected(real.error());
    }
    return real_.OpenInput(*real);
}

Result<std::unique_ptr<AtomicOutput>> DryRunFileServices::BeginReplace(std::u16string_view path) {
    auto real = Resolve(path);
    if (!real) {
        return tl::unexpected(real.error());
    }
    auto attributes = real_.Attributes(*real);
    if (!attributes) {
        return tl::unexpected(attributes.error());
    }
    // The new contents would go to a temporary file beside it.
    if (auto creatable = real_.CheckCreate(*real); !creatable) {
        return tl::unexpected(creatable.error());
    }
    return std::unique_ptr<AtomicOutput>(std::make_unique<DiscardingOutput>());
}

Result<void> DryRunFileServices::CopyForBackup(std::u16string_view from, std::u16string_view to) {
    auto real = Resolve(from);
    if (!real) {
        return tl::unexpected(real.error());
    }
    if (auto creatable = real_.CheckCreate(to); !creatable) {
        return tl::unexpected(creatable.error());
    }
    // A folder at the backup's name cannot be replaced by a file.
    if (auto attributes = real_.Attributes(to); attributes && (*attributes & kAttrDirectory)) {
        return Fail(EISDIR, NativePath(to));
    }
    return {};
}

Result<void> DryRunFileServices::Rename(std::u16string_view old_path,
                                        std::u16string_view new_path) {
    const std::u16string name = FileNameOf(new_path);
    if (FolderOf(old_path) != FolderOf(new_path) || name.empty() || name == u"." || name == u"..") {
        return Fail(EINVAL, NativePath(old_path));
    }
    auto source = Resolve(old_path);
    if (!source) {
        return tl::unexpected(source.error());
    }
    if (old_path == new_path) {
        return {};
    }
    // The new name is taken when a file stands there now, unless that file is this one (a
    // case-only rename on a file system that ignores case).
    if (auto target = Resolve(new_path)) {
        if (auto attributes = real_.Attributes(*target)) {
            const bool same_file = *target == *source;
            if (!same_file) {
                return Fail(EEXIST, NativePath(new_path));
            }
        }
    }
    // Refused as the real rename would be: a name over the length limit, a folder that this
    // user may not write.
    if (auto creatable = real_.CheckCreate(new_path); !creatable) {
        return Fail(creatable.error().code.value(), NativePath(old_path));
    }
    moved_in_.erase(std::u16string(old_path));
    if (*source == old_path) {
        moved_out_.insert(std::u16string(old_path));
    }
    if (*source == new_path) {
        moved_out_.erase(std::u16string(new_path));  // back under its real name
    } else {
        moved_in_[std::u16string(new_path)] = *source;
    }
    return {};
}

}  // namespace popuran::folder
