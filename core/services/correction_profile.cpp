#include "core/services/correction_profile.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "core/services/token_budget.h"
#include "core/text/unicode.h"

namespace ravlin {

namespace {

constexpr std::string_view kEnabledKey = "QN_PROFILE_CORRECTION";
constexpr std::string_view kScenarioKey = "QN_PROFILE_SCENARIO";
constexpr std::string_view kIterationsKey = "QN_PROFILE_ITERATIONS";
constexpr std::string_view kWarmupsKey = "QN_PROFILE_WARMUPS";
constexpr std::string_view kExitAfterRunKey = "QN_PROFILE_EXIT_AFTER_RUN";

std::optional<std::string> lookup(const QNProfileEnvironment& environment, std::string_view key) {
    const auto found = environment.find(std::string(key));
    if (found == environment.end()) {
        return std::nullopt;
    }
    return found->second;
}

// Trimmed and lower-cased: "1", "true", "yes", "y" are true; "0", "false", "no", "n" false;
// anything else has no value.
std::optional<bool> flag(const std::optional<std::string>& value) {
    if (!value) {
        return std::nullopt;
    }
    const auto word = text::lowercased(text::trimmed(std::string_view(*value)));
    if (word == "1" || word == "true" || word == "yes" || word == "y") {
        return true;
    }
    if (word == "0" || word == "false" || word == "no" || word == "n") {
        return false;
    }
    return std::nullopt;
}

// A decimal integer in the signed 64-bit range: an optional sign, then ASCII digits only.
std::optional<std::int64_t> integer(const std::optional<std::string>& value) {
    if (!value) {
        return std::nullopt;
    }
    std::string_view digits = *value;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty() ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    // Accumulate negatively so that the smallest value fits.
    std::int64_t result = 0;
    constexpr auto lowest = std::numeric_limits<std::int64_t>::min();
    for (const char c : digits) {
        const int digit = c - '0';
        if (result < (lowest + digit) / 10) {
            return std::nullopt;
        }
        result = result * 10 - digit;
    }
    if (!negative) {
        if (result == lowest) {
            return std::nullopt;
        }
        result = -result;
    }
    return result;
}

std::string formatHundredths(double value) {
    char buffer[400];
    const auto end =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 2);
    return std::string(buffer, end.ptr);
}

}  // namespace

std::string_view toString(QNProfileCorrectionPhase phase) {
    switch (phase) {
        case QNProfileCorrectionPhase::warmup:
            return "warmup";
        case QNProfileCorrectionPhase::measure:
            return "measure";
    }
    return "measure";
}

template <>
std::optional<QNProfileCorrectionPhase> fromString<QNProfileCorrectionPhase>(std::string_view raw) {
    if (raw == "warmup") {
        return QNProfileCorrectionPhase::warmup;
    }
    if (raw == "measure") {
        return QNProfileCorrectionPhase::measure;
    }
    return std::nullopt;
}

std::string_view toString(QNProfileCorrectionScenario scenario) {
    switch (scenario) {
        case QNProfileCorrectionScenario::shortTypos:
            return "short-typos";
        case QNProfileCorrectionScenario::clean:
            return "clean";
        case QNProfileCorrectionScenario::longTypos:
            return "long-typos";
    }
    return "short-typos";
}

template <>
std::optional<QNProfileCorrectionScenario> fromString<QNProfileCorrectionScenario>(
    std::string_view raw) {
    for (const auto scenario : allProfileCorrectionScenarios()) {
        if (raw == toString(scenario)) {
            return scenario;
        }
    }
    return std::nullopt;
}

const std::array<QNProfileCorrectionScenario, 3>& allProfileCorrectionScenarios() {
    static constexpr std::array<QNProfileCorrectionScenario, 3> all{
        QNProfileCorrectionScenario::shortTypos, QNProfileCorrectionScenario::clean,
        QNProfileCorrectionScenario::longTypos};
    return all;
}

std::u16string fixtureText(QNProfileCorrectionScenario scenario) {
    switch (scenario) {
        case QNProfileCorrectionScenario::shortTypos:
            return u"i wanted to tlel you about the the demoo we made";
        case QNProfileCorrectionScenario::clean:
            return u"This is a clean paragraph for measuring the unchanged correction path.";
        case QNProfileCorrectionScenario::longTypos:
            return u"Would this work i thinkg so this owkr like magic again no changes are "
                   u"aplleid\n"
                   u"this is helpful for tping while you are tping fast and trying to keep the "
                   u"sentence moving\n"
                   u"i recieved teh weird note from a freind and didnt know taht it was alot to "
                   u"fix";
    }
    return {};
}

QNProfileCorrectionScenario profileScenario(const std::optional<std::string>& rawEnvironmentValue) {
    if (rawEnvironmentValue == "clean") {
        return QNProfileCorrectionScenario::clean;
    }
    if (rawEnvironmentValue == "long-typos") {
        return QNProfileCorrectionScenario::longTypos;
    }
    return QNProfileCorrectionScenario::shortTypos;
}

QNProfileCorrectionConfiguration::QNProfileCorrectionConfiguration(
    bool isEnabled, QNProfileCorrectionScenario scenario, std::int64_t iterations,
    std::int64_t warmups, bool exitAfterRun)
    : isEnabled(isEnabled),
      scenario(scenario),
      iterations(std::max<std::int64_t>(iterations, 1)),
      warmups(std::max<std::int64_t>(warmups, 0)),
      exitAfterRun(exitAfterRun) {}

QNProfileCorrectionConfiguration QNProfileCorrectionConfiguration::fromEnvironment(
    const QNProfileEnvironment& environment) {
    const auto iterations = integer(lookup(environment, kIterationsKey));
    const auto warmups = integer(lookup(environment, kWarmupsKey));
    return QNProfileCorrectionConfiguration(
        flag(lookup(environment, kEnabledKey)).value_or(false),
        profileScenario(lookup(environment, kScenarioKey)),
        iterations && *iterations > 0 ? *iterations : kDefaultIterations,
        warmups && *warmups >= 0 ? *warmups : kDefaultWarmups,
        flag(lookup(environment, kExitAfterRunKey)).value_or(true));
}

std::string_view outcomeWord(const QNModelCorrectionOutcome& outcome) {
    using Kind = QNModelCorrectionOutcome::Kind;
    switch (outcome.kind) {
        case Kind::skipped:
            return "skipped";
        case Kind::unavailable:
            return "unavailable";
        case Kind::rejected:
            return "rejected";
        case Kind::failed:
            return "failed";
        case Kind::corrected:
            return "corrected";
        case Kind::unchanged:
            return "unchanged";
    }
    return "unchanged";
}

QNProfileCorrectionMetric::QNProfileCorrectionMetric(
    QNProfileCorrectionScenario scenario, QNProfileCorrectionPhase phase, std::int64_t iteration,
    std::u16string_view input, const QNModelCorrectionResult& result,
    double totalLatencyMilliseconds, std::int64_t promptVersion)
    : scenario(scenario),
      phase(phase),
      iteration(iteration),
      inputCharacterCount(text::characterCount(input)),
      promptVersion(promptVersion),
      outcome(outcomeWord(result.outcome)),
      modelLatencyMilliseconds(result.latencyMilliseconds),
      totalLatencyMilliseconds(totalLatencyMilliseconds),
      outputCharacterCount(text::characterCount(result.output)),
      notesCount(static_cast<std::int64_t>(result.structuredNotes.size())) {
    if (const auto budget = QNModelTokenBudget::budget(input)) {
        approximateInputTokens = budget->approximateInputTokens;
        maximumResponseTokens = budget->maximumResponseTokens;
    } else {
        approximateInputTokens = QNModelTokenBudget::approximateTokenCount(input);
    }
}

std::string QNProfileCorrectionMetric::summaryLine() const {
    std::string line = "PROFILE";
    const auto item = [&line](std::string_view name, std::string_view value) {
        line += ' ';
        line += name;
        line += '=';
        line += value;
    };
    item("scenario", toString(scenario));
    item("phase", toString(phase));
    item("iteration", std::to_string(iteration));
    item("input_chars", std::to_string(inputCharacterCount));
    item("approx_tokens", std::to_string(approximateInputTokens));
    item("max_response_tokens",
         maximumResponseTokens ? std::to_string(*maximumResponseTokens) : "none");
    item("prompt_version", std::to_string(promptVersion));
    item("outcome", outcome);
    item("model_ms",
         modelLatencyMilliseconds ? formatHundredths(*modelLatencyMilliseconds) : "nil");
    item("total_ms", formatHundredths(totalLatencyMilliseconds));
    item("output_chars", std::to_string(outputCharacterCount));
    item("notes", std::to_string(notesCount));
    return line;
}

}  // namespace ravlin
