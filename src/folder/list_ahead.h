// ListAhead: in the renaming modes a second thread lists the folders that the run comes to next.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "folder/services/file_services.h"

namespace popuran::folder {

// A rename costs the run about as much as the status call by which the listing tells a
// read-only or empty file from one to rename. While the run renames the files of one folder,
// a helper thread lists the folders that follow, so that the status calls of the next ones are
// made on another core. Only the listing moves: what a listing says is what the run would have
// found on entering the folder a moment later, and the run still renames files one by one in
// its order. A rename never leaves its folder, so the run's own work never makes a listing
// made ahead stale; a change by somebody else in between is as one made just after the run's
// listing. The listings held are bounded (kMaxHeld entries), so that memory does not grow
// with the tree.
class ListAhead {
public:
    static constexpr std::size_t kMaxHeld = std::size_t{1} << 16;

    // Lists ahead over these pattern paths, the run's folders in its order, when the services
    // allow listings from other threads and the program may use more than one core; otherwise
    // Take lists each folder when it is asked for.
    ListAhead(FileServices& files, std::vector<std::u16string> pattern_paths);
    // Stop, then waits for the helper thread.
    ~ListAhead();
    ListAhead(const ListAhead&) = delete;
    ListAhead& operator=(const ListAhead&) = delete;

    // The listing of pattern_path, as FileServices::List gives it. Asked for the folders in
    // their order, it hands over the listing made ahead, waiting if the helper is at it;
    // otherwise (a folder not reached yet, or out of order) it lists the folder now.
    Result<std::vector<DirEntry>> Take(std::u16string_view pattern_path);

    // Lets the helper finish the folder it lists and waits for it; no more are listed.
    void Stop();

    // After Stop: the listing made ahead of pattern_path, or nullptr when there is none. Asked
    // for the folders left in the run's order, each answer takes one comparison.
    const std::vector<DirEntry>* Held(std::u16string_view pattern_path);

private:
    void ListInTurn();

    FileServices& files_;
    const std::vector<std::u16string> pattern_paths_;

    std::mutex mutex_;
    std::condition_variable changed_;
    // Guarded by mutex_: listings of pattern_paths_[first_, first_ + listings_.size()).
    std::deque<Result<std::vector<DirEntry>>> listings_;
    std::size_t first_ = 0;
    std::size_t held_ = 0;  // entries in listings_
    bool listing_ = false;  // the helper lists pattern_paths_[first_ + listings_.size()]
    bool stopping_ = false;
    std::size_t taken_ = 0;      // the folders before it were handed to the run (no lock)
    std::size_t held_next_ = 0;  // of listings_: the one Held expects to be asked for next
    std::thread helper_;
};

}  // namespace popuran::folder
