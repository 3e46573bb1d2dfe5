// The JSON object that popuran-cli --json prints for a run.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_options.h"
#include "folder/services/journal.h"
#include "run/run_control.h"
#include "run/state/run_view.h"
#include "run/undo.h"

namespace popuran::cli {

// JSON string literal of a text; characters that are not valid Unicode (lone surrogates from
// names that are not UTF-8) are written as \uXXXX escapes.
std::string JsonString(std::u16string_view text);

// Writes the run's counts, its failures, and its changes with --verbose or --dry-run, as one
// line.
void WriteRunJson(std::ostream& out, const Options& options, const run::RunControl& control,
                  const std::vector<run::Change>& changes,
                  const std::vector<run::FailedFile>& failures, bool stopped);

// The result of --undo: {"run":ID,"restored":N,"left_count":M,"left":[{"path":P,"reason":R}]}.
void WriteUndoJson(std::ostream& out, const run::UndoResult& result);

// One run of --history: ID, local start time, mode, folder and the number of changes made, tab
// separated.
std::string HistoryLine(const folder::JournalEntry& entry);
// --history --json: an array of {"id","start","mode","folder","changes","undone"}, newest first.
void WriteHistoryJson(std::ostream& out, const std::vector<folder::JournalEntry>& entries);

}  // namespace popuran::cli
