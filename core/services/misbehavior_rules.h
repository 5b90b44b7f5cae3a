#pragma once

// Misbehavior rules: known ways a model fails on a correction request (describing its own
// output schema, dropping the last word, rewriting romanized Chinese or Japanese, ...). The
// registry runs its rules in order on one shared context and reports the first detection.

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/services/misbehavior_context.h"
#include "core/records/note.h"

namespace ravlin {

class QNModelMisbehaviorRule {
  public:
    virtual ~QNModelMisbehaviorRule() = default;

    // "misbehavior." + the short identifier.
    [[nodiscard]] virtual std::string ruleID() const = 0;
    [[nodiscard]] virtual bool triggersFallback() const { return true; }
    // The reason of a detection, or absent when the rule does not fire.
    [[nodiscard]] virtual std::optional<std::string> evaluate(
        const QNModelMisbehaviorContext& context) const = 0;

    // ruleID without its leading "misbehavior.".
    [[nodiscard]] std::string shortID() const;
};

struct QNModelMisbehaviorResult {
    std::string reason;
    QNCorrectionNote note;
    bool triggersFallback = true;

    friend bool operator==(const QNModelMisbehaviorResult&,
                           const QNModelMisbehaviorResult&) = default;
};

// The model described its structured-output schema or a JSON response format instead of
// correcting the text.
class QNSchemaLeakMisbehaviorRule final : public QNModelMisbehaviorRule {
  public:
    [[nodiscard]] std::string ruleID() const override { return "misbehavior.schema-leak"; }
    [[nodiscard]] std::optional<std::string> evaluate(
        const QNModelMisbehaviorContext& context) const override;
};

// Romanized Chinese or Japanese in the input came back rewritten (for instance into English)
// instead of converted to native script.
class QNRomanizedPhoneticRewriteMisbehaviorRule final : public QNModelMisbehaviorRule {
  public:
    [[nodiscard]] std::string ruleID() const override {
        return "misbehavior.romanized-phonetic-rewrite";
    }
    [[nodiscard]] bool triggersFallback() const override { return triggersFallback_; }
    [[nodiscard]] std::optional<std::string> evaluate(
        const QNModelMisbehaviorContext& context) const override;

  private:
    bool triggersFallback_ = false;
};

// An English word typed among romanized Chinese or Japanese was translated into native script.
class QNTranslatedEnglishWordMisbehaviorRule final : public QNModelMisbehaviorRule {
  public:
    [[nodiscard]] std::string ruleID() const override {
        return "misbehavior.translated-english-word";
    }
    [[nodiscard]] bool triggersFallback() const override { return triggersFallback_; }
    [[nodiscard]] std::optional<std::string> evaluate(
        const QNModelMisbehaviorContext& context) const override;

  private:
    bool triggersFallback_ = false;
};

// The answer shares too few of the input's words to be a correction of it.
class QNOutputUnrelatedToInputMisbehaviorRule final : public QNModelMisbehaviorRule {
  public:
    [[nodiscard]] std::string ruleID() const override {
        return "misbehavior.output-unrelated-to-input";
    }
    [[nodiscard]] std::optional<std::string> evaluate(
        const QNModelMisbehaviorContext& context) const override;
};

// The answer lost the input's last word.
class QNDroppedTrailingWordMisbehaviorRule final : public QNModelMisbehaviorRule {
  public:
    [[nodiscard]] std::string ruleID() const override {
        return "misbehavior.dropped-trailing-word";
    }
    [[nodiscard]] bool triggersFallback() const override { return triggersFallback_; }
    [[nodiscard]] std::optional<std::string> evaluate(
        const QNModelMisbehaviorContext& context) const override;

  private:
    bool triggersFallback_ = false;
};

struct QNModelMisbehaviorRegistry {
    std::vector<std::shared_ptr<const QNModelMisbehaviorRule>> rules;
    std::set<std::string> disabledShortIDs;

    // The rules of the shared registry: the schema-leak rule only.
    [[nodiscard]] static std::vector<std::shared_ptr<const QNModelMisbehaviorRule>> defaultRules();
    // The process-wide registry, built once on first use from defaultRules() less the rules
    // named in RAVLIN_DISABLE_MISBEHAVIOR_RULES at that moment.
    [[nodiscard]] static const QNModelMisbehaviorRegistry& defaultRegistry();

    // The first enabled rule that fires on the answer, or absent.
    [[nodiscard]] std::optional<QNModelMisbehaviorResult> detect(
        std::u16string_view cleaned, std::u16string_view original) const;
};

// The short identifiers in a RAVLIN_DISABLE_MISBEHAVIOR_RULES value: comma-separated, each
// trimmed of spaces and tabs, empty pieces dropped; absent value gives the empty set.
[[nodiscard]] std::set<std::string> disabledMisbehaviorRuleIDs(
    std::optional<std::string_view> environmentValue);

// detect on the default registry, and its reason alone.
[[nodiscard]] std::optional<QNModelMisbehaviorResult> detectModelMisbehaviorResult(
    std::u16string_view cleaned, std::u16string_view original);
[[nodiscard]] std::optional<std::string> detectModelMisbehavior(std::u16string_view cleaned,
                                                                std::u16string_view original);

}  // namespace ravlin
