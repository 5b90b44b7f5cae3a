#include "core/providers/unavailable_provider.h"

#include <gtest/gtest.h>

#include "tests/support/stream_events.h"

namespace ravlin {
namespace {

using Event = QNModelCorrectionStreamEvent;

TEST(UnavailableProvider, AnswersEveryRequestUnavailableWithItsReason) {
    QNUnavailableCorrectionModelProvider provider("remote-unconfigured", "API key",
                                                  "Online Model Not Configured", "Hosted Online");
    const QNModelCorrectionRequest request(u"teh text", 64);
    EXPECT_EQ(provider.generateCorrection(request, {}),
              QNModelCorrectionProviderResult::unavailable("API key"));
    EXPECT_EQ(testing::streamEvents(provider, request),
              std::vector<Event>{Event::unavailable("API key")});
    EXPECT_EQ(provider.availabilitySummary(),
              (QNModelAvailabilitySummary{false, "Online Model Not Configured", "API key"}));
}

TEST(UnavailableProvider, DiagnosticsNameARemoteRoute) {
    QNUnavailableCorrectionModelProvider provider("codex-cli-unavailable", "why", "Title",
                                                  "Codex CLI");
    const auto diagnostics = provider.diagnostics();
    EXPECT_EQ(diagnostics.providerID, "codex-cli-unavailable");
    EXPECT_EQ(diagnostics.route, QNModelCorrectionRoute::remote);
    EXPECT_EQ(diagnostics.providerName, "Codex CLI");
    EXPECT_EQ(diagnostics.model, std::nullopt);
}

}  // namespace
}  // namespace ravlin
