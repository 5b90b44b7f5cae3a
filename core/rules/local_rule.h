#pragma once

// The local rule framework: what every local fix rule is, the records of one run, and the
// registry that runs an ordered list of rules over a text, each on the text the previous one
// left, pass after pass until the text settles.

#include <cstddef>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/records/confidence_tier.h"
#include "core/records/local_rule_metadata.h"
#include "core/records/note.h"
#include "core/text/range.h"

namespace ravlin {

// What a rule is told besides the text.
struct RuleContext {
    // The character just before the text (one user-perceived character), where known.
    std::optional<std::u16string> previousChar;
    // The text before the text being fixed, where the caller has it.
    std::optional<std::u16string> contextBefore;
    // The rule identifiers that may fire; inside a registry an empty set means all its rules.
    std::set<std::string> enabledRules;
    // The pipeline stage the run belongs to; copied into every note.
    QNCorrectionStageID stageID = QNCorrectionStageID::preflightLocal;

    friend bool operator==(const RuleContext&, const RuleContext&) = default;
};

// The answer of one rule call.
struct RuleResult {
    bool didFire = false;
    std::u16string output;
    std::optional<QNCorrectionNote> note;

    // The answer of a rule that leaves the text alone.
    [[nodiscard]] static RuleResult notFired(std::u16string_view input) {
        return RuleResult{false, std::u16string(input), std::nullopt};
    }

    friend bool operator==(const RuleResult&, const RuleResult&) = default;
};

// The contract every local rule fulfils. Rules are immutable values shared between threads.
class LocalFixRule {
  public:
    virtual ~LocalFixRule() = default;

    [[nodiscard]] virtual const std::string& id() const = 0;
    [[nodiscard]] virtual const LocalFixRuleMetadata& metadata() const = 0;
    [[nodiscard]] virtual RuleResult apply(std::u16string_view text,
                                           const RuleContext& context) const = 0;
};

using LocalFixRulePtr = std::shared_ptr<const LocalFixRule>;

// The record of one rule that changed the text.
struct LocalRuleApplication {
    std::string ruleID;
    LocalFixRuleMetadata metadata;
    std::u16string input;
    std::u16string output;
    // Where `output` differs from `input`, in UTF-16 code units of `output`.
    std::vector<text::Utf16Range> changedRanges;
    std::optional<QNCorrectionNote> note;

    friend bool operator==(const LocalRuleApplication&, const LocalRuleApplication&) = default;
};

// The result of one registry run.
struct LocalRuleEvaluation {
    std::u16string input;
    std::u16string text;
    // In the order the rules fired, across all passes.
    std::vector<LocalRuleApplication> applications;

    // `text` is not equal to `input` (canonical equivalence).
    [[nodiscard]] bool didChange() const;
    // The notes of the applications that have one, in application order.
    [[nodiscard]] std::vector<QNCorrectionNote> structuredDetails() const;
    // The changed ranges between `input` and `text`, computed from those two texts.
    [[nodiscard]] std::vector<text::Utf16Range> changedRanges() const;

    friend bool operator==(const LocalRuleEvaluation&, const LocalRuleEvaluation&) = default;
};

class LocalRuleRegistry {
  public:
    // A run stops after this many passes even if the text has not settled, so rules that undo
    // each other's changes cannot hang the caller. The built-in rules settle in a few passes.
    static constexpr std::size_t kMaximumPasses = 100;

    LocalRuleRegistry() = default;
    explicit LocalRuleRegistry(std::vector<LocalFixRulePtr> rules) : rules_(std::move(rules)) {}

    [[nodiscard]] const std::vector<LocalFixRulePtr>& rules() const { return rules_; }

    [[nodiscard]] LocalRuleEvaluation evaluateDetailed(std::u16string_view input,
                                                       const RuleContext& context) const;
    // The final text and the structured details of `evaluateDetailed`.
    [[nodiscard]] std::pair<std::u16string, std::vector<QNCorrectionNote>> evaluate(
        std::u16string_view input, const RuleContext& context) const;

  private:
    std::vector<LocalFixRulePtr> rules_;
};

}  // namespace ravlin
