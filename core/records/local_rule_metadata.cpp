#include "core/records/local_rule_metadata.h"

#include <nlohmann/json.hpp>

namespace ravlin {
namespace {

const nlohmann::json& requiredKey(const nlohmann::json& json, const char* key) {
    auto found = json.find(key);
    if (found == json.end()) {
        throw DecodingError(DecodingError::Kind::keyNotFound, std::string("missing key ") + key);
    }
    return *found;
}

[[noreturn]] void mistyped(const char* key, const char* expected) {
    throw DecodingError(DecodingError::Kind::typeMismatch,
                        std::string("expected ") + expected + " for " + key);
}

}  // namespace

void to_json(nlohmann::json& json, const LocalFixRuleMetadata& metadata) {
    json = nlohmann::json::object();
    json["description"] = metadata.description;
    json["defaultTier"] = metadata.defaultTier;
    json["appliesLocally"] = metadata.appliesLocally;
    if (metadata.minTokenLength) {
        json["minTokenLength"] = *metadata.minTokenLength;
    }
    json["custom"] = metadata.custom;
}

void from_json(const nlohmann::json& json, LocalFixRuleMetadata& metadata) {
    if (!json.is_object()) {
        throw DecodingError(DecodingError::Kind::typeMismatch,
                            "expected an object for rule metadata");
    }
    LocalFixRuleMetadata decoded;

    const auto& description = requiredKey(json, "description");
    if (!description.is_string()) {
        mistyped("description", "a text");
    }
    decoded.description = description.get<std::string>();

    decoded.defaultTier = requiredKey(json, "defaultTier").get<ConfidenceTier>();

    const auto& appliesLocally = requiredKey(json, "appliesLocally");
    if (!appliesLocally.is_boolean()) {
        mistyped("appliesLocally", "a Boolean");
    }
    decoded.appliesLocally = appliesLocally.get<bool>();

    if (auto found = json.find("minTokenLength"); found != json.end() && !found->is_null()) {
        if (!found->is_number_integer()) {
            mistyped("minTokenLength", "an integer");
        }
        if (found->is_number_unsigned() && found->get<std::uint64_t>() > INT64_MAX) {
            mistyped("minTokenLength", "a signed 64-bit integer");
        }
        decoded.minTokenLength = found->get<std::int64_t>();
    }

    const auto& custom = requiredKey(json, "custom");
    if (!custom.is_object()) {
        mistyped("custom", "an object of texts");
    }
    for (const auto& [key, value] : custom.items()) {
        if (!value.is_string()) {
            mistyped("custom", "an object of texts");
        }
        decoded.custom.emplace(key, value.get<std::string>());
    }

    metadata = std::move(decoded);
}

}  // namespace ravlin
