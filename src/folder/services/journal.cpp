// Journal files: one per run, a line per record, appended and never rewritten.
//
// Records (fields separated by tabs; bytes below 0x20, 0x7F and '%' written as %XX):
//   popuran-journal 1 START MODE FOLDER PATTERN SEARCH REPLACE SUBFOLDERS CASE
//   W SEQ PATH BACKUP OLD-HASH NEW-HASH   a rewrite about to be put in place
//   R SEQ OLD-PATH NEW-PATH DEVICE:INODE  a rename about to be made ("-" when unknown)
//   D SEQ                                 that change was made
//   U SEQ                                 an undo put that change back
//   E                                     the run reached its end
#include "folder/services/journal.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

#include "folder/services/path_helpers.h"
#include "folder/services/utf8.h"

namespace popuran::folder {

namespace {

constexpr char kMagic[] = "popuran-journal";
constexpr char kSuffix[] = ".journal";

// Appends bytes with every control byte and '%' written as %XX, so that a record stays one
// line of tab-separated fields.
void AppendEscaped(std::string& out, std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::size_t plain = 0;  // bytes[plain, i) need no escape
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x20 || b == 0x7F || b == '%') {
            out.append(bytes.substr(plain, i - plain));
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 0xF];
            plain = i + 1;
        }
    }
    out.append(bytes.substr(plain));
}

std::string Escape(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    AppendEscaped(out, bytes);
    return out;
}

std::string Unescape(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        unsigned value = 0;
        if (field[i] == '%' && i + 2 < field.size() &&
            std::from_chars(field.data() + i + 1, field.data() + i + 3, value, 16).ptr ==
                field.data() + i + 3) {
            out += static_cast<char>(value);
            i += 2;
        } else {
            out += field[i];
        }
    }
    return out;
}

std::string Field(std::u16string_view text) { return Escape(TextToUtf8(text)); }

// Paths are kept whole, so that an undo started from another folder finds the same files.
void AppendPathField(std::string& out, const std::string& cwd, std::u16string_view path) {
    if (path.empty() || path.front() != u'/') {
        AppendEscaped(out, cwd);
        out += '/';
    }
    AppendEscaped(out, TextToUtf8(path));
}

std::string CurrentFolder() {
    std::string cwd(4096, '\0');
    while (getcwd(cwd.data(), cwd.size()) == nullptr) {
        if (errno != ERANGE) {
            return ".";
        }
        cwd.resize(cwd.size() * 2);
    }
    cwd.resize(cwd.find('\0'));
    return cwd;
}

std::vector<std::string_view> Split(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string_view::npos) {
            return fields;
        }
        start = tab + 1;
    }
}

bool ParseInt(std::string_view text, std::int64_t& value) {
    const auto end = text.data() + text.size();
    return !text.empty() && std::from_chars(text.data(), end, value).ptr == end;
}

std::string PathOf(const std::string& folder, const std::string& id) {
    return folder + "/" + id + kSuffix;
}

Result<void> MakeFolders(const std::string& folder) {
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            return Fail(errno, part);
        }
        if (slash == std::string::npos) {
            return {};
        }
    }
}

// An open that a signal interrupts is tried again: a run's journal is not lost to a signal.
int OpenRetrying(const std::string& path, int flags) {
    int fd = -1;
    do {
        fd = open(path.c_str(), flags | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

Result<void> WriteAll(int fd, std::string_view bytes, const std::string& context) {
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Fail(errno, context);
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return {};
}

// A file read on the run's thread, hashed as it is read.
class HashingInput final : public InputFile {
public:
    HashingInput(std::unique_ptr<InputFile> inner,
                 std::shared_ptr<JournallingFileServices::Reading> reading)
        : inner_(std::move(inner)), reading_(std::move(reading)) {}

    Result<std::size_t> Read(char* buffer, std::size_t n) override {
        auto got = inner_->Read(buffer, n);
        if (got) {
            reading_->hash.Update(std::string_view(buffer, *got));
            reading_->bytes += *got;
        }
        return got;
    }

private:
    std::unique_ptr<InputFile> inner_;
    std::shared_ptr<JournallingFileServices::Reading> reading_;
};

// The new contents of a file, hashed as they are written; the rewrite is recorded just before
// it is put in place and confirmed right after.
class JournalledOutput final : public AtomicOutput {
public:
    JournalledOutput(std::unique_ptr<AtomicOutput> inner, JournallingFileServices& files,
                     JournalWriter& journal, std::u16string path, std::u16string backup)
        : inner_(std::move(inner)),
          files_(files),
          journal_(journal),
          path_(std::move(path)),
          backup_(std::move(backup)) {}

    Result<void> Write(std::string_view bytes) override {
        hash_.Update(bytes);
        return inner_->Write(bytes);
    }

    Result<void> Commit() override {
        // The file still holds its old contents here: the new ones are put in place only below.
        auto old_hash = files_.OldContentsHash(path_);
        if (!old_hash) {
            return tl::unexpected(old_hash.error());
        }
        JournalChange change;
        change.kind = JournalChange::Kind::kRewrite;
        change.path = path_;
        change.other = backup_;
        change.old_hash = std::move(*old_hash);
        change.new_hash = hash_.Hex();
        const std::int32_t seq = journal_.Intend(change);
        auto done = inner_->Commit();
        if (done) {
            journal_.Confirm(seq);
        }
        return done;
    }

private:
    std::unique_ptr<AtomicOutput> inner_;
    JournallingFileServices& files_;
    JournalWriter& journal_;
    std::u16string path_;
    std::u16string backup_;
    ContentHash hash_;
};

}  // namespace

std::string JournalFolder() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/') {
        return std::string(state) + "/popuran";
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
        return std::string(home) + "/.local/state/popuran";
    }
    return {};
}

std::int32_t JournalEntry::Confirmed() const {
    return static_cast<std::int32_t>(
        std::count_if(changes.begin(), changes.end(), [](const auto& c) { return c.confirmed; }));
}

struct ContentHash::State {
    XXH3_state_t* xxh = XXH3_createState();
};

ContentHash::ContentHash() : state_(std::make_unique<State>()) {
    if (state_->xxh == nullptr) {
        throw std::bad_alloc();
    }
    XXH3_128bits_reset(state_->xxh);
}

ContentHash::~ContentHash() { XXH3_freeState(state_->xxh); }

void ContentHash::Update(std::string_view bytes) {
    XXH3_128bits_update(state_->xxh, bytes.data(), bytes.size());
}

std::string ContentHash::Hex() const {
    const XXH128_hash_t h = XXH3_128bits_digest(state_->xxh);
    char hex[40];
    std::snprintf(hex, sizeof hex, "%016llx%016llx", static_cast<unsigned long long>(h.high64),
                  static_cast<unsigned long long>(h.low64));
    return hex;
}

Result<std::string> HashFile(FileServices& files, std::u16string_view path) {
    auto input = files.OpenInput(path);
    if (!input) {
        return tl::unexpected(input.error());
    }
    ContentHash hash;
    std::string buffer(1 << 16, '\0');
    for (;;) {
        auto n = (*input)->Read(buffer.data(), buffer.size());
        if (!n) {
            return tl::unexpected(n.error());
        }
        if (*n == 0) {
            return hash.Hex();
        }
        hash.Update(std::string_view(buffer.data(), *n));
    }
}

JournalWriter::~JournalWriter() { EndRun(); }

void JournalWriter::BeginRun(JournalHeader header) {
    EndRun();
    header_ = std::move(header);
    header_.id.clear();
    failure_.reset();
    cwd_ = CurrentFolder();
    armed_ = true;
    next_seq_ = 0;
}

Result<void> JournalWriter::Create() {
    if (folder_.empty()) {
        return Fail(ENOENT, "journal folder ($HOME is not set)");
    }
    if (auto made = MakeFolders(folder_); !made) {
        return made;
    }
    // Ids sort by time, so the newest entry is the last name; the process id and a counter keep
    // two runs in the same microsecond apart.
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%S", &local);
    for (int attempt = 0; attempt < 100; ++attempt) {
        char id[64];
        std::snprintf(id, sizeof id, "%s.%06ld-%d-%d", stamp, now.tv_nsec / 1000,
                      static_cast<int>(getpid()), attempt);
        const std::string path = PathOf(folder_, id);
        const int fd = OpenRetrying(path, O_RDWR | O_CREAT | O_EXCL | O_APPEND);
        if (fd < 0 && errno == EEXIST) {
            continue;
        }
        if (fd < 0) {
            return Fail(errno, path);
        }
        fd_ = fd;
        map_ = nullptr;
        mapped_ = 0;
        used_ = 0;
        writing_ = false;
        header_.id = id;
        header_.start = now.tv_sec;
        break;
    }
    if (fd_ < 0) {
        return Fail(EEXIST, folder_);
    }
    const JournalHeader& h = header_;
    std::string line = std::string(kMagic) + "\t1\t" + std::to_string(h.start) + "\t" +
                       std::to_string(h.mode) + "\t";
    AppendPathField(line, cwd_, h.folder);
    line += "\t" + Field(h.pattern) + "\t" + Field(h.search) + "\t" + Field(h.replace) + "\t" +
            (h.subfolders ? "1" : "0") + "\t" + (h.case_sensitive ? "1" : "0") + "\n";
    if (auto written = Put(line); !written) {
        return written;
    }
    // Only the newest runs are kept.
    const auto ids = JournalIds(folder_);
    for (std::size_t i = kJournalsKept; i < ids.size(); ++i) {
        unlink(PathOf(folder_, ids[i]).c_str());
    }
    return {};
}

Result<void> JournalWriter::Append(std::string_view record) {
    if (fd_ < 0) {
        if (!armed_) {
            return Fail(EINVAL, "journal: no run");
        }
        if (auto created = Create(); !created) {
            return created;
        }
    }
    if (pending_.empty()) {
        return Put(record);
    }
    // The confirmation waiting goes first; on failure it waits on, without the record.
    const std::size_t waiting = pending_.size();
    pending_ += record;
    auto written = Put(pending_);
    if (written) {
        pending_.clear();
    } else {
        pending_.resize(waiting);
    }
    return written;
}

Result<void> JournalWriter::Put(std::string_view bytes) {
    constexpr std::size_t kStep = std::size_t{1} << 20;
    if (!writing_ && used_ + bytes.size() >= mapped_) {
        const std::size_t size = (used_ + bytes.size()) / kStep * kStep + kStep;
        int reserved = 0;
        do {
            reserved = fallocate(fd_, 0, 0, static_cast<off_t>(size));
        } while (reserved != 0 && errno == EINTR);
        // Only the part from the page of the next record on is mapped, so that the pages of
        // the records written stay out of the run's memory however long the run.
        if (map_ != nullptr) {
            munmap(map_, mapped_ - window_);
            map_ = nullptr;
        }
        void* map = MAP_FAILED;
        if (reserved == 0) {
            mapped_ = size;  // reserved: cut back by Unmap should the mapping fail
            const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
            window_ = used_ / page * page;
            map = mmap(nullptr, size - window_, PROT_READ | PROT_WRITE, MAP_SHARED, fd_,
                       static_cast<off_t>(window_));
        }
        if (map == MAP_FAILED) {
            Unmap();
            writing_ = true;
        } else {
            map_ = static_cast<char*>(map);
        }
    }
    if (writing_) {
        auto written = WriteAll(fd_, bytes, PathOf(folder_, header_.id));
        if (written) {
            used_ += bytes.size();
        }
        return written;
    }
    std::copy(bytes.begin(), bytes.end(), map_ + (used_ - window_));
    used_ += bytes.size();
    return {};
}

void JournalWriter::Unmap() {
    if (map_ != nullptr) {
        munmap(map_, mapped_ - window_);
        map_ = nullptr;
    }
    if (mapped_ != 0) {
        // A file cut short of its reserve (a failure, a kill) leaves zero bytes after its
        // records; readers pass over them.
        int cut = 0;
        do {
            cut = ftruncate(fd_, static_cast<off_t>(used_));
        } while (cut != 0 && errno == EINTR);
        mapped_ = 0;
    }
    window_ = 0;
}

std::int32_t JournalWriter::Intend(const JournalChange& change) {
    if (failure_) {
        return -1;
    }
    const std::int32_t seq = next_seq_;
    // One buffer for every record of the run: a rename run writes a record per file.
    std::string& record = record_;
    record.assign(change.kind == JournalChange::Kind::kRewrite ? "W\t" : "R\t");
    record += std::to_string(seq);
    record += '\t';
    AppendPathField(record, cwd_, change.path);
    record += '\t';
    AppendPathField(record, cwd_, change.other);
    record += '\t';
    if (change.kind == JournalChange::Kind::kRewrite) {
        record += change.old_hash;
        record += '\t';
        record += change.new_hash;
    } else if (change.identity == FileIdentity{}) {
        record += '-';
    } else {
        record += std::to_string(change.identity.device);
        record += ':';
        record += std::to_string(change.identity.inode);
    }
    record += '\n';
    if (auto written = Append(record); !written) {
        failure_ = written.error();
        return -1;
    }
    ++next_seq_;
    return seq;
}

void JournalWriter::Confirm(std::int32_t seq) {
    if (seq >= 0) {
        pending_ += "D\t" + std::to_string(seq) + "\n";
    }
}

void JournalWriter::EndRun() {
    if (fd_ >= 0) {
        // A failure here loses only confirmations, which an undo does not need: it looks at the
        // files themselves.
        (void)Put(pending_ + "E\n");
        Unmap();
        close(fd_);
        fd_ = -1;
    }
    pending_.clear();
    armed_ = false;
}

Result<void> AppendUndone(const std::string& folder, const std::string& id,
                          const std::vector<std::int32_t>& seqs) {
    if (seqs.empty()) {
        return {};
    }
    const std::string path = PathOf(folder, id);
    const int fd = OpenRetrying(path, O_WRONLY | O_APPEND);
    if (fd < 0) {
        return Fail(errno, path);
    }
    std::string records;
    for (const std::int32_t seq : seqs) {
        records += "U\t" + std::to_string(seq) + "\n";
    }
    auto written = WriteAll(fd, records, path);
    close(fd);
    return written;
}

Result<JournalEntry> ReadJournal(const std::string& folder, const std::string& id) {
    const std::string path = PathOf(folder, id);
    const int fd = OpenRetrying(path, O_RDONLY);
    if (fd < 0) {
        return Fail(errno, path);
    }
    std::string bytes;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const int error = errno;
            close(fd);
            return Fail(error, path);
        }
        if (n == 0) {
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);

    JournalEntry entry;
    entry.header.id = id;
    bool have_header = false;
    std::size_t start = 0;
    // Only whole lines count: a record cut short by a kill has no line end. A run killed
    // before it cut its file to its records left zero bytes after them, and records appended
    // later follow those: a line counts from after its last zero byte.
    for (std::size_t end = bytes.find('\n'); end != std::string::npos;
         start = end + 1, end = bytes.find('\n', start)) {
        std::string_view line = std::string_view(bytes).substr(start, end - start);
        if (const auto zero = line.rfind('\0'); zero != std::string_view::npos) {
            line.remove_prefix(zero + 1);
        }
        const auto f = Split(line);
        std::int64_t number = 0;
        if (!have_header) {
            std::int64_t mode = 0;
            if (f.size() != 10 || f[0] != kMagic || f[1] != "1" || !ParseInt(f[2], number) ||
                !ParseInt(f[3], mode)) {
                return Fail(EILSEQ, path + ": not a journal");
            }
            auto& h = entry.header;
            h.start = number;
            h.mode = static_cast<int>(mode);
            h.folder = Utf8ToText(Unescape(f[4]));
            h.pattern = Utf8ToText(Unescape(f[5]));
            h.search = Utf8ToText(Unescape(f[6]));
            h.replace = Utf8ToText(Unescape(f[7]));
            h.subfolders = f[8] == "1";
            h.case_sensitive = f[9] == "1";
            have_header = true;
            continue;
        }
        if (f[0] == "E") {
            entry.ended = true;
            continue;
        }
        if (f.size() < 2 || !ParseInt(f[1], number)) {
            continue;
        }
        const auto seq = static_cast<std::int32_t>(number);
        if ((f[0] == "W" && f.size() == 6) || (f[0] == "R" && f.size() == 5)) {
            JournalChange c;
            c.kind = f[0] == "W" ? JournalChange::Kind::kRewrite : JournalChange::Kind::kRename;
            c.seq = seq;
            c.path = Utf8ToText(Unescape(f[2]));
            c.other = Utf8ToText(Unescape(f[3]));
            if (c.kind == JournalChange::Kind::kRewrite) {
                c.old_hash = std::string(f[4]);
                c.new_hash = std::string(f[5]);
            } else if (const auto colon = f[4].find(':'); colon != std::string_view::npos) {
                std::int64_t device = 0;
                std::int64_t inode = 0;
                if (ParseInt(f[4].substr(0, colon), device) &&
                    ParseInt(f[4].substr(colon + 1), inode)) {
                    c.identity = {static_cast<std::uint64_t>(device),
                                  static_cast<std::uint64_t>(inode)};
                }
            }
            entry.changes.push_back(std::move(c));
            continue;
        }
        // Changes are numbered in the order they are recorded, so a number is its place.
        JournalChange* c = nullptr;
        if (seq >= 0 && static_cast<std::size_t>(seq) < entry.changes.size() &&
            entry.changes[static_cast<std::size_t>(seq)].seq == seq) {
            c = &entry.changes[static_cast<std::size_t>(seq)];
        }
        if (c != nullptr && f[0] == "D") {
            c->confirmed = true;
        } else if (c != nullptr && f[0] == "U") {
            c->undone = true;
        }
    }
    if (!have_header) {
        return Fail(EILSEQ, path + ": not a journal");
    }
    return entry;
}

std::vector<std::string> JournalIds(const std::string& folder) {
    std::vector<std::string> ids;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        return ids;
    }
    const std::string_view suffix = kSuffix;
    while (const dirent* e = readdir(dir)) {
        const std::string_view name = e->d_name;
        if (name.size() > suffix.size() && name.substr(name.size() - suffix.size()) == suffix &&
            name.front() != '.') {
            ids.emplace_back(name.substr(0, name.size() - suffix.size()));
        }
    }
    closedir(dir);
    std::sort(ids.rbegin(), ids.rend());
    return ids;
}

JournallingFileServices::JournallingFileServices(FileServices& inner, JournalWriter& journal)
    : ForwardingFileServices(inner), journal_(journal), owner_(std::this_thread::get_id()) {}

Result<std::unique_ptr<InputFile>> JournallingFileServices::OpenInput(std::u16string_view path) {
    auto input = inner_.OpenInput(path);
    // The look-ahead reads on its own thread; only the run's thread rewrites files.
    if (!input || std::this_thread::get_id() != owner_) {
        return input;
    }
    last_read_path_ = path;
    last_read_ = std::make_shared<Reading>();
    return std::unique_ptr<InputFile>(
        std::make_unique<HashingInput>(std::move(*input), last_read_));
}

Result<std::string> JournallingFileServices::OldContentsHash(std::u16string_view path) {
    if (last_read_ != nullptr && last_read_path_ == path) {
        auto length = inner_.Length(path);
        if (length && static_cast<std::uint64_t>(*length) == last_read_->bytes) {
            return last_read_->hash.Hex();
        }
    }
    return HashFile(inner_, path);
}

Result<std::unique_ptr<AtomicOutput>> JournallingFileServices::BeginReplace(
    std::u16string_view path) {
    auto inner = inner_.BeginReplace(path);
    if (!inner) {
        return inner;
    }
    return std::unique_ptr<AtomicOutput>(std::make_unique<JournalledOutput>(
        std::move(*inner), *this, journal_, std::u16string(path), std::u16string(path) + u".BAK"));
}

Result<std::vector<DirEntry>> JournallingFileServices::List(std::u16string_view pattern_path) {
    auto entries = inner_.List(pattern_path);
    if (entries) {
        Adopt(pattern_path, *entries);
    }
    return entries;
}

void JournallingFileServices::Adopt(std::u16string_view pattern_path,
                                    const std::vector<DirEntry>& entries) {
    if (std::this_thread::get_id() != owner_) {
        return;
    }
    listed_folder_ = FolderOf(pattern_path);
    listed_.clear();
    listed_.reserve(entries.size());
    for (const auto& entry : entries) {
        listed_.emplace_back(entry.name, entry.identity);
    }
    listed_next_ = 0;
}

FileIdentity JournallingFileServices::ListedIdentity(std::u16string_view path) {
    if (!path.starts_with(listed_folder_)) {
        return {};
    }
    const std::u16string_view name = path.substr(listed_folder_.size());
    // The run takes the files in the order of the listing: the search starts after the last one
    // found.
    for (std::size_t k = 0; k < listed_.size(); ++k) {
        const std::size_t i = (listed_next_ + k) % listed_.size();
        if (listed_[i].first == name) {
            listed_next_ = i + 1;
            return listed_[i].second;
        }
    }
    return {};
}

Result<void> JournallingFileServices::Rename(std::u16string_view old_path,
                                             std::u16string_view new_path) {
    JournalChange change;
    change.kind = JournalChange::Kind::kRename;
    change.path = old_path;
    change.other = new_path;
    if (const FileIdentity listed = ListedIdentity(old_path); listed != FileIdentity{}) {
        change.identity = listed;
    } else if (auto identity = inner_.Identity(old_path)) {
        change.identity = *identity;
    }
    const std::int32_t seq = journal_.Intend(change);
    auto done = inner_.Rename(old_path, new_path);
    if (done) {
        journal_.Confirm(seq);
    }
    return done;
}

}  // namespace popuran::folder
