#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/rules/dictionary_rules.h"
#include "core/rules/local_fixes.h"
#include "tests/rules/rules_test_support.h"

namespace ravlin {
namespace {

using rules_test::u16;
using rules_test::u8;

const LocalFixRule& rule(std::string_view id) {
    for (const auto& candidate : masterLocalRules()) {
        if (candidate->id() == id) {
            return *candidate;
        }
    }
    throw std::logic_error("no such rule");
}

std::string applied(std::string_view id, std::string_view input) {
    RuleContext context{
        std::nullopt, std::nullopt, {std::string(id)}, QNCorrectionStageID::preflightLocal};
    return u8(rule(id).apply(u16(input), context).output);
}

struct RuleCase {
    const char* ruleID;
    std::string input;
    std::string expected;
};

TEST(DictionaryRules, CompletedWordsOnly) {
    const std::vector<RuleCase> cases{
        {"local.contraction.long", "dont", "dont"},  // still being typed
        {"local.contraction.long", "dont ", "don't "},
        {"local.contraction.long", "dont.", "don't."},
        {"local.contraction.long", "dont-", "dont-"},
        {"local.contraction.long", "dont's ", "dont's "},
        {"local.contraction.long", "dont cant ", "don't can't "},
        {"local.contraction.long", "(dont) wont] isnt; ", "(don't) won't] isn't; "},
        {"local.typo-map.long", "tehs ", "tehs "},
        {"local.typo-map.long", "teh ", "the "},
        {"local.typo-map.long", "alot\n", "a lot\n"},
        {"local.typo-map.long", "recieved ", "recieved "},
        {"local.typo-map.long", "corect corected ", "correct corrected "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(applied(c.ruleID, c.input), c.expected)
            << c.ruleID << " on \"" << c.input << "\"";
    }
}

TEST(DictionaryRules, CaseOfTheTypedWord) {
    const std::vector<RuleCase> cases{
        {"local.contraction.long", "DONT ", "DON'T "},
        {"local.contraction.long", "Dont ", "Don't "},
        {"local.contraction.long", "dOnt ", "don't "},
        {"local.contraction.long", "Im ", "I'm "},
        {"local.contraction.long", "im ", "I'm "},
        {"local.contraction.long", "IM ", "I'M "},
        {"local.brand-initialism", "Json ", "JSON "},
        {"local.brand-initialism", "json api llm url ui ux ai. ", "JSON API LLM URL UI UX AI. "},
        {"local.typo-map.long", "Helowoeld ", "Hello world "},
        {"local.typo-map.long", "TEH ", "THE "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(applied(c.ruleID, c.input), c.expected)
            << c.ruleID << " on \"" << c.input << "\"";
    }
    RuleContext context{std::nullopt,
                        std::nullopt,
                        {"local.brand-initialism"},
                        QNCorrectionStageID::preflightLocal};
    EXPECT_FALSE(rule("local.brand-initialism").apply(u"AI ", context).didFire);
}

TEST(DictionaryRules, SpacedInitialismsAlsoAcceptTheEnd) {
    const std::vector<RuleCase> cases{
        {"local.brand-initialism", "a i ", "AI "},
        {"local.brand-initialism", "a i", "AI"},
        {"local.brand-initialism", "A  P\tI.", "API."},
        {"local.brand-initialism", "j s o n\n", "JSON\n"},
        {"local.brand-initialism", "u r l", "URL"},
        {"local.brand-initialism", "ai-based ", "ai-based "},
        {"local.brand-initialism", "a is ", "a is "},
        // The patterns run in order: the one for "L L M" takes letters "U R L" would need.
        {"local.brand-initialism", "u r l l m ", "u r LLM "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(applied(c.ruleID, c.input), c.expected)
            << c.ruleID << " on \"" << c.input << "\"";
    }
}

TEST(DictionaryRules, PhrasePatterns) {
    const std::vector<RuleCase> cases{
        {"local.phrase-pattern", "HELOWOELD HEKLOWOWKRD ", "hello world "},  // no case kept
        {"local.phrase-pattern", "it is nit  working!", "it is not working!"},
        {"local.phrase-pattern", "sjjty ans not realy oekr.", "shitty and not really work."},
        {"local.phrase-pattern", "shity snd not really work ", "shitty and not really work "},
        {"local.phrase-pattern", "shity snd not realy oekr ", "shitty and not really work "},
        {"local.phrase-pattern", "nit working", "nit working"},
        {"local.phrase-pattern", "nit\nworking ", "nit\nworking "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(applied(c.ruleID, c.input), c.expected)
            << c.ruleID << " on \"" << c.input << "\"";
    }
}

TEST(DictionaryRules, ShortScopesWhenAppliedDirectly) {
    const std::vector<RuleCase> cases{
        {"local.typo-map.short", "te ", "the "},
        {"local.typo-map.short", "ll ", "all "},
        {"local.typo-map.short", "ill id ", "ill id "},
        {"local.contraction.short", "ill ", "I'll "},
        {"local.contraction.short", "id ", "I'd "},
        {"local.contraction.short", "te ll ", "te ll "},
        // An apostrophe is a word boundary.
        {"local.typo-map.short", "we'll ", "we'all "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(applied(c.ruleID, c.input), c.expected)
            << c.ruleID << " on \"" << c.input << "\"";
    }
}

TEST(DictionaryRules, ApplyShape) {
    for (const char* id :
         {"local.phrase-pattern", "local.brand-initialism", "local.contraction.long",
          "local.typo-map.long", "local.typo-map.short", "local.contraction.short"}) {
        RuleContext other{
            std::nullopt, std::nullopt, {"local.lone-i"}, QNCorrectionStageID::preflightLocal};
        std::u16string text = u"dont teh ai ill te nit working ";
        EXPECT_EQ(rule(id).apply(text, other), RuleResult::notFired(text)) << id;

        RuleContext enabled{std::nullopt, std::nullopt, {id}, QNCorrectionStageID::echoStrip};
        RuleResult result = rule(id).apply(text, enabled);
        ASSERT_TRUE(result.didFire) << id;
        ASSERT_TRUE(result.note) << id;
        EXPECT_EQ(result.note->stageID, QNCorrectionStageID::echoStrip);
        EXPECT_EQ(result.note->ruleID, id);
        EXPECT_EQ(result.note->key, "rule");
        EXPECT_EQ("local." + result.note->value, id);  // the note value is the identifier's tail
    }
}

TEST(DictionaryRules, ScopesAndMetadata) {
    ContractionRule longContractions(ContractionRule::Scope::localSafe);
    EXPECT_EQ(longContractions.id(), "local.contraction.long");
    EXPECT_EQ(longContractions.metadata().custom.at("tokens"),
              "dont,cant,wont,didnt,doesnt,wouldnt,couldnt,shouldnt,isnt,arent,wasnt,werent,hasnt,"
              "havent,im,ive");
    TypoMapRule shortTypos(TypoMapRule::Scope::shortModelOnly);
    EXPECT_EQ(shortTypos.id(), "local.typo-map.short");
    EXPECT_FALSE(shortTypos.metadata().appliesLocally);
    EXPECT_EQ(shortTypos.metadata().minTokenLength, 2);
    EXPECT_EQ(shortTypos.metadata().custom.at("tokens"), "te,ll");
    EXPECT_EQ(TypoMapRule(TypoMapRule::Scope::localSafe).metadata().minTokenLength, 3);
    EXPECT_EQ(PhraseTypoRule::masterMetadata().defaultTier, ConfidenceTier::tentative);
    EXPECT_EQ(BrandInitialismRule::masterMetadata().minTokenLength, 2);

    std::vector<std::string> order;
    for (const auto& r : masterLocalRules()) {
        order.push_back(r->id());
    }
    EXPECT_EQ(order, (std::vector<std::string>{"local.whitespace-collapse", "local.repeated-word",
                                               "local.lone-i", "local.sentence-start-cap",
                                               "local.phrase-pattern", "local.brand-initialism",
                                               "local.contraction.long", "local.typo-map.long",
                                               "local.typo-map.short", "local.contraction.short"}));
}

TEST(PreservingCase, FollowsTheTypedWord) {
    const std::vector<std::tuple<std::string, std::string, std::string>> cases{
        {"dont", "don't", "don't"},
        {"Dont", "don't", "Don't"},
        {"DONT", "don't", "DON'T"},
        {"dOnt", "don't", "don't"},
        {"im", "I'm", "I'm"},
        {"IM", "I'm", "I'M"},
        {"Helowoeld", "hello world", "Hello world"},
        {"'", "x", "x"},
        {"A1", "abc", "ABC"},
        {"\u00C9T", "abc", "abc"},  // a non-ASCII capital is not an ASCII capital
    };
    for (const auto& [matched, replacement, expected] : cases) {
        EXPECT_EQ(u8(preservingCase(u16(matched), u16(replacement))), expected) << matched;
    }
}

TEST(ReplaceWords, AnyMap) {
    ReplacementMap map{{u"colour", u"color"}, {u"col", u"column"}};
    EXPECT_EQ(replaceWords(u"Colour col cols, COL.", map), u"Color column cols, COLUMN.");
    // Keys that are not plain words go through the pattern form.
    ReplacementMap odd{{u"c++", u"C++"}, {u"e-mail", u"email"}};
    EXPECT_EQ(replaceWords(u"e-mail now ", odd), u"email now ");
}

}  // namespace
}  // namespace ravlin
