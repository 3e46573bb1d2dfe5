// ReplaceAhead: mode 0 reads and searches the next files of a folder on a second thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "folder/replace_engine.h"
#include "folder/services/file_services.h"

namespace popuran::folder {

// While the run works through a folder's list, a second thread reads the next few files and
// searches them, so that a file without a match need not be read again by the run. It only
// reads (FileServices::OpenInput); any failure of it just means "may hold a match", and the run
// then takes its ordinary path with that file. Files that mode 0 never reads (binary endings)
// are not read here either. Nothing of what it read is ever written back: a file that may hold
// a match is read again by the run when its turn comes.
class ReplaceAhead {
public:
    // Looks ahead over paths with copies of patterns (one per encoding a file may be read in:
    // a file "holds no match" only when none of them finds one; UTF-16 patterns are tried on
    // files with a UTF-16 byte order mark only), when the file services allow reads from a
    // second thread and there are at least two paths; otherwise every answer is "may hold a
    // match" and nothing is read here. A file in an encoding that mode 0 leaves alone may
    // always hold a match, so that the run sees it.
    ReplaceAhead(FileServices& files, const std::vector<SearchPattern>& patterns,
                 std::vector<std::u16string> paths);
    // Stops looking ahead and waits until the second thread has left this folder (a file it
    // is reading is given up after at most one more piece); the thread then stays idle.
    ~ReplaceAhead();
    ReplaceAhead(const ReplaceAhead&) = delete;
    ReplaceAhead& operator=(const ReplaceAhead&) = delete;

    // True when paths[i] holds no match for sure: it was read to its end, `length` bytes as the
    // caller has just taken it, and the search found nothing. Ask for i = 0, 1, 2, ... in turn.
    // While the second thread is still reading paths[i], searches a later file itself (at most
    // a few MiB of it) or waits, but not much longer than a millisecond: then it searches
    // paths[i] itself.
    bool HoldsNoMatch(std::size_t i, std::int64_t length);

private:
    // kBusy from Search: given up before an answer.
    enum class Status : std::uint8_t { kOpen, kBusy, kNoMatch, kMayHold };
    struct Buffer {
        std::unique_ptr<char[]> bytes;
        std::size_t size = 0;
    };

    void LookAhead();
    // Reads and searches paths_[j] (at most budget bytes of it), then records what it found.
    void Look(std::size_t j, std::vector<SearchPattern>& patterns, std::int64_t budget);
    Status Search(std::size_t j, std::vector<SearchPattern>& patterns, Buffer& buffer,
                  std::int64_t budget, std::int64_t& bytes);
    // The next file nobody has taken yet, within reach of the run's position; or false.
    bool Take(std::size_t& j);

    FileServices& files_;
    std::vector<std::u16string> paths_;
    std::vector<SearchPattern> ahead_patterns_;  // the second thread's
    std::vector<SearchPattern> own_patterns_;    // the run's thread's, while it waits

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Status> status_;      // guarded by mutex_
    std::vector<std::int64_t> read_;  // bytes read of each file searched whole; by mutex_
    std::size_t next_ = 0;            // the first file nobody has taken; by mutex_
    std::size_t current_ = 0;         // the file the run is at; by mutex_
    std::atomic<bool> stopping_{false};
    std::atomic<std::size_t> passed_{0};  // current_, for reading without the lock
    // A file that the run's thread searches itself while the second thread still has it.
    std::atomic<std::size_t> taken_over_{static_cast<std::size_t>(-1)};
    bool looking_ = false;  // the second thread works for this object
};

// True when the program may run on more than one core, so that looking ahead can pay.
bool SeveralCores();

// Closes input on the second thread, or here and now when that is not possible. Closing the
// last descriptor of a file that was just replaced is where the system frees its former
// contents, about a millisecond per MB; the run need not wait for it. input must allow it:
// only for files opened by services with ConcurrentReads.
void CloseInBackground(std::unique_ptr<InputFile> input);

}  // namespace popuran::folder
