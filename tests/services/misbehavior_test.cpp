#include <cstdlib>

#include <gtest/gtest.h>

#include "core/services/misbehavior_context.h"
#include "core/services/misbehavior_rules.h"

namespace ravlin {
namespace {

using misbehavior::containsSimilarWord;
using misbehavior::isRomanizedPhoneticVariant;

std::optional<std::string> reasonOf(const QNModelMisbehaviorRule& rule, std::u16string_view cleaned,
                                    std::u16string_view original) {
    return rule.evaluate(QNModelMisbehaviorContext::make(original, cleaned));
}

std::optional<std::string> schemaLeak(std::u16string_view cleaned, std::u16string_view original) {
    return reasonOf(QNSchemaLeakMisbehaviorRule{}, cleaned, original);
}

TEST(MisbehaviorContext, DerivesWordsLengthsAndScript) {
    const auto context = QNModelMisbehaviorContext::make(u"  Hello, World!  ", u"\u4F60\u597D");
    EXPECT_EQ(context.originalWords, (std::vector<std::u16string>{u"hello", u"world"}));
    EXPECT_EQ(context.originalLength, 13);
    EXPECT_EQ(context.cleanedLength, 2);
    EXPECT_EQ(context.added(), -11);
    EXPECT_EQ(context.originalLower, u"  hello, world!  ");
    EXPECT_TRUE(context.cleanedHasCJK);
    EXPECT_FALSE(context.allowsRomanizedPhoneticConversion);

    EXPECT_EQ(misbehavior::words(u"a -- \u201Cquoted\u201D\n(it's)"),
              (std::vector<std::u16string>{u"a", u"quoted", u"it's"}));
    EXPECT_TRUE(misbehavior::containsCJK(u"x\u3042"));        // hiragana
    EXPECT_TRUE(misbehavior::containsCJK(u"\uF900"));         // compatibility ideograph
    EXPECT_FALSE(misbehavior::containsCJK(u"\uAC00\uD55C"));  // hangul
}

TEST(MisbehaviorWords, SyllableSegmentation) {
    EXPECT_TRUE(misbehavior::isSegmentableByPinyin(u"xiexie"));
    EXPECT_TRUE(misbehavior::isSegmentableByRomaji(u"konnichiwa"));
    EXPECT_FALSE(misbehavior::isSegmentableByPinyin(u"hello"));
    EXPECT_TRUE(misbehavior::isPinyinSyllable(u"zhuang"));
    EXPECT_TRUE(misbehavior::isPinyinSyllable(u"bo"));
    EXPECT_FALSE(misbehavior::isPinyinSyllable(u"lo"));        // "o" joins only b, p, m, f, w
    EXPECT_FALSE(misbehavior::isStrongSyllableSignal(u"he"));  // excluded English word
    EXPECT_TRUE(misbehavior::isStrongSyllableSignal(u"nihao"));
    EXPECT_TRUE(misbehavior::isNearSyllable(u"zhonq"));
}

TEST(MisbehaviorWords, SimilarWordsAndRomanizedVariants) {
    EXPECT_TRUE(containsSimilarWord({u"jsno"}, u"json"));  // a variant, though 2 edits away
    EXPECT_TRUE(containsSimilarWord({u"jsn"}, u"json"));
    EXPECT_FALSE(containsSimilarWord({u"jazz"}, u"json"));
    EXPECT_FALSE(containsSimilarWord({u"js0n"}, u"json"));  // not an a-z word
    EXPECT_TRUE(isRomanizedPhoneticVariant(u"nihao", u"nihau"));
    EXPECT_TRUE(isRomanizedPhoneticVariant(u"tokyo", u"kyoto"));
    EXPECT_FALSE(isRomanizedPhoneticVariant(u"nihao", u"hello"));
}

TEST(MisbehaviorWords, WordMatchesToleratesTypingAndRewording) {
    const std::pair<std::u16string, std::u16string> matches[] = {
        {u"i", u"i"},         {u"oekr", u"work"},      {u"don't", u"not"},
        {u"we'll", u"shall"}, {u"tomor", u"tomorrow"}, {u"recieve", u"receive"},
        {u"teh", u"the"},     {u"abotu", u"about"},    {u"gonig", u"going"},
    };
    for (const auto& [typed, candidate] : matches) {
        EXPECT_TRUE(misbehavior::wordMatches(typed, candidate))
            << testing::PrintToString(typed) << " ~ " << testing::PrintToString(candidate);
    }
    const std::pair<std::u16string, std::u16string> misses[] = {
        {u"i", u"a"},
        {u"the", u"theory"},
        {u"ab", u"xy"},
        {u"tomorrow", u"report"},
    };
    for (const auto& [typed, candidate] : misses) {
        EXPECT_FALSE(misbehavior::wordMatches(typed, candidate))
            << testing::PrintToString(typed) << " ~ " << testing::PrintToString(candidate);
    }
    EXPECT_TRUE(misbehavior::isWordPresent(u"up", u"Follow-up."));
    EXPECT_TRUE(misbehavior::isWordPresent(u"highschool", u"in high school"));
    EXPECT_FALSE(misbehavior::isWordPresent(u"tomorrow", u"Send the report."));
}

TEST(SchemaLeakRule, FiresOnSchemaVocabularyTheInputLacks) {
    struct Case {
        std::u16string cleaned, original;
        std::optional<std::string> reason;
    };
    const std::vector<Case> cases = {
        {u"schema: {\"additionalProperties\": false}", u"fix this", "schema leak (\"schema:\")"},
        {u"schema: {\"additionalProperties\": false}", u"see schema: here", std::nullopt},
        {u"schema: none", u"fix this", std::nullopt},
        {u"Schema: {'type': 'object'}", u"fix this", "schema leak (\"schema:\")"},
        {u"schema: a json [list]", u"fix this", "schema leak (\"schema:\")"},
        {u"Respond in JSON", u"fix this", "schema leak (\"respond in json\")"},
        {u"Respond in JSON", u"please respond in json format", std::nullopt},
        // The input talks about the format in its own words (a variant and a typo).
        {u"use the json format", u"jsno formt question", std::nullopt},
        {u"use the json format", u"question", "schema leak (\"json format\")"},
        {u"QNModelCorrectedOutput respond in json", u"fix this",
         "schema leak (\"qnmodelcorrectedoutput\")"},
        {u"@Generable struct", u"fix", "schema leak (\"@generable\")"},
        {u"The corrected text.", u"the corected text", std::nullopt},
    };
    for (const auto& [cleaned, original, reason] : cases) {
        EXPECT_EQ(schemaLeak(cleaned, original), reason) << testing::PrintToString(cleaned);
    }
}

TEST(MisbehaviorRules, OptionalRulesDetectTheirFailures) {
    const QNDroppedTrailingWordMisbehaviorRule dropped;
    EXPECT_EQ(reasonOf(dropped, u"Please send the report.", u"please send the report tomorrow"),
              "dropped trailing word: tomorrow");
    EXPECT_EQ(
        reasonOf(dropped, u"Please send the report tomorrow.", u"please send the report tomorow"),
        std::nullopt);
    EXPECT_EQ(reasonOf(dropped, u"Yes.", u"yes zq"), std::nullopt);  // not a two-letter word
    EXPECT_FALSE(dropped.triggersFallback());

    const QNOutputUnrelatedToInputMisbehaviorRule unrelated;
    EXPECT_EQ(reasonOf(unrelated, u"I cannot help with that.",
                       u"please send the quarterly report tomorrow"),
              "output unrelated to input");
    EXPECT_EQ(reasonOf(unrelated, u"Please send the quarterly report.",
                       u"please send the quarterly report tomorrow"),
              std::nullopt);
    EXPECT_TRUE(unrelated.triggersFallback());

    const std::u16string romanized = u"zhongguo renmin xiexie pengyou";
    const QNRomanizedPhoneticRewriteMisbehaviorRule rewrite;
    EXPECT_EQ(reasonOf(rewrite, u"Chinese people thank you friend", romanized),
              "romanized phonetic text rewritten without native script: zhongguo");
    EXPECT_EQ(reasonOf(rewrite, u"\u4E2D\u56FD\u4EBA\u6C11\u8C22\u8C22\u670B\u53CB", romanized),
              std::nullopt);

    const QNTranslatedEnglishWordMisbehaviorRule translated;
    const std::u16string mixed = romanized + u" computer";
    EXPECT_EQ(reasonOf(translated, u"\u4E2D\u56FD\u4EBA\u6C11\u8C22\u8C22\u670B\u53CB\u7535\u8111",
                       mixed),
              "translated English word: computer");
    EXPECT_EQ(
        reasonOf(translated, u"\u4E2D\u56FD\u4EBA\u6C11\u8C22\u8C22\u670B\u53CB computer", mixed),
        std::nullopt);
}

TEST(MisbehaviorRegistry, ReturnsTheFirstEnabledDetectionWithItsNote) {
    const QNModelMisbehaviorRegistry registry{
        {std::make_shared<QNDroppedTrailingWordMisbehaviorRule>(),
         std::make_shared<QNSchemaLeakMisbehaviorRule>()},
        {}};
    const auto result = registry.detect(u"Respond in JSON", u"fix this now");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->reason, "dropped trailing word: now");
    EXPECT_FALSE(result->triggersFallback);
    EXPECT_EQ(result->note, QNCorrectionNote::plain("dropped trailing word: now",
                                                    QNCorrectionStageID::misbehaviorDetect,
                                                    "misbehavior.dropped-trailing-word"));

    auto withoutDropped = registry;
    withoutDropped.disabledShortIDs = {"dropped-trailing-word"};
    const auto leak = withoutDropped.detect(u"Respond in JSON", u"fix this now");
    ASSERT_TRUE(leak);
    EXPECT_EQ(leak->note.ruleID, "misbehavior.schema-leak");
    EXPECT_TRUE(leak->triggersFallback);
}

TEST(MisbehaviorRegistry, DefaultHoldsOnlyTheSchemaLeakRule) {
    const auto rules = QNModelMisbehaviorRegistry::defaultRules();
    ASSERT_EQ(rules.size(), 1u);
    EXPECT_EQ(rules[0]->ruleID(), "misbehavior.schema-leak");
    EXPECT_EQ(rules[0]->shortID(), "schema-leak");

    struct Custom final : QNModelMisbehaviorRule {
        std::string ruleID() const override { return "custom"; }
        std::optional<std::string> evaluate(const QNModelMisbehaviorContext&) const override {
            return std::nullopt;
        }
    };
    EXPECT_EQ(Custom{}.shortID(), "custom");
    EXPECT_TRUE(Custom{}.triggersFallback());
}

TEST(MisbehaviorRegistry, DisabledListIsTrimmedCommaSeparatedAndCaseSensitive) {
    using Set = std::set<std::string>;
    EXPECT_EQ(disabledMisbehaviorRuleIDs(std::nullopt), Set{});
    EXPECT_EQ(disabledMisbehaviorRuleIDs(" schema-leak ,,"), Set{"schema-leak"});
    EXPECT_EQ(disabledMisbehaviorRuleIDs("\ta ,b,\t, c\u3000"), (Set{"a", "b", "c"}));
    EXPECT_EQ(disabledMisbehaviorRuleIDs("x\n"), Set{"x\n"});  // newlines are not trimmed
    EXPECT_EQ(disabledMisbehaviorRuleIDs("Schema-Leak"), Set{"Schema-Leak"});
}

// The default registry reads the environment once per process, so each case runs in a child.
int defaultRegistryFiresWith(const char* disabled) {
    if (disabled) {
        setenv("RAVLIN_DISABLE_MISBEHAVIOR_RULES", disabled, 1);
    } else {
        unsetenv("RAVLIN_DISABLE_MISBEHAVIOR_RULES");
    }
    const bool fired = detectModelMisbehavior(u"Respond in JSON", u"fix this").has_value();
    // A later change of the environment has no effect.
    setenv("RAVLIN_DISABLE_MISBEHAVIOR_RULES", fired ? "schema-leak" : "", 1);
    const bool firedAgain = detectModelMisbehavior(u"Respond in JSON", u"fix this").has_value();
    return fired == firedAgain ? (fired ? 1 : 0) : 2;
}

TEST(MisbehaviorRegistryEnvironment, SwitchesRulesOffByShortIdentifier) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(defaultRegistryFiresWith(nullptr)), testing::ExitedWithCode(1), "");
    EXPECT_EXIT(std::exit(defaultRegistryFiresWith(" schema-leak ,,")), testing::ExitedWithCode(0),
                "");
    EXPECT_EXIT(std::exit(defaultRegistryFiresWith("Schema-Leak")), testing::ExitedWithCode(1), "");
}

}  // namespace
}  // namespace ravlin
