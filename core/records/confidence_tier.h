#pragma once

// How sure the system is of a change: applied at once, needing confirmation, or model text
// that is still streaming and may be rolled back.

#include <optional>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

#include "core/records/raw_value.h"

namespace ravlin {

enum class ConfidenceTier {
    eager,
    tentative,
    streaming,
};

[[nodiscard]] std::string_view toString(ConfidenceTier tier);
template <>
[[nodiscard]] std::optional<ConfidenceTier> fromString<ConfidenceTier>(std::string_view raw);

// Encoded as its raw text; decoding any other text throws DecodingError (dataCorrupted), a
// value that is not a text throws DecodingError (typeMismatch).
void to_json(nlohmann::json& json, ConfidenceTier tier);
void from_json(const nlohmann::json& json, ConfidenceTier& tier);

}  // namespace ravlin
