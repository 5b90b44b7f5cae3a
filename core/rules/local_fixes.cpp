#include "core/rules/local_fixes.h"

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <utility>

#include <unicode/uchar.h>

#include "core/rules/changed_ranges.h"
#include "core/rules/dictionary_rules.h"
#include "core/rules/text_scan.h"
#include "core/rules/word_rules.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

struct OptionRules {
    QNModelLocalFixRules option;
    std::array<std::string_view, 6> ruleIDs;
};

const std::array<OptionRules, 5>& optionTable() {
    static const std::array<OptionRules, 5> table{{
        {QNModelLocalFixRules::whitespaceCollapse, {"local.whitespace-collapse"}},
        {QNModelLocalFixRules::repeatedWordCollapse, {"local.repeated-word"}},
        {QNModelLocalFixRules::loneICapitalization, {"local.lone-i"}},
        {QNModelLocalFixRules::sentenceStartCapitalization, {"local.sentence-start-cap"}},
        {QNModelLocalFixRules::staticTypoMap,
         {"local.brand-initialism", "local.contraction.long", "local.contraction.short",
          "local.typo-map.long", "local.typo-map.short", "local.phrase-pattern"}},
    }};
    return table;
}

// The compact short name of a rule's own note, by the note's rule identifier.
std::optional<std::string_view> compactName(std::string_view ruleID) {
    if (ruleID == "local.whitespace-collapse") {
        return "whitespace";
    }
    if (ruleID == "local.repeated-word") {
        return "doubled-word";
    }
    if (ruleID == "local.lone-i") {
        return "lone-i";
    }
    if (ruleID == "local.sentence-start-cap") {
        return "sentence-start";
    }
    if (ruleID == "local.brand-initialism" || ruleID == "local.contraction.long" ||
        ruleID == "local.typo-map.long" || ruleID == "local.phrase-pattern") {
        return "typo-map";
    }
    return std::nullopt;
}

bool isWhiteSpace(char32_t c) {
    return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_WHITE_SPACE);
}

int clusterBreak(char32_t c) {
    return u_getIntPropertyValue(static_cast<UChar32>(c), UCHAR_GRAPHEME_CLUSTER_BREAK);
}

bool isControlLike(char32_t c) {
    int kind = clusterBreak(c);
    return kind == U_GCB_CONTROL || kind == U_GCB_CR || kind == U_GCB_LF;
}

}  // namespace

QNModelLocalFixResult::QNModelLocalFixResult(std::u16string text,
                                             std::vector<text::Utf16Range> changedRanges,
                                             bool didChange,
                                             const std::vector<std::string>& details)
    : text(std::move(text)), changedRanges(std::move(changedRanges)), didChange(didChange) {
    constexpr std::string_view kRulePrefix = "rule: ";
    structuredDetails.reserve(details.size());
    for (const auto& detail : details) {
        std::string_view view = detail;
        if (view.starts_with(kRulePrefix) && view.size() > kRulePrefix.size()) {
            std::string name(view.substr(kRulePrefix.size()));
            structuredDetails.push_back(QNCorrectionNote{QNCorrectionStageID::preflightLocal,
                                                         "local." + name, "rule", name});
        } else {
            structuredDetails.push_back(
                QNCorrectionNote::plain(detail, QNCorrectionStageID::preflightLocal));
        }
    }
}

const std::vector<LocalFixRulePtr>& masterLocalRules() {
    static const std::vector<LocalFixRulePtr> rules{
        std::make_shared<WhitespaceCollapseRule>(std::string(WhitespaceCollapseRule::kMasterID),
                                                 WhitespaceCollapseRule::masterMetadata()),
        std::make_shared<RepeatedWordCollapseRule>(std::string(RepeatedWordCollapseRule::kMasterID),
                                                   RepeatedWordCollapseRule::masterMetadata()),
        std::make_shared<LoneICapitalizationRule>(std::string(LoneICapitalizationRule::kMasterID),
                                                  LoneICapitalizationRule::masterMetadata()),
        std::make_shared<SentenceStartCapitalizationRule>(
            std::string(SentenceStartCapitalizationRule::kMasterID),
            SentenceStartCapitalizationRule::masterMetadata()),
        std::make_shared<PhraseTypoRule>(std::string(PhraseTypoRule::kMasterID),
                                         PhraseTypoRule::masterMetadata()),
        std::make_shared<BrandInitialismRule>(std::string(BrandInitialismRule::kMasterID),
                                              BrandInitialismRule::masterMetadata()),
        std::make_shared<ContractionRule>(ContractionRule::Scope::localSafe),
        std::make_shared<TypoMapRule>(TypoMapRule::Scope::localSafe),
        std::make_shared<TypoMapRule>(TypoMapRule::Scope::shortModelOnly),
        std::make_shared<ContractionRule>(ContractionRule::Scope::ambiguousModelOnly),
    };
    return rules;
}

std::set<std::string> enabledRuleIDs(QNModelLocalFixRules rules) {
    std::set<std::string> ids;
    for (const auto& entry : optionTable()) {
        if (!rules.contains(entry.option)) {
            continue;
        }
        for (auto id : entry.ruleIDs) {
            if (!id.empty()) {
                ids.emplace(id);
            }
        }
    }
    return ids;
}

LocalRuleRegistry localRuleRegistry(QNModelLocalFixRules enabledRules) {
    const std::set<std::string> ids = enabledRuleIDs(enabledRules);
    std::vector<LocalFixRulePtr> kept;
    for (const auto& rule : masterLocalRules()) {
        if (ids.contains(rule->id())) {
            kept.push_back(rule);
        }
    }
    return LocalRuleRegistry(std::move(kept));
}

LocalRuleEvaluation evaluateLocalFixes(std::u16string_view text, QNModelLocalFixRules enabledRules,
                                       QNCorrectionStageID stageID, const TierPolicy& tierPolicy,
                                       std::optional<std::u16string> before) {
    if (text.empty() || text::isBlank(text)) {
        return LocalRuleEvaluation{std::u16string(text), std::u16string(text), {}};
    }
    const LocalRuleRegistry registry = localRuleRegistry(enabledRules);
    std::vector<LocalFixRulePtr> kept;
    for (const auto& rule : registry.rules()) {
        if (!rule->metadata().appliesLocally) {
            continue;
        }
        const auto& entries = tierPolicy.localRuleEntriesByID();
        auto entry = entries.find(rule->id());
        if (entry != entries.end() && !entry->second.behavior.appliesLocally()) {
            continue;
        }
        kept.push_back(rule);
    }
    const RuleContext context{std::nullopt, std::move(before), enabledRuleIDs(enabledRules),
                              stageID};
    return LocalRuleRegistry(std::move(kept)).evaluateDetailed(text, context);
}

LocalRuleEvaluation evaluateLocalFixesOfFinishedText(std::u16string_view text,
                                                     QNModelLocalFixRules enabledRules,
                                                     QNCorrectionStageID stageID,
                                                     const TierPolicy& tierPolicy,
                                                     std::optional<std::u16string> before) {
    if (text.empty() || stablePrefixBoundary(text).size() == text.size()) {
        return evaluateLocalFixes(text, enabledRules, stageID, tierPolicy, std::move(before));
    }
    std::u16string ended(text);
    ended += u' ';
    LocalRuleEvaluation run = evaluateLocalFixes(ended, enabledRules, stageID, tierPolicy, before);
    if (!run.text.ends_with(u' ')) {
        // A rule changed the space itself: the text is run as it stands.
        return evaluateLocalFixes(text, enabledRules, stageID, tierPolicy, std::move(before));
    }
    run.input.pop_back();
    run.text.pop_back();
    return run;
}

std::optional<std::u16string> endOfTextBefore(std::u16string_view before) {
    // Enough for the marks, closing quotes and spaces that tell how a sentence ends.
    constexpr std::size_t kLooked = 16;
    if (before.empty()) {
        return std::nullopt;
    }
    return std::u16string(before.substr(before.size() - std::min(before.size(), kLooked)));
}

QNModelLocalFixResult applyLocalFixes(std::u16string_view text, QNModelLocalFixRules enabledRules,
                                      QNCorrectionStageID stageID, const TierPolicy& tierPolicy) {
    if (text.empty() || text::isBlank(text)) {
        return QNModelLocalFixResult(std::u16string(text), {}, false,
                                     std::vector<QNCorrectionNote>{});
    }
    LocalRuleEvaluation evaluation = evaluateLocalFixes(text, enabledRules, stageID, tierPolicy);
    std::vector<QNCorrectionNote> notes = legacyNotes(evaluation.structuredDetails(), stageID);
    if (rules::sameText(evaluation.text, text)) {
        return QNModelLocalFixResult(std::u16string(text), {}, false, std::move(notes));
    }
    std::vector<text::Utf16Range> ranges = changedRanges(text, evaluation.text);
    return QNModelLocalFixResult(std::move(evaluation.text), std::move(ranges), true,
                                 std::move(notes));
}

QNModelLocalFixResult applyLocalFixes(std::u16string_view text) {
    return applyLocalFixes(text, QNModelLocalFixRules::all, QNCorrectionStageID::preflightLocal,
                           TierPolicy::defaultPolicy());
}

std::vector<QNCorrectionNote> legacyNotes(const std::vector<QNCorrectionNote>& notes,
                                          QNCorrectionStageID stageID) {
    std::vector<QNCorrectionNote> compact;
    compact.reserve(notes.size());
    for (const auto& note : notes) {
        QNCorrectionNote mapped = note;
        mapped.stageID = stageID;
        if (note.ruleID) {
            if (auto name = compactName(*note.ruleID)) {
                mapped.ruleID = "local." + std::string(*name);
                mapped.key = "rule";
                mapped.value = std::string(*name);
            }
        }
        if (compact.empty() || !(compact.back() == mapped)) {
            compact.push_back(std::move(mapped));
        }
    }
    return compact;
}

std::u16string stablePrefixBoundary(std::u16string_view text) {
    // The last character whose first scalar is whitespace. A whitespace scalar starts a
    // character unless it is the line feed of "\r\n" or follows a prepended concatenation mark
    // (which joins anything but a control to itself).
    std::size_t at = text.size();
    while (at > 0) {
        rules::CodePoint cp = rules::codePointBefore(text, at);
        at -= cp.length;
        if (!isWhiteSpace(cp.value)) {
            continue;
        }
        if (cp.value == U'\n' && at > 0 && text[at - 1] == u'\r') {
            continue;
        }
        if (at > 0 && !isControlLike(cp.value) &&
            clusterBreak(rules::codePointBefore(text, at).value) == U_GCB_PREPEND) {
            continue;
        }
        // The end of that character: a carriage return takes a following line feed; a
        // non-control character takes the extending, joining and spacing marks after it.
        std::size_t end = at + cp.length;
        if (cp.value == U'\r') {
            if (end < text.size() && text[end] == u'\n') {
                ++end;
            }
        } else if (!isControlLike(cp.value)) {
            while (end < text.size()) {
                rules::CodePoint next = rules::codePointAt(text, end);
                int kind = clusterBreak(next.value);
                if (kind != U_GCB_EXTEND && kind != U_GCB_ZWJ && kind != U_GCB_SPACING_MARK) {
                    break;
                }
                end += next.length;
            }
        }
        return std::u16string(text.substr(0, end));
    }
    return {};
}

}  // namespace ravlin
