// ReplaceAhead: mode 0 reads and searches the next files of the run on the other cores.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "folder/replace_engine.h"
#include "folder/services/file_services.h"

namespace popuran::folder {

// While the run works through its files, helper threads (one per core beyond the first) read
// the next files and search them, so that a file without a match need not be read again by
// the run. They only read (FileServices::OpenToSearch, and List for folders the run has not
// reached yet); any failure of theirs just means "may hold a match", and the run then takes its
// ordinary path with that file. Files that mode 0 never reads (binary endings) are not read
// here either. Nothing of what they read is ever written back: a file that may hold a match is
// read again by the run when its turn comes.
class ReplaceAhead {
public:
    // The folders of a run, as the pattern paths that ProcessFolder gets, in the run's order.
    struct Folders {
        std::vector<std::u16string> pattern_paths;
        // More folders follow through AddFolders, while the run still lists the tree, until
        // NoMoreFolders.
        bool more_to_come = false;
    };

    // Looks ahead over one folder's paths with copies of patterns (one per encoding a file may
    // be read in: a file "holds no match" only when none of them finds one; UTF-16 patterns are
    // tried on files with a UTF-16 byte order mark only), when the file services allow reads
    // from other threads and there are at least two paths; otherwise every answer is "may hold
    // a match" and nothing is read here. A file in an encoding that mode 0 leaves alone may
    // always hold a match, so that the run sees it.
    ReplaceAhead(FileServices& files, const std::vector<SearchPattern>& patterns,
                 std::vector<std::u16string> paths);
    // Looks ahead over the files of these folders, listing a folder before the run reaches it,
    // so that the reading goes on while the run rewrites a file or lists a folder. The run
    // tells when it enters each folder (EnterFolder).
    ReplaceAhead(FileServices& files, const std::vector<SearchPattern>& patterns, Folders folders);
    // Stops looking ahead and waits until the helper threads have left (a file they are reading
    // is given up after at most one more piece); they then stay idle.
    ~ReplaceAhead();
    ReplaceAhead(const ReplaceAhead&) = delete;
    ReplaceAhead& operator=(const ReplaceAhead&) = delete;

    // Folders that follow the ones given so far, in the run's order.
    void AddFolders(std::vector<std::u16string> pattern_paths);
    void NoMoreFolders();

    // The run enters the folder of pattern_path with the files it listed there; HoldsNoMatch
    // then answers for them. Only the run's own listing counts: where a listing made ahead
    // differs from it, the files are looked at anew.
    void EnterFolder(std::u16string_view pattern_path, std::vector<std::u16string> paths);

    // True when file i of the folder holds no match for sure: it was read to its end, `length`
    // bytes as the caller has just taken it, and the search found nothing. Ask for i = 0, 1,
    // 2, ... in turn. While a helper is still reading file i, searches a later file itself (at
    // most a few MiB of it) or waits, but not much longer than a millisecond: then it searches
    // file i itself.
    bool HoldsNoMatch(std::size_t i, std::int64_t length);

private:
    // kBusy from Search: given up before an answer.
    enum class Status : std::uint8_t { kOpen, kBusy, kNoMatch, kMayHold };
    struct Entry {
        std::u16string path;
        Status status = Status::kOpen;
        std::int64_t bytes = 0;  // read of a file searched whole
        int readers = 0;         // threads reading it: it stays until they are done
    };
    // The files of one folder among the entries: [first, end) in the numbering of entries.
    struct Span {
        std::size_t folder = 0;
        std::size_t first = 0;
        std::size_t end = 0;
    };
    struct Buffer {
        std::unique_ptr<char[]> bytes;
        std::size_t size = 0;
    };

    void Start();
    // A helper thread's loop.
    void LookAhead();
    // Reads and searches entry j, whose path is path (at most budget bytes of it), then records
    // what it found. The caller has counted itself among the entry's readers.
    void Look(std::size_t j, const std::u16string& path, std::vector<SearchPattern>& patterns,
              std::int64_t budget);
    Status Search(std::size_t j, const std::u16string& path, std::vector<SearchPattern>& patterns,
                  Buffer& buffer, std::int64_t budget, std::int64_t& bytes);
    // The next entry nobody has taken yet, within reach of the run's position; or false.
    bool Take(std::size_t& j);
    // True when a helper may list the next folder now.
    bool MayList() const;
    // Lists folders_[k] on a helper thread and adds its files, unless the run got there first.
    void ListAhead(std::unique_lock<std::mutex>& lock);
    void Append(std::size_t folder, const std::vector<std::u16string>& paths);
    Entry& At(std::size_t j) { return entries_[j - first_]; }
    // Forgets the entries before the run's position that nobody reads any more.
    void Forget();

    FileServices& files_;
    std::vector<SearchPattern> patterns_;      // copied by each helper
    std::vector<SearchPattern> own_patterns_;  // the run's thread's, while it waits
    std::deque<std::u16string> folders_;       // pattern paths, in the run's order

    std::mutex mutex_;
    std::condition_variable work_;    // for helpers: more to take, or stop
    std::condition_variable answer_;  // for the run: an entry got its answer
    // Everything below up to stopping_ is guarded by mutex_.
    std::deque<Entry> entries_;  // numbered from first_ on
    std::deque<Span> spans_;     // of the folders listed and not yet left behind
    std::size_t first_ = 0;
    std::size_t next_ = 0;     // the first entry nobody has taken
    std::size_t current_ = 0;  // the entry the run is at
    std::size_t folder_first_ = 0;
    std::size_t folder_end_ = 0;  // the run's folder: its entries
    std::size_t entered_ = 0;     // folders_[0, entered_) entered by the run
    std::size_t listed_ = 0;      // folders_[0, listed_) listed or entered
    std::size_t generation_ = 0;  // counts listings made ahead that were thrown away
    bool listing_ = false;        // a helper lists a folder
    bool more_to_come_ = false;   // more folders may still be added
    int idle_helpers_ = 0;
    bool run_waits_ = false;
    bool closing_ = false;  // input waits to be closed by a helper
    std::atomic<bool> stopping_{false};
    std::atomic<std::size_t> passed_{0};  // current_, for reading without the lock
    // An entry that the run's thread searches itself while a helper still has it.
    std::atomic<std::size_t> taken_over_{static_cast<std::size_t>(-1)};
    bool looking_ = false;  // the helper threads work for this object
};

// True when the program may run on more than one core, so that looking ahead can pay.
bool SeveralCores();

// Closes input on a helper thread, or here and now when that is not possible. Closing the
// last descriptor of a file that was just replaced is where the system frees its former
// contents, about a millisecond per MB; the run need not wait for it. input must allow it:
// only for files opened by services with ConcurrentReads.
void CloseInBackground(std::unique_ptr<InputFile> input);

}  // namespace popuran::folder
