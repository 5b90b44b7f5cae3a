#pragma once

// The on-device language model as the on-device provider sees it: whether the device can run
// it (and why not), sessions made with instructions, prewarming, and a greedy streaming
// generation of one structured text field that delivers growing snapshots. A backend implements
// it; on Linux the system backend reports the device as not eligible, and tests use a scripted
// backend.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

namespace ravlin::ondevice {

enum class UnavailableReason {
    deviceNotEligible,
    appleIntelligenceNotEnabled,
    modelNotReady,
    other,
};

struct ModelAvailability {
    bool isAvailable = false;
    UnavailableReason reason = UnavailableReason::other;  // meaningful when not available

    [[nodiscard]] static ModelAvailability available() { return {true, UnavailableReason::other}; }
    [[nodiscard]] static ModelAvailability unavailable(UnavailableReason why) {
        return {false, why};
    }
};

// What to generate: a type with one text property, described to the model.
struct GenerationSchema {
    std::string typeName;
    std::string propertyName;
    std::string propertyDescription;
};

struct GenerationOptions {
    bool greedySampling = true;
    std::optional<double> temperature;
    std::int64_t maximumResponseTokens = 0;
};

// One snapshot of the partially generated answer: the property's text so far, if any.
struct Snapshot {
    std::optional<std::u16string> text;
};

// How a response stream ended.
struct StreamEnd {
    enum class Kind { finished, cancelled, error };
    Kind kind = Kind::finished;
    std::string errorDescription;  // for `error`: the error's human-readable description

    [[nodiscard]] static StreamEnd finished() { return {Kind::finished, {}}; }
    [[nodiscard]] static StreamEnd cancelled() { return {Kind::cancelled, {}}; }
    [[nodiscard]] static StreamEnd error(std::string description) {
        return {Kind::error, std::move(description)};
    }
};

class LanguageModelSession {
  public:
    virtual ~LanguageModelSession() = default;

    // Loads what the session needs so that its first response starts quickly; blocks until it
    // is done. A stop request may end it early.
    virtual void prewarm(std::stop_token stop) = 0;

    // Streams the answer to `prompt`, calling `onSnapshot` for each snapshot in order, on the
    // calling thread; blocks until the stream ends. A stop request ends the stream as
    // `cancelled`; `onSnapshot` returning false stops reading (the stream then ends `finished`).
    virtual StreamEnd streamResponse(const std::u16string& prompt, const GenerationSchema& schema,
                                     bool includeSchemaInPrompt, const GenerationOptions& options,
                                     std::stop_token stop,
                                     const std::function<bool(const Snapshot&)>& onSnapshot) = 0;
};

class LanguageModel {
  public:
    virtual ~LanguageModel() = default;

    [[nodiscard]] virtual ModelAvailability availability() const = 0;
    // A new session with no tools and the given instructions.
    [[nodiscard]] virtual std::shared_ptr<LanguageModelSession> makeSession(
        const std::string& instructions) = 0;

    // The system's default model. This platform has no on-device language model, so it is
    // always unavailable with `deviceNotEligible`.
    [[nodiscard]] static std::shared_ptr<LanguageModel> systemDefault();
};

}  // namespace ravlin::ondevice
