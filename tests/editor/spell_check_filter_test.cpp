// The spell-check filter's tokenizer, single-word finder and skip rules.

#include <gtest/gtest.h>

#include "app/editor/spell_check_filter.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

using Tokens = std::vector<QNServiceWordToken>;
using Checker = QNServiceNSSpellChecker;

TEST(WordTokens, MarkSentenceStarts) {
    struct Case {
        std::u16string text;
        Tokens expected;
    };
    for (const auto& c : std::vector<Case>{
             {u"Hello world. this is",
              {{u"Hello", true}, {u"world", false}, {u"this", true}, {u"is", false}}},
             {u"Hi, 3 cats", {{u"Hi", true}, {u"cats", false}}},
             {u"Done!\n\nnext", {{u"Done", true}, {u"next", true}}},
             {u"e.g. the", {{u"e", true}, {u"g", true}, {u"the", true}}},
             {u"don't", {{u"don", true}, {u"t", false}}},
             {u"cafe\u0301 \u00FCber\r\u0416",
              {{u"cafe\u0301", true}, {u"\u00FCber", false}, {u"\u0416", true}}},
             {u"", {}},
             {u". , 42", {}},
         }) {
        EXPECT_EQ(Checker::wordTokens(c.text), c.expected) << text::toUtf8(c.text);
    }
}

TEST(SingleWordChange, FindsExactlyOneChangedWordOfLetters) {
    using Change = std::optional<QNSingleWordChange>;
    struct Case {
        std::u16string from, to;
        Change expected;
    };
    for (const auto& c : std::vector<Case>{
             {u"I recieve it", u"I receive it",
              QNSingleWordChange{u"recieve", u"receive", false, false}},
             {u"teh cat", u"the cat", QNSingleWordChange{u"teh", u"the", true, true}},
             {u"a cat", u"an cat", std::nullopt},
             {u"I go home", u"I went home now", std::nullopt},
             {u"teh kat", u"the cat", std::nullopt},
             {u"same text", u"same text", std::nullopt},
             {u"", u"", std::nullopt},
             {u"the e\u0301t", u"the eat", std::nullopt},  // 3 units, 2 characters
         }) {
        EXPECT_EQ(Checker::singleWordChange(c.from, c.to), c.expected) << text::toUtf8(c.from);
    }
}

TEST(SkipKey, NamesAcronymsAndCamelCase) {
    for (const auto* word : {u"Ravlin", u"GITHUB", u"json", u"NASA", u"iOS", u"McDonald", u"ÉTÉ"}) {
        EXPECT_TRUE(Checker::skipKey(word)) << text::toUtf8(word);
    }
    for (const auto* word : {u"I", u"Hello", u"hello", u"", u"API2", u"e\u0301t\u00E9"}) {
        EXPECT_FALSE(Checker::skipKey(word)) << text::toUtf8(word);
    }
}

}  // namespace
}  // namespace ravlin
