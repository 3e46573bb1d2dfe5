#include "run/undo.h"

#include <cerrno>
#include <optional>
#include <string>
#include <utility>

#include "folder/services/utf8.h"

namespace popuran::run {

namespace {

using folder::JournalChange;

bool Exists(folder::FileServices& files, std::u16string_view path) {
    return files.Attributes(path).has_value();
}

std::u16string Reason(const folder::Failure& failure) {
    return folder::Utf8ToText(failure.Describe());
}

// Streams the backup into the file's place, hashing it on the way: the new contents are put in
// place only when the backup still holds exactly what the run replaced.
std::optional<std::u16string> Restore(folder::FileServices& files, const JournalChange& c) {
    auto input = files.OpenInput(c.other);
    if (!input) {
        return u"バックアップを読めません: " + Reason(input.error());
    }
    auto output = files.BeginReplace(c.path);
    if (!output) {
        return Reason(output.error());
    }
    folder::ContentHash hash;
    std::string buffer(1 << 16, '\0');
    for (;;) {
        auto n = (*input)->Read(buffer.data(), buffer.size());
        if (!n) {
            return u"バックアップを読めません: " + Reason(n.error());
        }
        if (*n == 0) {
            break;
        }
        const std::string_view bytes(buffer.data(), *n);
        hash.Update(bytes);
        if (auto written = (*output)->Write(bytes); !written) {
            return Reason(written.error());
        }
    }
    if (hash.Hex() != c.old_hash) {
        return u"バックアップが実行後に変更されています";
    }
    if (auto committed = (*output)->Commit(); !committed) {
        return Reason(committed.error());
    }
    return std::nullopt;
}

enum class Step { kRestored, kNothingToDo, kLeft };

Step UndoRewrite(folder::FileServices& files, const JournalChange& c, std::u16string& reason) {
    if (!Exists(files, c.path)) {
        reason = u"ファイルがありません";
        return Step::kLeft;
    }
    auto now = folder::HashFile(files, c.path);
    if (!now) {
        reason = Reason(now.error());
        return Step::kLeft;
    }
    // The old contents are there already: the rewrite never happened (a kill before it) or an
    // earlier undo put them back.
    if (*now == c.old_hash) {
        return Step::kNothingToDo;
    }
    if (*now != c.new_hash) {
        reason = u"実行後に変更されています";
        return Step::kLeft;
    }
    if (auto failed = Restore(files, c)) {
        reason = *failed;
        return Step::kLeft;
    }
    return Step::kRestored;
}

bool Holds(folder::FileServices& files, std::u16string_view path, const JournalChange& c) {
    auto identity = files.Identity(path);
    if (identity) {
        return c.identity == folder::FileIdentity{} || *identity == c.identity;
    }
    // Services that cannot tell files apart: whatever stands there is taken for the file.
    return identity.error().code == std::errc::not_supported && Exists(files, path);
}

Step UndoRename(folder::FileServices& files, const JournalChange& c, std::u16string& reason) {
    const bool at_new = Holds(files, c.other, c);
    // A case-only rename: both names are the same entry where the file system ignores case.
    if (!at_new && Holds(files, c.path, c)) {
        return Step::kNothingToDo;
    }
    if (!at_new) {
        reason = u"新しい名前のファイルがありません";
        return Step::kLeft;
    }
    if (auto renamed = files.Rename(c.other, c.path); !renamed) {
        reason = renamed.error().code == std::errc::file_exists ? u"元の名前が使われています"
                                                                : Reason(renamed.error());
        return Step::kLeft;
    }
    return Step::kRestored;
}

}  // namespace

folder::Result<UndoResult> UndoRun(folder::FileServices& files, const std::string& folder,
                                   std::string id) {
    if (id.empty()) {
        const auto ids = folder::JournalIds(folder);
        if (ids.empty()) {
            return folder::Fail(ENOENT, folder);
        }
        id = ids.front();
    }
    auto entry = folder::ReadJournal(folder, id);
    if (!entry) {
        return tl::unexpected(entry.error());
    }
    UndoResult result;
    result.run = entry->header;
    std::vector<std::int32_t> undone;
    for (auto c = entry->changes.rbegin(); c != entry->changes.rend(); ++c) {
        if (c->undone) {
            continue;
        }
        std::u16string reason;
        const Step step = c->kind == JournalChange::Kind::kRewrite ? UndoRewrite(files, *c, reason)
                                                                   : UndoRename(files, *c, reason);
        if (step == Step::kLeft) {
            result.left.push_back(
                {c->kind == JournalChange::Kind::kRewrite ? c->path : c->other, reason});
            continue;
        }
        if (step == Step::kRestored) {
            ++result.restored;
        }
        // Marked so that another undo does not count it again, a thousand at a time; losing
        // marks to a kill loses nothing, since every step looks at the files first.
        undone.push_back(c->seq);
        if (undone.size() >= 1000) {
            (void)folder::AppendUndone(folder, id, undone);
            undone.clear();
        }
    }
    (void)folder::AppendUndone(folder, id, undone);
    return result;
}

std::u16string UndoSummary(const UndoResult& result) {
    auto number = [](std::size_t n) { return folder::Utf8ToText(std::to_string(n)); };
    std::u16string text =
        u"元に戻したファイルの数 = " + number(static_cast<std::size_t>(result.restored));
    text += u"\r元に戻せなかったファイルの数 = " + number(result.left.size());
    return text;
}

}  // namespace popuran::run
