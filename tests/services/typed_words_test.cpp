#include "core/services/typed_words.h"

#include <gtest/gtest.h>

#include "core/services/misbehavior_context.h"
#include "core/text/unicode.h"

namespace ravlin::typed_words {
namespace {

std::vector<std::u16string> wordsOf(std::u16string_view text) {
    return misbehavior::words(text);
}

std::vector<std::u16string_view> viewsOf(const std::vector<std::u16string>& words) {
    return {words.begin(), words.end()};
}

TEST(TypedWords, AWordStandsForItsCorrectionItsExpansionOrItsFullForm) {
    struct Case {
        std::u16string_view typed;
        std::u16string_view answer;
        bool stands;
    };
    for (const auto& c : {
             Case{u"u", u"you", true},
             Case{u"thx", u"thanks", true},
             Case{u"tmrw", u"tomorrow", true},
             Case{u"mtg", u"meeting", true},
             Case{u"appt", u"appointment", true},
             Case{u"teh", u"the", true},
             Case{u"recieve", u"receive", true},
             Case{u"desole", u"d\u00e9sol\u00e9", true},
             Case{u"rite", u"right", true},
             Case{u"u", u"i", false},    // one letter each: no slip
             Case{u"to", u"today", false},  // two letters are no shortening
             Case{u"np", u"no", false},     // only the whole expansion
             Case{u"cat", u"dog", false},
             // Long words (links) stand only for themselves.
             Case{u"https://example.com/shared/documents/12/abcdefghij",
                  u"https://example.com/shared/documents/13/abcdefghij", false},
         }) {
        EXPECT_EQ(standsFor(c.typed, c.answer), c.stands)
            << text::toUtf8(c.typed) << " / " << text::toUtf8(c.answer);
    }
}

TEST(TypedWords, TheTypedWordsBeginWithWhatTheyStandFor) {
    struct Case {
        std::u16string_view typed;
        std::u16string_view words;
        bool openEnd;
        bool begins;
    };
    for (const auto& c : {
             Case{u"np, ill fix it", u"no problem", false, true},
             Case{u"np, ill fix it", u"no", false, false},
             Case{u"np, ill fix it", u"no", true, true},  // may still become "no problem"
             Case{u"k see u soon", u"okay", false, true},
             Case{u"all rite, see u", u"all right", false, true},
             Case{u"alright lets go", u"all right", false, true},
             Case{u"ofc ill be there", u"of course", false, true},
             Case{u"sure! here is teh plan", u"sure here is the", false, true},
             Case{u"we shoud go", u"of course", false, false},
             Case{u"lmk", u"let me know if", false, false},
         }) {
        const auto typed = wordsOf(c.typed);
        const auto words = wordsOf(c.words);
        EXPECT_EQ(beginsWith(viewsOf(typed), viewsOf(words), c.openEnd), c.begins)
            << text::toUtf8(c.typed) << " / " << text::toUtf8(c.words);
    }
}

// Which answer words stand for typed ones: a short form takes its whole expansion, and words
// the person never typed stay unmatched wherever they stand.
TEST(TypedWords, AlignmentFindsTheWordsThePersonTyped) {
    struct Case {
        std::u16string_view typed;
        std::u16string_view answer;
        std::u16string_view unmatched;  // the answer's words that stand for nothing typed
    };
    for (const auto& c : {
             Case{u"i sent it we meet at noon lmk if u need anything",
                  u"I sent it. We meet at noon. Let me know if you need anything.", u""},
             Case{u"we shoud go. see u.",
                  u"We should go. See you. Let me know if you need anything else.",
                  u"let me know if you need anything else"},
             Case{u"alot of ppl r coming 2nite",
                  u"A lot of people are coming tonight, I think.", u"i think"},
             Case{u"every one is here", u"Everyone is here.", u""},
         }) {
        const auto typed = wordsOf(c.typed);
        const auto answer = wordsOf(c.answer);
        const Alignment alignment = align(viewsOf(typed), viewsOf(answer));
        std::u16string unmatched;
        for (std::size_t j = 0; j < answer.size(); ++j) {
            if (!alignment.isMatched(j)) {
                unmatched += (unmatched.empty() ? u"" : u" ") + answer[j];
            }
        }
        EXPECT_EQ(text::toUtf8(unmatched), text::toUtf8(c.unmatched)) << text::toUtf8(c.typed);
        EXPECT_EQ(alignment.matched, answer.size() - wordsOf(c.unmatched).size());
    }
}

// Texts of any length: only their last words are lined up, at a bounded cost.
TEST(TypedWords, AlignmentLooksAtTheEndsOfLongTexts) {
    std::vector<std::u16string> typed;
    std::vector<std::u16string> answer;
    for (int i = 0; i < 50'000; ++i) {
        typed.push_back(i % 2 ? u"u" : u"tmrw");
        answer.push_back(i % 2 ? u"you" : u"tomorrow");
    }
    const Alignment alignment = align(viewsOf(typed), viewsOf(answer));
    ASSERT_EQ(alignment.typedOf.size(), answer.size());
    EXPECT_EQ(alignment.matched, kMaximumAlignedWords);
    EXPECT_FALSE(alignment.isMatched(answer.size() - kMaximumAlignedWords - 1));
    EXPECT_EQ(alignment.typedOf.back(), static_cast<std::int32_t>(typed.size() - 1));
}

}  // namespace
}  // namespace ravlin::typed_words
