#pragma once

// Small pieces the online providers (hosted service, OpenAI, generic endpoint) share: reading a
// credential the user gave, passing over a blank message from a service, and telling the caller
// about a request the transport could not complete. Each provider passes its own texts.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/net/http_client.h"
#include "core/records/provider_records.h"

namespace ravlin {

// Text given by the user, trimmed of whitespace and newlines; missing or empty once trimmed
// counts as absent.
[[nodiscard]] std::optional<std::string> trimmedNonBlank(const std::optional<std::string>& raw);

// Asks the closure (when there is one) and reads its answer as `trimmedNonBlank` does.
[[nodiscard]] std::optional<std::string> resolvedCredential(
    const std::function<std::optional<std::string>()>& provider);

// A service's message made fit to show (`condensedFailureText`), or absent when nothing is
// left of it. A blank message would leave the user with an empty failure text, so the caller's
// next candidate or fixed text stands in for it.
[[nodiscard]] std::optional<std::string> shownMessage(const std::optional<std::string>& message);

// How a request the transport gave up on ends: `cancelled` for a stop request, failed with
// `timedOutText` for a time-out, else failed with `networkErrorPrefix` and the transport's
// description, condensed to one line.
[[nodiscard]] QNModelCorrectionProviderResult transportFailureResult(
    const net::HttpError& error, std::string_view timedOutText,
    std::string_view networkErrorPrefix);

}  // namespace ravlin
