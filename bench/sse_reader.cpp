// Throughput of the hosted reply path without the network: a large recorded event stream is
// split into lines (delivered in 16 KB pieces, as the transfer hands them over), framed, decoded
// and folded into the output. The stream is made from the bench draft: one delta event per
// word, keep-alive comments now and then, a complete-text event and a usage report at the end.
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "bench/bench_input.h"
#include "core/net/sse_line_reader.h"
#include "core/providers/hosted-proxy/hosted_proxy_stream.h"
#include "core/providers/hosted-proxy/hosted_proxy_wire.h"
#include "core/records/raw_value.h"
#include "core/text/unicode.h"
#include "core/text/utf8.h"

namespace {

const std::string& recordedStream() {
    static const std::string stream = [] {
        const std::string draft = ravlin::text::toUtf8(ravlin::bench::benchText(400'000));
        std::string body = ": connected\n\n";
        std::size_t start = 0;
        std::size_t events = 0;
        while (start < draft.size()) {
            std::size_t end = draft.find(' ', start);
            end = end == std::string::npos ? draft.size() : end + 1;
            const nlohmann::json event = {{"type", "response.output_text.delta"},
                                          {"delta", draft.substr(start, end - start)}};
            body += "data: " + event.dump() + "\n\n";
            if (++events % 50 == 0) {
                body += ": keep-alive\n\n";
            }
            start = end;
        }
        body += "data: " +
                nlohmann::json{{"type", "response.output_text.done"}, {"text", draft}}.dump() +
                "\n\n";
        body +=
            "data: {\"type\":\"response.completed\",\"tokens_prompt\":120,"
            "\"tokens_completion\":118,\"credits_charged\":1,\"credits_remaining\":42}\n\n";
        body += "data: [DONE]\n\n";
        return body;
    }();
    return stream;
}

void BM_LineReading(benchmark::State& state) {
    const std::string& body = recordedStream();
    for (auto _ : state) {
        ravlin::bench::ChunkedBytes source(body);
        ravlin::net::SseLineReader reader(source);
        std::size_t lines = 0;
        std::string_view line;
        while (reader.readLine(line) == ravlin::net::SseLineStatus::line) {
            ++lines;
        }
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
    state.SetLabel(ravlin::bench::benchTextSource());
}
BENCHMARK(BM_LineReading);

void BM_LineReadingAndEventDecoding(benchmark::State& state) {
    const std::string& body = recordedStream();
    for (auto _ : state) {
        ravlin::bench::ChunkedBytes source(body);
        ravlin::net::SseLineReader reader(source);
        ravlin::QNParserHostedProxyStreamEvent parser;
        std::string_view line;
        while (reader.readLine(line) == ravlin::net::SseLineStatus::line) {
            const auto payload = ravlin::hostedProxyEventPayload(line);
            if (!payload) {
                continue;
            }
            const auto event = ravlin::QNModelHostedProxyStreamEvent::decode(*payload);
            if (parser.consume(event)) {
                state.SkipWithError("the recorded stream failed");
                break;
            }
        }
        benchmark::DoNotOptimize(parser.output.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
    state.SetLabel(ravlin::bench::benchTextSource());
}
BENCHMARK(BM_LineReadingAndEventDecoding);

}  // namespace
