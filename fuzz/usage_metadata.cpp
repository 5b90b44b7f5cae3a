// Feeds arbitrary bytes through the usage-metadata decoder. Bytes that parse as JSON are decoded
// as they are; other inputs drive a generator that builds objects from the member names the
// decoder looks for, with values of every kind (huge and non-finite numbers, numeric and
// non-numeric texts, booleans, nested objects), so the lookups and conversions are reached
// quickly. Only a DecodingError for a non-object is an expected failure.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include <fuzzer/FuzzedDataProvider.h>
#include <nlohmann/json.hpp>

#include "core/records/raw_value.h"
#include "core/records/usage_decoding.h"

namespace {

using Json = nlohmann::json;

constexpr const char* kNames[] = {"usage",
                                  "tokenUsage",
                                  "token_usage",
                                  "tokens",
                                  "inputTokens",
                                  "input_tokens",
                                  "promptTokens",
                                  "prompt_tokens",
                                  "outputTokens",
                                  "output_tokens",
                                  "completionTokens",
                                  "completion_tokens",
                                  "totalTokens",
                                  "total_tokens",
                                  "input_tokens_details",
                                  "prompt_tokens_details",
                                  "cachedTokens",
                                  "cached_tokens",
                                  "tokens_cached",
                                  "inputTokensCached",
                                  "input_tokens_cached",
                                  "promptTokensCached",
                                  "prompt_tokens_cached",
                                  "latencyMilliseconds",
                                  "latencyMs",
                                  "latency_ms",
                                  "duration_ms",
                                  "timeTaken",
                                  "time_taken",
                                  "latencySeconds",
                                  "latency_seconds",
                                  "elapsed_seconds",
                                  "time_taken_seconds",
                                  "other"};

constexpr const char* kTexts[] = {"",
                                  " 8 ",
                                  "8 tokens",
                                  "inf",
                                  "-infinity",
                                  "nan",
                                  "1e300",
                                  "0x1p62",
                                  "-12.5",
                                  "\u00a07",
                                  "+4",
                                  "1e-400",
                                  "9223372036854775807",
                                  "9223372036854775808"};

Json generatedValue(FuzzedDataProvider& data, int depth) {
    switch (data.ConsumeIntegralInRange<int>(0, 9)) {
        case 0:
            return data.ConsumeIntegral<std::int64_t>();
        case 1:
            return data.ConsumeIntegral<std::uint64_t>();
        case 2:
            return data.ConsumeFloatingPoint<double>();
        case 3:
            return data.PickValueInArray({std::numeric_limits<double>::infinity(),
                                          -std::numeric_limits<double>::infinity(),
                                          std::numeric_limits<double>::quiet_NaN(), 1e300, -9.3e18,
                                          9223372036854775807.0, 0.5, -0.5});
        case 4:
            return std::string(data.PickValueInArray(kTexts));
        case 5:
            return data.ConsumeRandomLengthString(32);
        case 6:
            return data.ConsumeBool();
        case 7:
            return nullptr;
        case 8:
            return Json::array({data.ConsumeIntegral<int>()});
        default: {
            Json object = Json::object();
            if (depth < 3) {
                int members = data.ConsumeIntegralInRange<int>(0, 6);
                for (int i = 0; i < members; ++i) {
                    object[data.PickValueInArray(kNames)] = generatedValue(data, depth + 1);
                }
            }
            return object;
        }
    }
}

void decode(const Json& json) {
    try {
        auto metadata = ravlin::QNModelCorrectionAPIMetadata::decode(json);
        (void)metadata;
        if (!json.is_object()) {
            __builtin_trap();  // a non-object must not decode
        }
    } catch (const ravlin::DecodingError&) {
        if (json.is_object()) {
            __builtin_trap();  // an object must always decode
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    Json parsed = Json::parse(bytes, bytes + size, nullptr, /*allow_exceptions=*/false);
    if (!parsed.is_discarded()) {
        decode(parsed);
        return 0;
    }
    FuzzedDataProvider data(bytes, size);
    decode(generatedValue(data, 0));
    return 0;
}
