// Arbitrary bytes as environment values for the profiling configuration. The input is split at
// NUL bytes into up to five values, one per variable in a fixed order (an empty piece leaves its
// variable unset). The configuration must keep its bounds, and a value that parses must agree
// with a plain reference parse.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/services/correction_profile.h"

namespace {

constexpr std::string_view kKeys[] = {"QN_PROFILE_CORRECTION", "QN_PROFILE_SCENARIO",
                                      "QN_PROFILE_ITERATIONS", "QN_PROFILE_WARMUPS",
                                      "QN_PROFILE_EXIT_AFTER_RUN"};

// Digits only, with an optional sign, small enough for a long long: strtoll's answer.
bool referenceInteger(const std::string& value, long long& out) {
    if (value.empty() || value.size() > 18) {
        return false;
    }
    std::size_t start = value[0] == '+' || value[0] == '-' ? 1 : 0;
    if (start == value.size()) {
        return false;
    }
    for (std::size_t i = start; i < value.size(); ++i) {
        if (value[i] < '0' || value[i] > '9') {
            return false;
        }
    }
    out = std::strtoll(value.c_str(), nullptr, 10);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    ravlin::QNProfileEnvironment environment;
    for (const auto key : kKeys) {
        const auto cut = input.find('\0');
        const auto piece = input.substr(0, cut);
        if (!piece.empty()) {
            environment.emplace(std::string(key), std::string(piece));
        }
        if (cut == std::string_view::npos) {
            break;
        }
        input.remove_prefix(cut + 1);
    }

    const auto configuration =
        ravlin::QNProfileCorrectionConfiguration::fromEnvironment(environment);
    if (configuration.iterations < 1 || configuration.warmups < 0) {
        std::abort();
    }
    long long expected = 0;
    if (const auto found = environment.find("QN_PROFILE_ITERATIONS");
        found != environment.end() && referenceInteger(found->second, expected)) {
        if (configuration.iterations != (expected > 0 ? expected : 5)) {
            std::abort();
        }
    }
    if (const auto found = environment.find("QN_PROFILE_WARMUPS");
        found != environment.end() && referenceInteger(found->second, expected)) {
        if (configuration.warmups != (expected >= 0 ? expected : 1)) {
            std::abort();
        }
    }
    return 0;
}
