#pragma once

// Checks that every provider streaming server-sent events over HTTP passes alike, each provider
// with its own failure texts.

#include <functional>
#include <memory>
#include <string>

#include "core/providers/provider.h"
#include "tests/support/loopback_http_server.h"

namespace ravlin::testing {

// Makes the provider under test, talking to `server`, with these time limits in seconds: for the
// reply's head, for the gap between lines, for the whole exchange.
using StreamingProviderFactory = std::function<std::shared_ptr<QNProviderCorrectionModel>(
    const LoopbackHttpServer& server, double timeout, double idle, double total)>;

struct StreamTimeLimitTexts {
    std::string requestTimedOut;
    std::string idleTimeout;
    std::string totalDeadlineExceeded;
    // What a dropped connection's failure text starts with.
    std::string networkErrorPrefix;
};

// A head that never comes fails with `requestTimedOut`; a reply that stalls after one delta
// fails with `idleTimeout` after that partial; comment lines keep the idle timer quiet but not
// the deadline (`totalDeadlineExceeded`, within a second); a dropped connection fails with the
// network error. Limits not under test are 1 s (head, idle) and 5 s (total).
void expectStreamTimeLimits(const StreamingProviderFactory& makeProvider,
                            const StreamTimeLimitTexts& texts);

// The answer a provider folds is capped by the request's response-token budget (32 bytes a
// token, at least 256 tokens): exactly the cap completes, one byte more fails with
// `tooLargeText`, and white space counts although it publishes nothing. `closing` is the event
// payload the service ends an answer with, or empty when it names none.
void expectAnswerCap(const StreamingProviderFactory& makeProvider, const std::string& tooLargeText,
                     const std::string& closing);

}  // namespace ravlin::testing
