// Throughput of the OpenAI reply path without the network: a large recorded event stream is
// split into lines (delivered in 16 KB pieces, as the transfer hands them over), parsed and
// folded into the output. The stream is made from the bench draft in the service's own shape:
// event-name lines before each event, one delta event per word carrying the members the service
// sends beside the delta, a created event with a response object, a done event with the whole
// text and a completed event with its usage.
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "bench/bench_input.h"
#include "core/net/sse_line_reader.h"
#include "core/providers/openai/openai_stream.h"
#include "core/text/unicode.h"

namespace {

void addEvent(std::string& body, const nlohmann::json& event) {
    body += "event: " + event["type"].get<std::string>() + "\n";
    body += "data: " + event.dump() + "\n\n";
}

const std::string& recordedStream() {
    static const std::string stream = [] {
        const std::string draft = ravlin::text::toUtf8(ravlin::bench::benchText(400'000));
        std::string body;
        addEvent(body, {{"type", "response.created"},
                        {"sequence_number", 0},
                        {"response",
                         {{"id", "resp_0123456789"},
                          {"status", "in_progress"},
                          {"incomplete_details", nullptr},
                          {"metadata", nlohmann::json::object()},
                          {"usage", nullptr}}}});
        std::size_t start = 0;
        int sequence = 1;
        while (start < draft.size()) {
            std::size_t end = draft.find(' ', start);
            end = end == std::string::npos ? draft.size() : end + 1;
            addEvent(body, {{"type", "response.output_text.delta"},
                            {"sequence_number", sequence++},
                            {"item_id", "msg_0123456789"},
                            {"output_index", 0},
                            {"content_index", 0},
                            {"delta", draft.substr(start, end - start)}});
            start = end;
        }
        addEvent(body, {{"type", "response.output_text.done"}, {"text", draft}});
        addEvent(body, {{"type", "response.completed"},
                        {"response",
                         {{"id", "resp_0123456789"},
                          {"status", "completed"},
                          {"usage",
                           {{"input_tokens", 1200},
                            {"input_tokens_details", {{"cached_tokens", 1024}}},
                            {"output_tokens", 1180},
                            {"total_tokens", 2380}}}}}});
        body += "data: [DONE]\n\n";
        return body;
    }();
    return stream;
}

// Lines parsed and folded, as the provider does between network reads (without the UTF-16
// partials it hands on).
void BM_OpenAIStreamFold(benchmark::State& state) {
    const std::string& body = recordedStream();
    for (auto _ : state) {
        ravlin::bench::ChunkedBytes source(body);
        ravlin::net::SseLineReader reader(source,
                                          ravlin::QNParserOpenAIStreamEvent::kMaxEventByteSize);
        ravlin::QNParserOpenAIStreamEvent parser;
        std::string_view line;
        while (reader.readLine(line) == ravlin::net::SseLineStatus::line) {
            auto parsed = parser.parseLine(line);
            if (parsed.event) {
                benchmark::DoNotOptimize(parser.consume(*parsed.event));
            }
        }
        benchmark::DoNotOptimize(parser.output.size());
        benchmark::DoNotOptimize(parser.usage);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
    state.SetLabel(ravlin::bench::benchTextSource());
}
BENCHMARK(BM_OpenAIStreamFold)->Unit(benchmark::kMillisecond);

}  // namespace
