#include "folder/replace_in_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "folder/progress_marker.h"
#include "folder/replace_ahead.h"
#include "folder/replace_engine.h"
#include "folder/report_failure.h"
#include "folder/services/cp932.h"
#include "folder/services/text_search.h"
#include "folder/text_endings.h"

namespace popuran::folder {

namespace {

// Files are read in windows of this size, so that memory stays bounded whatever their size.
constexpr std::size_t kWindowBytes = std::size_t{4} << 20;
// The zero-byte scan yields once per block of this size.
constexpr std::size_t kScanBlockBytes = std::size_t{64} << 10;
// New contents are collected up to this size before they are written.
constexpr std::size_t kOutputBytes = std::size_t{1} << 20;
// The square moves once per this many replacements of the run.
constexpr std::int32_t kTicksPerStep = 20;

std::int32_t SaturatedSum(std::int32_t a, std::int64_t b) {
    const std::int64_t sum = static_cast<std::int64_t>(a) + b;
    return static_cast<std::int32_t>(
        std::min<std::int64_t>(sum, std::numeric_limits<std::int32_t>::max()));
}

// One replacement counted for the progress display: every 20th of the run moves the square
// one cell (from the left edge for each file) and lets the window breathe.
void Tick(Work& work, std::int32_t& step) {
    auto& state = work.state;
    state.ProgressTicks = state.ProgressTicks == std::numeric_limits<std::int32_t>::max()
                              ? 0
                              : state.ProgressTicks + 1;
    if (state.ProgressTicks % kTicksPerStep == 0) {
        ++step;
        work.view.SetCaption(run::Caption::LblStat, ProgressMarker(step));
        work.view.Yield();
    }
}

struct WindowMemory {
    std::unique_ptr<char[]> bytes;
    std::size_t size = 0;
};

// The bytes of a file in hand: a window that slides over it from the start.
class Window {
public:
    Window(WindowMemory& buffer, std::unique_ptr<InputFile> input)
        : buffer_(buffer), input_(std::move(input)) {}

    std::string_view Bytes() const { return {buffer_.bytes.get(), size_}; }
    // Why the last Fill failed.
    const std::optional<Failure>& Error() const { return error_; }
    // True once the window reaches the end of the file.
    bool AtEnd() const { return at_end_; }
    // The open file, handed over; the window reads no more.
    std::unique_ptr<InputFile> TakeInput() { return std::move(input_); }
    // Forgets the first n bytes of the window.
    void Drop(std::size_t n) {
        std::memmove(buffer_.bytes.get(), buffer_.bytes.get() + n, size_ - n);
        size_ -= n;
    }
    // Reads until the window is full or the file ends. On failure, Error() says why.
    [[nodiscard]] bool Fill() {
        while (size_ < buffer_.size && !at_end_) {
            auto got = input_->Read(buffer_.bytes.get() + size_, buffer_.size - size_);
            if (!got) {
                error_ = got.error();
                return false;
            }
            if (*got == 0) {
                at_end_ = true;
            }
            size_ += *got;
        }
        return true;
    }

private:
    WindowMemory& buffer_;
    std::unique_ptr<InputFile> input_;
    std::size_t size_ = 0;
    bool at_end_ = false;
    std::optional<Failure> error_;
};

// Opens the file and reads its first window; on failure says why in `failure`.
std::unique_ptr<Window> OpenWindow(Work& work, std::u16string_view path, WindowMemory& buffer,
                                   std::optional<Failure>& failure) {
    auto input = work.files.OpenInput(path);
    if (!input) {
        failure = input.error();
        return nullptr;
    }
    auto window = std::make_unique<Window>(buffer, std::move(*input));
    if (!window->Fill()) {
        failure = window->Error();
        return nullptr;
    }
    return window;
}

enum class Outcome { kDone, kStopped, kFailed };

// Runs the pattern over the whole file from the window on, handing the sink the bytes
// between matches (Literal), each match (Match) and each new window (NextWindow, not for the
// first). Any of them may end the scan by returning false.
template <typename Sink>
Outcome Scan(const SearchPattern& pattern, Window& window, Sink& sink) {
    std::size_t from = 0;
    for (;;) {
        const std::string_view bytes = window.Bytes();
        ByteSpan match;
        std::size_t resume = 0;
        if (pattern.Find(bytes, from, window.AtEnd(), match, resume)) {
            if (!sink.Literal(bytes.substr(from, match.begin - from)) || !sink.Match()) {
                return Outcome::kStopped;
            }
            from = match.end;
            continue;
        }
        if (!sink.Literal(bytes.substr(from, resume - from))) {
            return Outcome::kStopped;
        }
        if (window.AtEnd()) {
            return Outcome::kDone;
        }
        window.Drop(resume);
        from = 0;
        if (!window.Fill()) {
            return Outcome::kFailed;
        }
        if (!sink.NextWindow()) {
            return Outcome::kStopped;
        }
    }
}

// Looks for the first match only: a file without one is read once and never written.
struct ProbeSink {
    Work& work;
    bool found = false;
    bool stopped = false;

    bool Literal(std::string_view) { return true; }
    bool Match() {
        found = true;
        return false;
    }
    bool NextWindow() {
        work.view.Yield();
        stopped = work.state.StopRequested != 0;
        return !stopped;
    }
};

// Writes the original bytes with every match replaced, counting the replacements.
struct WriteSink {
    Work& work;
    AtomicOutput& out;
    std::string_view replacement;
    std::string pending{};
    std::int64_t replaced = 0;
    std::int32_t step = 0;
    bool stopped = false;
    bool failed = false;
    std::optional<Failure> failure{};

    bool Put(std::string_view bytes) {
        if (pending.size() + bytes.size() > kOutputBytes && !Flush()) {
            return false;
        }
        if (bytes.size() >= kOutputBytes) {
            Wrote(out.Write(bytes));
            return !failed;
        }
        pending.append(bytes);
        return true;
    }
    bool Flush() {
        if (!pending.empty()) {
            Wrote(out.Write(pending));
            pending.clear();
        }
        return !failed;
    }
    void Wrote(const Result<void>& result) {
        if (!result) {
            failed = true;
            failure = result.error();
        }
    }
    bool Literal(std::string_view bytes) { return Put(bytes); }
    bool Match() {
        if (work.state.StopRequested != 0) {
            stopped = true;
            return false;
        }
        ++replaced;
        if (!Put(replacement)) {
            return false;
        }
        Tick(work, step);
        return true;
    }
    bool NextWindow() {
        work.view.Yield();
        stopped = work.state.StopRequested != 0;
        return !stopped;
    }
};

// Looks for a zero byte from the window on. Yields once per block and polls the stop request
// after each yield.
enum class Content { kText, kNotText, kStopped, kFailed };
Content ScanForZero(Work& work, Window& window) {
    for (;;) {
        const std::string_view bytes = window.Bytes();
        for (std::size_t at = 0; at < bytes.size(); at += kScanBlockBytes) {
            const std::size_t n = std::min(kScanBlockBytes, bytes.size() - at);
            const void* zero = std::memchr(bytes.data() + at, 0, n);
            if (zero == bytes.data() + at) {
                return Content::kNotText;
            }
            work.view.Yield();
            if (work.state.StopRequested != 0) {
                return Content::kStopped;
            }
            if (zero != nullptr) {
                return Content::kNotText;
            }
        }
        if (window.AtEnd()) {
            return Content::kText;
        }
        window.Drop(bytes.size());
        if (!window.Fill()) {
            return Content::kFailed;
        }
    }
}

WindowMemory& WindowBuffer(std::size_t max_match_bytes) {
    // Kept from file to file, since a run reads thousands of small files, and never cleared:
    // only the bytes read into it are looked at.
    thread_local WindowMemory memory;
    const std::size_t size = kWindowBytes + max_match_bytes + 2;
    if (memory.size != size) {
        memory.bytes = std::make_unique_for_overwrite<char[]>(size);
        memory.size = size;
    }
    return memory;
}

// Done: the file was rewritten, or had nothing to rewrite; Stopped: a stop request came first
// and the file is as it was; Failed: a read, the backup or the write-back failed and the file is
// as it was (`failure` then says why).
Outcome Replace(Work& work, std::u16string_view path, std::optional<Failure>& failure) {
    auto& state = work.state;
    const TextKind kind = TextKindByName(path);
    if (kind == TextKind::kBinary) {
        return Outcome::kDone;
    }
    const SearchPattern& pattern = PatternFor(state.SearchText, state.CaseSensitive != 0);
    WindowMemory& buffer = WindowBuffer(pattern.MaxMatchBytes());
    auto window = OpenWindow(work, path, buffer, failure);
    if (!window) {
        return Outcome::kFailed;
    }

    if (kind == TextKind::kUnknown) {
        const bool whole = window->AtEnd();
        switch (ScanForZero(work, *window)) {
            case Content::kText:
                break;
            case Content::kStopped:
                return Outcome::kStopped;
            case Content::kNotText:
                return Outcome::kDone;
            case Content::kFailed:
                failure = window->Error();
                return Outcome::kFailed;
        }
        if (!whole) {
            window = OpenWindow(work, path, buffer, failure);
            if (!window) {
                return Outcome::kFailed;
            }
        }
    }

    // Is there anything to replace? A file held whole is searched in place; a larger one is
    // read up to its first match and then read again from the start for the rewrite.
    if (window->AtEnd()) {
        ByteSpan match;
        std::size_t resume = 0;
        if (!pattern.Find(window->Bytes(), 0, true, match, resume)) {
            return state.StopRequested != 0 ? Outcome::kStopped : Outcome::kDone;
        }
    } else {
        ProbeSink probe{work};
        const Outcome outcome = Scan(pattern, *window, probe);
        if (probe.stopped) {
            return Outcome::kStopped;
        }
        if (outcome == Outcome::kFailed) {
            failure = window->Error();
            return Outcome::kFailed;
        }
        if (!probe.found) {
            return state.StopRequested != 0 ? Outcome::kStopped : Outcome::kDone;
        }
        window = OpenWindow(work, path, buffer, failure);
        if (!window) {
            return Outcome::kFailed;
        }
    }

    // The new contents go to a temporary file that only Commit puts in place, so a stop or a
    // failure on the way leaves the original as it was.
    auto output = work.files.BeginReplace(path);
    if (!output) {
        failure = output.error();
        return Outcome::kFailed;
    }
    const std::string replacement = Cp932Encode(state.ReplaceText);
    WriteSink sink{work, **output, replacement};
    const Outcome outcome = Scan(pattern, *window, sink);
    if (sink.stopped) {
        return Outcome::kStopped;
    }
    if (outcome != Outcome::kDone || sink.failed) {
        failure = sink.failed ? sink.failure : window->Error();
        return Outcome::kFailed;
    }
    if (sink.replaced > 0) {
        work.view.SetCaption(run::Caption::LblStat, ProgressMarker(state.ProgressTicks));
    }
    if (state.StopRequested != 0) {
        return Outcome::kStopped;
    }
    if (sink.replaced == 0 || !sink.Flush()) {
        failure = sink.failure;
        return Outcome::kFailed;
    }
    const std::int32_t replaced = SaturatedSum(0, sink.replaced);
    state.ReplacedStringCount = SaturatedSum(state.ReplacedStringCount, replaced);
    state.ChangedFileCount = SaturatedSum(state.ChangedFileCount, 1);
    // The backup is made before the new contents are put in place, and without a backup
    // nothing is changed; a file that ends up unchanged is not counted.
    auto kept = work.files.CopyForBackup(path, std::u16string(path) + u".BAK");
    if (kept) {
        kept = (*output)->Commit();
    }
    if (!kept) {
        state.ReplacedStringCount -= replaced;
        state.ChangedFileCount -= 1;
        failure = kept.error();
        return Outcome::kFailed;
    }
    if (work.files.ConcurrentReads()) {
        CloseInBackground(window->TakeInput());
    }
    work.view.ReportChange(run::Change{std::u16string(path), std::u16string(), replaced});
    return Outcome::kDone;
}

}  // namespace

bool ReplaceInFile(Work& work, std::u16string_view path) {
    bool stopped = false;
    std::optional<Failure> failure;
    try {
        stopped = Replace(work, path, failure) == Outcome::kStopped;
    } catch (const std::bad_alloc&) {
        // Out of memory on a huge file, say: the file is left as it was.
        failure = Failure::FromErrno(ENOMEM, NativePath(path));
    } catch (const std::exception&) {
        failure = Failure::FromErrno(EIO, NativePath(path));
    }
    work.state.WorkText.clear();
    if (failure) {
        ReportFailure(work, path, *failure);
    }
    return stopped;
}

std::int32_t ReplaceAll(Work& work, std::u16string_view text, std::u16string_view search,
                        std::u16string_view replacement) {
    auto& state = work.state;
    const bool case_sensitive = state.CaseSensitive != 0;
    // Built aside, so that text may even be WorkText itself.
    std::u16string out;
    std::int32_t count = 0;
    std::int32_t step = 0;
    std::size_t rest = 0;
    for (std::size_t at = FindText(text, search, 0, case_sensitive); at != kNotFound;
         at = FindText(text, search, rest, case_sensitive)) {
        if (state.StopRequested != 0) {
            state.WorkText = std::move(out);
            return 0;
        }
        ++count;
        out.append(text.substr(rest, at - rest));
        out.append(replacement);
        rest = at + search.size();
        Tick(work, step);
    }
    out.append(text.substr(rest));
    state.WorkText = std::move(out);
    if (count != 0) {
        work.view.SetCaption(run::Caption::LblStat, ProgressMarker(state.ProgressTicks));
    }
    return count;
}

}  // namespace popuran::folder
