#include "core/records/note.h"

#include <array>
#include <utility>

#include <nlohmann/json.hpp>

#include "core/records/text_equality.h"

namespace ravlin {
namespace {

constexpr std::array<std::pair<QNCorrectionStageID, std::string_view>, 11> kStageNames{{
    {QNCorrectionStageID::preflightLocal, "preflightLocal"},
    {QNCorrectionStageID::dispatchDecision, "dispatchDecision"},
    {QNCorrectionStageID::availability, "availability"},
    {QNCorrectionStageID::modelCall, "modelCall"},
    {QNCorrectionStageID::sanitize, "sanitize"},
    {QNCorrectionStageID::echoStrip, "echoStrip"},
    {QNCorrectionStageID::misbehaviorDetect, "misbehaviorDetect"},
    {QNCorrectionStageID::degradationGuard, "degradationGuard"},
    {QNCorrectionStageID::postflightLocal, "postflightLocal"},
    {QNCorrectionStageID::apply, "apply"},
    {QNCorrectionStageID::unknown, "unknown"},
}};

const nlohmann::json& requiredString(const nlohmann::json& json, const char* key) {
    auto found = json.find(key);
    if (found == json.end()) {
        throw DecodingError(DecodingError::Kind::keyNotFound, std::string("missing key ") + key);
    }
    if (!found->is_string()) {
        throw DecodingError(DecodingError::Kind::typeMismatch,
                            std::string("expected a text for ") + key);
    }
    return *found;
}

}  // namespace

std::string_view toString(QNCorrectionStageID stage) {
    for (const auto& [value, name] : kStageNames) {
        if (value == stage) {
            return name;
        }
    }
    return "unknown";
}

template <>
std::optional<QNCorrectionStageID> fromString<QNCorrectionStageID>(std::string_view raw) {
    for (const auto& [value, name] : kStageNames) {
        if (name == raw) {
            return value;
        }
    }
    return std::nullopt;
}

QNCorrectionNote QNCorrectionNote::plain(std::string text, QNCorrectionStageID stage,
                                         std::optional<std::string> ruleID) {
    return QNCorrectionNote{stage, std::move(ruleID), std::string(kLegacyNoteTextKey),
                            std::move(text)};
}

std::string QNCorrectionNote::text() const {
    if (isPlainText()) {
        return value;
    }
    return key + ": " + value;
}

bool operator==(const QNCorrectionNote& a, const QNCorrectionNote& b) {
    return a.stageID == b.stageID && records::sameOptionalText(a.ruleID, b.ruleID) &&
           records::sameText(a.key, b.key) && records::sameText(a.value, b.value);
}

std::vector<QNCorrectionNote> wrapPlainNotes(const std::vector<std::string>& texts) {
    std::vector<QNCorrectionNote> notes;
    notes.reserve(texts.size());
    for (const auto& text : texts) {
        notes.push_back(QNCorrectionNote::plain(text));
    }
    return notes;
}

std::vector<std::string> noteTexts(const std::vector<QNCorrectionNote>& notes) {
    std::vector<std::string> lines;
    lines.reserve(notes.size());
    for (const auto& note : notes) {
        lines.push_back(note.text());
    }
    return lines;
}

void to_json(nlohmann::json& json, QNCorrectionStageID stage) {
    json = std::string(toString(stage));
}

void from_json(const nlohmann::json& json, QNCorrectionStageID& stage) {
    if (!json.is_string()) {
        throw DecodingError(DecodingError::Kind::typeMismatch, "stage identifier is not a text");
    }
    auto parsed = fromString<QNCorrectionStageID>(json.get_ref<const std::string&>());
    if (!parsed) {
        throw DecodingError(DecodingError::Kind::dataCorrupted, "unknown stage identifier");
    }
    stage = *parsed;
}

void to_json(nlohmann::json& json, const QNCorrectionNote& note) {
    json = nlohmann::json::object();
    json["stageID"] = std::string(toString(note.stageID));
    if (note.ruleID) {
        json["ruleID"] = *note.ruleID;
    }
    json["key"] = note.key;
    json["value"] = note.value;
}

void from_json(const nlohmann::json& json, QNCorrectionNote& note) {
    if (!json.is_object()) {
        throw DecodingError(DecodingError::Kind::typeMismatch, "note is not an object");
    }
    QNCorrectionNote decoded;
    from_json(requiredString(json, "stageID"), decoded.stageID);
    if (auto rule = json.find("ruleID"); rule != json.end() && !rule->is_null()) {
        if (!rule->is_string()) {
            throw DecodingError(DecodingError::Kind::typeMismatch, "ruleID is not a text");
        }
        decoded.ruleID = rule->get<std::string>();
    }
    decoded.key = requiredString(json, "key").get<std::string>();
    decoded.value = requiredString(json, "value").get<std::string>();
    note = std::move(decoded);
}

}  // namespace ravlin
