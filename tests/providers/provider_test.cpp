#include "core/providers/provider.h"

#include <chrono>
#include <stop_token>
#include <thread>

#include <gtest/gtest.h>

#include "core/providers/online_provider_support.h"
#include "tests/support/scripted_provider.h"
#include "tests/support/stream_events.h"

namespace ravlin {
namespace {

using testing::ScriptedProvider;
using testing::streamEvents;
using Event = QNModelCorrectionStreamEvent;
using Result = QNModelCorrectionProviderResult;

// A provider that implements only what the interface requires.
class OneShotProvider final : public QNProviderCorrectionModel {
  public:
    explicit OneShotProvider(Result result) : result_(std::move(result)) {}
    std::string providerID() const override { return "one shot"; }
    QNModelAvailabilitySummary availabilitySummary() override { return {true, "Ready", ""}; }
    void prewarm() override {}
    Result generateCorrection(const QNModelCorrectionRequest&, std::stop_token stop) override {
        ++calls;
        sawStop = stop.stop_requested();
        return result_;
    }
    int calls = 0;
    bool sawStop = false;

  private:
    Result result_;
};

TEST(ProviderInterface, DefaultDiagnosticsCarryOnlyTheIdentifier) {
    OneShotProvider provider(Result::cancelled());
    EXPECT_EQ(provider.diagnostics(), (QNModelCorrectionProviderDiagnostics{
                                          "one shot", QNModelCorrectionRoute::unknown, std::nullopt,
                                          std::nullopt, std::nullopt, std::nullopt}));
}

TEST(ProviderInterface, DefaultStreamYieldsExactlyOneTerminalEventPerResult) {
    QNModelCorrectionResponse response(u"teh", u"the", 3.0);
    const std::pair<Result, Event> rows[] = {
        {Result::success(response), Event::completed(response)},
        {Result::unavailable("Apple Intelligence is off"),
         Event::unavailable("Apple Intelligence is off")},
        {Result::failed("HTTP 502"), Event::failed("HTTP 502")},
        {Result::cancelled(), Event::cancelled()},
    };
    for (const auto& [result, event] : rows) {
        OneShotProvider provider(result);
        EXPECT_EQ(streamEvents(provider, QNModelCorrectionRequest(u"teh", 256)),
                  std::vector{event});
        EXPECT_EQ(provider.calls, 1);
    }
}

TEST(ProviderInterface, DefaultStreamPassesTheStopTokenToTheOneShotCall) {
    OneShotProvider provider(Result::cancelled());
    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(streamEvents(provider, QNModelCorrectionRequest(u"x", 1), stop.get_token()),
              std::vector{Event::cancelled()});
    EXPECT_TRUE(provider.sawStop);
}

TEST(StreamedAnswerLimit, FollowsTheBudgetWithinAFloorAndOneMebibyte) {
    const std::pair<std::int64_t, std::size_t> cases[] = {
        {-5, 8192}, {0, 8192}, {256, 8192}, {1000, 32000}, {32768, 1 << 20}, {1LL << 40, 1 << 20},
    };
    for (const auto& [tokens, bytes] : cases) {
        EXPECT_EQ(streamedAnswerByteLimit(QNModelCorrectionRequest(u"x", tokens)), bytes) << tokens;
    }
}

TEST(ScriptedProvider, PlaysItsScriptAndRecordsTheRequest) {
    auto provider = ScriptedProvider::make("primary");
    provider->setStreamScript({Event::partial(u"The"), Event::partial(u"The cat"),
                               ScriptedProvider::completed(u"teh cat", u"The cat.")});
    QNModelCorrectionRequest request(u"teh cat", 256, "en", u"Before.");
    auto events = streamEvents(*provider, request);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[1], Event::partial(u"The cat"));
    EXPECT_EQ(events[2].response()->output, u"The cat.");
    EXPECT_EQ(provider->streamRequests(), std::vector{request});
    EXPECT_EQ(provider->streamCalls(), 1);
    EXPECT_EQ(provider->generateCalls(), 0);
    EXPECT_EQ(provider->deliveredEvents(), events);
}

TEST(ScriptedProvider, WithoutAScriptStreamsOneGenerateResult) {
    auto provider = ScriptedProvider::make();
    EXPECT_EQ(streamEvents(*provider, QNModelCorrectionRequest(u"as is", 8)),
              std::vector{ScriptedProvider::completed(u"as is", u"as is")});
    provider->setGenerateResult(Result::unavailable("Not configured"));
    EXPECT_EQ(streamEvents(*provider, QNModelCorrectionRequest(u"x", 8)),
              std::vector{Event::unavailable("Not configured")});
    EXPECT_EQ(provider->generateCalls(), 2);
    EXPECT_EQ(provider->streamCalls(), 2);
}

TEST(ScriptedProvider, AStopRequestedAfterAPartialEndsTheStreamCancelled) {
    auto provider = ScriptedProvider::make();
    provider->setStreamScript({Event::partial(u"The"), Event::partial(u"The cat"),
                               ScriptedProvider::completed(u"teh cat", u"The cat.")});
    std::stop_source stop;
    provider->setAfterEvent([&](std::size_t index, const Event&) {
        if (index == 0) {
            stop.request_stop();
        }
    });
    EXPECT_EQ(streamEvents(*provider, QNModelCorrectionRequest(u"teh cat", 8), stop.get_token()),
              (std::vector{Event::partial(u"The"), Event::cancelled()}));
    EXPECT_EQ(provider->stoppedCalls(), 1);
}

TEST(ScriptedProvider, WaitsForAStopFromAnotherThread) {
    auto provider = ScriptedProvider::make();
    provider->setStreamScript({Event::partial(u"T"), ScriptedProvider::WaitForStop{},
                               ScriptedProvider::completed(u"t", u"T")});
    std::stop_source stop;
    std::thread canceller([&] {
        while (provider->deliveredEvents().empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        stop.request_stop();
    });
    auto events = streamEvents(*provider, QNModelCorrectionRequest(u"t", 8), stop.get_token());
    canceller.join();
    EXPECT_EQ(events, (std::vector{Event::partial(u"T"), Event::cancelled()}));
}

TEST(ScriptedProvider, QueuedScriptsServeOneCallEachBeforeTheStandingScript) {
    auto provider = ScriptedProvider::make();
    provider->setStreamScript({Event::failed("standing")});
    provider->enqueueStreamScript({Event::unavailable("first")});
    provider->enqueueStreamScript({});  // a stream that ends without a terminal event
    QNModelCorrectionRequest request(u"x", 8);
    EXPECT_EQ(streamEvents(*provider, request), std::vector{Event::unavailable("first")});
    EXPECT_TRUE(streamEvents(*provider, request).empty());
    EXPECT_EQ(streamEvents(*provider, request), std::vector{Event::failed("standing")});
}

TEST(ScriptedProvider, ReportsScriptedAvailabilityAndDiagnostics) {
    auto provider = ScriptedProvider::make("fallback");
    EXPECT_EQ(provider->diagnostics().route, QNModelCorrectionRoute::unknown);
    provider->setAvailability({false, "Unavailable", "No network"});
    QNModelCorrectionProviderDiagnostics diagnostics{.providerID = "fallback",
                                                     .route = QNModelCorrectionRoute::remote,
                                                     .providerName = "Hosted Online"};
    provider->setDiagnostics(diagnostics);
    provider->prewarm();
    EXPECT_EQ(provider->availabilitySummary(),
              (QNModelAvailabilitySummary{false, "Unavailable", "No network"}));
    EXPECT_EQ(provider->diagnostics(), diagnostics);
    EXPECT_EQ(provider->availabilityCalls(), 1);
    EXPECT_EQ(provider->prewarmCalls(), 1);
}

}  // namespace
}  // namespace ravlin
