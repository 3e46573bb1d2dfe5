#include "support/safety_row.h"

#include <gtest/gtest.h>

namespace popuran::testing {

void RecordSafetyRow(const std::string& area, const std::string& input, const std::string& result,
                     int damaged) {
    // Numbered per test: the counter starts again whenever another test records.
    static std::string test_name;
    static int row = 0;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name =
        info == nullptr ? "" : std::string(info->test_suite_name()) + "." + info->name();
    if (name != test_name) {
        test_name = name;
        row = 0;
    }
    const std::string key = "row" + std::to_string(++row);
    ::testing::Test::RecordProperty(key + "_area", area);
    ::testing::Test::RecordProperty(key + "_input", input);
    ::testing::Test::RecordProperty(key + "_result", result);
    ::testing::Test::RecordProperty(key + "_damaged", damaged);
}

}  // namespace popuran::testing
