#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/records/local_rule_metadata.h"
#include "core/rules/local_fixes.h"
#include "core/rules/local_rule.h"

namespace ravlin {
namespace {

using text::Utf16Range;

// A rule made of a function, counting its calls.
class ScriptedRule final : public LocalFixRule {
  public:
    ScriptedRule(std::string id, std::function<std::u16string(std::u16string_view)> rewrite,
                 bool appliesLocally = true, bool reportsFired = false)
        : id_(std::move(id)), rewrite_(std::move(rewrite)), reportsFired_(reportsFired) {
        metadata_.description = "scripted";
        metadata_.appliesLocally = appliesLocally;
    }

    const std::string& id() const override { return id_; }
    const LocalFixRuleMetadata& metadata() const override { return metadata_; }
    RuleResult apply(std::u16string_view text, const RuleContext& context) const override {
        ++calls;
        if (!context.enabledRules.contains(id_)) {
            return RuleResult::notFired(text);
        }
        std::u16string output = rewrite_(text);
        if (output == text && !reportsFired_) {
            return RuleResult::notFired(text);
        }
        return RuleResult{true, output, QNCorrectionNote{context.stageID, id_, "rule", id_}};
    }

    mutable int calls = 0;

  private:
    std::string id_;
    LocalFixRuleMetadata metadata_;
    std::function<std::u16string(std::u16string_view)> rewrite_;
    bool reportsFired_;
};

// Replaces the first occurrence of `from` by `to`.
std::function<std::u16string(std::u16string_view)> replacing(std::u16string from,
                                                             std::u16string to) {
    return [from, to](std::u16string_view text) {
        std::u16string out(text);
        if (auto at = out.find(from); at != std::u16string::npos) {
            out.replace(at, from.size(), to);
        }
        return out;
    };
}

RuleContext contextFor(std::set<std::string> enabled) {
    return RuleContext{std::nullopt, std::nullopt, std::move(enabled),
                       QNCorrectionStageID::preflightLocal};
}

TEST(LocalRuleRegistry, EmptyRegistryLeavesTheText) {
    LocalRuleRegistry registry;
    auto evaluation = registry.evaluateDetailed(u"abc", contextFor({}));
    EXPECT_EQ(evaluation, (LocalRuleEvaluation{u"abc", u"abc", {}}));
    EXPECT_FALSE(evaluation.didChange());
    EXPECT_TRUE(evaluation.changedRanges().empty());
    EXPECT_TRUE(evaluation.structuredDetails().empty());
}

TEST(LocalRuleRegistry, EnabledRulesSelectWhatMayFire) {
    auto loneI = std::make_shared<ScriptedRule>("local.lone-i", replacing(u"i", u"I"));
    auto other = std::make_shared<ScriptedRule>("local.other", replacing(u"x", u"y"));
    LocalRuleRegistry registry({loneI, other});

    // An empty set stands for every rule of the registry.
    EXPECT_EQ(registry.evaluateDetailed(u"i x", contextFor({})).text, u"I y");
    EXPECT_EQ(registry.evaluateDetailed(u"i x", contextFor({"local.lone-i"})).text, u"I x");
    // A set naming only rules outside the registry is used as it is: nothing fires.
    EXPECT_EQ(registry.evaluateDetailed(u"i x", contextFor({"local.elsewhere"})).text, u"i x");
}

TEST(LocalRuleRegistry, RuleThatDoesNotApplyLocallyIsNeverCalled) {
    auto modelOnly = std::make_shared<ScriptedRule>("local.model", replacing(u"a", u"b"),
                                                    /*appliesLocally=*/false);
    LocalRuleRegistry registry({modelOnly});
    auto evaluation = registry.evaluateDetailed(u"a", contextFor({"local.model"}));
    EXPECT_EQ(evaluation.text, u"a");
    EXPECT_EQ(modelOnly->calls, 0);
}

TEST(LocalRuleRegistry, FiredWithoutChangeAddsNoApplication) {
    auto idle = std::make_shared<ScriptedRule>(
        "local.idle", [](std::u16string_view t) { return std::u16string(t); }, true,
        /*reportsFired=*/true);
    auto evaluation = LocalRuleRegistry({idle}).evaluateDetailed(u"text", contextFor({}));
    EXPECT_TRUE(evaluation.applications.empty());
    EXPECT_EQ(idle->calls, 1);  // one pass for a text no rule changes
}

TEST(LocalRuleRegistry, RulesChainWithinAPassAndAcrossPasses) {
    // "a" -> "b" by the first rule; the second rule turns "c" into "a", which the first rule
    // picks up in the next pass.
    auto first = std::make_shared<ScriptedRule>("first", replacing(u"a", u"b"));
    auto second = std::make_shared<ScriptedRule>("second", replacing(u"c", u"a"));
    LocalRuleRegistry registry({first, second});
    auto evaluation = registry.evaluateDetailed(u"a c", contextFor({}));

    EXPECT_EQ(evaluation.text, u"b b");
    ASSERT_EQ(evaluation.applications.size(), 3U);
    EXPECT_EQ(evaluation.applications[0].ruleID, "first");
    EXPECT_EQ(evaluation.applications[0].input, u"a c");
    EXPECT_EQ(evaluation.applications[0].output, u"b c");
    EXPECT_EQ(evaluation.applications[1].ruleID, "second");
    EXPECT_EQ(evaluation.applications[1].input, u"b c");  // the first one's output
    EXPECT_EQ(evaluation.applications[1].output, u"b a");
    EXPECT_EQ(evaluation.applications[2].ruleID, "first");  // from the second pass
    EXPECT_EQ(evaluation.applications[2].output, u"b b");
    EXPECT_EQ(first->calls, 3);  // three passes: the last one changes nothing

    EXPECT_EQ(evaluation.applications[0].changedRanges, (std::vector<Utf16Range>{{0, 1}}));
    EXPECT_EQ(evaluation.applications[1].changedRanges, (std::vector<Utf16Range>{{2, 1}}));
    EXPECT_TRUE(evaluation.didChange());
    // For the run: from "a c" to "b b" no two code units match again after the first change.
    EXPECT_EQ(evaluation.changedRanges(), (std::vector<Utf16Range>{{0, 3}}));
    auto notes = evaluation.structuredDetails();
    ASSERT_EQ(notes.size(), 3U);
    EXPECT_EQ(notes[1].ruleID, "second");
}

TEST(LocalRuleRegistry, RunRangesComeFromInputAndFinalText) {
    // Two neighbouring changes by two rules: one range each in the applications, one range
    // for the run.
    auto first = std::make_shared<ScriptedRule>("first", replacing(u"b", u"X"));
    auto second = std::make_shared<ScriptedRule>("second", replacing(u"c", u"Y"));
    auto evaluation =
        LocalRuleRegistry({first, second}).evaluateDetailed(u"abcdefg", contextFor({}));
    EXPECT_EQ(evaluation.applications[0].changedRanges, (std::vector<Utf16Range>{{1, 1}}));
    EXPECT_EQ(evaluation.applications[1].changedRanges, (std::vector<Utf16Range>{{2, 1}}));
    EXPECT_EQ(evaluation.changedRanges(), (std::vector<Utf16Range>{{1, 2}}));
}

TEST(LocalRuleRegistry, NotelessApplicationsAddNoDetails) {
    class Silent final : public LocalFixRule {
      public:
        const std::string& id() const override { return id_; }
        const LocalFixRuleMetadata& metadata() const override { return metadata_; }
        RuleResult apply(std::u16string_view text, const RuleContext&) const override {
            return text == u"a" ? RuleResult{true, u"b", std::nullopt} : RuleResult::notFired(text);
        }

      private:
        std::string id_ = "silent";
        LocalFixRuleMetadata metadata_;
    };
    auto evaluation =
        LocalRuleRegistry({std::make_shared<Silent>()}).evaluateDetailed(u"a", contextFor({}));
    EXPECT_EQ(evaluation.text, u"b");
    EXPECT_EQ(evaluation.applications.size(), 1U);
    EXPECT_TRUE(evaluation.structuredDetails().empty());
    auto [text, details] =
        LocalRuleRegistry({std::make_shared<Silent>()}).evaluate(u"a", contextFor({}));
    EXPECT_EQ(text, u"b");
    EXPECT_TRUE(details.empty());
}

TEST(LocalRuleRegistry, PassThatReturnsToItsStartEndsTheRun) {
    auto there = std::make_shared<ScriptedRule>("there", replacing(u"x", u"y"));
    auto back = std::make_shared<ScriptedRule>("back", replacing(u"y", u"x"));
    auto evaluation = LocalRuleRegistry({there, back}).evaluateDetailed(u"x", contextFor({}));
    EXPECT_EQ(evaluation.text, u"x");
    EXPECT_EQ(evaluation.applications.size(), 2U);
    EXPECT_EQ(there->calls, 1);
}

TEST(LocalRuleRegistry, RulesThatNeverSettleStopAtThePassLimit) {
    // Each pass changes the text: "x" grows by one letter per pass.
    auto grow = std::make_shared<ScriptedRule>(
        "grow", [](std::u16string_view t) { return std::u16string(t) + u"x"; });
    auto evaluation = LocalRuleRegistry({grow}).evaluateDetailed(u"x", contextFor({}));
    EXPECT_EQ(grow->calls, static_cast<int>(LocalRuleRegistry::kMaximumPasses));
    EXPECT_EQ(evaluation.text.size(), LocalRuleRegistry::kMaximumPasses + 1);
}

TEST(LocalRuleRegistry, BuiltInRulesSettleLongBeforeThePassLimit) {
    // Count passes through the first rule's calls; the texts are built to need several.
    class Counting final : public LocalFixRule {
      public:
        explicit Counting(LocalFixRulePtr inner) : inner_(std::move(inner)) {}
        const std::string& id() const override { return inner_->id(); }
        const LocalFixRuleMetadata& metadata() const override { return inner_->metadata(); }
        RuleResult apply(std::u16string_view text, const RuleContext& context) const override {
            ++calls;
            return inner_->apply(text, context);
        }
        mutable int calls = 0;

      private:
        LocalFixRulePtr inner_;
    };
    std::vector<LocalFixRulePtr> rules;
    std::shared_ptr<Counting> first;
    for (const auto& rule : masterLocalRules()) {
        auto counting = std::make_shared<Counting>(rule);
        if (!first) {
            first = counting;
        }
        rules.push_back(counting);
    }
    LocalRuleRegistry registry(rules);
    for (const auto* text :
         {u"teh teh teh teh  the the the. i  i dont  alot a  i",
          u"the the the the the the the the ", u"a a a a lot alot alot  teh  teh. i'm  im i",
          u"helowoeld heklowowkrd heklowowkrd. "}) {
        first->calls = 0;
        auto evaluation = registry.evaluateDetailed(text, contextFor({}));
        EXPECT_LE(first->calls, 5) << "passes for a text built to need several";
        // Settled: one more run changes nothing.
        EXPECT_FALSE(registry.evaluateDetailed(evaluation.text, contextFor({})).didChange());
    }
}

TEST(ConfidenceTierCoding, ExactRawValuesOnly) {
    EXPECT_EQ(nlohmann::json("eager").get<ConfidenceTier>(), ConfidenceTier::eager);
    EXPECT_EQ(nlohmann::json(ConfidenceTier::streaming), nlohmann::json("streaming"));
    try {
        (void)nlohmann::json("Eager").get<ConfidenceTier>();
        ADD_FAILURE() << "decoded a tier in the wrong letter case";
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted);
    }
    EXPECT_EQ(fromString<ConfidenceTier>("tentative"), ConfidenceTier::tentative);
    EXPECT_EQ(fromString<ConfidenceTier>("Tentative"), std::nullopt);
}

TEST(LocalFixRuleMetadataCoding, KeysAndOptionalTokenLength) {
    LocalFixRuleMetadata metadata{
        "Does things.", ConfidenceTier::tentative, false, 3, {{"category", "typo-map"}}};
    nlohmann::json encoded = metadata;
    EXPECT_EQ(encoded,
              nlohmann::json::parse(R"({"description":"Does things.","defaultTier":"tentative",
        "appliesLocally":false,"minTokenLength":3,"custom":{"category":"typo-map"}})"));
    EXPECT_EQ(encoded.get<LocalFixRuleMetadata>(), metadata);

    metadata.minTokenLength.reset();
    encoded = metadata;
    EXPECT_FALSE(encoded.contains("minTokenLength"));

    auto decoded =
        nlohmann::json::parse(
            R"({"description":"d","defaultTier":"eager","appliesLocally":true,"minTokenLength":null,
                          "custom":{},"extra":1})")
            .get<LocalFixRuleMetadata>();
    EXPECT_EQ(decoded.minTokenLength, std::nullopt);

    for (const char* missing : {"description", "defaultTier", "appliesLocally", "custom"}) {
        auto json = nlohmann::json::parse(
            R"({"description":"d","defaultTier":"eager","appliesLocally":true,"custom":{}})");
        json.erase(missing);
        try {
            (void)json.get<LocalFixRuleMetadata>();
            ADD_FAILURE() << "decoded without " << missing;
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), DecodingError::Kind::keyNotFound) << missing;
        }
    }
}

TEST(LocalFixRuleMetadataEquality, CustomEntriesCompareAsAMap) {
    LocalFixRuleMetadata a{
        "d", ConfidenceTier::eager, true, std::nullopt, {{"x", "1"}, {"y", "2"}}};
    LocalFixRuleMetadata b{
        "d", ConfidenceTier::eager, true, std::nullopt, {{"y", "2"}, {"x", "1"}}};
    EXPECT_EQ(a, b);
    b.minTokenLength = 0;
    EXPECT_NE(a, b);
}

}  // namespace
}  // namespace ravlin
