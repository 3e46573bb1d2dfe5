// The checks before a run: the first failing one gives the message and the box at fault.
#include "run/validate_inputs.h"

#include <gtest/gtest.h>

#include "support/fake_view.h"

namespace popuran::run {
namespace {

using testing::U8;

const char16_t kNoSearch[] = u"検索する文字列を入力して下さい。";
const char16_t kNoReplacement[] = u"置換後の文字列を入力して下さい。";
const char16_t kSameText[] = u"検索する文字列と置換後の文字列が一致してます。";
const char16_t kSameExtension[] = u"検索する拡張子と置換後の拡張子が一致してます。";
const char16_t kNoPattern[] = u"ファイル名を入力指定して下さい。";
const char16_t kNoName[] = u"ファイル名を入力して下さい。";
const char16_t kBackup[] = u"バックアップファイルは置換対象外です。";
const char16_t kNoFolder[] = u"検索する場所を指定して下さい。";
const char16_t kNotEncodable[] = u"置換後の文字列に Shift_JIS で表せない文字が含まれています。";

struct Case {
    RunMode mode;
    std::array<std::u16string, 4> boxes;
    const char16_t* message;  // nullptr: accepted
    int box;
    const char* why;
};

TEST(CheckInputs, FirstFailingCheckOfEachMode) {
    const Case cases[] = {
        {kModeReplace, {u"", u"", u"", u""}, kNoSearch, 0, "all empty"},
        {kModeReplace, {u"a", u"", u"*.txt", u"/d"}, kNoReplacement, 1, "no replacement"},
        {kModeReplace, {u"abc", u"abc", u"*.txt", u"/d"}, kSameText, 1, "equal"},
        {kModeReplace, {u"abc", u"ABC", u"*.txt", u"/d"}, nullptr, 0, "case differs"},
        {kModeReplace, {u"a", u"b", u"", u"/d"}, kNoPattern, 2, "no pattern"},
        {kModeReplace, {u"a", u"b", u"*bak", u"/d"}, kBackup, 2, "*bak without dot"},
        {kModeReplace, {u"a", u"b", u"*.ba?", u"/d"}, nullptr, 0, "*.ba? passes"},
        {kModeReplace, {u"a", u"b", u"*.txt", u"  \u3000"}, kNoFolder, 3, "blank: the whole disk"},
        {kModeReplace, {u"a", u"\U0001F600", u"*.txt", u"/d"}, kNotEncodable, 1, "no code"},
        {kModeReplace, {u"a", u"\u00e9", u"", u"/d"}, kNoPattern, 2, "described checks first"},
        {kModeExtension, {u"txt", u"txt", u"", u"/d"}, kSameExtension, 0, "equal extensions"},
        {kModeExtension, {u"txt", u"TXT", u"", u"/d"}, nullptr, 0, "extension case differs"},
        {kModeExtension, {u"htm", u"html", u"", u""}, kNoFolder, 3, "extensions, no folder"},
        {kModeExtension, {u"txt", u"txt", u"", u""}, kSameExtension, 0, "equality before folder"},
        {kModeUpper, {u"x", u"x", u"", u""}, kNoName, 2, "names: no pattern"},
        {kModeLower, {u"a", u"a", u"*", u"/d"}, nullptr, 0, "names: boxes 0 and 1 never matter"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const auto refusal = CheckInputs(c.mode, c.boxes);
        ASSERT_EQ(refusal.has_value(), c.message != nullptr);
        if (refusal) {
            EXPECT_EQ(U8(refusal->message), U8(c.message));
            EXPECT_EQ(refusal->box, c.box);
        }
    }
}

}  // namespace
}  // namespace popuran::run
