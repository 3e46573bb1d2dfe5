#include "cli/json_writer.h"

#include <cstdio>

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
                  const std::vector<run::Change>& changes, bool stopped) {
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

}  // namespace popuran::cli
