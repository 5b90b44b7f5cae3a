#include "core/records/usage_decoding.h"

#include <array>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <span>
#include <string>
#include <string_view>

#include <locale.h>

#include <nlohmann/json.hpp>

#include "core/records/raw_value.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

using Json = nlohmann::json;
using Names = std::span<const std::string_view>;

constexpr auto kUsageObjectNames =
    std::to_array<std::string_view>({"usage", "tokenUsage", "token_usage", "tokens"});
constexpr auto kInputNames = std::to_array<std::string_view>(
    {"inputTokens", "input_tokens", "promptTokens", "prompt_tokens"});
constexpr auto kOutputNames = std::to_array<std::string_view>(
    {"outputTokens", "output_tokens", "completionTokens", "completion_tokens"});
constexpr auto kTotalNames = std::to_array<std::string_view>({"totalTokens", "total_tokens"});
constexpr auto kDetailsObjectNames =
    std::to_array<std::string_view>({"input_tokens_details", "prompt_tokens_details"});
constexpr auto kCachedNames = std::to_array<std::string_view>(
    {"cachedTokens", "cached_tokens", "tokens_cached", "inputTokensCached", "input_tokens_cached",
     "promptTokensCached", "prompt_tokens_cached"});
constexpr auto kCachedDetailNames =
    std::to_array<std::string_view>({"cachedTokens", "cached_tokens"});
constexpr auto kMillisecondNames = std::to_array<std::string_view>(
    {"latencyMilliseconds", "latencyMs", "latency_ms", "durationMilliseconds", "durationMs",
     "duration_ms", "elapsedMilliseconds", "elapsedMs", "elapsed_ms", "responseMilliseconds",
     "responseMs", "response_ms", "timeTakenMilliseconds", "timeTakenMs", "time_taken_ms",
     "timeTaken", "time_taken"});
constexpr auto kSecondNames = std::to_array<std::string_view>(
    {"latencySeconds", "latency_seconds", "durationSeconds", "duration_seconds", "elapsedSeconds",
     "elapsed_seconds", "responseSeconds", "response_seconds", "timeTakenSeconds",
     "time_taken_seconds"});

const Json* member(const Json* object, std::string_view name) {
    if (object == nullptr || !object->is_object()) {
        return nullptr;
    }
    auto found = object->find(name);
    return found == object->end() ? nullptr : &*found;
}

const Json* objectNamed(const Json* object, Names names) {
    for (auto name : names) {
        if (const Json* value = member(object, name); value != nullptr && value->is_object()) {
            return value;
        }
    }
    return nullptr;
}

// A text read the way strtod reads it in the C locale, after trimming whitespace and line
// breaks; accepted only when the number takes up the whole trimmed text.
std::optional<double> numberInText(const std::string& raw) {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    std::string trimmed = text::trimmed(std::string_view(raw));
    if (trimmed.empty() || cLocale == static_cast<locale_t>(nullptr)) {
        return std::nullopt;
    }
    char* end = nullptr;
    double value = strtod_l(trimmed.c_str(), &end, cLocale);
    if (end != trimmed.c_str() + trimmed.size()) {
        return std::nullopt;
    }
    return value;
}

// A floating-point count rounded to the nearest integer, halves away from zero. Values whose
// rounded form is not finite or lies outside the signed 64-bit range have no integer form.
std::optional<std::int64_t> roundedCount(double value) {
    if (!std::isfinite(value)) {
        return std::nullopt;
    }
    double rounded = std::round(value);
    // -2^63 is exactly representable; 2^63 is the first value past the range.
    constexpr double kLowest = -9223372036854775808.0;
    constexpr double kPastHighest = 9223372036854775808.0;
    if (!(rounded >= kLowest && rounded < kPastHighest)) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(rounded);
}

std::optional<std::int64_t> countValue(const Json& value) {
    switch (value.type()) {
        case Json::value_t::number_integer:
            return value.get<std::int64_t>();
        case Json::value_t::number_unsigned: {
            auto unsignedValue = value.get<std::uint64_t>();
            if (unsignedValue <=
                static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
                return static_cast<std::int64_t>(unsignedValue);
            }
            return roundedCount(static_cast<double>(unsignedValue));
        }
        case Json::value_t::number_float:
            return roundedCount(value.get<double>());
        case Json::value_t::string:
            if (auto number = numberInText(value.get_ref<const std::string&>())) {
                return roundedCount(*number);
            }
            return std::nullopt;
        default:  // null, booleans, objects, arrays, binary: not a count
            return std::nullopt;
    }
}

std::optional<double> numberValue(const Json& value) {
    switch (value.type()) {
        case Json::value_t::number_integer:
        case Json::value_t::number_unsigned:
        case Json::value_t::number_float:
            return value.get<double>();
        case Json::value_t::string:
            return numberInText(value.get_ref<const std::string&>());
        default:
            return std::nullopt;
    }
}

std::optional<std::int64_t> countNamed(const Json* object, Names names) {
    for (auto name : names) {
        if (const Json* value = member(object, name)) {
            if (auto count = countValue(*value)) {
                return count;
            }
        }
    }
    return std::nullopt;
}

std::optional<double> numberNamed(const Json* object, Names names) {
    for (auto name : names) {
        if (const Json* value = member(object, name)) {
            if (auto number = numberValue(*value)) {
                return number;
            }
        }
    }
    return std::nullopt;
}

std::optional<double> inMilliseconds(std::optional<double> seconds) {
    if (seconds) {
        return *seconds * 1000.0;
    }
    return std::nullopt;
}

}  // namespace

QNModelCorrectionAPIMetadata QNModelCorrectionAPIMetadata::decode(const Json& json) {
    if (!json.is_object()) {
        throw DecodingError(DecodingError::Kind::typeMismatch,
                            "usage metadata is not a keyed value");
    }
    const Json* top = &json;
    const Json* usage = objectNamed(top, kUsageObjectNames);

    QNModelCorrectionAPIMetadata metadata;
    metadata.inputTokens = countNamed(top, kInputNames);
    if (!metadata.inputTokens) {
        metadata.inputTokens = countNamed(usage, kInputNames);
    }
    metadata.outputTokens = countNamed(top, kOutputNames);
    if (!metadata.outputTokens) {
        metadata.outputTokens = countNamed(usage, kOutputNames);
    }
    metadata.totalTokens = countNamed(top, kTotalNames);
    if (!metadata.totalTokens) {
        metadata.totalTokens = countNamed(usage, kTotalNames);
    }

    const Json* details = objectNamed(usage, kDetailsObjectNames);
    if (details == nullptr) {
        details = objectNamed(top, kDetailsObjectNames);
    }
    metadata.cachedTokens = countNamed(top, kCachedNames);
    if (!metadata.cachedTokens) {
        metadata.cachedTokens = countNamed(usage, kCachedNames);
    }
    if (!metadata.cachedTokens) {
        metadata.cachedTokens = countNamed(details, kCachedDetailNames);
    }

    metadata.latencyMilliseconds = numberNamed(top, kMillisecondNames);
    if (!metadata.latencyMilliseconds) {
        metadata.latencyMilliseconds = inMilliseconds(numberNamed(top, kSecondNames));
    }
    if (!metadata.latencyMilliseconds) {
        metadata.latencyMilliseconds = numberNamed(usage, kMillisecondNames);
    }
    if (!metadata.latencyMilliseconds) {
        metadata.latencyMilliseconds = inMilliseconds(numberNamed(usage, kSecondNames));
    }
    return metadata;
}

void from_json(const Json& json, QNModelCorrectionAPIMetadata& metadata) {
    metadata = QNModelCorrectionAPIMetadata::decode(json);
}

}  // namespace ravlin
