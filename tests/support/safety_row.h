// The safety table: every fault and bad input tried, kept in the tests' output.
#pragma once

#include <string>

#include "support/tree_snapshot.h"

namespace popuran::testing {

// Adds the row to the running test's properties (row<N>_area, _input, _result, _damaged), where
// scripts/safety_table.py reads them from GoogleTest's JSON output. `damaged` is the count the
// test measured; the caller asserts on it separately.
void RecordSafetyRow(const std::string& area, const std::string& input, const std::string& result,
                     int damaged);

// Expects the tree below root to be exactly `expected` (every entry that is not counts as
// damaged) and records the row.
void ExpectTreeAndRecord(const std::string& root, const TreeSnapshot& expected,
                         const std::string& area, const std::string& input,
                         const std::string& result);

// The path with every ASCII letter of it in lower case.
std::string AsciiLower(std::string path);

}  // namespace popuran::testing
