#pragma once

// Rules that repair unambiguous typing errors from fixed tables: brand initialisms (also typed
// with spaces between the letters), contractions typed without the apostrophe, misspelled
// words and misspelled phrases. A word is replaced only once it is finished: followed by
// whitespace or one of . , ! ? ; : ) ] (the spaced initialisms also accept the end of the
// text).

#include <optional>
#include <string>
#include <string_view>

#include "core/rules/local_rule.h"
#include "core/rules/rule_base.h"
#include "core/rules/rule_tables.h"

namespace ravlin {

class BrandInitialismRule final : public rules::TransformRule {
  public:
    static constexpr std::string_view kMasterID = "local.brand-initialism";
    [[nodiscard]] static LocalFixRuleMetadata masterMetadata();

    BrandInitialismRule(std::string id, LocalFixRuleMetadata metadata);

  protected:
    [[nodiscard]] std::optional<std::u16string> transform(std::u16string_view text) const override;
};

class PhraseTypoRule final : public rules::TransformRule {
  public:
    static constexpr std::string_view kMasterID = "local.phrase-pattern";
    [[nodiscard]] static LocalFixRuleMetadata masterMetadata();

    PhraseTypoRule(std::string id, LocalFixRuleMetadata metadata);

  protected:
    [[nodiscard]] std::optional<std::u16string> transform(std::u16string_view text) const override;
};

class ContractionRule final : public rules::TransformRule {
  public:
    enum class Scope { localSafe, ambiguousModelOnly };

    explicit ContractionRule(Scope scope);
    [[nodiscard]] Scope scope() const { return scope_; }

  protected:
    [[nodiscard]] std::optional<std::u16string> transform(std::u16string_view text) const override;

  private:
    Scope scope_;
};

class TypoMapRule final : public rules::TransformRule {
  public:
    enum class Scope { localSafe, shortModelOnly };

    explicit TypoMapRule(Scope scope);
    [[nodiscard]] Scope scope() const { return scope_; }

  protected:
    [[nodiscard]] std::optional<std::u16string> transform(std::u16string_view text) const override;

  private:
    Scope scope_;
};

// Every completed occurrence of a key (case-insensitive, whole word) replaced by its value in
// the case of the typed word. Replaced text is not searched again.
[[nodiscard]] std::u16string replaceWords(std::u16string_view text, const ReplacementMap& map);

// The replacement in the case of the matched text: all upper case when every letter of the
// match is an ASCII capital, a capital first character when the match starts with one, else
// as stored.
[[nodiscard]] std::u16string preservingCase(std::u16string_view matched,
                                            std::u16string_view replacement);

[[nodiscard]] std::u16string collapseSpacedInitialisms(std::u16string_view text);
[[nodiscard]] std::u16string applyPhrasePatterns(std::u16string_view text);

}  // namespace ravlin
