#include "core/providers/openai/openai_key_validation.h"

#include "core/net/response_lines.h"
#include "core/providers/openai/openai_provider.h"
#include "core/text/utf8.h"

namespace ravlin {

std::string QNErrorOpenAIKeyValidation::displayMessage() const {
    switch (kind) {
        case Kind::serverError:
            return openAIHTTPErrorMessage(status, std::nullopt);
        case Kind::network:
            return "Network error: " + description;
        case Kind::empty:
            return "Enter a key first.";
        case Kind::invalidKey:
            return "Invalid API key";
        case Kind::forbidden:
            return "Key authenticated but lacks access (403)";
        case Kind::rateLimited:
            return "Rate limited \u2014 try again later";
        case Kind::invalidResponse:
            return "OpenAI returned an unexpected response.";
        case Kind::timedOut:
            return "Request to OpenAI timed out.";
        case Kind::cancelled:
            return "Validation cancelled.";
    }
    return "Network error: " + description;
}

QNOpenAIKeyValidationResult QNProviderOpenAICorrection::validateAPIKey(
    std::string_view key, const net::HttpClient& httpClient, double timeoutSeconds,
    std::stop_token stopToken, std::string_view baseURL) {
    using Error = QNErrorOpenAIKeyValidation;
    const std::string_view trimmed = text::trimmedWhitespaceAndNewlines(key);
    if (trimmed.empty()) {
        return QNOpenAIKeyValidationResult::failure(Error::of(Error::Kind::empty));
    }

    net::HttpRequest request;
    request.method = "GET";
    request.url = std::string(baseURL) + std::string(kOpenAIModelsPath);
    request.headers = {{"Authorization", "Bearer " + std::string(trimmed)}};
    request.timeout = net::durationFromSeconds(timeoutSeconds);

    // Only the head is waited for: the status decides, and the listing that may follow is
    // neither read nor kept. Letting the response go ends the transfer.
    const auto opened = httpClient.open(request, stopToken);
    if (!opened.response) {
        switch (opened.error.kind) {
            case net::HttpError::Kind::cancelled:
                return QNOpenAIKeyValidationResult::failure(Error::of(Error::Kind::cancelled));
            case net::HttpError::Kind::timedOut:
                return QNOpenAIKeyValidationResult::failure(Error::of(Error::Kind::timedOut));
            case net::HttpError::Kind::unsupportedURL:
            case net::HttpError::Kind::network:
                break;
        }
        return QNOpenAIKeyValidationResult::failure(Error::network(opened.error.description));
    }
    const int status = opened.response->status();
    if (status < 100) {
        return QNOpenAIKeyValidationResult::failure(Error::of(Error::Kind::invalidResponse));
    }
    if (status >= 200 && status <= 299) {
        return QNOpenAIKeyValidationResult::success();
    }
    switch (status) {
        case 401:
            return QNOpenAIKeyValidationResult::failure(Error::of(Error::Kind::invalidKey));
        case 403:
            return QNOpenAIKeyValidationResult::failure(Error::of(Error::Kind::forbidden));
        case 429:
            return QNOpenAIKeyValidationResult::failure(Error::of(Error::Kind::rateLimited));
        default:
            return QNOpenAIKeyValidationResult::failure(Error::serverError(status));
    }
}

}  // namespace ravlin
