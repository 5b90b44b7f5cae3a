#pragma once

// The outcome of checking a user's OpenAI key against the service, with the sentence the
// settings window shows for each failure.

#include <optional>
#include <string>
#include <utility>

namespace ravlin {

struct QNErrorOpenAIKeyValidation {
    enum class Kind {
        serverError,      // any status other than 2xx, 401, 403 and 429 (`status`)
        network,          // the request failed in transport (`description`)
        empty,            // the key is empty once trimmed; nothing was sent
        invalidKey,       // 401
        forbidden,        // 403
        rateLimited,      // 429
        invalidResponse,  // the reply was not an HTTP response
        timedOut,         // the transport timed out
        cancelled,        // the caller stopped the check
    };
    Kind kind = Kind::empty;
    int status = 0;           // for `serverError`
    std::string description;  // for `network`

    [[nodiscard]] static QNErrorOpenAIKeyValidation serverError(int status) {
        return {Kind::serverError, status, {}};
    }
    [[nodiscard]] static QNErrorOpenAIKeyValidation network(std::string description) {
        return {Kind::network, 0, std::move(description)};
    }
    [[nodiscard]] static QNErrorOpenAIKeyValidation of(Kind kind) { return {kind, 0, {}}; }

    // The sentence for the settings window: `serverError` the HTTP error text of its status
    // (without a body); `network` "Network error: " and the description; `empty` "Enter a key
    // first."; `invalidKey` "Invalid API key"; `forbidden` "Key authenticated but lacks access
    // (403)"; `rateLimited` "Rate limited — try again later"; `invalidResponse` "OpenAI returned
    // an unexpected response."; `timedOut` "Request to OpenAI timed out."; `cancelled`
    // "Validation cancelled.".
    [[nodiscard]] std::string displayMessage() const;

    friend bool operator==(const QNErrorOpenAIKeyValidation&,
                           const QNErrorOpenAIKeyValidation&) = default;
};

// Success, or failure with one error.
class QNOpenAIKeyValidationResult {
  public:
    [[nodiscard]] static QNOpenAIKeyValidationResult success() { return {}; }
    [[nodiscard]] static QNOpenAIKeyValidationResult failure(QNErrorOpenAIKeyValidation error) {
        QNOpenAIKeyValidationResult result;
        result.error_ = std::move(error);
        return result;
    }

    [[nodiscard]] bool isSuccess() const { return !error_.has_value(); }
    // The error of a failure; absent for success.
    [[nodiscard]] const std::optional<QNErrorOpenAIKeyValidation>& error() const { return error_; }

    friend bool operator==(const QNOpenAIKeyValidationResult&,
                           const QNOpenAIKeyValidationResult&) = default;

  private:
    std::optional<QNErrorOpenAIKeyValidation> error_;
};

}  // namespace ravlin
