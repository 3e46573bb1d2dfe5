#include "cli/json_writer.h"

#include <cstdio>
#include <ctime>

#include "folder/services/code_units.h"
#include "folder/services/utf8.h"

namespace popuran::cli {

std::string JsonString(std::u16string_view text) {
    std::string json = "\"";
    std::size_t i = 0;
    auto escape = [&json](unsigned unit) {
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, "\\u%04X", unit);
        json += buffer;
    };
    while (i < text.size()) {
        const char16_t c = text[i];
        const bool high = folder::IsHighSurrogate(c);
        const bool low = folder::IsLowSurrogate(c);
        if (high && i + 1 < text.size() && folder::IsLowSurrogate(text[i + 1])) {
            json += folder::TextToUtf8(text.substr(i, 2));
            i += 2;
            continue;
        }
        if (high || low) {
            escape(c);
        } else if (c == u'"') {
            json += "\\\"";
        } else if (c == u'\\') {
            json += "\\\\";
        } else if (c == u'\n') {
            json += "\\n";
        } else if (c == u'\r') {
            json += "\\r";
        } else if (c == u'\t') {
            json += "\\t";
        } else if (c < 0x20) {
            escape(c);
        } else {
            json += folder::TextToUtf8(text.substr(i, 1));
        }
        ++i;
    }
    return json + "\"";
}

void WriteRunJson(std::ostream& out, const Options& options, const run::RunControl& control,
                  const std::vector<run::Change>& changes,
                  const std::vector<run::FailedFile>& failures, bool stopped) {
    const auto& state = control.State();
    out << "{\"mode\":" << int{options.mode} << ",\"searched\":" << control.Total()
        << ",\"changed\":" << state.ChangedFileCount;
    if (options.mode == run::kModeReplace) {
        out << ",\"replaced\":" << state.ReplacedStringCount;
        if (state.EncodingSkippedCount != 0) {
            out << ",\"encoding_skipped\":" << state.EncodingSkippedCount;
        }
    }
    out << ",\"stopped\":" << (stopped ? "true" : "false");
    out << ",\"failed_count\":" << failures.size() << ",\"failed\":[";
    for (std::size_t i = 0; i < failures.size(); ++i) {
        out << (i == 0 ? "" : ",") << "{\"path\":" << JsonString(failures[i].path)
            << ",\"error\":" << JsonString(failures[i].reason) << "}";
    }
    out << "]";
    if (options.verbose || options.dry_run) {
        out << ",\"changes\":[";
        bool first = true;
        for (const auto& change : changes) {
            out << (first ? "" : ",");
            first = false;
            if (change.new_path.empty()) {
                out << "{\"path\":" << JsonString(change.path)
                    << ",\"replaced\":" << change.replaced << ",\"encoding\":\"" << change.encoding
                    << "\"}";
            } else {
                out << "{\"from\":" << JsonString(change.path)
                    << ",\"to\":" << JsonString(change.new_path) << "}";
            }
        }
        out << "]";
    }
    out << "}\n";
}

void WriteUndoJson(std::ostream& out, const run::UndoResult& result) {
    out << "{\"run\":" << JsonString(folder::Utf8ToText(result.run.id))
        << ",\"restored\":" << result.restored << ",\"left_count\":" << result.left.size()
        << ",\"left\":[";
    bool first = true;
    for (const auto& left : result.left) {
        out << (first ? "" : ",") << "{\"path\":" << JsonString(left.path)
            << ",\"reason\":" << JsonString(left.reason) << "}";
        first = false;
    }
    out << "]}\n";
}

namespace {

const char* const kModeWords[] = {"replace", "ext", "lower", "upper"};

const char* ModeWord(int mode) { return mode >= 0 && mode < 4 ? kModeWords[mode] : "?"; }

std::int32_t Undone(const folder::JournalEntry& entry) {
    std::int32_t n = 0;
    for (const auto& c : entry.changes) {
        n += c.undone ? 1 : 0;
    }
    return n;
}

}  // namespace

std::string HistoryLine(const folder::JournalEntry& entry) {
    const std::time_t start = entry.header.start;
    std::tm local{};
    localtime_r(&start, &local);
    char time[32];
    std::strftime(time, sizeof time, "%Y-%m-%d %H:%M:%S", &local);
    std::string line = entry.header.id + "\t" + time + "\t" + ModeWord(entry.header.mode) + "\t" +
                       folder::TextToUtf8(entry.header.folder) + "\t" +
                       std::to_string(entry.Confirmed());
    if (const std::int32_t undone = Undone(entry); undone > 0) {
        line += " (" + std::to_string(undone) + " undone)";
    }
    return line;
}

void WriteHistoryJson(std::ostream& out, const std::vector<folder::JournalEntry>& entries) {
    out << "[";
    bool first = true;
    for (const auto& e : entries) {
        out << (first ? "" : ",") << "{\"id\":" << JsonString(folder::Utf8ToText(e.header.id))
            << ",\"start\":" << e.header.start << ",\"mode\":" << e.header.mode
            << ",\"folder\":" << JsonString(e.header.folder) << ",\"changes\":" << e.Confirmed()
            << ",\"undone\":" << Undone(e) << "}";
        first = false;
    }
    out << "]\n";
}

}  // namespace popuran::cli
