#pragma once

// What goes over the wire between the client and the OpenAI Responses interface: the addresses
// of the two requests, the correction request body, the events of the streamed reply and how
// an error reply is turned into a text the user can act on.
//
// Bodies are written compactly with their members in a fixed order and an absent optional
// member left out. Replies are read leniently about unknown members (ignored) and null
// (absent), and strictly about types: a member of the wrong JSON type makes the whole record
// undecodable.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/records/usage_decoding.h"

namespace ravlin {

// The HTTPS origin of the OpenAI API, and the paths of the correction and the key check.
inline constexpr std::string_view kOpenAIAPIBaseURL = "https://api.openai.com";
inline constexpr std::string_view kOpenAIResponsesPath = "/v1/responses";
inline constexpr std::string_view kOpenAIModelsPath = "/v1/models";

struct QNModelOpenAIResponseReasoning {
    std::string effort;
    friend bool operator==(const QNModelOpenAIResponseReasoning&,
                           const QNModelOpenAIResponseReasoning&) = default;
};

struct QNModelOpenAIResponseTextFormat {
    std::string type;
    friend bool operator==(const QNModelOpenAIResponseTextFormat&,
                           const QNModelOpenAIResponseTextFormat&) = default;
};

struct QNModelOpenAIResponseText {
    QNModelOpenAIResponseTextFormat format;
    friend bool operator==(const QNModelOpenAIResponseText&,
                           const QNModelOpenAIResponseText&) = default;
};

// The correction request body. JSON keys, in this order: "model", "instructions", "input",
// "max_output_tokens", "prompt_cache_key", "prompt_cache_retention", "reasoning" (only when
// present), "store", "stream", "text".
struct QNModelOpenAIResponsesRequest {
    std::string model;
    std::string instructions;
    std::string input;
    std::int64_t maxOutputTokens = 0;
    std::string promptCacheKey;
    std::string promptCacheRetention;
    std::optional<QNModelOpenAIResponseReasoning> reasoning;
    bool store = false;
    bool stream = true;
    QNModelOpenAIResponseText text;

    // The compact JSON body. Absent when a text is not UTF-8.
    [[nodiscard]] std::optional<std::string> encoded() const;
    // Reads a body back; every key but "reasoning" is required. Throws DecodingError.
    [[nodiscard]] static QNModelOpenAIResponsesRequest decode(std::string_view json);

    friend bool operator==(const QNModelOpenAIResponsesRequest&,
                           const QNModelOpenAIResponsesRequest&) = default;
};

// One event of the reply stream (one per "data:" line). Only `type` is required.
struct QNModelOpenAIStreamEvent {
    struct ErrorDetails {
        std::optional<std::string> message;
        friend bool operator==(const ErrorDetails&, const ErrorDetails&) = default;
    };
    struct IncompleteDetails {
        std::optional<std::string> reason;
        friend bool operator==(const IncompleteDetails&, const IncompleteDetails&) = default;
    };
    struct ResponseDetails {
        std::optional<QNModelCorrectionAPIMetadata> usage;
        std::optional<QNModelCorrectionAPIMetadata> metadata;
        std::optional<IncompleteDetails> incompleteDetails;  // "incomplete_details"
        friend bool operator==(const ResponseDetails&, const ResponseDetails&) = default;
    };

    std::string type;
    std::optional<std::string> delta;
    std::optional<std::string> text;
    std::optional<std::string> message;
    std::optional<ErrorDetails> error;
    std::optional<ResponseDetails> response;
    std::optional<QNModelCorrectionAPIMetadata> usage;
    std::optional<QNModelCorrectionAPIMetadata> metadata;

    // Reads one event from a JSON payload. Throws DecodingError when the payload is not a JSON
    // object, lacks "type", or has a member of the wrong type.
    [[nodiscard]] static QNModelOpenAIStreamEvent decode(std::string_view json);

    friend bool operator==(const QNModelOpenAIStreamEvent&,
                           const QNModelOpenAIStreamEvent&) = default;
};

// "ravlin-" followed by the eight-digit fingerprint of the instructions.
[[nodiscard]] std::string openAIPromptCacheKey(std::string_view instructions);

// Whether a model is sent the reasoning member: its name, trimmed and lower-cased, begins
// with "gpt-5".
[[nodiscard]] bool openAIModelTakesReasoning(std::string_view model);

// The most bytes of an error reply that are read.
inline constexpr std::size_t kOpenAIErrorBodyLimit = 8192;

// The text of the first bytes of an error reply, or absent when they are not UTF-8. `cutAtLimit`
// tells that the body may have gone on: a character cut in two at the end is then dropped
// rather than spoiling the whole text. Bytes past the limit are never looked at.
[[nodiscard]] std::optional<std::string> openAIErrorBodyText(std::string_view bytes,
                                                             bool cutAtLimit);

// The failure text of a reply whose status lies outside 200 to 299:
//   400 with a body containing "model_not_found"   "Model not found for your API key tier"
//   400 otherwise                                   "OpenAI rejected the request (400)"
//   401                                             "Invalid API key"
//   403                                             "Key authenticated but lacks access (403)"
//   429                                             "Rate limited — try again later"
//   500 to 599                                      "OpenAI is unavailable — try again later"
//   any other                                       "OpenAI HTTP " and the status
// The search is plain and case-sensitive.
[[nodiscard]] std::string openAIHTTPErrorMessage(int status,
                                                 const std::optional<std::string>& body);

}  // namespace ravlin
