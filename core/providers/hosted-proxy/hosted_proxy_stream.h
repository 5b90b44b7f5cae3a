#pragma once

// The fold of the hosted service's reply events into the corrected text and its usage, and the
// failures that end a hosted stream.

#include <optional>
#include <string>
#include <string_view>

#include "core/providers/hosted-proxy/hosted_proxy_wire.h"
#include "core/records/provider_records.h"

namespace ravlin {

// The failure of an answer the service stopped short of finishing.
inline constexpr std::string_view kHostedProxyIncompleteText = "Hosted proxy response incomplete";

// Why a hosted stream ended in failure; each case has its fixed failure text.
struct QNErrorHostedProxyStreaming {
    enum class Kind { failed, malformed, idleTimeout, payloadTooLarge, totalDeadlineExceeded };
    Kind kind = Kind::failed;
    std::string message;  // for `failed`

    [[nodiscard]] static QNErrorHostedProxyStreaming failed(std::string message) {
        return {Kind::failed, std::move(message)};
    }
    [[nodiscard]] static QNErrorHostedProxyStreaming of(Kind kind) { return {kind, {}}; }

    // `failed`: its message unchanged; `malformed`: "Hosted proxy malformed stream";
    // `idleTimeout`: "Hosted proxy idle timeout"; `payloadTooLarge`: "Hosted proxy event
    // payload too large"; `totalDeadlineExceeded`: "Hosted proxy total stream deadline exceeded".
    [[nodiscard]] std::string failureText() const;

    friend bool operator==(const QNErrorHostedProxyStreaming&,
                           const QNErrorHostedProxyStreaming&) = default;
};

struct QNParserHostedProxyStreamEvent {
    // The corrected text accumulated so far (UTF-8).
    std::string output;
    // The last usage report, replaced whole by a later one.
    std::optional<QNModelCorrectionUsage> usage;
    // Whether the service said the answer is whole: "response.output_text.done" or
    // "response.completed" (a "[DONE]" line says the same; the reader notes that one). A body
    // that ends without any of them was cut short, and its text is not the answer.
    bool answerEnded = false;

    // Applies one event: "response.output_text.delta" appends its `delta`;
    // "response.output_text.done" replaces the output with its non-empty `text` when nothing was
    // accumulated or the text begins with what was, and ends the answer; "response.failed", "response.incomplete"
    // and "error" end the stream with their failure text; any other type, or none, is a usage
    // report when it carries at least one of the five figures. Returns the failure, if any.
    [[nodiscard]] std::optional<QNErrorHostedProxyStreaming> consume(
        const QNModelHostedProxyStreamEvent& event);
};

}  // namespace ravlin
