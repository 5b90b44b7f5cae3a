#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/rules/local_fixes.h"
#include "core/rules/word_rules.h"
#include "tests/rules/rules_test_support.h"

namespace ravlin {
namespace {

using rules_test::u16;

struct TextCase {
    std::string input;
    std::string expected;
};

void expectTransform(std::u16string (*transform)(std::u16string_view),
                     const std::vector<TextCase>& cases) {
    for (const auto& c : cases) {
        EXPECT_EQ(rules_test::u8(transform(u16(c.input))), c.expected)
            << "input: \"" << c.input << "\"";
    }
}

TEST(WhitespaceCollapse, RunsBecomeOneSpaceOutsideIndentation) {
    expectTransform(&collapseWhitespace,
                    {
                        {"a  b", "a b"},
                        {"a\tb", "a b"},
                        {"a \t b", "a b"},
                        {"  a  b", "  a b"},  // the leading run stays
                        {"\n    word", "\n    word"},
                        {"a  \n  b", "a \n  b"},
                        {"a  ", "a "},  // trailing runs collapse, not vanish
                        {"a b", "a b"},
                        {"\t\tx  y", "\t\tx y"},
                        // "\r\n" is one character, not a line feed.
                        {"a\r\n  x", "a\r\n x"},
                        {"\r\n  x", "\r\n x"},
                        // A no-break space is not collapsed.
                        {"a \u00A0 b", "a \u00A0 b"},
                        // A space carrying a combining mark is another character.
                        {"a  \u0301 b", "a  \u0301 b"},
                    });
}

TEST(RepeatedWords, CompletedFunctionWordsTypedTwice) {
    expectTransform(&collapseRepeatedWords, {
                                                {"the the ", "the "},
                                                {"The the ", "The "},
                                                {"the the the ", "the "},  // two rounds
                                                {"is is.", "is."},
                                                {"the the", "the the"},  // not finished
                                                {"that that ", "that that "},
                                                {"the\nthe ", "the\nthe "},
                                                {"a  \t a b", "a b"},
                                                {"an an, a a!", "an, a!"},
                                                {"thesis the the ", "thesis the "},
                                                {"the theory ", "the theory "},
                                            });
}

TEST(LoneI, CompletedPronounAndContractions) {
    expectTransform(&capitalizeLoneI,
                    {
                        {"i ", "I "},
                        {"i'm ", "I'm "},
                        {"I'M ", "I'm "},  // case-insensitive match, fixed replacement
                        {"i've i'll i'd.", "I've I'll I'd."},
                        {"i.e. ", "I.e. "},
                        {"i", "i"},
                        {"i\u2019m ", "i\u2019m "},  // only the ASCII apostrophe
                        {"hi i) ", "hi I) "},
                        {"ii i- ", "ii i- "},
                    });
}

TEST(SentenceStarts, FinishedLowerCaseStartsAreCapitalized) {
    expectTransform(&capitalizeSentenceStarts,
                    {
                        {"hello world. this is ", "Hello world. This is "},
                        {"hello", "hello"},
                        {"hello.", "Hello."},
                        {"hello ", "Hello "},
                        {"eBook is ", "eBook is "},
                        {"`code` is ", "`code` is "},
                        {"http://x.y is ", "http://x.y is "},
                        {"\n\nhello ", "\n\nHello "},
                        {"\u00FCber ", "\u00FCber "},
                        {"e.g. foo ", "E.g. Foo "},
                        {"3.5 is it", "3.5 is it"},
                        {"ok? yes! no.\nmaybe ", "Ok? Yes! No.\nMaybe "},
                        {"  indented ", "  Indented "},
                        {"", ""},
                    });
}

// Text that follows other text begins a sentence only where that text ended one: after a comma,
// a semicolon, a dash or a bare word (a pause there), its first word stays as typed.
TEST(SentenceStarts, TheTextBeforeDecidesWhetherTheFirstWordStartsOne) {
    struct Case {
        std::optional<std::u16string> before;
        std::u16string fixed;
    };
    for (const auto& c : {
             Case{std::nullopt, u" Ur the best. Thx "},
             Case{u"", u" Ur the best. Thx "},
             Case{u"  	", u" Ur the best. Thx "},
             Case{u"Thanks for the help,", u" ur the best. Thx "},
             Case{u"Wait;", u" ur the best. Thx "},
             Case{u"Well —", u" ur the best. Thx "},
             Case{u"Thanks for the help", u" ur the best. Thx "},
             Case{u"Thanks.", u" Ur the best. Thx "},
             Case{u"She said \"go.\"", u" Ur the best. Thx "},
             Case{u"Really?)", u" Ur the best. Thx "},
             Case{u"Thanks,\n", u" Ur the best. Thx "},
         }) {
        const auto run = evaluateLocalFixes(u" ur the best. thx ",
                                            QNModelLocalFixRules::sentenceStartCapitalization,
                                            QNCorrectionStageID::unknown,
                                            TierPolicy::defaultPolicy(), c.before);
        EXPECT_EQ(rules_test::u8(run.text), rules_test::u8(c.fixed))
            << "before: " << (c.before ? rules_test::u8(*c.before) : "none");
    }
}

TEST(WordRules, ApplyShape) {
    struct Case {
        LocalFixRulePtr rule;
        std::u16string input;
        std::u16string output;
        std::string noteValue;
    };
    const auto& master = masterLocalRules();
    const Case cases[] = {
        {master[0], u"a  b", u"a b", "whitespace-collapse"},
        {master[1], u"the the ", u"the ", "repeated-word"},
        {master[2], u"i ", u"I ", "lone-i"},
        {master[3], u"hello ", u"Hello ", "sentence-start-cap"},
    };
    for (const auto& c : cases) {
        RuleContext enabled{
            std::nullopt, std::nullopt, {c.rule->id()}, QNCorrectionStageID::postflightLocal};
        RuleResult fired = c.rule->apply(c.input, enabled);
        EXPECT_EQ(fired, (RuleResult{true, c.output,
                                     QNCorrectionNote{QNCorrectionStageID::postflightLocal,
                                                      c.rule->id(), "rule", c.noteValue}}));
        RuleContext other{
            std::nullopt, std::nullopt, {"local.other"}, QNCorrectionStageID::postflightLocal};
        EXPECT_EQ(c.rule->apply(c.input, other), RuleResult::notFired(c.input));
        EXPECT_EQ(c.rule->apply(c.output, enabled), RuleResult::notFired(c.output));
    }
}

TEST(WordRules, MasterMetadata) {
    const auto& master = masterLocalRules();
    EXPECT_EQ(master[0]->metadata(),
              (LocalFixRuleMetadata{
                  "Collapses repeated horizontal whitespace while preserving leading indentation.",
                  ConfidenceTier::eager,
                  true,
                  std::nullopt,
                  {{"category", "whitespace"}}}));
    EXPECT_EQ(master[2]->metadata().minTokenLength, 1);
    EXPECT_EQ(master[1]->metadata().custom.at("category"), "word-boundary");
    EXPECT_EQ(master[3]->metadata().description, "Capitalizes completed sentence starts.");
}

}  // namespace
}  // namespace ravlin
