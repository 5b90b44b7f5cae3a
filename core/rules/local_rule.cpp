#include "core/rules/local_rule.h"

#include "core/rules/changed_ranges.h"
#include "core/rules/text_scan.h"

namespace ravlin {

bool LocalRuleEvaluation::didChange() const {
    return !rules::sameText(input, text);
}

std::vector<QNCorrectionNote> LocalRuleEvaluation::structuredDetails() const {
    std::vector<QNCorrectionNote> notes;
    for (const auto& application : applications) {
        if (application.note) {
            notes.push_back(*application.note);
        }
    }
    return notes;
}

std::vector<text::Utf16Range> LocalRuleEvaluation::changedRanges() const {
    return ravlin::changedRanges(input, text);
}

LocalRuleEvaluation LocalRuleRegistry::evaluateDetailed(std::u16string_view input,
                                                        const RuleContext& context) const {
    LocalRuleEvaluation evaluation{std::u16string(input), std::u16string(input), {}};
    if (rules_.empty()) {
        return evaluation;
    }

    // An empty set of enabled rules stands for every rule of this registry.
    const RuleContext* runContext = &context;
    RuleContext everyRule;
    if (context.enabledRules.empty()) {
        everyRule = context;
        for (const auto& rule : rules_) {
            everyRule.enabledRules.insert(rule->id());
        }
        runContext = &everyRule;
    }

    // The text the next rule is given: the input, then the output of the last application.
    std::u16string_view current = evaluation.input;
    for (std::size_t pass = 0; pass < kMaximumPasses; ++pass) {
        const std::size_t firstApplicationOfPass = evaluation.applications.size();
        for (const auto& rule : rules_) {
            const LocalFixRuleMetadata& metadata = rule->metadata();
            if (!metadata.appliesLocally) {
                continue;
            }
            RuleResult result = rule->apply(current, *runContext);
            if (!result.didFire || rules::sameText(result.output, current)) {
                continue;
            }
            LocalRuleApplication application{rule->id(),
                                             metadata,
                                             std::u16string(current),
                                             std::move(result.output),
                                             {},
                                             std::move(result.note)};
            application.changedRanges =
                ravlin::changedRanges(application.input, application.output);
            evaluation.applications.push_back(std::move(application));
            current = evaluation.applications.back().output;
        }
        // The pass began with the input of its first application; it settled when nothing
        // fired or when the rules brought the text back to where the pass began.
        if (evaluation.applications.size() == firstApplicationOfPass ||
            rules::sameText(current, evaluation.applications[firstApplicationOfPass].input)) {
            break;
        }
    }
    if (!evaluation.applications.empty()) {
        evaluation.text = evaluation.applications.back().output;
    }
    return evaluation;
}

std::pair<std::u16string, std::vector<QNCorrectionNote>> LocalRuleRegistry::evaluate(
    std::u16string_view input, const RuleContext& context) const {
    LocalRuleEvaluation evaluation = evaluateDetailed(input, context);
    return {std::move(evaluation.text), evaluation.structuredDetails()};
}

}  // namespace ravlin
