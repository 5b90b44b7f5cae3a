#pragma once

// The response-token budget for the on-device model, and the short text fingerprint that names a
// text in notes and requests without revealing it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ravlin {

struct QNModelGenerationBudget {
    std::int64_t approximateInputTokens = 0;
    std::int64_t maximumResponseTokens = 0;
    std::int64_t combinedTokenLimit = 0;

    friend bool operator==(const QNModelGenerationBudget&,
                           const QNModelGenerationBudget&) = default;
};

// How many response tokens to ask the on-device model for, and whether a text fits its context
// window at all. Counts are characters, not bytes.
struct QNModelTokenBudget {
    QNModelTokenBudget() = delete;

    static constexpr std::int64_t combinedTokenLimit = 4096;
    static constexpr std::int64_t safetyBufferTokens = 128;
    static constexpr std::int64_t minimumResponseTokens = 256;
    static constexpr std::int64_t rewriteSlackTokens = 64;

    // One token per four characters, at least one.
    [[nodiscard]] static std::int64_t approximateTokenCount(std::u16string_view text);
    // Absent when the text and its answer would not fit the model's window.
    [[nodiscard]] static std::optional<QNModelGenerationBudget> budget(std::u16string_view text);
};

// The first 8 of the 16 lower-case hex digits of the text's FNV-1a 64 hash (its upper 32 bits),
// computed over the UTF-8 bytes.
[[nodiscard]] std::string fingerprint(std::u16string_view text);
[[nodiscard]] std::string fingerprint(std::string_view utf8);

}  // namespace ravlin
