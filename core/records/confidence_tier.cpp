#include "core/records/confidence_tier.h"

#include <array>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>

namespace ravlin {
namespace {

constexpr std::array<std::pair<ConfidenceTier, std::string_view>, 3> kTierNames{{
    {ConfidenceTier::eager, "eager"},
    {ConfidenceTier::tentative, "tentative"},
    {ConfidenceTier::streaming, "streaming"},
}};

}  // namespace

std::string_view toString(ConfidenceTier tier) {
    for (const auto& [value, name] : kTierNames) {
        if (value == tier) {
            return name;
        }
    }
    return "eager";
}

template <>
std::optional<ConfidenceTier> fromString<ConfidenceTier>(std::string_view raw) {
    for (const auto& [value, name] : kTierNames) {
        if (name == raw) {
            return value;
        }
    }
    return std::nullopt;
}

void to_json(nlohmann::json& json, ConfidenceTier tier) {
    json = std::string(toString(tier));
}

void from_json(const nlohmann::json& json, ConfidenceTier& tier) {
    if (!json.is_string()) {
        throw DecodingError(DecodingError::Kind::typeMismatch,
                            "expected a text for a confidence tier");
    }
    auto decoded = fromString<ConfidenceTier>(json.get_ref<const std::string&>());
    if (!decoded) {
        throw DecodingError(DecodingError::Kind::dataCorrupted, "unknown confidence tier");
    }
    tier = *decoded;
}

}  // namespace ravlin
