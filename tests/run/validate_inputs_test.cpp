#include "run/validate_inputs.h"

#include <gtest/gtest.h>

#include "support/fake_view.h"

namespace popuran::run {
namespace {

using testing::U8;

struct Case {
    std::array<std::u16string, 4> boxes;
    const char16_t* message;  // nullptr: accepted
    int box;
    const char* why;
};

void Check(RunMode mode, const std::vector<Case>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const auto refusal = CheckInputs(mode, c.boxes);
        if (c.message == nullptr) {
            EXPECT_FALSE(refusal) << U8(refusal->message);
            continue;
        }
        ASSERT_TRUE(refusal);
        EXPECT_EQ(U8(refusal->message), U8(c.message));
        EXPECT_EQ(refusal->box, c.box);
    }
}

TEST(CheckInputs, StringReplacement) {
    Check(
        kModeReplace,
        {
            {{u"", u"", u"", u""}, u"検索する文字列を入力して下さい。", 0, "all empty"},
            {{u"a", u"", u"*.txt", u"/d"}, u"置換後の文字列を入力して下さい。", 1, "no repl"},
            {{u"abc", u"abc", u"*.txt", u"/d"},
             u"検索する文字列と置換後の文字列が一致してます。",
             1,
             "equal"},
            {{u"abc", u"abc", u"", u""},
             u"検索する文字列と置換後の文字列が一致してます。",
             1,
             "equality is tested before the pattern"},
            {{u"abc", u"ABC", u"*.txt", u"/d"}, nullptr, 0, "case differs"},
            {{u"a", u"b", u"", u"/d"}, u"ファイル名を入力指定して下さい。", 2, "no pattern"},
            {{u"a", u"b", u"*.bak", u"/d"}, u"バックアップファイルは置換対象外です。", 2, "*.bak"},
            {{u"a", u"b", u"x.bAk", u"/d"}, u"バックアップファイルは置換対象外です。", 2, "x.bAk"},
            {{u"a", u"b", u"*bak", u"/d"},
             u"バックアップファイルは置換対象外です。",
             2,
             "*bak without dot"},
            {{u"a", u"b", u"*.ba?", u"/d"}, nullptr, 0, "*.ba? passes"},
            {{u"a", u"b", u"*.*", u"/d"}, nullptr, 0, "*.* passes"},
            {{u"a", u"b", u"*.txt", u""}, u"検索する場所を指定して下さい。", 3, "no folder"},
            {{u"a", u"b", u"*.txt", u"  \u3000"},
             u"検索する場所を指定して下さい。",
             3,
             "blank folder would mean the whole disk"},
            {{u"a", u"\U0001F600", u"*.txt", u"/d"},
             u"置換後の文字列に Shift_JIS で表せない文字が含まれています。",
             1,
             "replacement not encodable"},
            {{u"a", u"\u00e9", u"", u"/d"},
             u"ファイル名を入力指定して下さい。",
             2,
             "the described checks come first"},
            {{u"a", u"ソ表", u"*.txt", u"/d"}, nullptr, 0, "Japanese replacement"},
        });
}

TEST(CheckInputs, ExtensionReplacement) {
    Check(kModeExtension,
          {
              {{u"txt", u"txt", u"", u"/d"},
               u"検索する拡張子と置換後の拡張子が一致してます。",
               0,
               "equal"},
              {{u"", u"", u"", u"/d"},
               u"検索する拡張子と置換後の拡張子が一致してます。",
               0,
               "both empty"},
              {{u"*", u"*", u"", u"/d"}, nullptr, 0, "both star"},
              {{u"txt", u"TXT", u"", u"/d"}, nullptr, 0, "case differs"},
              {{u"htm", u"html", u"", u"/d"}, nullptr, 0, "empty pattern passes"},
              {{u"htm", u"html", u"", u""}, u"検索する場所を指定して下さい。", 3, "no folder"},
              {{u"txt", u"txt", u"", u""},
               u"検索する拡張子と置換後の拡張子が一致してます。",
               0,
               "equality before folder"},
          });
}

TEST(CheckInputs, NameCase) {
    for (RunMode mode : {kModeLower, kModeUpper}) {
        SCOPED_TRACE(int{mode});
        Check(mode, {
                        {{u"x", u"x", u"", u""}, u"ファイル名を入力して下さい。", 2, "no pattern"},
                        {{u"", u"", u"*", u""}, u"検索する場所を指定して下さい。", 3, "no folder"},
                        {{u"", u"", u"*", u" "}, u"検索する場所を指定して下さい。", 3, "blank"},
                        {{u"a", u"a", u"*", u"/d"}, nullptr, 0, "boxes 0 and 1 never matter"},
                    });
    }
}

TEST(ValidateInputs, RefusalShowsOneMessageAndFocusesTheBox) {
    testing::FakeView view;
    view.boxes = {u"abc", u"abc", u"*.txt", u"/d"};
    EXPECT_FALSE(ValidateInputs(view, kModeReplace));
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.focus, std::vector<int>{1});
    EXPECT_EQ(view.caption_log.size(), 1u);  // the message, and no caption
    EXPECT_EQ(U8(view.boxes[2]), "*.txt");
}

}  // namespace
}  // namespace popuran::run
