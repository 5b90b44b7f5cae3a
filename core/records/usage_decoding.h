#pragma once

// Token counts and latency as model services report them, under many member names: camel or
// snake case, prompt or input, completion or output, at the top level or inside a usage object,
// cached tokens inside a details object, latency in milliseconds or seconds, numbers as JSON
// numbers or as numeric text. Decoding is lenient: a member that cannot be read is passed over.

#include <cstdint>
#include <optional>

#include <nlohmann/json_fwd.hpp>

namespace ravlin {

struct QNModelCorrectionAPIMetadata {
    std::optional<std::int64_t> inputTokens;
    std::optional<std::int64_t> outputTokens;
    std::optional<std::int64_t> totalTokens;
    std::optional<std::int64_t> cachedTokens;
    std::optional<double> latencyMilliseconds;

    // Reads the record from a JSON object. Throws DecodingError (typeMismatch) only when `json`
    // is not an object; every field that cannot be found or read is absent. A count that is not
    // a finite number within the signed 64-bit range once rounded, or that is a boolean, is
    // unreadable.
    [[nodiscard]] static QNModelCorrectionAPIMetadata decode(const nlohmann::json& json);

    friend bool operator==(const QNModelCorrectionAPIMetadata&,
                           const QNModelCorrectionAPIMetadata&) = default;
};

void from_json(const nlohmann::json& json, QNModelCorrectionAPIMetadata& metadata);

}  // namespace ravlin
