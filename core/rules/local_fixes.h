#pragma once

// The front door of the local rule pass: callers name the rules they want with a small option
// set; applyLocalFixes builds the ordered registry of built-in rules, leaves out what the tier
// policy keeps for the model, runs it and returns the fixed text, the changed ranges and
// compact notes.

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/records/note.h"
#include "core/rules/local_rule.h"
#include "core/rules/tier_policy.h"
#include "core/text/range.h"

namespace ravlin {

struct QNModelLocalFixRules {
    std::int64_t rawValue = 0;

    static const QNModelLocalFixRules whitespaceCollapse;
    static const QNModelLocalFixRules repeatedWordCollapse;
    static const QNModelLocalFixRules loneICapitalization;
    static const QNModelLocalFixRules sentenceStartCapitalization;
    static const QNModelLocalFixRules staticTypoMap;
    static const QNModelLocalFixRules all;

    [[nodiscard]] constexpr bool contains(QNModelLocalFixRules other) const {
        return (rawValue & other.rawValue) == other.rawValue;
    }
    [[nodiscard]] constexpr bool isEmpty() const { return rawValue == 0; }

    friend constexpr QNModelLocalFixRules operator|(QNModelLocalFixRules a,
                                                    QNModelLocalFixRules b) {
        return {a.rawValue | b.rawValue};
    }
    friend constexpr QNModelLocalFixRules operator&(QNModelLocalFixRules a,
                                                    QNModelLocalFixRules b) {
        return {a.rawValue & b.rawValue};
    }
    friend constexpr QNModelLocalFixRules operator^(QNModelLocalFixRules a,
                                                    QNModelLocalFixRules b) {
        return {a.rawValue ^ b.rawValue};
    }
    friend constexpr QNModelLocalFixRules operator-(QNModelLocalFixRules a,
                                                    QNModelLocalFixRules b) {
        return {a.rawValue & ~b.rawValue};
    }
    friend constexpr bool operator==(QNModelLocalFixRules, QNModelLocalFixRules) = default;
};

inline constexpr QNModelLocalFixRules QNModelLocalFixRules::whitespaceCollapse{1};
inline constexpr QNModelLocalFixRules QNModelLocalFixRules::repeatedWordCollapse{2};
inline constexpr QNModelLocalFixRules QNModelLocalFixRules::loneICapitalization{4};
inline constexpr QNModelLocalFixRules QNModelLocalFixRules::sentenceStartCapitalization{8};
inline constexpr QNModelLocalFixRules QNModelLocalFixRules::staticTypoMap{16};
inline constexpr QNModelLocalFixRules QNModelLocalFixRules::all{31};

struct QNModelLocalFixResult {
    std::u16string text;
    // The parts of `text` that differ from the input, in UTF-16 code units of `text`.
    std::vector<text::Utf16Range> changedRanges;
    bool didChange = false;
    std::vector<QNCorrectionNote> structuredDetails;

    QNModelLocalFixResult() = default;
    QNModelLocalFixResult(std::u16string text, std::vector<text::Utf16Range> changedRanges,
                          bool didChange, std::vector<QNCorrectionNote> structuredDetails)
        : text(std::move(text)),
          changedRanges(std::move(changedRanges)),
          didChange(didChange),
          structuredDetails(std::move(structuredDetails)) {}
    // From plain detail texts: "rule: " and a name becomes that rule's compact note, any other
    // text a plain-text note, all at stage preflightLocal.
    QNModelLocalFixResult(std::u16string text, std::vector<text::Utf16Range> changedRanges,
                          bool didChange, const std::vector<std::string>& details);

    // The notes' text view.
    [[nodiscard]] std::vector<std::string> details() const { return noteTexts(structuredDetails); }

    friend bool operator==(const QNModelLocalFixResult&, const QNModelLocalFixResult&) = default;
};

// The ten built-in rules in master order, built once at first use.
[[nodiscard]] const std::vector<LocalFixRulePtr>& masterLocalRules();

// The rule identifiers an option set enables.
[[nodiscard]] std::set<std::string> enabledRuleIDs(QNModelLocalFixRules rules);

// The master rules the option set enables, in master order.
[[nodiscard]] LocalRuleRegistry localRuleRegistry(QNModelLocalFixRules enabledRules);

// The rule run behind applyLocalFixes: the enabled rules that apply locally, less those the tier
// policy keeps for the model, over `text`. A blank text gives an evaluation without
// applications. `before` is the end of the text that stands before `text`, where there is one:
// a text that goes on with a sentence begun there gets no capital at its start.
[[nodiscard]] LocalRuleEvaluation evaluateLocalFixes(
    std::u16string_view text, QNModelLocalFixRules enabledRules, QNCorrectionStageID stageID,
    const TierPolicy& tierPolicy, std::optional<std::u16string> before = std::nullopt);

// The same run over a text that goes out as it stands: its last word counts as finished, as if
// whitespace followed it (the rules leave a word alone until something ends it).
[[nodiscard]] LocalRuleEvaluation evaluateLocalFixesOfFinishedText(
    std::u16string_view text, QNModelLocalFixRules enabledRules, QNCorrectionStageID stageID,
    const TierPolicy& tierPolicy, std::optional<std::u16string> before = std::nullopt);

// What of the text before a fixed segment the rules need: its last few characters; none when
// nothing stands before it.
[[nodiscard]] std::optional<std::u16string> endOfTextBefore(std::u16string_view before);

[[nodiscard]] QNModelLocalFixResult applyLocalFixes(std::u16string_view text,
                                                    QNModelLocalFixRules enabledRules,
                                                    QNCorrectionStageID stageID,
                                                    const TierPolicy& tierPolicy);
// All rules, stage preflightLocal, the default tier policy.
[[nodiscard]] QNModelLocalFixResult applyLocalFixes(std::u16string_view text);

// The rules' notes in the compact vocabulary ("rule" and a short name, rule identifier
// "local." and that name), stamped with the stage; consecutive duplicates collapse to one.
[[nodiscard]] std::vector<QNCorrectionNote> legacyNotes(const std::vector<QNCorrectionNote>& notes,
                                                        QNCorrectionStageID stageID);

// The text without the word still being typed: up to and including its last whitespace
// character, or the whole text when it ends in whitespace.
[[nodiscard]] std::u16string stablePrefixBoundary(std::u16string_view text);

}  // namespace ravlin
