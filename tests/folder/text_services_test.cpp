// Search with and without letter case, case mapping and blanks.
#include <string>

#include <gtest/gtest.h>

#include "folder/services/text_search.h"

namespace popuran::folder {
namespace {

TEST(FindText, FindsExactlyOrBySimpleCaseFolding) {
    struct Case {
        std::u16string haystack;
        std::u16string needle;
        std::size_t from;
        std::size_t exact;   // case_sensitive = true
        std::size_t folded;  // case_sensitive = false
        const char* why;
    };
    const Case cases[] = {
        {u"abcabc", u"bc", 0, 1, 1, "first occurrence"},
        {u"abcabc", u"bc", 2, 4, 4, "from skips earlier ones"},
        {u"abcabc", u"bc", 5, kNotFound, kNotFound, "nothing after from"},
        {u"abcabc", u"bc", 99, kNotFound, kNotFound, "from beyond the end"},
        {u"aaaa", u"aa", 1, 1, 1, "overlapping start"},
        {u"ab", u"abc", 0, kNotFound, kNotFound, "needle longer than haystack"},
        {u"abc", u"", 0, kNotFound, kNotFound, "empty needle"},
        {u"xaBcABC", u"abc", 0, kNotFound, 1, "ASCII letter case"},
        {u"xAbC", u"aBc", 0, kNotFound, 1, "ASCII letter case in the needle too"},
        {u"a1-Z", u"A1-z", 0, kNotFound, 0, "digits and signs compare as they are"},
        {u"ＡＢＣ", u"ａｂｃ", 0, kNotFound, 0, "full-width letters fold together"},
        {u"ABC", u"ａｂｃ", 0, kNotFound, kNotFound, "width is never ignored"},
        {u"ａｂｃ", u"abc", 0, kNotFound, kNotFound, "width is never ignored"},
        {u"\u212A", u"k", 0, kNotFound, 0, "Kelvin sign folds to k"},
        {u"xſ", u"S", 0, kNotFound, 1, "long s folds to s"},
        {u"ΣΑΣ", u"σας", 0, kNotFound, 0, "final sigma folds to sigma"},
        {u"\u1E9E", u"ß", 0, kNotFound, 0, "capital sharp s folds to ß"},
        {u"ss", u"ß", 0, kNotFound, kNotFound, "no full folding"},
        {u"\u0130", u"i", 0, kNotFound, kNotFound, "dotted I has no simple folding"},
        {u"ソ表ソ表", u"表", 2, 3, 3, "kanji"},
        {u"ｶﾀカタ", u"カ", 0, 2, 2, "half-width and full-width kana differ"},
        {u"a\U0001F600b", u"\U0001F600b", 0, 1, 1, "a supplementary character"},
        {u"\U00010400\U00010428", u"\U00010428", 0, 2, 0, "Deseret letters have case"},
        {u"\U0001F600", u"\xD83D", 0, kNotFound, kNotFound, "never ends inside a pair"},
        {u"\U0001F600", u"\xDE00", 0, kNotFound, kNotFound, "never starts inside a pair"},
        {u"x\xD83Dx", u"\xD83D", 0, 1, 1, "an unpaired high surrogate is found"},
        {u"\xD83D\U0001F600", u"\xD83D", 0, 0, 0, "the unpaired one, not the pair's"},
        {u"\U0001F600\xDE00", u"\xDE00", 0, 2, 2, "an unpaired low surrogate is found"},
        {u"\U0001F600a", u"a", 1, 2, 2, "from inside a pair"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(FindText(c.haystack, c.needle, c.from, true), c.exact);
        EXPECT_EQ(FindText(c.haystack, c.needle, c.from, false), c.folded);
    }
}

TEST(FindText, FindsEveryOccurrenceInALargeText) {
    std::u16string text;
    for (int i = 0; i < 20000; ++i) {
        text += u"表ソNeEdLe xｎｅｅｄｌｅ needl";
    }
    for (bool case_sensitive : {true, false}) {
        int found = 0;
        for (std::size_t pos = FindText(text, u"needle", 0, case_sensitive); pos != kNotFound;
             pos = FindText(text, u"needle", pos + 6, case_sensitive)) {
            ++found;
        }
        EXPECT_EQ(found, case_sensitive ? 0 : 20000);
    }
}

TEST(CaseMapping, MapsEachCharacterToOne) {
    struct Case {
        std::u16string text;
        std::u16string upper;
        std::u16string lower;
        std::u16string folded;
        const char* why;
    };
    const Case cases[] = {
        {u"abcXYZ09_", u"ABCXYZ09_", u"abcxyz09_", u"abcxyz09_", "ASCII"},
        {u"Ａｂ", u"ＡＢ", u"ａｂ", u"ａｂ", "full-width letters"},
        {u"ßa", u"ßA", u"ßa", u"ßa", "ß has no single upper-case letter"},
        {u"\u1E9E", u"\u1E9E", u"ß", u"ß", "capital sharp s"},
        {u"ひらカタｶﾀ漢字", u"ひらカタｶﾀ漢字", u"ひらカタｶﾀ漢字", u"ひらカタｶﾀ漢字",
         "kana and kanji have no case"},
        {u"ΣσςÀ", u"ΣΣΣÀ", u"σσςà", u"σσσà", "Greek and Latin-1"},
        {u"\u01C5", u"\u01C4", u"\u01C6", u"\u01C6", "title-case digraph"},
        {u"\u0130", u"\u0130", u"i", u"\u0130", "dotted capital I"},
        {u"\uFB00", u"\uFB00", u"\uFB00", u"\uFB00", "ligature ff has no simple mapping"},
        {u"\U00010428x", u"\U00010400X", u"\U00010428x", u"\U00010428x", "Deseret"},
        {u"\xD801z\xDC28", u"\xD801Z\xDC28", u"\xD801z\xDC28", u"\xD801z\xDC28",
         "unpaired surrogates stay"},
        {u"", u"", u"", u"", "empty"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(ToUpper(c.text), c.upper);
        EXPECT_EQ(ToLower(c.text), c.lower);
        EXPECT_EQ(FoldCase(c.text), c.folded);
    }
}

TEST(Blanks, AreTheSpaceAndTheIdeographicSpace) {
    struct Case {
        std::u16string text;
        std::u16string trimmed;
        std::u16string trailing_trimmed;
        const char* why;
    };
    const Case cases[] = {
        {u" \u3000a b\u3000 ", u"a b", u" \u3000a b", "both blanks, inner ones kept"},
        {u"\u3000\u3000", u"", u"", "only blanks"},
        {u"", u"", u"", "empty"},
        {u"\tx\t", u"\tx\t", u"\tx\t", "a tab is no blank"},
        {u"\u00A0x\u00A0", u"\u00A0x\u00A0", u"\u00A0x\u00A0", "no-break space is no blank"},
        {u"/tmp/a ", u"/tmp/a", u"/tmp/a", "a folder typed with a trailing space"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(TrimBlanks(c.text), c.trimmed);
        EXPECT_EQ(TrimTrailingBlanks(c.text), c.trailing_trimmed);
    }
    EXPECT_TRUE(IsBlank(u' '));
    EXPECT_TRUE(IsBlank(u'\u3000'));
    EXPECT_FALSE(IsBlank(u'\t'));
    EXPECT_FALSE(IsBlank(u'_'));
}

}  // namespace
}  // namespace popuran::folder
