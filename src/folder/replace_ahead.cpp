#include "folder/replace_ahead.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <functional>
#include <system_error>
#include <thread>
#include <utility>

#include <sched.h>

#include "folder/services/encodings.h"
#include "folder/text_endings.h"

namespace popuran::folder {

namespace {

// Files are read in pieces of this size: most text files fit in one, and a file with an early
// match costs no more than one.
constexpr std::size_t kPieceBytes = std::size_t{128} << 10;
// How far ahead of the run the files may be taken.
constexpr std::size_t kReach = 8;
// What the run's own thread reads of one file while it waits; it does not yield meanwhile.
constexpr std::int64_t kOwnBudget = std::int64_t{4} << 20;
constexpr std::int64_t kNoBudget = -1;
// How long the run waits for the second thread to finish the file it needs before it reads
// the file itself: on a busy machine that thread may not get a core for a while.
constexpr std::chrono::microseconds kPatience{1000};

// The second thread: one for the whole program, lent to one folder at a time and idle in
// between, since starting a thread for every folder of a few files cost more than it saved.
// It is never ended: it holds nothing while idle, and the program may end at any moment.
class Helper {
public:
    Helper() {
        try {
            std::thread(&Helper::Serve, this).detach();
            started_ = true;
        } catch (const std::system_error&) {
            // No second thread: every folder is read by the run alone.
        }
    }

    // Hands job to the thread; false when there is none or it is busy with another job.
    bool Lend(std::function<void()> job) {
        const std::lock_guard lock(mutex_);
        if (!started_ || busy_) {
            return false;
        }
        job_ = std::move(job);
        busy_ = true;
        wake_.notify_all();
        return true;
    }

    // Waits until the job handed over last has returned.
    void AwaitReturn() {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [this] { return !busy_; });
    }

    // Takes input to be closed on the thread; false (input left as it is) when there is no
    // thread or too many are waiting already.
    bool Release(std::unique_ptr<InputFile>& input) {
        const std::lock_guard lock(mutex_);
        if (!started_ || releases_.size() >= kMaxReleases) {
            return false;
        }
        releases_.push_back(std::move(input));
        wake_.notify_all();
        return true;
    }

    // Closes what is waiting; called on the thread, also between the files of a job.
    void CloseReleased() {
        std::vector<std::unique_ptr<InputFile>> releases;
        {
            const std::lock_guard lock(mutex_);
            releases.swap(releases_);
        }
    }

private:
    // Each waiting input holds a descriptor.
    static constexpr std::size_t kMaxReleases = 16;

    void Serve() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return job_ != nullptr || !releases_.empty(); });
            if (!releases_.empty()) {
                lock.unlock();
                CloseReleased();
                lock.lock();
                continue;
            }
            std::function<void()> job = std::exchange(job_, nullptr);
            lock.unlock();
            job();
            job = nullptr;
            lock.lock();
            busy_ = false;
            done_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::function<void()> job_;
    std::vector<std::unique_ptr<InputFile>> releases_;
    bool busy_ = false;
    bool started_ = false;
};

Helper& TheHelper() {
    // Never destroyed, like its thread.
    static Helper* const helper = new Helper;
    return *helper;
}

}  // namespace

void CloseInBackground(std::unique_ptr<InputFile> input) {
    if (SeveralCores()) {
        TheHelper().Release(input);
    }
}

bool SeveralCores() {
    static const bool several = [] {
        cpu_set_t cores;
        CPU_ZERO(&cores);
        return sched_getaffinity(0, sizeof(cores), &cores) == 0 && CPU_COUNT(&cores) > 1;
    }();
    return several;
}

ReplaceAhead::ReplaceAhead(FileServices& files, const std::vector<SearchPattern>& patterns,
                           std::vector<std::u16string> paths)
    : files_(files),
      ahead_patterns_(patterns),
      own_patterns_(patterns),
      status_(paths.size(), Status::kOpen),
      read_(paths.size(), 0) {
    if (paths.size() < 2 || !files.ConcurrentReads()) {
        return;
    }
    paths_ = std::move(paths);
    looking_ = TheHelper().Lend([this] { LookAhead(); });
}

ReplaceAhead::~ReplaceAhead() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (looking_) {
        TheHelper().AwaitReturn();
    }
}

bool ReplaceAhead::Take(std::size_t& j) {
    if (next_ >= paths_.size() || next_ >= current_ + kReach) {
        return false;
    }
    j = next_++;
    status_[j] = Status::kBusy;
    return true;
}

void ReplaceAhead::LookAhead() {
    std::unique_lock lock(mutex_);
    for (;;) {
        std::size_t j = 0;
        bool taken = false;
        changed_.wait(lock,
                      [&] { return stopping_ || next_ >= paths_.size() || (taken = Take(j)); });
        if (!taken) {
            return;
        }
        lock.unlock();
        TheHelper().CloseReleased();
        Look(j, ahead_patterns_, kNoBudget);
        lock.lock();
    }
}

bool ReplaceAhead::HoldsNoMatch(std::size_t i, std::int64_t length) {
    if (!looking_ || i >= status_.size()) {
        return false;
    }
    std::unique_lock lock(mutex_);
    current_ = i;
    passed_ = i;
    changed_.notify_all();
    const auto give_up = std::chrono::steady_clock::now() + kPatience;
    for (;;) {
        switch (status_[i]) {
            case Status::kNoMatch:
                // A file that changed its length since it was read is read again.
                return read_[i] == length;
            case Status::kMayHold:
                return false;
            case Status::kOpen:
                // Not taken yet (files before it that the run passed over without asking stay
                // untaken): this thread looks at it now.
                next_ = i + 1;
                status_[i] = Status::kBusy;
                lock.unlock();
                Look(i, own_patterns_, kOwnBudget);
                lock.lock();
                continue;
            case Status::kBusy:
                break;
        }
        std::size_t j = 0;
        if (Take(j)) {
            lock.unlock();
            Look(j, own_patterns_, kOwnBudget);
            lock.lock();
        } else if (changed_.wait_until(lock, give_up) == std::cv_status::timeout &&
                   status_[i] == Status::kBusy && taken_over_ != i) {
            // The other thread may not get a core for a while on a busy machine: this one
            // looks at the file too, and the other gives it up as soon as it notices.
            taken_over_ = i;
            lock.unlock();
            Look(i, own_patterns_, kOwnBudget);
            lock.lock();
        }
    }
}

void ReplaceAhead::Look(std::size_t j, std::vector<SearchPattern>& patterns, std::int64_t budget) {
    // Each thread keeps its buffer from folder to folder.
    thread_local Buffer buffer;
    std::int64_t bytes = 0;
    Status status = Status::kMayHold;
    try {
        status = Search(j, patterns, buffer, budget, bytes);
    } catch (const std::exception&) {
        status = Status::kMayHold;  // out of memory, say: the run will see for itself
    }
    if (status == Status::kBusy) {
        return;  // given up: whoever needs the answer finds it out itself
    }
    {
        const std::lock_guard lock(mutex_);
        // The first answer stays; both threads answer alike, short of the run's budget.
        if (status_[j] == Status::kBusy) {
            status_[j] = status;
            read_[j] = bytes;
        }
    }
    changed_.notify_all();
}

ReplaceAhead::Status ReplaceAhead::Search(std::size_t j, std::vector<SearchPattern>& patterns,
                                          Buffer& buffer, std::int64_t budget,
                                          std::int64_t& bytes) {
    const std::u16string& path = paths_[j];
    if (TextKindByName(path) == TextKind::kBinary || patterns.empty()) {
        return Status::kMayHold;
    }
    // A match never reaches past the end of what is in hand, so a piece plus the longest
    // match's bytes always leaves room to read on.
    std::size_t longest = 0;
    for (const SearchPattern& pattern : patterns) {
        longest = std::max(longest, pattern.MaxMatchBytes());
    }
    const std::size_t capacity = kPieceBytes + longest + 4;
    if (buffer.size != capacity) {
        buffer.bytes = std::make_unique_for_overwrite<char[]>(capacity);
        buffer.size = capacity;
    }
    auto input = files_.OpenInput(path);
    if (!input) {
        return Status::kMayHold;
    }
    // Where each pattern goes on in the buffer; kSkip for a pattern of another encoding.
    constexpr std::size_t kSkip = static_cast<std::size_t>(-1);
    std::vector<std::size_t> from(patterns.size(), 0);
    std::size_t size = 0;
    bool at_end = false;
    bool first = true;
    for (;;) {
        while (size < capacity && !at_end) {
            if (stopping_ || passed_ > j || (budget == kNoBudget && taken_over_ == j)) {
                return Status::kBusy;
            }
            if (budget != kNoBudget && bytes > budget) {
                return Status::kMayHold;
            }
            auto got = (*input)->Read(buffer.bytes.get() + size, capacity - size);
            if (!got) {
                return Status::kMayHold;
            }
            at_end = *got == 0;
            size += *got;
            bytes += static_cast<std::int64_t>(*got);
        }
        const std::string_view piece(buffer.bytes.get(), size);
        if (first) {
            first = false;
            if (piece.substr(0, 4) == std::string_view("\xFF\xFE\0\0", 4) ||
                piece.substr(0, 4) == std::string_view("\0\0\xFE\xFF", 4)) {
                return Status::kMayHold;
            }
            const bool utf16_mark =
                piece.substr(0, 2) == "\xFF\xFE" || piece.substr(0, 2) == "\xFE\xFF";
            for (std::size_t k = 0; k < patterns.size(); ++k) {
                const Encoding e = patterns[k].TextEncoding();
                const bool utf16 = e == Encoding::kUtf16Le || e == Encoding::kUtf16Be;
                from[k] = utf16 ? (utf16_mark ? std::min<std::size_t>(2, size) : kSkip) : 0;
            }
        }
        for (std::size_t at = piece.find('\x1B'); at != std::string_view::npos;
             at = piece.find('\x1B', at + 1)) {
            if (at + 1 < size && (piece[at + 1] == '$' || piece[at + 1] == '(')) {
                return Status::kMayHold;  // ISO-2022-JP: the run decides
            }
        }
        std::size_t keep_from = size;
        for (std::size_t k = 0; k < patterns.size(); ++k) {
            if (from[k] == kSkip) {
                continue;
            }
            ByteSpan match;
            std::size_t resume = 0;
            if (patterns[k].Find(piece, from[k], at_end, match, resume)) {
                return Status::kMayHold;
            }
            from[k] = resume;
            keep_from = std::min(keep_from, resume);
        }
        if (at_end) {
            return Status::kNoMatch;
        }
        std::memmove(buffer.bytes.get(), buffer.bytes.get() + keep_from, size - keep_from);
        size -= keep_from;
        for (std::size_t& f : from) {
            if (f != kSkip) {
                f -= keep_from;
            }
        }
    }
}

}  // namespace popuran::folder
