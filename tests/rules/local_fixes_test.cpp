#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/rules/local_fixes.h"
#include "tests/rules/rules_test_support.h"

namespace ravlin {
namespace {

using rules_test::u16;
using rules_test::u8;
using text::Utf16Range;

QNCorrectionNote ruleNote(const std::string& name,
                          QNCorrectionStageID stage = QNCorrectionStageID::preflightLocal) {
    return QNCorrectionNote{stage, "local." + name, "rule", name};
}

TEST(ApplyLocalFixes, WholePassResults) {
    struct Case {
        std::string input;
        std::string text;
        std::vector<Utf16Range> ranges;
        std::vector<std::string> details;
    };
    const std::vector<Case> cases{
        {"i dont know  teh answer ",
         "I don't know the answer ",
         {{0, 1}, {5, 1}, {13, 3}},
         {"rule: whitespace", "rule: lone-i", "rule: typo-map"}},
        // Doubled words that a later rule creates are collapsed in the next pass.
        {"the the teh ",
         "The ",
         {{0, 1}, {3, 1}},
         {"rule: doubled-word", "rule: sentence-start", "rule: typo-map", "rule: doubled-word"}},
        // The lone "i" is capitalized before the spaced initialism is joined.
        {"we use json and a p i. ",
         "We use JSON and API. ",
         {{0, 1}, {7, 4}, {16, 3}},
         {"rule: lone-i", "rule: sentence-start", "rule: typo-map"}},
        // The phrase replacement is lower case; the next pass capitalizes it again.
        {"nit working ",
         "Not working ",
         {{0, 2}},
         {"rule: sentence-start", "rule: typo-map", "rule: sentence-start"}},
        // A word still being typed is left alone.
        {"Hello teh", "Hello teh", {}, {}},
        {"Fine as it is. ", "Fine as it is. ", {}, {}},
    };
    for (const auto& c : cases) {
        QNModelLocalFixResult result = applyLocalFixes(u16(c.input));
        EXPECT_EQ(u8(result.text), c.text) << c.input;
        EXPECT_EQ(result.changedRanges, c.ranges) << c.input;
        EXPECT_EQ(result.didChange, c.text != c.input) << c.input;
        EXPECT_EQ(result.details(), c.details) << c.input;
    }
}

TEST(ApplyLocalFixes, BlankTextsComeBackUnchanged) {
    for (const auto* text : {u"", u"   ", u" \n\t\r\n ", u"\u00A0\u2028"}) {
        auto result =
            applyLocalFixes(text, QNModelLocalFixRules::all, QNCorrectionStageID::preflightLocal,
                            TierPolicy::defaultPolicy());
        EXPECT_EQ(result, QNModelLocalFixResult(text, {}, false, std::vector<QNCorrectionNote>{}));
    }
}

TEST(ApplyLocalFixes, OptionSetsThatEnableNothing) {
    for (std::int64_t raw : {0, 32, 64 + 128}) {
        EXPECT_TRUE(localRuleRegistry(QNModelLocalFixRules{raw}).rules().empty()) << raw;
        auto result =
            applyLocalFixes(u"i  dont ", QNModelLocalFixRules{raw},
                            QNCorrectionStageID::preflightLocal, TierPolicy::defaultPolicy());
        EXPECT_FALSE(result.didChange) << raw;
        EXPECT_EQ(result.text, u"i  dont ");
    }
    EXPECT_EQ(localRuleRegistry(QNModelLocalFixRules::all).rules().size(), 10U);
    EXPECT_EQ(localRuleRegistry(QNModelLocalFixRules::staticTypoMap).rules().size(), 6U);
    EXPECT_EQ(enabledRuleIDs(QNModelLocalFixRules{33}),
              enabledRuleIDs(QNModelLocalFixRules::whitespaceCollapse));
}

TEST(ApplyLocalFixes, TierPolicyKeepsRulesForTheModel) {
    const auto stage = QNCorrectionStageID::preflightLocal;
    // The short contraction and typo maps never run under the default policy.
    auto result = applyLocalFixes(u"ill te dont ", QNModelLocalFixRules::staticTypoMap, stage,
                                  TierPolicy::defaultPolicy());
    EXPECT_EQ(result.text, u"ill te don't ");

    // A policy that keeps the lone-i rule for the model leaves it out.
    auto entries = TierPolicy::defaultPolicy().localRuleEntries();
    for (auto& entry : entries) {
        if (entry.ruleID == "local.lone-i") {
            entry.behavior = LocalRuleBehavior::modelOnly();
        }
    }
    TierPolicy noLoneI("test", entries, {});
    EXPECT_EQ(
        applyLocalFixes(u"so i said ", QNModelLocalFixRules::loneICapitalization, stage, noLoneI)
            .text,
        u"so i said ");
    EXPECT_EQ(applyLocalFixes(u"so i said ", QNModelLocalFixRules::loneICapitalization, stage,
                              TierPolicy::defaultPolicy())
                  .text,
              u"so I said ");
    // An empty policy lets every rule that declares itself local apply, and only those.
    TierPolicy empty("empty", {}, {});
    EXPECT_EQ(applyLocalFixes(u"ill te teh ", QNModelLocalFixRules::all, stage, empty).text,
              u"Ill te the ");
}

TEST(ApplyLocalFixes, NotesAreCompactAndStamped) {
    auto result = applyLocalFixes(
        u"so  i said ",
        QNModelLocalFixRules::whitespaceCollapse | QNModelLocalFixRules::loneICapitalization,
        QNCorrectionStageID::postflightLocal, TierPolicy::defaultPolicy());
    EXPECT_EQ(result.text, u"so I said ");
    EXPECT_EQ(
        result.structuredDetails,
        (std::vector<QNCorrectionNote>{ruleNote("whitespace", QNCorrectionStageID::postflightLocal),
                                       ruleNote("lone-i", QNCorrectionStageID::postflightLocal)}));
    EXPECT_EQ(result.details(), (std::vector<std::string>{"rule: whitespace", "rule: lone-i"}));

    // Brand initialism and then the long typo map in one pass give one note.
    auto typos = applyLocalFixes(u"Json teh ");
    EXPECT_EQ(typos.text, u"JSON the ");
    EXPECT_EQ(typos.structuredDetails, std::vector<QNCorrectionNote>{ruleNote("typo-map")});
}

TEST(LegacyNotes, MapsByRuleAndCollapsesOnlyConsecutiveDuplicates) {
    auto own = [](const char* id, const char* value) {
        return QNCorrectionNote{QNCorrectionStageID::unknown, std::string(id), "rule", value};
    };
    const auto stage = QNCorrectionStageID::preflightLocal;
    EXPECT_EQ(
        legacyNotes({own("local.brand-initialism", "brand-initialism"),
                     own("local.lone-i", "lone-i"), own("local.typo-map.long", "typo-map.long")},
                    stage),
        (std::vector<QNCorrectionNote>{ruleNote("typo-map"), ruleNote("lone-i"),
                                       ruleNote("typo-map")}));
    EXPECT_EQ(legacyNotes(
                  {own("local.phrase-pattern", "phrase-pattern"),
                   own("local.contraction.long", "x"), own("local.repeated-word", "repeated-word"),
                   own("local.sentence-start-cap", "sentence-start-cap")},
                  stage),
              (std::vector<QNCorrectionNote>{ruleNote("typo-map"), ruleNote("doubled-word"),
                                             ruleNote("sentence-start")}));
    // Other notes keep rule, key and value but take the stage.
    QNCorrectionNote other{QNCorrectionStageID::sanitize, "sanitize.quote-strip", "k", "v"};
    QNCorrectionNote plain = QNCorrectionNote::plain("free text");
    EXPECT_EQ(
        legacyNotes({other, other, plain}, stage),
        (std::vector<QNCorrectionNote>{QNCorrectionNote{stage, "sanitize.quote-strip", "k", "v"},
                                       QNCorrectionNote::plain("free text", stage)}));
}

TEST(LocalFixResult, FromPlainDetails) {
    QNModelLocalFixResult result(
        u"t", {}, false, std::vector<std::string>{"rule: lone-i", "A free sentence.", "rule: "});
    EXPECT_EQ(result.structuredDetails,
              (std::vector<QNCorrectionNote>{
                  ruleNote("lone-i"),
                  QNCorrectionNote::plain("A free sentence.", QNCorrectionStageID::preflightLocal),
                  QNCorrectionNote::plain("rule: ", QNCorrectionStageID::preflightLocal)}));
    EXPECT_EQ(result.details(),
              (std::vector<std::string>{"rule: lone-i", "A free sentence.", "rule: "}));
    QNModelLocalFixResult typo(u"t", {}, false, std::vector<std::string>{"rule: typo-map"});
    EXPECT_EQ(typo.structuredDetails,
              legacyNotes({QNCorrectionNote{QNCorrectionStageID::unknown, "local.typo-map.long",
                                            "rule", "typo-map.long"}},
                          QNCorrectionStageID::preflightLocal));
}

TEST(LocalFixRules, OptionSet) {
    using R = QNModelLocalFixRules;
    EXPECT_EQ((R::whitespaceCollapse | R::repeatedWordCollapse | R::loneICapitalization |
               R::sentenceStartCapitalization | R::staticTypoMap),
              R::all);
    EXPECT_TRUE(R::all.contains(R::staticTypoMap));
    EXPECT_FALSE((R::all - R::staticTypoMap).contains(R::staticTypoMap));
    EXPECT_EQ(enabledRuleIDs(R::all).size(), 10U);
    EXPECT_EQ(enabledRuleIDs(R::staticTypoMap),
              (std::set<std::string>{"local.brand-initialism", "local.contraction.long",
                                     "local.contraction.short", "local.typo-map.long",
                                     "local.typo-map.short", "local.phrase-pattern"}));
}

TEST(StablePrefixBoundary, CutsTheWordBeingTyped) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"hello wor", "hello "},
        {"hello ", "hello "},
        {"hello", ""},
        {"one two\nthr", "one two\n"},
        {"", ""},
        {"a\r\nb", "a\r\n"},
        {"a \u0301b", "a \u0301"},  // the space and its combining mark are one character
        {"a\u00A0b", "a\u00A0"},
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(u8(stablePrefixBoundary(u16(input))), expected) << input;
    }
}

}  // namespace
}  // namespace ravlin
