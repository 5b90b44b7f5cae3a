#pragma once

// Structured notes: what each step of a correction did, as stage + rule + key + value, so
// notes can be filtered, compared, encoded and printed without user text.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "core/records/raw_value.h"

namespace ravlin {

enum class QNCorrectionStageID {
    preflightLocal,
    dispatchDecision,
    availability,
    modelCall,
    sanitize,
    echoStrip,
    misbehaviorDetect,
    degradationGuard,
    postflightLocal,
    apply,
    unknown,
};

[[nodiscard]] std::string_view toString(QNCorrectionStageID stage);
template <>
[[nodiscard]] std::optional<QNCorrectionStageID> fromString<QNCorrectionStageID>(
    std::string_view raw);

// The key that marks a plain-text note: its value is the whole sentence.
inline constexpr std::string_view kLegacyNoteTextKey = "__legacy_note_text__";

struct QNCorrectionNote {
    QNCorrectionStageID stageID = QNCorrectionStageID::unknown;
    std::optional<std::string> ruleID;
    std::string key;
    std::string value;

    // A plain-text note carrying `text` under the marker key.
    [[nodiscard]] static QNCorrectionNote plain(
        std::string text, QNCorrectionStageID stage = QNCorrectionStageID::unknown,
        std::optional<std::string> ruleID = std::nullopt);

    [[nodiscard]] bool isPlainText() const { return key == kLegacyNoteTextKey; }
    // The note's line in a text view: the value alone for a plain-text note, else "key: value".
    [[nodiscard]] std::string text() const;

    // Same stage, rule identifiers both absent or both present and equal, equal keys and values
    // (texts by canonical equivalence).
    friend bool operator==(const QNCorrectionNote& a, const QNCorrectionNote& b);
};

// Plain texts -> plain-text notes (stage unknown, no rule), in order.
[[nodiscard]] std::vector<QNCorrectionNote> wrapPlainNotes(const std::vector<std::string>& texts);
// Notes -> their lines, in order.
[[nodiscard]] std::vector<std::string> noteTexts(const std::vector<QNCorrectionNote>& notes);

// JSON form: {"stageID": raw, "ruleID"?: text, "key": text, "value": text}. Decoding throws
// DecodingError (unknown stage text, missing or mistyped "stageID", "key" or "value").
void to_json(nlohmann::json& json, const QNCorrectionNote& note);
void from_json(const nlohmann::json& json, QNCorrectionNote& note);
void to_json(nlohmann::json& json, QNCorrectionStageID stage);
void from_json(const nlohmann::json& json, QNCorrectionStageID& stage);

}  // namespace ravlin
