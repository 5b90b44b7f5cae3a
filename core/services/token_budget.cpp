#include "core/services/token_budget.h"

#include <algorithm>

#include "core/services/character_view.h"
#include "core/text/fingerprint.h"

namespace ravlin {

std::int64_t QNModelTokenBudget::approximateTokenCount(std::u16string_view text) {
    const std::int64_t characters = engine::detail::countCharacters(text);
    return characters < 4 ? 1 : characters / 4;
}

std::optional<QNModelGenerationBudget> QNModelTokenBudget::budget(std::u16string_view text) {
    const std::int64_t approximate = approximateTokenCount(text);
    const std::int64_t maximumResponse =
        std::max(minimumResponseTokens, approximate + rewriteSlackTokens);
    if (approximate + maximumResponse > combinedTokenLimit - safetyBufferTokens) {
        return std::nullopt;
    }
    return QNModelGenerationBudget{approximate, maximumResponse, combinedTokenLimit};
}

std::string fingerprint(std::u16string_view text) {
    return text::hex16(text::fnv1a64(text)).substr(0, 8);
}

std::string fingerprint(std::string_view utf8) {
    return text::hex16(text::fnv1a64(utf8)).substr(0, 8);
}

}  // namespace ravlin
