// The text toolkit on a typed draft: the primitives every keystroke pays for.
#include <benchmark/benchmark.h>

#include "bench/bench_input.h"
#include "core/text/fingerprint.h"
#include "core/text/regex.h"
#include "core/text/unicode.h"

namespace {

using namespace ravlin;

void BM_CharacterCount(benchmark::State& state) {
    const auto text = bench::benchText(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(text::characterCount(text));
    }
    state.SetLabel(bench::benchTextSource());
}
BENCHMARK(BM_CharacterCount)->Arg(2000)->Arg(20000);

void BM_CharacterCountNonAscii(benchmark::State& state) {
    auto text = bench::benchText(static_cast<std::size_t>(state.range(0)));
    text.back() = u'\u00e9';  // one accented letter forces the grapheme walk
    for (auto _ : state) {
        benchmark::DoNotOptimize(text::characterCount(text));
    }
}
BENCHMARK(BM_CharacterCountNonAscii)->Arg(2000)->Arg(20000);

void BM_CanonicalEquality(benchmark::State& state) {
    const auto a = bench::benchText(2000);
    auto b = a;
    b.back() = u'\u00e9';
    for (auto _ : state) {
        benchmark::DoNotOptimize(text::canonicallyEqual(a, b));
    }
}
BENCHMARK(BM_CanonicalEquality);

void BM_StableHash(benchmark::State& state) {
    const auto text = bench::benchText(2000);
    for (auto _ : state) {
        benchmark::DoNotOptimize(text::stableHash(text));
    }
}
BENCHMARK(BM_StableHash);

void BM_RegexAllMatches(benchmark::State& state) {
    const auto text = bench::benchText(2000);
    text::RegexOptions options;
    options.caseInsensitive = true;
    const auto regex = text::Regex::literal(R"(\b(teh|recieved|alot)\b)", options);
    for (auto _ : state) {
        benchmark::DoNotOptimize(regex.matches(text));
    }
}
BENCHMARK(BM_RegexAllMatches);

}  // namespace
