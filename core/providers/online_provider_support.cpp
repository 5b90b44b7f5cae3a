#include "core/providers/online_provider_support.h"

#include <algorithm>

#include "core/providers/failure_text.h"
#include "core/text/utf8.h"

namespace ravlin {

std::optional<std::string> trimmedNonBlank(const std::optional<std::string>& raw) {
    if (!raw) {
        return std::nullopt;
    }
    const std::string_view trimmed = text::trimmedWhitespaceAndNewlines(*raw);
    if (trimmed.empty()) {
        return std::nullopt;
    }
    return std::string(trimmed);
}

std::optional<std::string> resolvedCredential(
    const std::function<std::optional<std::string>()>& provider) {
    return provider ? trimmedNonBlank(provider()) : std::nullopt;
}

std::optional<std::string> shownMessage(const std::optional<std::string>& message) {
    if (!message) {
        return std::nullopt;
    }
    std::string shown = condensedFailureText(*message);
    if (shown.empty()) {
        return std::nullopt;
    }
    return shown;
}

std::size_t streamedAnswerByteLimit(const QNModelCorrectionRequest& request) {
    const std::int64_t tokens = std::clamp<std::int64_t>(
        request.maximumResponseTokens, kStreamedAnswerMinimumTokens,
        static_cast<std::int64_t>(kStreamedAnswerByteCeiling) / kStreamedAnswerBytesPerToken);
    return static_cast<std::size_t>(tokens * kStreamedAnswerBytesPerToken);
}

QNModelCorrectionProviderResult transportFailureResult(const net::HttpError& error,
                                                       std::string_view timedOutText,
                                                       std::string_view networkErrorPrefix) {
    switch (error.kind) {
        case net::HttpError::Kind::cancelled:
            return QNModelCorrectionProviderResult::cancelled();
        case net::HttpError::Kind::timedOut:
            return QNModelCorrectionProviderResult::failed(std::string(timedOutText));
        case net::HttpError::Kind::unsupportedURL:
        case net::HttpError::Kind::network:
            break;
    }
    return QNModelCorrectionProviderResult::failed(
        condensedFailureText(std::string(networkErrorPrefix) + error.description));
}

}  // namespace ravlin
