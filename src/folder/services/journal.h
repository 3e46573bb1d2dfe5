// Journal: an append-only record of each run's changes, kept so that a whole run can be undone.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "folder/services/failure.h"
#include "folder/services/file_services.h"

namespace popuran::folder {

// How many runs are kept; creating a new entry removes the oldest beyond this.
inline constexpr std::size_t kJournalsKept = 20;

// The folder that holds the journals, as native bytes: $XDG_STATE_HOME/popuran, else
// $HOME/.local/state/popuran; empty when neither variable is set.
std::string JournalFolder();

// What the run was asked to do; written once at the head of its entry.
struct JournalHeader {
    std::string id;          // the entry's file name without ".journal"; set when created
    std::int64_t start = 0;  // seconds since the epoch
    int mode = 0;
    std::u16string folder;
    std::u16string pattern;
    std::u16string search;
    std::u16string replace;
    bool subfolders = false;
    bool case_sensitive = false;
};

// One change of a run: recorded before it is made, confirmed after.
struct JournalChange {
    enum class Kind { kRewrite, kRename };
    Kind kind = Kind::kRewrite;
    std::int32_t seq = 0;
    std::u16string path;   // the rewritten file, or the old path of a rename
    std::u16string other;  // the backup, or the new path of a rename
    std::string old_hash;  // rewrite: hashes of the contents before and after, in hex
    std::string new_hash;
    FileIdentity identity;   // rename: the file that was renamed, where the system tells it
    bool confirmed = false;  // the change is known to have been made
    bool undone = false;     // an undo has put it back
};

struct JournalEntry {
    JournalHeader header;
    std::vector<JournalChange> changes;  // in the order they were made
    bool ended = false;                  // the run reached its end (was not killed)
    std::int32_t Confirmed() const;
};

// The contents hash kept in the journal (128-bit XXH3, hex): fast enough to cost little on top
// of the rewrite, and long enough that a file edited since the run is never taken for the file
// the run wrote.
class ContentHash {
public:
    ContentHash();
    ~ContentHash();
    ContentHash(const ContentHash&) = delete;
    ContentHash& operator=(const ContentHash&) = delete;
    void Update(std::string_view bytes);
    std::string Hex() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The hash of a file's whole contents, read through the services.
Result<std::string> HashFile(FileServices& files, std::u16string_view path);

// Writes the entry of one run at a time into `folder`. Nothing is created until the first change
// is recorded, so a run that changes nothing leaves no entry.
class JournalWriter {
public:
    explicit JournalWriter(std::string folder) : folder_(std::move(folder)) {}
    ~JournalWriter();
    JournalWriter(const JournalWriter&) = delete;
    JournalWriter& operator=(const JournalWriter&) = delete;

    // Arms the writer for a new run; ends the previous one if it is still open.
    void BeginRun(JournalHeader header);
    // Records a change about to be made and returns its number. Where the journal cannot be
    // written (no home folder, a full disk) the run goes on without it: -1, and Failure() says
    // why, so that the user is told once that the run cannot be undone.
    std::int32_t Intend(const JournalChange& change);
    // The change was made. Written with the next record, so a change costs one write.
    void Confirm(std::int32_t seq);
    // Writes the pending confirmation and the end record, and closes the entry.
    void EndRun();
    const std::string& Folder() const { return folder_; }
    // Why the journal of the current or last run could not be written, if it could not.
    const std::optional<Failure>& WriteFailure() const { return failure_; }
    // The id of the entry of the current or last run; empty when it made no change.
    const std::string& Id() const { return header_.id; }

private:
    [[nodiscard]] Result<void> Create();
    [[nodiscard]] Result<void> Append(std::string_view record);
    // Adds bytes to the entry. They are copied into a shared mapping of the file, reserved
    // ahead of them in steps: a record costs no system call, and it outlives the process as a
    // written one would. Where the room cannot be reserved or mapped, bytes are written.
    [[nodiscard]] Result<void> Put(std::string_view bytes);
    // Gives up the mapping and cuts the file to its records.
    void Unmap();

    std::string folder_;
    std::string cwd_;  // relative paths of the run are taken from here
    JournalHeader header_;
    bool armed_ = false;
    int fd_ = -1;
    char* map_ = nullptr;  // the reserve mapped from byte window_ of the file on
    std::size_t window_ = 0;
    std::size_t mapped_ = 0;  // bytes reserved from the file's start
    std::size_t used_ = 0;    // bytes of the entry so far; a zero byte always follows them
    bool writing_ = false;    // mapping failed: bytes are written
    std::int32_t next_seq_ = 0;
    std::string pending_;  // a confirmation not yet written
    std::string record_;   // the record being made
    std::optional<Failure> failure_;
};

// Marks these changes of entry `id` as undone (appended records, one write).
[[nodiscard]] Result<void> AppendUndone(const std::string& folder, const std::string& id,
                                        const std::vector<std::int32_t>& seqs);

// Reads one entry. A last record cut short by a kill is ignored.
Result<JournalEntry> ReadJournal(const std::string& folder, const std::string& id);
// The ids of the entries in `folder`, newest first; none when the folder does not exist.
std::vector<std::string> JournalIds(const std::string& folder);

// The file services with every change recorded in a journal before it is made and confirmed
// after. Reads and listings pass straight through.
class JournallingFileServices final : public ForwardingFileServices {
public:
    JournallingFileServices(FileServices& inner, JournalWriter& journal);

    // Files opened on the run's thread are hashed as they are read, so that a rewrite need not
    // read its file a second time for the hash of the old contents.
    [[nodiscard]] Result<std::unique_ptr<InputFile>> OpenInput(std::u16string_view path) override;
    [[nodiscard]] Result<std::unique_ptr<AtomicOutput>> BeginReplace(
        std::u16string_view path) override;
    // The run's own listings are remembered, so that a rename takes the identity of its file
    // from the listing instead of asking for it again.
    [[nodiscard]] Result<std::vector<DirEntry>> List(std::u16string_view pattern_path) override;
    void Adopt(std::u16string_view pattern_path, const std::vector<DirEntry>& entries) override;
    [[nodiscard]] Result<void> Rename(std::u16string_view old_path,
                                      std::u16string_view new_path) override;

    // The hash of the old contents of path: from its last reading on the run's thread when that
    // read the whole file, else read now.
    Result<std::string> OldContentsHash(std::u16string_view path);

    // What the run's thread has read of a file, and its hash so far.
    struct Reading {
        ContentHash hash;
        std::uint64_t bytes = 0;
    };

private:
    JournalWriter& journal_;
    std::thread::id owner_;
    std::u16string last_read_path_;
    std::shared_ptr<Reading> last_read_;
    // The identity that the run's last listing saw of path, or none.
    FileIdentity ListedIdentity(std::u16string_view path);

    std::u16string listed_folder_;  // of the last listing on the run's thread, and what it saw
    std::vector<std::pair<std::u16string, FileIdentity>> listed_;
    std::size_t listed_next_ = 0;
};

}  // namespace popuran::folder
