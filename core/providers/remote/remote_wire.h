#pragma once

// The small JSON format of a generic online correction endpoint: one request body posted with
// a bearer token, one JSON reply holding the corrected text and, optionally, usage figures.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/records/usage_decoding.h"

namespace ravlin {

// The request body. JSON members, in this order: "model", "instructions", "input",
// "maximumResponseTokens", then "localeIdentifier" and "prompt_version" only when present.
struct QNModelRemoteCorrectionRequest {
    std::string model;
    std::string instructions;
    std::string input;
    std::int64_t maximumResponseTokens = 0;
    std::optional<std::string> localeIdentifier;
    std::optional<std::string> promptVersion;  // "prompt_version"

    // The compact JSON body. Absent when a text is not UTF-8.
    [[nodiscard]] std::optional<std::string> encoded() const;
    // Reads a body back. Throws DecodingError.
    [[nodiscard]] static QNModelRemoteCorrectionRequest decode(std::string_view json);

    friend bool operator==(const QNModelRemoteCorrectionRequest&,
                           const QNModelRemoteCorrectionRequest&) = default;
};

// The reply body: "correctedText" (a string, required) and "metadata" (a token-count object
// read leniently, optional). Other members are ignored.
struct QNModelRemoteCorrectionResponse {
    std::string correctedText;
    std::optional<QNModelCorrectionAPIMetadata> metadata;

    // Throws DecodingError when the body is not a JSON object, "correctedText" is missing or not
    // a string, or "metadata" is present but not an object.
    [[nodiscard]] static QNModelRemoteCorrectionResponse decode(std::string_view json);

    friend bool operator==(const QNModelRemoteCorrectionResponse&,
                           const QNModelRemoteCorrectionResponse&) = default;
};

// The most bytes of a reply body that are kept; a longer reply is refused as malformed.
inline constexpr std::size_t kRemoteCorrectionReplyLimit = 1024 * 1024;

// The failure text for a reply status: absent for 200 to 299, else "Online correction HTTP "
// followed by the status.
[[nodiscard]] std::optional<std::string> remoteCorrectionStatusFailure(int status);

}  // namespace ravlin
