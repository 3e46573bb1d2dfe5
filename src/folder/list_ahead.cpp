#include "folder/list_ahead.h"

#include <cerrno>
#include <exception>
#include <new>
#include <system_error>
#include <utility>

#include "folder/replace_ahead.h"

namespace popuran::folder {

namespace {

Result<std::vector<DirEntry>> ListOrFail(FileServices& files, std::u16string_view pattern_path) {
    try {
        return files.List(pattern_path);
    } catch (const std::bad_alloc&) {
        return Fail(ENOMEM, NativePath(pattern_path));
    } catch (const std::exception&) {
        return Fail(EIO, NativePath(pattern_path));
    }
}

}  // namespace

ListAhead::ListAhead(FileServices& files, std::vector<std::u16string> pattern_paths)
    : files_(files), pattern_paths_(std::move(pattern_paths)) {
    if (pattern_paths_.empty() || !files_.ConcurrentReads() || !SeveralCores()) {
        return;
    }
    try {
        helper_ = std::thread([this] { ListInTurn(); });
    } catch (const std::system_error&) {
    }
}

ListAhead::~ListAhead() { Stop(); }

void ListAhead::Stop() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (helper_.joinable()) {
        helper_.join();
    }
}

void ListAhead::ListInTurn() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        const std::size_t k = first_ + listings_.size();
        if (k >= pattern_paths_.size()) {
            break;
        }
        if (held_ >= kMaxHeld) {
            changed_.wait(lock);
            continue;
        }
        listing_ = true;
        lock.unlock();
        auto listing = ListOrFail(files_, pattern_paths_[k]);
        lock.lock();
        listing_ = false;
        held_ += listing ? listing->size() : 0;
        listings_.push_back(std::move(listing));
        changed_.notify_all();
    }
}

Result<std::vector<DirEntry>> ListAhead::Take(std::u16string_view pattern_path) {
    if (taken_ >= pattern_paths_.size() || pattern_paths_[taken_] != pattern_path) {
        return ListOrFail(files_, pattern_path);
    }
    const std::size_t k = taken_++;
    {
        std::unique_lock lock(mutex_);
        // The folders are taken in order, so folder k is the first of those listed ahead, or
        // the one the helper lists now, or one it has not reached.
        changed_.wait(lock, [&] { return !(listing_ && listings_.empty()); });
        if (!listings_.empty()) {
            auto listing = std::move(listings_.front());
            listings_.pop_front();
            held_ -= listing ? listing->size() : 0;
            first_ = k + 1;
            lock.unlock();
            changed_.notify_all();
            if (listing) {
                files_.Adopt(pattern_path, *listing);
            }
            return listing;
        }
        first_ = k + 1;
    }
    return ListOrFail(files_, pattern_path);
}

const std::vector<DirEntry>* ListAhead::Held(std::u16string_view pattern_path) {
    // The listings held are those of the folders right after the last one taken, in order.
    if (held_next_ >= listings_.size() || pattern_paths_[first_ + held_next_] != pattern_path) {
        return nullptr;
    }
    const auto& listing = listings_[held_next_++];
    return listing ? &*listing : nullptr;
}

}  // namespace popuran::folder
