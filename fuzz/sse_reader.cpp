// Arbitrary bytes, cut into arbitrary deliveries, through the event-stream line reader and the
// hosted service's event framing, decoding and fold. Lines must never hold a line feed, exceed
// the cap or be ill-formed UTF-8; nothing may throw but decoding, and decoding only its own
// error.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "core/net/sse_line_reader.h"
#include "core/providers/hosted-proxy/hosted_proxy_stream.h"
#include "core/providers/hosted-proxy/hosted_proxy_wire.h"
#include "core/records/raw_value.h"
#include "core/text/utf8.h"

namespace {

class Deliveries final : public ravlin::net::SseByteSource {
  public:
    Deliveries(std::string_view body, std::string_view cuts) : body_(body), cuts_(cuts) {}
    ravlin::net::SseByteChunk next() override {
        if (body_.empty()) {
            return ravlin::net::SseByteChunk::endOfBody();
        }
        std::size_t size = body_.size();
        if (!cuts_.empty()) {
            size = static_cast<unsigned char>(cuts_.front()) % 64 + 1;
            cuts_.remove_prefix(1);
        }
        size = std::min(size, body_.size());
        copy_.assign(body_.substr(0, size));  // a fresh buffer, as a network read gives
        body_.remove_prefix(size);
        return ravlin::net::SseByteChunk::of(copy_);
    }

  private:
    std::string_view body_;
    std::string_view cuts_;
    std::string copy_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    // First byte: the line cap (small caps reach the limit often); second: how many of the
    // following bytes say where the deliveries are cut.
    const std::int64_t cap = data[0] == 0 ? ravlin::net::SseLineReader::kDefaultMaxLineBytes
                                          : static_cast<std::int64_t>(data[0]) * 4;
    const std::size_t cutBytes = std::min<std::size_t>(data[1], size - 2);
    const std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
    Deliveries source(rest.substr(cutBytes), rest.substr(0, cutBytes));

    ravlin::net::SseLineReader reader(source, cap);
    ravlin::QNParserHostedProxyStreamEvent parser;
    while (true) {
        std::string_view line;
        const auto status = reader.readLine(line);
        if (status != ravlin::net::SseLineStatus::line) {
            break;
        }
        if (line.find('\n') != std::string_view::npos ||
            static_cast<std::int64_t>(line.size()) > cap || !ravlin::text::isValidUtf8(line)) {
            std::abort();
        }
        const auto payload = ravlin::hostedProxyEventPayload(line);
        if (!payload) {
            continue;
        }
        try {
            const auto event = ravlin::QNModelHostedProxyStreamEvent::decode(*payload);
            if (const auto failure = parser.consume(event)) {
                if (failure->failureText().empty()) {
                    std::abort();  // a failure always says something
                }
                break;
            }
        } catch (const ravlin::DecodingError&) {
            break;
        }
        if (!ravlin::text::isValidUtf8(parser.output)) {
            std::abort();
        }
        (void)ravlin::text::trimmedWhitespaceAndNewlines(parser.output);
    }
    return 0;
}
