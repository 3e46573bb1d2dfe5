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
#include "folder/services/path_helpers.h"
#include "folder/text_endings.h"

namespace popuran::folder {

namespace {

// Files are read in pieces of this size: most text files fit in one, and a file with an early
// match costs no more than one.
constexpr std::size_t kPieceBytes = std::size_t{128} << 10;
// How far ahead of the run files may be taken and folders listed: enough to keep the helpers
// busy while the run rewrites a file (a millisecond or two) or lists a folder.
constexpr std::size_t kReach = 128;
// Helpers left idle by a full reach are woken when this much of it is free again, not for
// every file the run passes.
constexpr std::size_t kWakeSlack = kReach / 4;
// What the run's own thread reads of one file while it waits; it does not yield meanwhile.
constexpr std::int64_t kOwnBudget = std::int64_t{4} << 20;
constexpr std::int64_t kNoBudget = -1;
// How long the run waits for a helper to finish the file it needs before it reads the file
// itself: on a busy machine that helper may not get a core for a while.
constexpr std::chrono::microseconds kPatience{1000};
// At most this many helper threads, whatever the number of cores.
constexpr int kMaxHelpers = 8;

int CoreCount() {
    static const int cores = [] {
        cpu_set_t set;
        CPU_ZERO(&set);
        return sched_getaffinity(0, sizeof(set), &set) == 0 ? CPU_COUNT(&set) : 1;
    }();
    return cores;
}

// The helper threads: one per core beyond the run's own, for the whole program, lent to one
// look-ahead at a time and idle in between, since starting threads for every folder of a few
// files cost more than it saved. They are never ended: they hold nothing while idle, and the
// program may end at any moment.
class Helpers {
public:
    Helpers() {
        const int wanted = std::clamp(CoreCount() - 1, 1, kMaxHelpers);
        for (int k = 0; k < wanted; ++k) {
            try {
                std::thread(&Helpers::Serve, this).detach();
                ++started_;
            } catch (const std::system_error&) {
                break;  // fewer helpers, or none: the run reads alone
            }
        }
    }

    // Runs job on every helper thread; false when there is none or they are busy with
    // another job. While it runs, nudge is called when input waits to be closed, so that a
    // helper idle inside the job comes to close it.
    bool Lend(std::function<void()> job, std::function<void()> nudge) {
        const std::lock_guard lock(mutex_);
        if (started_ == 0 || busy_ != 0) {
            return false;
        }
        job_ = std::make_shared<std::function<void()>>(std::move(job));
        nudge_ = std::move(nudge);
        ++generation_;
        busy_ = started_;
        wake_.notify_all();
        return true;
    }

    // Waits until every helper has returned from the job handed over last.
    void AwaitReturn() {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [this] { return busy_ == 0; });
    }

    // Takes input to be closed on a helper; false (input left as it is) when there is no
    // helper or too many are waiting already.
    bool Release(std::unique_ptr<InputFile>& input) {
        std::function<void()> nudge;
        {
            const std::lock_guard lock(mutex_);
            if (started_ == 0 || releases_.size() >= kMaxReleases) {
                return false;
            }
            releases_.push_back(std::move(input));
            wake_.notify_one();
            nudge = nudge_;
        }
        // Only the run's thread releases input and ends a job, so the job is still there.
        if (nudge) {
            nudge();
        }
        return true;
    }

    // Closes what is waiting; called on the helpers, also between the files of a job.
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
        // Every thread is started before the first job is lent, so none misses it.
        std::size_t seen = 0;
        for (;;) {
            wake_.wait(lock, [&] { return generation_ != seen || !releases_.empty(); });
            if (!releases_.empty()) {
                lock.unlock();
                CloseReleased();
                lock.lock();
                continue;
            }
            seen = generation_;
            std::shared_ptr<std::function<void()>> job = job_;
            lock.unlock();
            (*job)();
            job.reset();
            lock.lock();
            if (--busy_ == 0) {
                job_.reset();
                nudge_ = nullptr;
                done_.notify_all();
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::shared_ptr<std::function<void()>> job_;
    std::function<void()> nudge_;
    std::size_t generation_ = 0;
    std::vector<std::unique_ptr<InputFile>> releases_;
    int busy_ = 0;  // helpers that have not yet returned from the job
    int started_ = 0;
};

Helpers& TheHelpers() {
    // Never destroyed, like its threads.
    static Helpers* const helpers = new Helpers;
    return *helpers;
}

}  // namespace

void CloseInBackground(std::unique_ptr<InputFile> input) {
    if (SeveralCores()) {
        TheHelpers().Release(input);
    }
}

bool SeveralCores() { return CoreCount() > 1; }

ReplaceAhead::ReplaceAhead(FileServices& files, const std::vector<SearchPattern>& patterns,
                           std::vector<std::u16string> paths)
    : files_(files), patterns_(patterns), own_patterns_(patterns) {
    if (paths.size() < 2 || !files.ConcurrentReads()) {
        return;
    }
    Append(0, paths);
    folder_end_ = paths.size();
    Start();
}

ReplaceAhead::ReplaceAhead(FileServices& files, const std::vector<SearchPattern>& patterns,
                           Folders folders)
    : files_(files),
      patterns_(patterns),
      own_patterns_(patterns),
      folders_(std::make_move_iterator(folders.pattern_paths.begin()),
               std::make_move_iterator(folders.pattern_paths.end())),
      more_to_come_(folders.more_to_come) {
    if ((!folders_.empty() || more_to_come_) && files.ConcurrentReads()) {
        Start();
    }
}

void ReplaceAhead::AddFolders(std::vector<std::u16string> pattern_paths) {
    if (!looking_) {
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        for (std::u16string& path : pattern_paths) {
            folders_.push_back(std::move(path));
        }
    }
    work_.notify_all();
}

void ReplaceAhead::NoMoreFolders() {
    {
        const std::lock_guard lock(mutex_);
        more_to_come_ = false;
    }
    work_.notify_all();
}

void ReplaceAhead::Start() {
    looking_ = TheHelpers().Lend([this] { LookAhead(); },
                                 [this] {
                                     {
                                         const std::lock_guard lock(mutex_);
                                         closing_ = true;
                                     }
                                     work_.notify_one();
                                 });
}

ReplaceAhead::~ReplaceAhead() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    work_.notify_all();
    answer_.notify_all();
    if (looking_) {
        TheHelpers().AwaitReturn();
    }
}

void ReplaceAhead::Append(std::size_t folder, const std::vector<std::u16string>& paths) {
    const std::size_t begin = first_ + entries_.size();
    for (const std::u16string& path : paths) {
        entries_.push_back(Entry{path});
    }
    spans_.push_back(Span{folder, begin, begin + paths.size()});
}

void ReplaceAhead::Forget() {
    while (!entries_.empty() && first_ < current_ && entries_.front().readers == 0) {
        entries_.pop_front();
        ++first_;
    }
    while (!spans_.empty() && spans_.front().end <= current_ && spans_.front().first < current_) {
        spans_.pop_front();
    }
}

void ReplaceAhead::EnterFolder(std::u16string_view pattern_path,
                               std::vector<std::u16string> paths) {
    if (!looking_) {
        return;
    }
    std::unique_lock lock(mutex_);
    std::size_t k = entered_;
    while (k < folders_.size() && folders_[k] != pattern_path) {
        ++k;
    }
    const Span* ahead = nullptr;
    for (const Span& span : spans_) {
        if (span.folder == k && k < folders_.size() && span.first >= folder_end_) {
            ahead = &span;
            break;
        }
    }
    bool same = ahead != nullptr && ahead->end - ahead->first == paths.size();
    for (std::size_t i = 0; same && i < paths.size(); ++i) {
        same = At(ahead->first + i).path == paths[i];
    }
    if (same) {
        folder_first_ = ahead->first;
        folder_end_ = ahead->end;
    } else {
        // What was listed ahead no longer follows on from here: the later folders are listed
        // again after this one, and their entries so far are left behind with the passed ones.
        ++generation_;
        spans_.clear();
        folder_first_ = first_ + entries_.size();
        Append(k, paths);
        folder_end_ = first_ + entries_.size();
        listed_ = k < folders_.size() ? k + 1 : entered_;
    }
    if (k < folders_.size()) {
        entered_ = k + 1;
    }
    current_ = folder_first_;
    passed_ = current_;
    next_ = std::max(next_, current_);
    Forget();
    if (idle_helpers_ > 0) {
        work_.notify_all();
    }
}

bool ReplaceAhead::Take(std::size_t& j) {
    const std::size_t end = first_ + entries_.size();
    while (next_ < end && next_ < current_ + kReach) {
        j = next_++;
        Entry& entry = At(j);
        if (entry.status == Status::kOpen) {
            entry.status = Status::kBusy;
            ++entry.readers;
            return true;
        }
    }
    return false;
}

bool ReplaceAhead::MayList() const {
    return !listing_ && listed_ < folders_.size() && first_ + entries_.size() < current_ + kReach;
}

void ReplaceAhead::ListAhead(std::unique_lock<std::mutex>& lock) {
    listing_ = true;
    const std::size_t k = listed_;
    const std::size_t generation = generation_;
    const std::u16string& pattern_path = folders_[k];
    lock.unlock();
    std::vector<std::u16string> paths;
    try {
        auto listing = files_.ListToSearch(pattern_path);
        if (listing) {
            const std::u16string folder = FolderOf(pattern_path);
            for (const DirEntry& entry : *listing) {
                // The run's own choice of files; where it differs, the run's listing counts.
                if (entry.attributes == kAttrArchive && !EndsInBak(entry.name)) {
                    paths.push_back(folder + entry.name);
                }
            }
        }
    } catch (const std::exception&) {
        paths.clear();  // the run lists the folder itself
    }
    lock.lock();
    listing_ = false;
    if (generation == generation_ && k == listed_ && k >= entered_) {
        Append(k, paths);
        listed_ = k + 1;
    }
    work_.notify_all();
}

void ReplaceAhead::LookAhead() {
    // Each helper searches with its own copies: a pattern keeps state while it searches.
    std::vector<SearchPattern> patterns = patterns_;
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (closing_) {
            closing_ = false;
            lock.unlock();
            TheHelpers().CloseReleased();
            lock.lock();
            continue;
        }
        std::size_t j = 0;
        if (Take(j)) {
            const std::u16string& path = At(j).path;
            lock.unlock();
            TheHelpers().CloseReleased();
            Look(j, path, patterns, kNoBudget);
            lock.lock();
            continue;
        }
        if (MayList()) {
            ListAhead(lock);
            continue;
        }
        if (!listing_ && !more_to_come_ && listed_ >= folders_.size() &&
            next_ >= first_ + entries_.size()) {
            return;  // nothing more to come: the run reads what it may still add itself
        }
        ++idle_helpers_;
        work_.wait(lock);
        --idle_helpers_;
    }
}

bool ReplaceAhead::HoldsNoMatch(std::size_t i, std::int64_t length) {
    if (!looking_) {
        return false;
    }
    std::unique_lock lock(mutex_);
    const std::size_t j = folder_first_ + i;
    if (j >= folder_end_ || j < current_) {
        return false;
    }
    current_ = j;
    passed_ = j;
    next_ = std::max(next_, j);
    Forget();
    if (idle_helpers_ > 0 && next_ + kWakeSlack <= current_ + kReach) {
        work_.notify_all();
    }
    const auto give_up = std::chrono::steady_clock::now() + kPatience;
    for (;;) {
        Entry& entry = At(j);
        switch (entry.status) {
            case Status::kNoMatch:
                // A file that changed its length since it was read is read again.
                return entry.bytes == length;
            case Status::kMayHold:
                return false;
            case Status::kOpen: {
                // Not taken yet (files that the run passed over without asking stay untaken):
                // this thread looks at it now.
                next_ = std::max(next_, j + 1);
                entry.status = Status::kBusy;
                ++entry.readers;
                const std::u16string& path = entry.path;
                lock.unlock();
                Look(j, path, own_patterns_, kOwnBudget);
                lock.lock();
                continue;
            }
            case Status::kBusy:
                break;
        }
        std::size_t later = 0;
        if (Take(later)) {
            const std::u16string& path = At(later).path;
            lock.unlock();
            Look(later, path, own_patterns_, kOwnBudget);
            lock.lock();
            continue;
        }
        run_waits_ = true;
        const bool timed_out = answer_.wait_until(lock, give_up) == std::cv_status::timeout;
        run_waits_ = false;
        Entry& waited = At(j);
        if (timed_out && waited.status == Status::kBusy && taken_over_ != j) {
            // A helper may not get a core for a while on a busy machine: this thread looks at
            // the file too, and the helper gives it up as soon as it notices.
            taken_over_ = j;
            ++waited.readers;
            const std::u16string& path = waited.path;
            lock.unlock();
            Look(j, path, own_patterns_, kOwnBudget);
            lock.lock();
        }
    }
}

void ReplaceAhead::Look(std::size_t j, const std::u16string& path,
                        std::vector<SearchPattern>& patterns, std::int64_t budget) {
    // Each thread keeps its buffer from folder to folder.
    thread_local Buffer buffer;
    std::int64_t bytes = 0;
    Status status = Status::kMayHold;
    try {
        status = Search(j, path, patterns, buffer, budget, bytes);
    } catch (const std::exception&) {
        status = Status::kMayHold;  // out of memory, say: the run will see for itself
    }
    const std::lock_guard lock(mutex_);
    Entry& entry = At(j);
    --entry.readers;
    // Given up (kBusy): whoever needs the answer finds it out itself. The first answer stays;
    // every thread answers alike, short of the run's budget.
    if (status != Status::kBusy && entry.status == Status::kBusy) {
        entry.status = status;
        entry.bytes = bytes;
        if (run_waits_) {
            answer_.notify_all();
        }
    }
}

ReplaceAhead::Status ReplaceAhead::Search(std::size_t j, const std::u16string& path,
                                          std::vector<SearchPattern>& patterns, Buffer& buffer,
                                          std::int64_t budget, std::int64_t& bytes) {
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
    auto input = files_.OpenToSearch(path);
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
