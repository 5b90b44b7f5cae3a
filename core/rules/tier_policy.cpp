#include "core/rules/tier_policy.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace ravlin {
namespace {

template <class E, std::size_t N>
std::string_view nameOf(const std::array<std::pair<E, std::string_view>, N>& names, E value) {
    for (const auto& [candidate, name] : names) {
        if (candidate == value) {
            return name;
        }
    }
    return names[0].second;
}

template <class E, std::size_t N>
std::optional<E> valueOf(const std::array<std::pair<E, std::string_view>, N>& names,
                         std::string_view raw) {
    for (const auto& [candidate, name] : names) {
        if (name == raw) {
            return candidate;
        }
    }
    return std::nullopt;
}

constexpr std::array<std::pair<LocalRuleCategory, std::string_view>, 7> kCategoryNames{{
    {LocalRuleCategory::whitespace, "whitespace"},
    {LocalRuleCategory::wordBoundary, "word-boundary"},
    {LocalRuleCategory::capitalization, "capitalization"},
    {LocalRuleCategory::initialism, "initialism"},
    {LocalRuleCategory::contraction, "contraction"},
    {LocalRuleCategory::typoMap, "typo-map"},
    {LocalRuleCategory::phrasePattern, "phrase-pattern"},
}};

constexpr std::array<std::pair<ModelSource, std::string_view>, 3> kSourceNames{{
    {ModelSource::streamPartial, "model.stream"},
    {ModelSource::suffixFinal, "model.suffix"},
    {ModelSource::wholePrefixFinal, "model.whole-prefix"},
}};

constexpr std::array<std::pair<Condition, std::string_view>, 8> kConditionNames{{
    {Condition::safeOutsideLeadingIndentationOrCode, "safeOutsideLeadingIndentationOrCode"},
    {Condition::fillerOrFunctionWordDuplicate, "fillerOrFunctionWordDuplicate"},
    {Condition::completedWord, "completedWord"},
    {Condition::confirmationRequired, "confirmationRequired"},
    {Condition::unambiguousLongToken, "unambiguousLongToken"},
    {Condition::ambiguousShortToken, "ambiguousShortToken"},
    {Condition::rollbackableStream, "rollbackableStream"},
    {Condition::finalModelOutput, "finalModelOutput"},
}};

[[noreturn]] void refuse(const char* what) {
    std::fprintf(stderr, "TierPolicy: %s\n", what);
    std::abort();
}

}  // namespace

std::string_view toString(LocalRuleCategory category) {
    return nameOf(kCategoryNames, category);
}
template <>
std::optional<LocalRuleCategory> fromString<LocalRuleCategory>(std::string_view raw) {
    return valueOf(kCategoryNames, raw);
}

std::string_view toString(ModelSource source) {
    return nameOf(kSourceNames, source);
}
template <>
std::optional<ModelSource> fromString<ModelSource>(std::string_view raw) {
    return valueOf(kSourceNames, raw);
}

std::string_view toString(Condition condition) {
    return nameOf(kConditionNames, condition);
}
template <>
std::optional<Condition> fromString<Condition>(std::string_view raw) {
    return valueOf(kConditionNames, raw);
}

TierPolicy::TierPolicy(std::string version, std::vector<LocalRuleEntry> localRuleEntries,
                       std::vector<ModelSourceEntry> modelSourceEntries)
    : version_(std::move(version)),
      localRuleEntries_(std::move(localRuleEntries)),
      modelSourceEntries_(std::move(modelSourceEntries)) {
    for (const auto& entry : localRuleEntries_) {
        if (!localRuleEntriesByID_.emplace(entry.ruleID, entry).second) {
            refuse("duplicate rule identifier in a policy");
        }
    }
    for (const auto& entry : modelSourceEntries_) {
        if (!modelSourceEntriesBySource_.emplace(entry.source, entry).second) {
            refuse("duplicate model source in a policy");
        }
    }
}

const TierPolicy& TierPolicy::defaultPolicy() {
    static const TierPolicy policy = [] {
        using C = Condition;
        using Cat = LocalRuleCategory;
        const auto eager = LocalRuleBehavior::apply(ConfidenceTier::eager);
        std::vector<LocalRuleEntry> rules{
            {"local.whitespace-collapse",
             Cat::whitespace,
             eager,
             {C::safeOutsideLeadingIndentationOrCode}},
            {"local.repeated-word", Cat::wordBoundary, eager, {C::fillerOrFunctionWordDuplicate}},
            {"local.lone-i", Cat::capitalization, eager, {C::completedWord}},
            {"local.sentence-start-cap", Cat::capitalization, eager, {C::completedWord}},
            {"local.brand-initialism", Cat::initialism, eager, {}},
            {"local.contraction.long", Cat::contraction, eager, {C::unambiguousLongToken}},
            {"local.contraction.short",
             Cat::contraction,
             LocalRuleBehavior::modelOnly(),
             {C::ambiguousShortToken}},
            {"local.typo-map.long", Cat::typoMap, eager, {C::unambiguousLongToken}},
            {"local.typo-map.short",
             Cat::typoMap,
             LocalRuleBehavior::modelOnly(),
             {C::ambiguousShortToken}},
            {"local.phrase-pattern",
             Cat::phrasePattern,
             LocalRuleBehavior::apply(ConfidenceTier::tentative),
             {C::confirmationRequired}},
        };
        std::vector<ModelSourceEntry> sources{
            {ModelSource::streamPartial, ConfidenceTier::streaming, {C::rollbackableStream}},
            {ModelSource::suffixFinal, ConfidenceTier::tentative, {C::finalModelOutput}},
            {ModelSource::wholePrefixFinal, ConfidenceTier::tentative, {C::finalModelOutput}},
        };
        return TierPolicy("tier-policy-v1", std::move(rules), std::move(sources));
    }();
    return policy;
}

std::optional<LocalRuleEntry> TierPolicy::localRuleEntry(std::string_view ruleID) const {
    auto found = localRuleEntriesByID_.find(std::string(ruleID));
    if (found == localRuleEntriesByID_.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<ModelSourceEntry> TierPolicy::modelSourceEntry(ModelSource source) const {
    auto found = modelSourceEntriesBySource_.find(source);
    if (found == modelSourceEntriesBySource_.end()) {
        return std::nullopt;
    }
    return found->second;
}

LocalRuleBehavior TierPolicy::behavior(std::string_view ruleID,
                                       const LocalFixRuleMetadata& metadata,
                                       const TierPolicyContext&) const {
    if (!metadata.appliesLocally) {
        return LocalRuleBehavior::modelOnly();
    }
    auto found = localRuleEntriesByID_.find(std::string(ruleID));
    if (found != localRuleEntriesByID_.end()) {
        return found->second.behavior;
    }
    return LocalRuleBehavior::apply(metadata.defaultTier);
}

LocalRuleBehavior TierPolicy::behavior(const LocalFixRule& rule,
                                       const TierPolicyContext& context) const {
    return behavior(rule.id(), rule.metadata(), context);
}

std::optional<ConfidenceTier> TierPolicy::tier(std::string_view ruleID,
                                               const LocalFixRuleMetadata& metadata,
                                               const TierPolicyContext& context) const {
    return behavior(ruleID, metadata, context).tier();
}

std::optional<ConfidenceTier> TierPolicy::tier(const LocalFixRule& rule,
                                               const TierPolicyContext& context) const {
    return behavior(rule, context).tier();
}

bool TierPolicy::appliesLocally(const LocalFixRule& rule, const TierPolicyContext& context) const {
    return behavior(rule, context).appliesLocally();
}

ConfidenceTier TierPolicy::tier(ModelSource source, const TierPolicyContext&) const {
    auto found = modelSourceEntriesBySource_.find(source);
    return found == modelSourceEntriesBySource_.end() ? ConfidenceTier::tentative
                                                      : found->second.tier;
}

}  // namespace ravlin
