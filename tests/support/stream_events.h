#pragma once

// Collecting and reading a provider's answer stream in tests, and the reply events that the
// hosted service and OpenAI stream alike.

#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "core/providers/provider.h"

namespace ravlin::testing {

// Every event one `streamCorrection` call delivers, in order.
[[nodiscard]] std::vector<QNModelCorrectionStreamEvent> streamEvents(
    QNProviderCorrectionModel& provider, const QNModelCorrectionRequest& request,
    std::stop_token stop = {});

// The texts of the partial events, in order.
[[nodiscard]] std::vector<std::u16string> partials(
    const std::vector<QNModelCorrectionStreamEvent>& events);

// The last event, checking (as test expectations) that the stream is not empty, that only
// partial events come before it and that it is terminal.
const QNModelCorrectionStreamEvent& terminal(
    const std::vector<QNModelCorrectionStreamEvent>& events);

// The message of the terminal event, checking that the stream ended as `failed`; empty when it
// has none.
[[nodiscard]] std::string failureOf(const std::vector<QNModelCorrectionStreamEvent>& events);

// The payload of a "response.output_text.delta" event carrying `text`.
[[nodiscard]] std::string deltaEvent(std::string_view text);
// The payload of a "response.output_text.done" event carrying `text`.
[[nodiscard]] std::string doneEvent(std::string_view text);

}  // namespace ravlin::testing
