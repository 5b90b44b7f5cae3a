#pragma once

// Rules that repair layout and capitalization without a dictionary: runs of spaces and tabs,
// a function word typed twice, the pronoun "i" and its contractions, and a lower-case letter
// that starts a sentence. A word is changed only once it is finished.

#include <optional>
#include <string>
#include <string_view>

#include "core/rules/local_rule.h"
#include "core/rules/rule_base.h"

namespace ravlin {

class WhitespaceCollapseRule final : public rules::TransformRule {
  public:
    static constexpr std::string_view kMasterID = "local.whitespace-collapse";
    [[nodiscard]] static LocalFixRuleMetadata masterMetadata();

    WhitespaceCollapseRule(std::string id, LocalFixRuleMetadata metadata);

  protected:
    [[nodiscard]] std::optional<std::u16string> transform(std::u16string_view text) const override;
};

class RepeatedWordCollapseRule final : public rules::TransformRule {
  public:
    static constexpr std::string_view kMasterID = "local.repeated-word";
    [[nodiscard]] static LocalFixRuleMetadata masterMetadata();

    RepeatedWordCollapseRule(std::string id, LocalFixRuleMetadata metadata);

  protected:
    [[nodiscard]] std::optional<std::u16string> transform(std::u16string_view text) const override;
};

class LoneICapitalizationRule final : public rules::TransformRule {
  public:
    static constexpr std::string_view kMasterID = "local.lone-i";
    [[nodiscard]] static LocalFixRuleMetadata masterMetadata();

    LoneICapitalizationRule(std::string id, LocalFixRuleMetadata metadata);

  protected:
    [[nodiscard]] std::optional<std::u16string> transform(std::u16string_view text) const override;
};

class SentenceStartCapitalizationRule final : public rules::TransformRule {
  public:
    static constexpr std::string_view kMasterID = "local.sentence-start-cap";
    [[nodiscard]] static LocalFixRuleMetadata masterMetadata();

    SentenceStartCapitalizationRule(std::string id, LocalFixRuleMetadata metadata);

  protected:
    [[nodiscard]] std::optional<std::u16string> transform(std::u16string_view text) const override;
    // With the text before it in the context: a text that continues a sentence (the text before
    // it ends with a comma, a dash, a word...) does not begin one.
    [[nodiscard]] std::optional<std::u16string> transform(
        std::u16string_view text, const RuleContext& context) const override;
};

// Runs of spaces and tabs become one space, except leading indentation, which survives.
[[nodiscard]] std::u16string collapseWhitespace(std::u16string_view text);
// A completed function word typed twice, separated by spaces or tabs, keeps its first copy.
[[nodiscard]] std::u16string collapseRepeatedWords(std::u16string_view text);
// A completed "i", "i'm", "i've", "i'll" or "i'd" in any case, capitalized.
[[nodiscard]] std::u16string capitalizeLoneI(std::u16string_view text);
// The first ASCII lower-case letter of each finished sentence start, capitalized.
[[nodiscard]] std::u16string capitalizeSentenceStarts(std::u16string_view text);

// Whether a text that follows `before` goes on with its sentence: `before` has something other
// than whitespace and does not end with a sentence's end (".", "!" or "?", closing quotes and
// brackets after it allowed) or a line break.
[[nodiscard]] bool continuesSentence(std::u16string_view before);

}  // namespace ravlin
