#pragma once

// What goes over the wire between the hosted correction service and its client: the correction
// request body, the events of the reply stream and how they are framed, the error body of a
// failed request, and the prompt versions the service accepts.
//
// Bodies are written compactly with their members in a fixed order and absent optional members
// left out. Replies are read leniently about unknown members (ignored) and null (absent), and
// strictly about types: a member of the wrong JSON type makes the whole record undecodable.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ravlin {

// The correction request body. Its JSON keys mix spellings: "session_token", "request_id",
// "instructions", "input", "maximumResponseTokens", "localeIdentifier", "prompt_version".
struct QNModelHostedProxyCorrectionRequest {
    std::string sessionToken;
    std::string requestID;
    std::string instructions;
    std::string input;
    std::int64_t maximumResponseTokens = 0;
    std::optional<std::string> localeIdentifier;
    std::optional<std::string> promptVersion;

    // The compact JSON body, members in the order above. Absent when a text is not UTF-8.
    [[nodiscard]] std::optional<std::string> encoded() const;
    // Reads a body back. Throws DecodingError.
    [[nodiscard]] static QNModelHostedProxyCorrectionRequest decode(std::string_view json);

    friend bool operator==(const QNModelHostedProxyCorrectionRequest&,
                           const QNModelHostedProxyCorrectionRequest&) = default;
};

// One event of the reply stream (one per "data:" line); every member optional.
struct QNModelHostedProxyStreamEvent {
    struct ErrorDetails {
        std::optional<std::string> message;
        friend bool operator==(const ErrorDetails&, const ErrorDetails&) = default;
    };
    struct IncompleteDetails {
        std::optional<std::string> reason;
        friend bool operator==(const IncompleteDetails&, const IncompleteDetails&) = default;
    };
    struct ResponseDetails {
        std::optional<IncompleteDetails> incompleteDetails;  // "incomplete_details"
        friend bool operator==(const ResponseDetails&, const ResponseDetails&) = default;
    };

    std::optional<std::string> type;
    std::optional<std::string> delta;
    std::optional<std::string> text;
    std::optional<std::string> message;
    std::optional<ErrorDetails> error;
    std::optional<ResponseDetails> response;
    std::optional<std::int64_t> tokensPrompt;      // "tokens_prompt"
    std::optional<std::int64_t> tokensCompletion;  // "tokens_completion"
    std::optional<std::int64_t> tokensCached;      // "tokens_cached"
    std::optional<std::int64_t> creditsCharged;    // "credits_charged"
    std::optional<std::int64_t> creditsRemaining;  // "credits_remaining"

    // Reads one event from a JSON payload. Throws DecodingError when the payload is not JSON,
    // not an object, or has a member of the wrong type.
    [[nodiscard]] static QNModelHostedProxyStreamEvent decode(std::string_view json);

    friend bool operator==(const QNModelHostedProxyStreamEvent&,
                           const QNModelHostedProxyStreamEvent&) = default;
};

// The error body of a reply whose status is outside 200 to 299; every member optional.
struct QNModelHostedProxyHTTPErrorPayload {
    std::optional<std::string> error;
    std::optional<std::string> message;
    std::optional<std::string> requestStatus;  // "request_status"

    // Throws DecodingError.
    [[nodiscard]] static QNModelHostedProxyHTTPErrorPayload decode(std::string_view json);

    friend bool operator==(const QNModelHostedProxyHTTPErrorPayload&,
                           const QNModelHostedProxyHTTPErrorPayload&) = default;
};

// The prompt versions the service accepts, compared as whole, case-sensitive texts.
inline constexpr std::array<std::string_view, 4> kHostedProxyDeployablePromptVersions = {
    "online-v6", "online-v7", "online-v8", "online-v11"};

// The event payload of one reply line, or absent for a line the framing skips: blank lines,
// lines not beginning with "data:" (event names, identifiers, comments) and the payload
// "[DONE]". The payload is the rest after "data:" with spaces and tabs trimmed. "data:" lines
// are never joined: each is a whole event.
[[nodiscard]] std::optional<std::string_view> hostedProxyEventPayload(std::string_view line);
// Whether the line is the "data:" line whose payload is "[DONE]": the service's word that the
// answer is whole.
[[nodiscard]] bool hostedProxyIsDoneLine(std::string_view line);

// The most bytes of an error body that are read.
inline constexpr std::size_t kHostedProxyErrorBodyLimit = 4096;

// The failure text of a reply with a status outside 200 to 299: "Hosted proxy HTTP " and the
// status, then ": " and the error body's details or text when it has any. `body` holds at most
// the first 4,096 bytes; `cutAtLimit` tells that the body may have gone on, so a character cut
// in two at the end is dropped rather than spoiling the whole text. The result is condensed to
// one line (`condensedFailureText`).
[[nodiscard]] std::string hostedProxyHTTPErrorText(int status, std::string_view body,
                                                   bool cutAtLimit);

}  // namespace ravlin
