#include <gtest/gtest.h>

#include "core/rules/local_fixes.h"
#include "core/rules/tier_policy.h"

namespace ravlin {
namespace {

const TierPolicyContext kPreflight = TierPolicyContext::localPreflight();

LocalFixRuleMetadata metadata(bool appliesLocally, ConfidenceTier tier) {
    return LocalFixRuleMetadata{"m", tier, appliesLocally, std::nullopt, {}};
}

TEST(TierPolicy, DefaultTables) {
    const TierPolicy& policy = TierPolicy::defaultPolicy();
    EXPECT_EQ(policy.version(), "tier-policy-v1");
    ASSERT_EQ(policy.localRuleEntries().size(), 10U);
    EXPECT_EQ(policy.localRuleEntries()[0].ruleID, "local.whitespace-collapse");
    EXPECT_EQ(policy.localRuleEntries()[9].ruleID, "local.phrase-pattern");
    EXPECT_EQ(policy.modelSourceEntries().size(), 3U);
    EXPECT_EQ(&policy, &TierPolicy::defaultPolicy());

    auto brand = policy.localRuleEntry("local.brand-initialism");
    ASSERT_TRUE(brand);
    EXPECT_EQ(brand->category, LocalRuleCategory::initialism);
    EXPECT_TRUE(brand->conditions.empty());
    EXPECT_EQ(policy.localRuleEntry("local.unknown"), std::nullopt);
    EXPECT_EQ(policy.modelSourceEntry(ModelSource::streamPartial)->conditions,
              std::vector<Condition>{Condition::rollbackableStream});
}

TEST(TierPolicy, BehaviorOfRules) {
    const TierPolicy& policy = TierPolicy::defaultPolicy();
    struct Case {
        const char* ruleID;
        LocalFixRuleMetadata metadata;
        LocalRuleBehavior expected;
    };
    const Case cases[] = {
        // The table keeps the short typo map for the model, whatever the rule declares.
        {"local.typo-map.short", metadata(true, ConfidenceTier::eager),
         LocalRuleBehavior::modelOnly()},
        // A rule that declares itself not local stays model-only, whatever the table says.
        {"local.lone-i", metadata(false, ConfidenceTier::eager), LocalRuleBehavior::modelOnly()},
        {"local.lone-i", metadata(true, ConfidenceTier::tentative),
         LocalRuleBehavior::apply(ConfidenceTier::eager)},
        // Unlisted rules keep their own default tier.
        {"local.unlisted", metadata(true, ConfidenceTier::tentative),
         LocalRuleBehavior::apply(ConfidenceTier::tentative)},
        {"local.phrase-pattern", metadata(true, ConfidenceTier::eager),
         LocalRuleBehavior::apply(ConfidenceTier::tentative)},
    };
    for (const auto& c : cases) {
        auto behavior = policy.behavior(c.ruleID, c.metadata, kPreflight);
        EXPECT_EQ(behavior, c.expected) << c.ruleID;
        EXPECT_EQ(policy.tier(c.ruleID, c.metadata, kPreflight), c.expected.tier()) << c.ruleID;
        // No answer depends on the stage that asks.
        EXPECT_EQ(
            policy.behavior(c.ruleID, c.metadata, TierPolicyContext{QNCorrectionStageID::apply}),
            behavior);
    }
    EXPECT_EQ(LocalRuleBehavior::modelOnly().tier(), std::nullopt);
    EXPECT_FALSE(LocalRuleBehavior::modelOnly().appliesLocally());
    EXPECT_NE(LocalRuleBehavior::apply(ConfidenceTier::eager),
              LocalRuleBehavior::apply(ConfidenceTier::tentative));
}

TEST(TierPolicy, BuiltInRulesUnderTheDefaultPolicy) {
    const TierPolicy& policy = TierPolicy::defaultPolicy();
    std::vector<std::string> eager;
    std::vector<std::string> local;
    for (const auto& rule : masterLocalRules()) {
        if (policy.appliesLocally(*rule, kPreflight)) {
            local.push_back(rule->id());
        }
        if (policy.tier(*rule, kPreflight) == ConfidenceTier::eager) {
            eager.push_back(rule->id());
        }
    }
    EXPECT_EQ(local, (std::vector<std::string>{"local.whitespace-collapse", "local.repeated-word",
                                               "local.lone-i", "local.sentence-start-cap",
                                               "local.phrase-pattern", "local.brand-initialism",
                                               "local.contraction.long", "local.typo-map.long"}));
    // The phrase rule is tentative, so a caller that keeps eager rules leaves it out.
    EXPECT_EQ(eager.size(), local.size() - 1);
    EXPECT_EQ(std::find(eager.begin(), eager.end(), "local.phrase-pattern"), eager.end());
}

TEST(TierPolicy, ModelSources) {
    const TierPolicy& policy = TierPolicy::defaultPolicy();
    EXPECT_EQ(policy.tier(ModelSource::streamPartial, kPreflight), ConfidenceTier::streaming);
    EXPECT_EQ(policy.tier(ModelSource::suffixFinal, kPreflight), ConfidenceTier::tentative);
    EXPECT_EQ(policy.tier(ModelSource::wholePrefixFinal, kPreflight), ConfidenceTier::tentative);
    TierPolicy empty("empty", {}, {});
    EXPECT_EQ(empty.tier(ModelSource::streamPartial, kPreflight), ConfidenceTier::tentative);
}

TEST(TierPolicy, EqualityComparesTheListsInOrder) {
    const TierPolicy& policy = TierPolicy::defaultPolicy();
    TierPolicy same(policy.version(), policy.localRuleEntries(), policy.modelSourceEntries());
    EXPECT_EQ(same, policy);
    auto reversed = policy.localRuleEntries();
    std::reverse(reversed.begin(), reversed.end());
    TierPolicy reordered(policy.version(), reversed, policy.modelSourceEntries());
    EXPECT_NE(reordered, policy);
    EXPECT_EQ(reordered.localRuleEntry("local.lone-i"), policy.localRuleEntry("local.lone-i"));
}

TEST(TierPolicy, RawValues) {
    EXPECT_EQ(toString(LocalRuleCategory::wordBoundary), "word-boundary");
    EXPECT_EQ(fromString<LocalRuleCategory>("typo-map"), LocalRuleCategory::typoMap);
    EXPECT_EQ(fromString<ModelSource>("model.whole-prefix"), ModelSource::wholePrefixFinal);
    EXPECT_EQ(fromString<ModelSource>("model.Stream"), std::nullopt);
    EXPECT_EQ(toString(Condition::safeOutsideLeadingIndentationOrCode),
              "safeOutsideLeadingIndentationOrCode");
    EXPECT_EQ(fromString<Condition>("completedword"), std::nullopt);
}

TEST(TierPolicyDeathTest, DuplicateRuleIdentifierIsRefused) {
    LocalRuleEntry entry{
        "local.x", LocalRuleCategory::whitespace, LocalRuleBehavior::modelOnly(), {}};
    EXPECT_DEATH(TierPolicy("dup", {entry, entry}, {}), "duplicate rule identifier");
    ModelSourceEntry source{ModelSource::suffixFinal, ConfidenceTier::tentative, {}};
    EXPECT_DEATH(TierPolicy("dup", {}, {source, source}), "duplicate model source");
}

}  // namespace
}  // namespace ravlin
