#pragma once

// The shape every built-in rule shares: not fired unless enabled; otherwise transform, and fire
// with a note when the text changed.

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "core/rules/local_rule.h"
#include "core/rules/text_scan.h"

namespace ravlin::rules {

class TransformRule : public LocalFixRule {
  public:
    TransformRule(std::string id, LocalFixRuleMetadata metadata, std::string noteValue)
        : id_(std::move(id)), metadata_(std::move(metadata)), noteValue_(std::move(noteValue)) {}

    [[nodiscard]] const std::string& id() const override { return id_; }
    [[nodiscard]] const LocalFixRuleMetadata& metadata() const override { return metadata_; }

    [[nodiscard]] RuleResult apply(std::u16string_view text,
                                   const RuleContext& context) const override {
        if (!context.enabledRules.contains(id_)) {
            return RuleResult::notFired(text);
        }
        std::optional<std::u16string> transformed = transform(text, context);
        if (!transformed || sameText(*transformed, text)) {
            return RuleResult::notFired(text);
        }
        return RuleResult{true, std::move(*transformed),
                          QNCorrectionNote{context.stageID, id_, "rule", noteValue_}};
    }

  protected:
    // The transformed text, or absent when the transform left the text as it was.
    [[nodiscard]] virtual std::optional<std::u16string> transform(
        std::u16string_view text) const = 0;
    // The same, for a rule that reads what stands before the text.
    [[nodiscard]] virtual std::optional<std::u16string> transform(
        std::u16string_view text, const RuleContext& /*context*/) const {
        return transform(text);
    }

  private:
    std::string id_;
    LocalFixRuleMetadata metadata_;
    std::string noteValue_;
};

}  // namespace ravlin::rules
