// What the engine adds around a provider: one correction through the whole pipeline (budget,
// decision trace, sanitizer, echo strip, misbehavior screen) with a provider that answers at once.
#include <benchmark/benchmark.h>

#include "bench/bench_input.h"
#include "core/engine/correction_engine.h"

namespace {

using namespace ravlin;

const std::u16string kSentence =
    u"i recieved teh weird note from a freind and didnt know taht it was alot to fix.";
const std::u16string kAnswer =
    u"I received the weird note from a friend and didn't know that it was a lot to fix.";
const std::u16string kContext =
    u"We shipped the new api last week. The ui looks great, don't you think?";

void BM_EngineOverhead(benchmark::State& state) {
    QNEngineCorrection engine("PROMPT", std::make_shared<bench::InstantProvider>(kAnswer));
    const bool withContext = state.range(0) != 0;
    std::size_t partials = 0;
    for (auto _ : state) {
        QNCorrectionDecision decision;
        auto result = engine.correct(
            kSentence, withContext ? std::optional(kContext) : std::nullopt, decision,
            QNMisbehaviorRuleIDSet{}, [&](const std::u16string&) { ++partials; }, {});
        benchmark::DoNotOptimize(result);
    }
    benchmark::DoNotOptimize(partials);
}
BENCHMARK(BM_EngineOverhead)->Arg(0)->Arg(1)->ArgName("context");

}  // namespace
