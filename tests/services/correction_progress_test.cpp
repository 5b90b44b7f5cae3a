#include "core/services/correction_progress.h"

#include <gtest/gtest.h>

namespace ravlin {
namespace {

TEST(CorrectionProgress, ShowsThePartialFollowedByTheUncoveredTypedText) {
    struct Case {
        std::u16string original, partial, expected;
    };
    const std::vector<Case> cases = {
        {u"Helo wrld how are you", u"Hello world", u"Hello world how are you"},
        {u"I has a apple", u"I have an", u"I have an apple"},
        // A growing word that is a prefix of the typed word (ignoring case) covers its length.
        {u"hello world", u"Hel", u"Hello world"},
        // A growing word close to the typed word is taken as its finished correction.
        {u"hello world", u"Helo", u"Helo world"},
        {u"recieve it", u"receiv", u"receive it"},
        {u"hello world", u"Hello ", u"Hello world"},
        {u"teh cat sat", u"the ", u"the cat sat"},
        {u"hi", u"hello there friend", u"hello there friend"},
        // A complete word 3+ characters shorter covers only its own length.
        {u"internationalization", u"intl ", u"intl rnationalization"},
        {u"abc", u"x", u"xbc"},
        {u"", u"x", u"x"},
        {u"same text", u"same text", u"same text"},
        // Characters, not code units: the emoji counts once.
        {u"\U0001F600 hi there", u"\U0001F600 hi", u"\U0001F600 hi there"},
    };
    for (const auto& [original, partial, expected] : cases) {
        EXPECT_EQ(QNModelCorrectionProgress::displayText(original, partial), expected)
            << testing::PrintToString(original) << " / " << testing::PrintToString(partial);
    }
}

TEST(CorrectionProgress, EmptyPartialShowsNothing) {
    EXPECT_EQ(QNModelCorrectionProgress::displayText(u"typed", u""), std::nullopt);
    EXPECT_EQ(QNModelCorrectionProgress::displayText(u"", u""), std::nullopt);
}

}  // namespace
}  // namespace ravlin
