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
#include "folder/services/detect_encoding.h"
#include "folder/services/encodings.h"
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

// Why the file in hand could not be changed: set where a read, the backup or the write-back
// fails, reported once by ReplaceInFile. Mode 0 works on one file at a time on the run's thread.
thread_local std::optional<Failure> file_failure;

void Failed(const Failure& failure) { file_failure = failure; }

// The bytes of a file in hand: a window that slides over it from the start.
class Window {
public:
    Window(WindowMemory& buffer, std::unique_ptr<InputFile> input)
        : buffer_(buffer), input_(std::move(input)) {}

    std::string_view Bytes() const { return {buffer_.bytes.get(), size_}; }
    // True once the window reaches the end of the file.
    bool AtEnd() const { return at_end_; }
    // The open file, handed over; the window reads no more.
    std::unique_ptr<InputFile> TakeInput() { return std::move(input_); }
    // Forgets the first n bytes of the window.
    void Drop(std::size_t n) {
        std::memmove(buffer_.bytes.get(), buffer_.bytes.get() + n, size_ - n);
        size_ -= n;
    }
    // Reads until the window is full or the file ends.
    [[nodiscard]] bool Fill() {
        while (size_ < buffer_.size && !at_end_) {
            auto got = input_->Read(buffer_.bytes.get() + size_, buffer_.size - size_);
            if (!got) {
                Failed(got.error());
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
};

// Opens the file and reads its first window.
std::unique_ptr<Window> OpenWindow(Work& work, std::u16string_view path, WindowMemory& buffer) {
    auto input = work.files.OpenInput(path);
    if (!input) {
        Failed(input.error());
        return nullptr;
    }
    auto window = std::make_unique<Window>(buffer, std::move(*input));
    if (!window->Fill()) {
        return nullptr;
    }
    return window;
}

enum class Outcome { kDone, kStopped, kFailed };

// Runs the pattern over the whole file from the window on, handing the sink the bytes
// between matches (Literal), each match (Match) and each new window (NextWindow, not for the
// first). Any of them may end the scan by returning false. The first `start` bytes (a byte
// order mark) are handed over as they are, never searched.
template <typename Sink>
Outcome Scan(const SearchPattern& pattern, Window& window, Sink& sink, std::size_t start) {
    std::size_t from = std::min(start, window.Bytes().size());
    if (!sink.Literal(window.Bytes().substr(0, from))) {
        return Outcome::kStopped;
    }
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

// The new contents waiting to be written. Kept from file to file like the window, so that its
// pages are taken from the system once per thread rather than once per changed file.
std::string& PendingBuffer() {
    thread_local std::string pending;
    pending.clear();
    pending.reserve(kOutputBytes);
    return pending;
}

// Writes the original bytes with every match replaced, counting the replacements.
struct WriteSink {
    Work& work;
    AtomicOutput& out;
    std::string_view replacement;
    std::string& pending = PendingBuffer();
    std::int64_t replaced = 0;
    std::int32_t step = 0;
    bool stopped = false;
    bool failed = false;

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
            Failed(result.error());
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

// Collects the new contents of a file held whole, to compare the readings of an uncertain file.
struct CollectSink {
    std::string_view replacement;
    std::string out{};
    std::int64_t replaced = 0;

    bool Literal(std::string_view bytes) {
        out.append(bytes);
        return true;
    }
    bool Match() {
        ++replaced;
        out.append(replacement);
        return true;
    }
    bool NextWindow() { return true; }
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
    const std::size_t size = kWindowBytes + max_match_bytes + 4;
    if (memory.size != size) {
        memory.bytes = std::make_unique_for_overwrite<char[]>(size);
        memory.size = size;
    }
    return memory;
}

Encoding FixedEncoding(run::EncodingChoice choice) {
    switch (choice) {
        case run::kEncodingUtf8:
            return Encoding::kUtf8;
        case run::kEncodingEucJp:
            return Encoding::kEucJp;
        default:
            return Encoding::kCp932;
    }
}

constexpr std::array<Encoding, 5> kReadable = {Encoding::kCp932, Encoding::kUtf8, Encoding::kEucJp,
                                               Encoding::kUtf16Le, Encoding::kUtf16Be};

// Reads the file from the window on until the detector has its answer. The window is left as
// it was when it held the whole file. Yields.
Outcome Detect(Work& work, Window& window, Detection& detection) {
    EncodingDetector detector;
    std::uint64_t base = 0;
    for (;;) {
        detector.Feed(window.Bytes(), base, window.AtEnd());
        if (detector.Settled() || window.AtEnd()) {
            break;
        }
        const std::uint64_t consumed = detector.Consumed();
        window.Drop(static_cast<std::size_t>(consumed - base));
        base = consumed;
        if (!window.Fill()) {
            return Outcome::kFailed;
        }
        work.view.Yield();
        if (work.state.StopRequested != 0) {
            return Outcome::kStopped;
        }
    }
    detection = detector.Result();
    return Outcome::kDone;
}

// Whether the pattern finds a match in the file; when it does and the window did not hold the
// whole file, the window is read again from the start. Yields.
Outcome FindsMatch(Work& work, std::u16string_view path, const SearchPattern& pattern,
                   std::unique_ptr<Window>& window, WindowMemory& buffer, std::size_t start,
                   bool& found) {
    if (window->AtEnd()) {
        ByteSpan match;
        std::size_t resume = 0;
        found = pattern.Find(window->Bytes(), std::min(start, window->Bytes().size()), true, match,
                             resume);
        return work.state.StopRequested != 0 ? Outcome::kStopped : Outcome::kDone;
    }
    ProbeSink probe{work};
    const Outcome outcome = Scan(pattern, *window, probe, start);
    found = probe.found;
    if (probe.stopped) {
        return Outcome::kStopped;
    }
    if (outcome == Outcome::kFailed) {
        return Outcome::kFailed;
    }
    if (!found) {
        return work.state.StopRequested != 0 ? Outcome::kStopped : Outcome::kDone;
    }
    window = OpenWindow(work, path, buffer);
    return window ? Outcome::kDone : Outcome::kFailed;
}

// How the file is to be read: in `encoding`, or left alone for its encoding (skip).
struct Reading {
    Encoding encoding = Encoding::kCp932;
    bool skip = false;
    bool nothing = false;  // no reading finds anything: nothing to do
};

// An uncertain file is changed only when every plausible reading would change it alike.
Outcome DecideUncertain(Work& work, std::u16string_view path, const Detection& detection,
                        std::unique_ptr<Window>& window, WindowMemory& buffer, Reading& reading) {
    const auto& state = work.state;
    const bool whole = window->AtEnd();
    std::vector<Encoding> matching;
    for (const Encoding e : detection.plausible) {
        bool found = false;
        const Outcome outcome =
            FindsMatch(work, path, PatternFor(state.SearchText, state.CaseSensitive != 0, e),
                       window, buffer, 0, found);
        if (outcome != Outcome::kDone) {
            return outcome;
        }
        if (found) {
            matching.push_back(e);
        } else if (!whole) {
            window = OpenWindow(work, path, buffer);
            if (!window) {
                return Outcome::kFailed;
            }
        }
    }
    reading.encoding = detection.encoding;
    if (matching.empty()) {
        reading.nothing = true;
        return Outcome::kDone;
    }
    // Differing readings, one that cannot hold the replacement, or a file too big to compare
    // in memory: the file stays as it is.
    reading.skip = !whole || matching.size() != detection.plausible.size();
    std::string first;
    for (std::size_t i = 0; !reading.skip && i < matching.size(); ++i) {
        if (!CanEncodeText(matching[i], state.ReplaceText)) {
            reading.skip = true;
            break;
        }
        const std::string replacement = EncodeText(matching[i], state.ReplaceText);
        CollectSink sink{replacement};
        (void)Scan(PatternFor(state.SearchText, state.CaseSensitive != 0, matching[i]), *window,
                   sink, 0);
        if (i == 0) {
            first = std::move(sink.out);
        } else {
            reading.skip = sink.out != first;
        }
    }
    reading.encoding = matching.front();
    return Outcome::kDone;
}

// A file in an encoding that mode 0 does not write is counted when its text holds the search.
bool OtherHoldsSearch(const run::RunState& state, const Detection& detection,
                      const Window& window) {
    if (!window.AtEnd()) {
        return true;
    }
    const std::u16string text = DecodeByIcu(detection.other, window.Bytes());
    return FindText(text, state.SearchText, 0, state.CaseSensitive != 0) != kNotFound;
}

// Done: the file was rewritten, or had nothing to rewrite (also when left as it was for its
// encoding, counted then); Stopped: a stop request came first and the file is as it was;
// Failed: a read, the backup or the write-back failed and the file is as it was.
Outcome Replace(Work& work, std::u16string_view path) {
    auto& state = work.state;
    const TextKind kind = TextKindByName(path);
    if (kind == TextKind::kBinary) {
        return Outcome::kDone;
    }
    const bool automatic = state.Encoding == run::kEncodingAuto;
    std::size_t longest = 0;
    for (const Encoding e : kReadable) {
        if (automatic || e == FixedEncoding(state.Encoding)) {
            longest = std::max(
                longest, PatternFor(state.SearchText, state.CaseSensitive != 0, e).MaxMatchBytes());
        }
    }
    WindowMemory& buffer = WindowBuffer(longest);
    auto window = OpenWindow(work, path, buffer);
    if (!window) {
        return Outcome::kFailed;
    }

    Detection detection;
    detection.encoding = FixedEncoding(state.Encoding);
    if (automatic) {
        const bool whole = window->AtEnd();
        if (const Outcome outcome = Detect(work, *window, detection); outcome != Outcome::kDone) {
            return outcome;
        }
        if (!whole) {
            window = OpenWindow(work, path, buffer);
            if (!window) {
                return Outcome::kFailed;
            }
        }
    }
    // Zero bytes make a file binary, except in UTF-16 found by its byte order mark.
    const bool utf16 =
        detection.kind == Detection::Kind::kFound &&
        (detection.encoding == Encoding::kUtf16Le || detection.encoding == Encoding::kUtf16Be);
    if (kind == TextKind::kUnknown && !utf16) {
        const bool whole = window->AtEnd();
        switch (ScanForZero(work, *window)) {
            case Content::kText:
                break;
            case Content::kStopped:
                return Outcome::kStopped;
            case Content::kNotText:
                return Outcome::kDone;
            case Content::kFailed:
                return Outcome::kFailed;
        }
        if (!whole) {
            window = OpenWindow(work, path, buffer);
            if (!window) {
                return Outcome::kFailed;
            }
        }
    }

    Reading reading;
    reading.encoding = detection.encoding;
    if (detection.kind == Detection::Kind::kOther) {
        if (OtherHoldsSearch(state, detection, *window)) {
            state.EncodingSkippedCount = SaturatedSum(state.EncodingSkippedCount, 1);
        }
        return Outcome::kDone;
    }
    if (detection.kind == Detection::Kind::kUncertain) {
        if (const Outcome outcome = DecideUncertain(work, path, detection, window, buffer, reading);
            outcome != Outcome::kDone) {
            return outcome;
        }
        if (reading.nothing) {
            return Outcome::kDone;
        }
        if (reading.skip) {
            state.EncodingSkippedCount = SaturatedSum(state.EncodingSkippedCount, 1);
            return Outcome::kDone;
        }
    }
    const Encoding encoding = reading.encoding;
    const std::size_t start = ByteOrderMark(encoding).size();
    const SearchPattern& pattern = PatternFor(state.SearchText, state.CaseSensitive != 0, encoding);

    // Is there anything to replace? A file held whole is searched in place; a larger one is
    // read up to its first match and then read again from the start for the rewrite.
    bool found = false;
    if (const Outcome outcome = FindsMatch(work, path, pattern, window, buffer, start, found);
        outcome != Outcome::kDone) {
        return outcome;
    }
    if (!found) {
        return state.StopRequested != 0 ? Outcome::kStopped : Outcome::kDone;
    }
    // A replacement the file's encoding cannot hold would be written as '?': the file is left
    // as it is, and counted. A fixed choice has refused such a replacement at Start.
    if (automatic && !CanEncodeText(encoding, state.ReplaceText)) {
        state.EncodingSkippedCount = SaturatedSum(state.EncodingSkippedCount, 1);
        return Outcome::kDone;
    }

    // The new contents go to a temporary file that only Commit puts in place, so a stop or a
    // failure on the way leaves the original as it was.
    auto output = work.files.BeginReplace(path);
    if (!output) {
        Failed(output.error());
        return Outcome::kFailed;
    }
    const std::string replacement = EncodeText(encoding, state.ReplaceText);
    WriteSink sink{work, **output, replacement};
    const Outcome outcome = Scan(pattern, *window, sink, start);
    if (sink.stopped) {
        return Outcome::kStopped;
    }
    if (outcome != Outcome::kDone || sink.failed) {
        return Outcome::kFailed;
    }
    if (sink.replaced > 0) {
        work.view.SetCaption(run::Caption::LblStat, ProgressMarker(state.ProgressTicks));
    }
    if (state.StopRequested != 0) {
        return Outcome::kStopped;
    }
    if (sink.replaced == 0 || !sink.Flush()) {
        return Outcome::kFailed;
    }
    const std::int32_t replaced = SaturatedSum(0, sink.replaced);
    state.ReplacedStringCount = SaturatedSum(state.ReplacedStringCount, replaced);
    state.ChangedFileCount = SaturatedSum(state.ChangedFileCount, 1);
    // The backup is made before the new contents are put in place, and without a backup
    // nothing is changed; a file that ends up unchanged is not counted.
    const std::u16string backup = std::u16string(path) + u".BAK";
    auto kept = work.files.CopyForBackup(path, backup);
    if (kept) {
        kept = (*output)->Commit();
        if (!kept) {
            // The backup may be the file itself under a second name; as the file keeps its
            // contents, the backup becomes a copy of its own, which a later change of the
            // file in place leaves as it is.
            (void)work.files.CopyForBackup(path, backup);
        }
    }
    if (!kept) {
        state.ReplacedStringCount -= replaced;
        state.ChangedFileCount -= 1;
        Failed(kept.error());
        return Outcome::kFailed;
    }
    if (work.files.ConcurrentReads()) {
        CloseInBackground(window->TakeInput());
    }
    work.view.ReportChange(run::Change{std::u16string(path), std::u16string(), replaced,
                                       std::string(EncodingName(encoding))});
    return Outcome::kDone;
}

}  // namespace

std::vector<SearchPattern> CandidatePatterns(const run::RunState& state) {
    const bool case_sensitive = state.CaseSensitive != 0;
    std::vector<SearchPattern> patterns;
    if (state.Encoding != run::kEncodingAuto) {
        patterns.push_back(
            PatternFor(state.SearchText, case_sensitive, FixedEncoding(state.Encoding)));
        return patterns;
    }
    // UTF-8 first: where the text is ASCII, its bytes are the same in code page 932 and
    // EUC-JP, and there they may only match where UTF-8 does.
    const SearchPattern& utf8 = PatternFor(state.SearchText, case_sensitive, Encoding::kUtf8);
    patterns.push_back(utf8);
    for (const Encoding e : kReadable) {
        const SearchPattern& pattern = PatternFor(state.SearchText, case_sensitive, e);
        const bool same_bytes =
            pattern.ByteExact() && utf8.ByteExact() && pattern.Bytes() == utf8.Bytes();
        if (e != Encoding::kUtf8 && !same_bytes) {
            patterns.push_back(pattern);
        }
    }
    return patterns;
}

bool ReplaceInFile(Work& work, std::u16string_view path) {
    bool stopped = false;
    file_failure.reset();
    bool failed = false;
    try {
        const Outcome outcome = Replace(work, path);
        stopped = outcome == Outcome::kStopped;
        failed = outcome == Outcome::kFailed;
    } catch (const std::bad_alloc&) {
        // Out of memory on a huge file, say: the file is left as it was.
        Failed(Failure::FromErrno(ENOMEM, NativePath(path)));
        failed = true;
    } catch (const std::exception&) {
        Failed(Failure::FromErrno(EIO, NativePath(path)));
        failed = true;
    }
    work.state.WorkText.clear();
    if (failed && file_failure) {
        ReportFailure(work, path, *file_failure);
    }
    file_failure.reset();
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
