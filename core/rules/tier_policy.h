#pragma once

// The tier policy: a versioned table that decides, for every local rule, whether it may change
// the user's text without a model and with which confidence tier, and, for every kind of model
// output, which tier its changes carry. Each entry names the conditions under which its tier
// holds, as labels that no lookup evaluates.

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/records/confidence_tier.h"
#include "core/records/local_rule_metadata.h"
#include "core/records/note.h"
#include "core/records/raw_value.h"
#include "core/rules/local_rule.h"

namespace ravlin {

enum class LocalRuleCategory {
    whitespace,
    wordBoundary,
    capitalization,
    initialism,
    contraction,
    typoMap,
    phrasePattern,
};
[[nodiscard]] std::string_view toString(LocalRuleCategory category);
template <>
[[nodiscard]] std::optional<LocalRuleCategory> fromString<LocalRuleCategory>(std::string_view raw);

// The kinds of model output.
enum class ModelSource {
    streamPartial,     // "model.stream"
    suffixFinal,       // "model.suffix"
    wholePrefixFinal,  // "model.whole-prefix"
};
[[nodiscard]] std::string_view toString(ModelSource source);
template <>
[[nodiscard]] std::optional<ModelSource> fromString<ModelSource>(std::string_view raw);

// Why an entry has its tier.
enum class Condition {
    safeOutsideLeadingIndentationOrCode,
    fillerOrFunctionWordDuplicate,
    completedWord,
    confirmationRequired,
    unambiguousLongToken,
    ambiguousShortToken,
    rollbackableStream,
    finalModelOutput,
};
[[nodiscard]] std::string_view toString(Condition condition);
template <>
[[nodiscard]] std::optional<Condition> fromString<Condition>(std::string_view raw);

// Either apply locally with a tier, or leave the change to the model.
struct LocalRuleBehavior {
    enum class Kind { apply, modelOnly };
    Kind kind = Kind::modelOnly;
    ConfidenceTier applyTier = ConfidenceTier::eager;  // meaningful for `apply` only

    [[nodiscard]] static LocalRuleBehavior apply(ConfidenceTier tier) {
        return {Kind::apply, tier};
    }
    [[nodiscard]] static LocalRuleBehavior modelOnly() {
        return {Kind::modelOnly, ConfidenceTier::eager};
    }

    [[nodiscard]] std::optional<ConfidenceTier> tier() const {
        return kind == Kind::apply ? std::optional<ConfidenceTier>(applyTier) : std::nullopt;
    }
    [[nodiscard]] bool appliesLocally() const { return kind == Kind::apply; }

    friend bool operator==(const LocalRuleBehavior& a, const LocalRuleBehavior& b) {
        return a.kind == b.kind && (a.kind == Kind::modelOnly || a.applyTier == b.applyTier);
    }
};

struct LocalRuleEntry {
    std::string ruleID;
    LocalRuleCategory category = LocalRuleCategory::whitespace;
    LocalRuleBehavior behavior;
    std::vector<Condition> conditions;

    friend bool operator==(const LocalRuleEntry&, const LocalRuleEntry&) = default;
};

struct ModelSourceEntry {
    ModelSource source = ModelSource::streamPartial;
    ConfidenceTier tier = ConfidenceTier::tentative;
    std::vector<Condition> conditions;

    friend bool operator==(const ModelSourceEntry&, const ModelSourceEntry&) = default;
};

// The pipeline stage that asks. No lookup reads it.
struct TierPolicyContext {
    QNCorrectionStageID stageID = QNCorrectionStageID::preflightLocal;

    [[nodiscard]] static TierPolicyContext localPreflight() {
        return TierPolicyContext{QNCorrectionStageID::preflightLocal};
    }

    friend bool operator==(const TierPolicyContext&, const TierPolicyContext&) = default;
};

class TierPolicy {
  public:
    // Keeps both lists as given and indexes them. A duplicate rule identifier or source is a
    // programming error and stops the program.
    TierPolicy(std::string version, std::vector<LocalRuleEntry> localRuleEntries,
               std::vector<ModelSourceEntry> modelSourceEntries);

    // "tier-policy-v1", built once at first use and shared.
    [[nodiscard]] static const TierPolicy& defaultPolicy();

    [[nodiscard]] const std::string& version() const { return version_; }
    [[nodiscard]] const std::vector<LocalRuleEntry>& localRuleEntries() const {
        return localRuleEntries_;
    }
    [[nodiscard]] const std::vector<ModelSourceEntry>& modelSourceEntries() const {
        return modelSourceEntries_;
    }
    [[nodiscard]] const std::unordered_map<std::string, LocalRuleEntry>& localRuleEntriesByID()
        const {
        return localRuleEntriesByID_;
    }
    [[nodiscard]] const std::unordered_map<ModelSource, ModelSourceEntry>&
    modelSourceEntriesBySource() const {
        return modelSourceEntriesBySource_;
    }

    [[nodiscard]] std::optional<LocalRuleEntry> localRuleEntry(std::string_view ruleID) const;
    [[nodiscard]] std::optional<ModelSourceEntry> modelSourceEntry(ModelSource source) const;

    // A rule that declares itself not local is model-only whatever the table says; a listed
    // rule takes the table's behavior; an unlisted one applies with its own default tier.
    [[nodiscard]] LocalRuleBehavior behavior(std::string_view ruleID,
                                             const LocalFixRuleMetadata& metadata,
                                             const TierPolicyContext& context) const;
    [[nodiscard]] LocalRuleBehavior behavior(const LocalFixRule& rule,
                                             const TierPolicyContext& context) const;
    [[nodiscard]] std::optional<ConfidenceTier> tier(std::string_view ruleID,
                                                     const LocalFixRuleMetadata& metadata,
                                                     const TierPolicyContext& context) const;
    [[nodiscard]] std::optional<ConfidenceTier> tier(const LocalFixRule& rule,
                                                     const TierPolicyContext& context) const;
    [[nodiscard]] bool appliesLocally(const LocalFixRule& rule,
                                      const TierPolicyContext& context) const;
    // The source's entry's tier; tentative when the table has none for it.
    [[nodiscard]] ConfidenceTier tier(ModelSource source, const TierPolicyContext& context) const;

    friend bool operator==(const TierPolicy&, const TierPolicy&) = default;

  private:
    std::string version_;
    std::vector<LocalRuleEntry> localRuleEntries_;
    std::vector<ModelSourceEntry> modelSourceEntries_;
    std::unordered_map<std::string, LocalRuleEntry> localRuleEntriesByID_;
    std::unordered_map<ModelSource, ModelSourceEntry> modelSourceEntriesBySource_;
};

}  // namespace ravlin
