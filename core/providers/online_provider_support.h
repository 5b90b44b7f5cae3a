#pragma once

// Small pieces the online providers (hosted service, OpenAI, generic endpoint) share: reading a
// credential the user gave, passing over a blank message from a service, and telling the caller
// about a request the transport could not complete. Each provider passes its own texts.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// The most bytes of answer text a streaming provider folds for one request before it gives up
// with its payload-too-large failure: what a sane service sends for the request's response-token
// budget with generous headroom (32 bytes a token, for at least 256 tokens), never more than
// 1 MiB. Without it a hostile or broken service could stream an answer without end, and every
// event would cost the whole text so far.
inline constexpr std::int64_t kStreamedAnswerBytesPerToken = 32;
inline constexpr std::int64_t kStreamedAnswerMinimumTokens = 256;
inline constexpr std::size_t kStreamedAnswerByteCeiling = 1024 * 1024;
[[nodiscard]] std::size_t streamedAnswerByteLimit(const QNModelCorrectionRequest& request);

// How a request the transport gave up on ends: `cancelled` for a stop request, failed with
// `timedOutText` for a time-out, with `couldNotConnectText` and why in brackets when no
// connection was made for a reason the person can act on ("... could not connect (connection
// refused)", "(host not found)", "(TLS handshake failed)", "(certificate not trusted)", "(server
// unreachable)"), else with `networkErrorPrefix` and the transport's description, condensed to
// one line.
[[nodiscard]] QNModelCorrectionProviderResult transportFailureResult(
    const net::HttpError& error, std::string_view timedOutText,
    std::string_view networkErrorPrefix, std::string_view couldNotConnectText);

// What a successful reply that gave no answer was instead: "a web page" when it is HTML (by its
// type, or a first line opening a tag), "not an event stream" when its type says another kind of
// text, none when it may be an event stream with nothing in it. `firstLine` is its first line
// that is not blank.
// Keeps the start of `line` in `first` when `first` is still empty and the line is not blank.
void rememberFirstLine(std::string& first, std::string_view line);

[[nodiscard]] std::optional<std::string> unexpectedReplyKind(
    const std::vector<net::HttpHeaderField>& headers, std::string_view firstLine);

}  // namespace ravlin
