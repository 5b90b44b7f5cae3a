// A streamed answer through the whole engine: a real provider reading a loopback server's event
// stream, the engine cleaning and screening every partial and the final answer. Two shapes, for
// a 500-character text sent as 100-byte text events:
//   largest  the largest answer the provider's cap lets through for that text (it completes);
//   flood    8,000 events, 800 KB in all: the time until the stream fails at the cap.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "bench/bench_input.h"
#include "core/engine/correction_engine.h"
#include "core/providers/hosted-proxy/hosted_proxy_provider.h"
#include "core/providers/online_provider_support.h"
#include "core/providers/openai/openai_provider.h"
#include "core/services/token_budget.h"
#include "core/text/unicode.h"
#include "tests/support/loopback_http_server.h"

namespace {

using namespace ravlin;
using testing::LoopbackHttpServer;
using testing::ScriptedReply;

constexpr std::size_t kEventBytes = 100;
constexpr std::size_t kFloodEvents = 8000;

const std::u16string& userText() {
    static const std::u16string text = bench::benchText(500);
    return text;
}

// The answer's bytes: the bench draft, repeated and cut to `bytes` at a character boundary.
std::string answerOf(std::size_t bytes) {
    const std::string draft = text::toUtf8(bench::benchText(bytes + bytes / 2));
    std::size_t end = std::min(bytes, draft.size());
    while (end > 0 && end < draft.size() &&
           (static_cast<unsigned char>(draft[end]) & 0xC0) == 0x80) {
        --end;
    }
    return draft.substr(0, end);
}

// The answer as text events of about 100 bytes each (never splitting a character), then the
// closing event the service sends, if any.
ScriptedReply streamOf(std::string_view answer, std::string_view closing) {
    ScriptedReply reply = ScriptedReply::eventStream();
    while (!answer.empty()) {
        std::size_t take = std::min(kEventBytes, answer.size());
        while (take < answer.size() && (static_cast<unsigned char>(answer[take]) & 0xC0) == 0x80) {
            --take;
        }
        reply.event(nlohmann::json{{"type", "response.output_text.delta"},
                                   {"delta", answer.substr(0, take)}}
                        .dump());
        answer.remove_prefix(take);
    }
    if (!closing.empty()) {
        reply.event(closing);
    }
    return reply;
}

std::shared_ptr<QNProviderCorrectionModel> providerFor(bool openai,
                                                       const LoopbackHttpServer& server) {
    if (openai) {
        return std::make_shared<QNProviderOpenAICorrection>(
            QNProviderOpenAICorrection::Configuration("gpt-4.1-mini", 10, 10, 30, "openai-byok"),
            "Correct the text.", [] { return std::optional<std::string>("sk-bench"); },
            net::HttpClient::shared(), Clock::system(), server.url(""));
    }
    return std::make_shared<QNProviderHostedProxyCorrection>(
        QNProviderHostedProxyCorrection::Configuration(server.url("/ravlin-cloud"), 10, 10, 30,
                                                       "hosted-proxy"),
        "Correct the text.", std::nullopt, [] { return std::optional<std::string>("pub"); },
        [] { return std::optional<std::string>("session"); }, [] { return std::string("id"); },
        net::HttpClient::shared(), Clock::system());
}

void run(benchmark::State& state, const std::string& answer, bool expectFailure) {
    const bool openai = state.range(0) != 0;
    const std::string closing = openai ? R"({"type":"response.completed"})" : "";
    LoopbackHttpServer server;
    const ScriptedReply reply = streamOf(answer, closing);
    QNEngineCorrection engine("PROMPT", providerFor(openai, server));
    std::size_t partials = 0;
    for (auto _ : state) {
        state.PauseTiming();
        server.enqueue(reply);
        state.ResumeTiming();
        QNCorrectionDecision decision;
        auto result = engine.correct(userText(), std::nullopt, decision, QNMisbehaviorRuleIDSet{},
                                     [&](const std::u16string&) { ++partials; }, {});
        const bool failed = result.outcome.kind == QNModelCorrectionOutcome::Kind::failed;
        if (failed != expectFailure) {
            state.SkipWithError(("unexpected outcome: " + result.outcome.reason).c_str());
            break;
        }
        benchmark::DoNotOptimize(result);
    }
    state.counters["answer_bytes"] = static_cast<double>(answer.size());
    state.counters["partials_per_call"] =
        state.iterations() > 0 ? static_cast<double>(partials) / state.iterations() : 0;
    state.SetLabel(openai ? "openai" : "hosted");
}

void BM_StreamedAnswerLargestThroughEngine(benchmark::State& state) {
    const auto budget = QNModelTokenBudget::budget(userText());
    const std::size_t cap = streamedAnswerByteLimit(
        QNModelCorrectionRequest(userText(), budget ? budget->maximumResponseTokens : 0));
    run(state, answerOf(cap), false);
}
BENCHMARK(BM_StreamedAnswerLargestThroughEngine)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("openai")
    ->Unit(benchmark::kMillisecond);

void BM_StreamedFloodThroughEngine(benchmark::State& state) {
    run(state, answerOf(kFloodEvents * kEventBytes), true);
}
BENCHMARK(BM_StreamedFloodThroughEngine)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("openai")
    ->Unit(benchmark::kMillisecond);

}  // namespace
