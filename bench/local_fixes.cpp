// The full local rule pass (all rules, default tier policy) on a typed draft of about 2,000
// characters and on a text of about 20,000. The regular-expression form of the same pass runs
// beside it for comparison.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "bench/bench_input.h"
#include "core/rules/dictionary_rules.h"
#include "core/rules/local_fixes.h"
#include "core/rules/pattern_form.h"
#include "core/rules/word_rules.h"

namespace {

using namespace ravlin;

void BM_LocalFixes(benchmark::State& state) {
    const auto text = bench::benchText(static_cast<std::size_t>(state.range(0)));
    std::size_t changed = 0;
    for (auto _ : state) {
        QNModelLocalFixResult result = applyLocalFixes(text);
        changed = result.changedRanges.size();
        benchmark::DoNotOptimize(result);
    }
    state.counters["characters"] = static_cast<double>(text.size());
    state.counters["changedRanges"] = static_cast<double>(changed);
    state.SetLabel(bench::benchTextSource());
}
BENCHMARK(BM_LocalFixes)->Arg(2000)->Arg(20000)->Unit(benchmark::kMicrosecond);

// A rule of the master list whose transform is the regular-expression form.
class PatternRule final : public LocalFixRule {
  public:
    PatternRule(LocalFixRulePtr rule, std::u16string (*transform)(std::u16string_view))
        : rule_(std::move(rule)), transform_(transform) {}
    const std::string& id() const override { return rule_->id(); }
    const LocalFixRuleMetadata& metadata() const override { return rule_->metadata(); }
    RuleResult apply(std::u16string_view text, const RuleContext& context) const override {
        if (!context.enabledRules.contains(id())) {
            return RuleResult::notFired(text);
        }
        std::u16string output = transform_(text);
        if (output == text) {
            return RuleResult::notFired(text);
        }
        return RuleResult{true, std::move(output), std::nullopt};
    }

  private:
    LocalFixRulePtr rule_;
    std::u16string (*transform_)(std::u16string_view);
};

void BM_LocalFixesPatternForm(benchmark::State& state) {
    const auto text = bench::benchText(static_cast<std::size_t>(state.range(0)));
    const auto& master = masterLocalRules();
    std::vector<LocalFixRulePtr> rules{
        std::make_shared<PatternRule>(master[0], &pattern_form::collapseWhitespace),
        std::make_shared<PatternRule>(master[1], &pattern_form::collapseRepeatedWords),
        std::make_shared<PatternRule>(master[2], &pattern_form::capitalizeLoneI),
        std::make_shared<PatternRule>(master[3], &capitalizeSentenceStarts),
        std::make_shared<PatternRule>(master[4], &pattern_form::applyPhrasePatterns),
        std::make_shared<PatternRule>(master[5],
                                      [](std::u16string_view t) {
                                          return pattern_form::collapseSpacedInitialisms(
                                              pattern_form::replaceWords(t, initialismMap()));
                                      }),
        std::make_shared<PatternRule>(master[6],
                                      [](std::u16string_view t) {
                                          return pattern_form::replaceWords(t,
                                                                            contractionMapLong());
                                      }),
        std::make_shared<PatternRule>(
            master[7],
            [](std::u16string_view t) { return pattern_form::replaceWords(t, typoMapLong()); }),
    };
    LocalRuleRegistry registry(rules);
    RuleContext context{std::nullopt, std::nullopt, enabledRuleIDs(QNModelLocalFixRules::all),
                        QNCorrectionStageID::preflightLocal};
    for (auto _ : state) {
        benchmark::DoNotOptimize(registry.evaluateDetailed(text, context));
    }
    state.SetLabel(bench::benchTextSource());
}
BENCHMARK(BM_LocalFixesPatternForm)->Arg(2000)->Arg(20000)->Unit(benchmark::kMicrosecond);

}  // namespace
