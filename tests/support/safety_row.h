// RecordSafetyRow: one row of the table of faults and bad inputs, kept in the test's output.
#pragma once

#include <string>

namespace popuran::testing {

// Adds the row to the running test's properties (row<N>_area, _input, _result, _damaged), where
// scripts/safety_table.py reads them from GoogleTest's JSON output. `damaged` is the count the
// test measured; the caller asserts on it separately.
void RecordSafetyRow(const std::string& area, const std::string& input, const std::string& result,
                     int damaged);

}  // namespace popuran::testing
