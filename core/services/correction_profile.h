#pragma once

// Values for timing the correction path on fixed texts: the configuration read from environment
// values, the fixture scenarios, the phases of a run, and one metric per correction whose summary
// line starts with "PROFILE". The harness calls no engine: the caller corrects and measures, then
// builds a metric from the result and its own total time. Plain values, no threads.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "core/records/raw_value.h"
#include "core/records/result.h"

namespace ravlin {

enum class QNProfileCorrectionPhase {
    warmup,
    measure,
};

// "warmup", "measure".
[[nodiscard]] std::string_view toString(QNProfileCorrectionPhase phase);
template <>
[[nodiscard]] std::optional<QNProfileCorrectionPhase> fromString<QNProfileCorrectionPhase>(
    std::string_view raw);

enum class QNProfileCorrectionScenario {
    shortTypos,
    clean,
    longTypos,
};

// "short-typos", "clean", "long-typos".
[[nodiscard]] std::string_view toString(QNProfileCorrectionScenario scenario);
template <>
[[nodiscard]] std::optional<QNProfileCorrectionScenario> fromString<QNProfileCorrectionScenario>(
    std::string_view raw);

// Every scenario in declaration order.
[[nodiscard]] const std::array<QNProfileCorrectionScenario, 3>& allProfileCorrectionScenarios();
// The built-in text the scenario corrects.
[[nodiscard]] std::u16string fixtureText(QNProfileCorrectionScenario scenario);
// Exactly "clean" or "long-typos" chooses that scenario; anything else, absence included, is
// shortTypos.
[[nodiscard]] QNProfileCorrectionScenario profileScenario(
    const std::optional<std::string>& rawEnvironmentValue);

// Environment variables by name.
using QNProfileEnvironment = std::map<std::string, std::string>;

struct QNProfileCorrectionConfiguration {
    static constexpr std::int64_t kDefaultIterations = 5;
    static constexpr std::int64_t kDefaultWarmups = 1;

    bool isEnabled = false;
    QNProfileCorrectionScenario scenario = QNProfileCorrectionScenario::shortTypos;
    std::int64_t iterations = kDefaultIterations;  // at least 1
    std::int64_t warmups = kDefaultWarmups;        // at least 0
    bool exitAfterRun = true;

    QNProfileCorrectionConfiguration() = default;
    // Raises iterations below 1 to 1 and warm-ups below 0 to 0.
    QNProfileCorrectionConfiguration(bool isEnabled, QNProfileCorrectionScenario scenario,
                                     std::int64_t iterations, std::int64_t warmups,
                                     bool exitAfterRun);

    // Reads "QN_PROFILE_CORRECTION", "QN_PROFILE_SCENARIO", "QN_PROFILE_ITERATIONS",
    // "QN_PROFILE_WARMUPS" and "QN_PROFILE_EXIT_AFTER_RUN"; a missing or unusable value keeps
    // its default.
    [[nodiscard]] static QNProfileCorrectionConfiguration fromEnvironment(
        const QNProfileEnvironment& environment);

    friend bool operator==(const QNProfileCorrectionConfiguration&,
                           const QNProfileCorrectionConfiguration&) = default;
};

struct QNProfileCorrectionMetric {
    QNProfileCorrectionScenario scenario = QNProfileCorrectionScenario::shortTypos;
    QNProfileCorrectionPhase phase = QNProfileCorrectionPhase::measure;
    std::int64_t iteration = 0;
    std::int64_t inputCharacterCount = 0;
    std::int64_t approximateInputTokens = 0;
    std::optional<std::int64_t> maximumResponseTokens;  // absent when the input has no budget
    std::int64_t promptVersion = 0;
    std::string outcome;  // one word naming the outcome's case
    std::optional<double> modelLatencyMilliseconds;
    double totalLatencyMilliseconds = 0;
    std::int64_t outputCharacterCount = 0;
    std::int64_t notesCount = 0;

    QNProfileCorrectionMetric() = default;
    QNProfileCorrectionMetric(QNProfileCorrectionScenario scenario, QNProfileCorrectionPhase phase,
                              std::int64_t iteration, std::u16string_view input,
                              const QNModelCorrectionResult& result,
                              double totalLatencyMilliseconds, std::int64_t promptVersion);

    // "PROFILE scenario=… phase=… iteration=… input_chars=… approx_tokens=…
    // max_response_tokens=… prompt_version=… outcome=… model_ms=… total_ms=… output_chars=…
    // notes=…" on one line.
    [[nodiscard]] std::string summaryLine() const;

    friend bool operator==(const QNProfileCorrectionMetric&,
                           const QNProfileCorrectionMetric&) = default;
};

// The word naming an outcome's case ("skipped", …, "unchanged"), without its reason.
[[nodiscard]] std::string_view outcomeWord(const QNModelCorrectionOutcome& outcome);

}  // namespace ravlin
