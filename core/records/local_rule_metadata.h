#pragma once

// What a local fix rule declares about itself: its description, the tier of its changes when
// the tier policy has no entry for it, whether it may change text without a model at all, the
// shortest token it acts on and further descriptive entries.

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "core/records/confidence_tier.h"

namespace ravlin {

struct LocalFixRuleMetadata {
    std::string description;
    ConfidenceTier defaultTier = ConfidenceTier::eager;
    bool appliesLocally = true;
    std::optional<std::int64_t> minTokenLength;
    std::map<std::string, std::string> custom;

    friend bool operator==(const LocalFixRuleMetadata&, const LocalFixRuleMetadata&) = default;
};

// JSON form: {"description", "defaultTier", "appliesLocally", "minTokenLength"?, "custom"}.
// "minTokenLength" is written only when present and reads as absent when missing or null; the
// other four keys are required (DecodingError keyNotFound); other keys are ignored.
void to_json(nlohmann::json& json, const LocalFixRuleMetadata& metadata);
void from_json(const nlohmann::json& json, LocalFixRuleMetadata& metadata);

}  // namespace ravlin
