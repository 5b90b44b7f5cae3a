#include "tests/support/stream_events.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <utility>

namespace ravlin::testing {

using Kind = QNModelCorrectionStreamEvent::Kind;

std::vector<QNModelCorrectionStreamEvent> streamEvents(QNProviderCorrectionModel& provider,
                                                       const QNModelCorrectionRequest& request,
                                                       std::stop_token stop) {
    std::vector<QNModelCorrectionStreamEvent> events;
    provider.streamCorrection(request, std::move(stop), [&](QNModelCorrectionStreamEvent event) {
        events.push_back(std::move(event));
    });
    return events;
}

std::vector<std::u16string> partials(const std::vector<QNModelCorrectionStreamEvent>& events) {
    std::vector<std::u16string> texts;
    for (const auto& event : events) {
        if (event.kind() == Kind::partial) {
            texts.push_back(*event.partialText());
        }
    }
    return texts;
}

const QNModelCorrectionStreamEvent& terminal(
    const std::vector<QNModelCorrectionStreamEvent>& events) {
    if (events.empty()) {
        ADD_FAILURE() << "the stream delivered no event";
        static const QNModelCorrectionStreamEvent kNone =
            QNModelCorrectionStreamEvent::failed("(no event)");
        return kNone;
    }
    for (std::size_t i = 0; i + 1 < events.size(); ++i) {
        EXPECT_EQ(events[i].kind(), Kind::partial) << "event " << i;
    }
    EXPECT_TRUE(events.back().isTerminal());
    return events.back();
}

std::string failureOf(const std::vector<QNModelCorrectionStreamEvent>& events) {
    const auto& last = terminal(events);
    EXPECT_EQ(last.kind(), Kind::failed);
    return last.message() ? *last.message() : "";
}

std::string deltaEvent(std::string_view text) {
    return nlohmann::json{{"type", "response.output_text.delta"}, {"delta", text}}.dump();
}

std::string doneEvent(std::string_view text) {
    return nlohmann::json{{"type", "response.output_text.done"}, {"text", text}}.dump();
}

}  // namespace ravlin::testing
