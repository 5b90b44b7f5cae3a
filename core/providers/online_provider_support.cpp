#include "core/providers/online_provider_support.h"

#include <algorithm>

#include "core/providers/failure_text.h"
#include "core/text/unicode.h"
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
                                                       std::string_view networkErrorPrefix,
                                                       std::string_view couldNotConnectText) {
    switch (error.kind) {
        case net::HttpError::Kind::cancelled:
            return QNModelCorrectionProviderResult::cancelled();
        case net::HttpError::Kind::timedOut:
            return QNModelCorrectionProviderResult::failed(std::string(timedOutText));
        case net::HttpError::Kind::unsupportedURL:
        case net::HttpError::Kind::network:
            break;
    }
    using Connection = net::HttpError::Connection;
    const auto why = [&]() -> std::string_view {
        switch (error.connection) {
            case Connection::refused:
                return "connection refused";
            case Connection::unreachable:
                return "server unreachable";
            case Connection::hostNotFound:
                return "host not found";
            case Connection::tls:
                return "TLS handshake failed";
            case Connection::certificate:
                return "certificate not trusted";
            case Connection::other:
                break;
        }
        return {};
    }();
    if (!why.empty()) {
        return QNModelCorrectionProviderResult::failed(std::string(couldNotConnectText) + " (" +
                                                       std::string(why) + ")");
    }
    return QNModelCorrectionProviderResult::failed(
        condensedFailureText(std::string(networkErrorPrefix) + error.description));
}

void rememberFirstLine(std::string& first, std::string_view line) {
    if (first.empty()) {
        first = text::trimmedWhitespaceAndNewlines(line).substr(0, 64);
    }
}

std::optional<std::string> unexpectedReplyKind(const std::vector<net::HttpHeaderField>& headers,
                                               std::string_view firstLine) {
    std::string type;
    for (const auto& field : headers) {
        if (text::lowercased(std::string_view(field.name)) == "content-type") {
            type = text::lowercased(std::string_view(field.value));
        }
    }
    const std::string_view line = text::trimmedWhitespaceAndNewlines(firstLine);
    if (type.find("html") != std::string::npos || line.starts_with('<')) {
        return "a web page";
    }
    if (!type.empty() && type.find("event-stream") == std::string::npos) {
        return "not an event stream";
    }
    return std::nullopt;
}

}  // namespace ravlin
