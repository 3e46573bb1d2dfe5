#include "support/safety_row.h"

#include <cctype>
#include <vector>

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

void ExpectTreeAndRecord(const std::string& root, const TreeSnapshot& expected,
                         const std::string& area, const std::string& input,
                         const std::string& result) {
    const auto differences = Differences(expected, SnapshotTree(root));
    EXPECT_EQ(differences, std::vector<std::string>{});
    RecordSafetyRow(area, input, result, static_cast<int>(differences.size()));
}

std::string AsciiLower(std::string path) {
    for (char& c : path) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return path;
}

}  // namespace popuran::testing
