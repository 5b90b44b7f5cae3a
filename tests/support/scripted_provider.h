#pragma once

// A provider whose answers a test writes in advance. It plays a script of stream events (or
// answers one-shot calls with a fixed result or a handler), reports scripted availability and
// diagnostics, records every request and call, and honours stop requests: before each step of a
// script, and at the start of a one-shot call, a stop request ends the answer with `cancelled`.
//
//   auto provider = ScriptedProvider::make("primary");
//   provider->setStreamScript({Event::partial(u"Teh"), Event::partial(u"The cat"),
//                              ScriptedProvider::completed(u"teh cat", u"The cat.")});
//   provider->setAfterEvent([&](std::size_t index, const Event&) {
//       if (index == 0) stopSource.request_stop();  // cancel after the first partial
//   });
//
// A script is played as written: a script without a terminal event, or with events after one,
// lets a test show how a consumer copes with a provider that breaks the stream contract.
// Thread-safe: a test may read the records while another thread runs a call.

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <variant>
#include <vector>

#include "core/providers/provider.h"

namespace ravlin::testing {

class ScriptedProvider : public QNProviderCorrectionModel {
  public:
    using Event = QNModelCorrectionStreamEvent;
    using Result = QNModelCorrectionProviderResult;

    // A script step that blocks until the call's stop token is stopped; the stop rule then ends
    // the stream with `cancelled` (unless stops are ignored, in which case the script goes on).
    struct WaitForStop {};
    using Step = std::variant<Event, WaitForStop>;
    using Script = std::vector<Step>;
    using GenerateHandler =
        std::function<Result(const QNModelCorrectionRequest& request, std::stop_token stopToken)>;
    using EventHook = std::function<void(std::size_t index, const Event& event)>;

    explicit ScriptedProvider(std::string providerID = "scripted");
    [[nodiscard]] static std::shared_ptr<ScriptedProvider> make(
        std::string providerID = "scripted");

    // --- Script --------------------------------------------------------------------------------

    // Diagnostics to report; without them the interface's default diagnostics apply.
    void setDiagnostics(QNModelCorrectionProviderDiagnostics diagnostics);
    // Availability to report; by default available, titled "Ready".
    void setAvailability(QNModelAvailabilitySummary summary);
    // The answer of every one-shot call; by default a success that returns the text unchanged.
    void setGenerateResult(Result result);
    // A handler computing the one-shot answer (replaces any fixed result).
    void setGenerateHandler(GenerateHandler handler);
    // One-shot calls block until stopped, then answer `cancelled` (or their result when stops
    // are ignored).
    void setGenerateWaitsForStop(bool waits);
    // The script every stream call plays. Without one, streams use the interface's default:
    // one one-shot call turned into one terminal event.
    void setStreamScript(Script script);
    // A script for one stream call: queued scripts are played first, one per call, in order.
    void enqueueStreamScript(Script script);
    // Called on the streaming thread after each event has been given to the sink, with the
    // event's index within that call (stop requests and clock moves go here).
    void setAfterEvent(EventHook hook);
    // Whether stop requests end an answer early (default true).
    void setHonoursStop(bool honours);

    // --- Builders ------------------------------------------------------------------------------

    [[nodiscard]] static Event completed(
        std::u16string input, std::u16string output,
        std::optional<double> latencyMilliseconds = std::nullopt,
        std::optional<QNModelCorrectionUsage> usage = std::nullopt);
    [[nodiscard]] static Result success(std::u16string input, std::u16string output,
                                        std::optional<double> latencyMilliseconds = std::nullopt,
                                        std::optional<QNModelCorrectionUsage> usage = std::nullopt);

    // --- Records -------------------------------------------------------------------------------

    // Requests received by streamCorrection / generateCorrection, in order. A default stream
    // records its request in both lists, as it makes one one-shot call.
    [[nodiscard]] std::vector<QNModelCorrectionRequest> streamRequests() const;
    [[nodiscard]] std::vector<QNModelCorrectionRequest> generateRequests() const;
    [[nodiscard]] int streamCalls() const;
    [[nodiscard]] int generateCalls() const;
    [[nodiscard]] int prewarmCalls() const;
    [[nodiscard]] int availabilityCalls() const;
    // Calls that ended early because of a stop request.
    [[nodiscard]] int stoppedCalls() const;
    // Every event given to a sink, over all stream calls, in order.
    [[nodiscard]] std::vector<Event> deliveredEvents() const;

    // --- Interface -----------------------------------------------------------------------------

    [[nodiscard]] std::string providerID() const override;
    [[nodiscard]] QNModelCorrectionProviderDiagnostics diagnostics() const override;
    [[nodiscard]] QNModelAvailabilitySummary availabilitySummary() override;
    void prewarm() override;
    [[nodiscard]] Result generateCorrection(const QNModelCorrectionRequest& request,
                                            std::stop_token stopToken) override;
    void streamCorrection(const QNModelCorrectionRequest& request, std::stop_token stopToken,
                          const QNModelCorrectionStreamSink& sink) override;

  private:
    // Blocks until `stopToken` is stopped; returns false (after reporting a test failure) when
    // it never can be.
    static bool waitForStop(const std::stop_token& stopToken);
    void deliver(const QNModelCorrectionStreamSink& sink, Event event);

    const std::string providerID_;
    mutable std::mutex mutex_;
    std::optional<QNModelCorrectionProviderDiagnostics> diagnostics_;
    QNModelAvailabilitySummary availability_{true, "Ready", "Scripted provider"};
    std::optional<Result> generateResult_;
    GenerateHandler generateHandler_;
    bool generateWaitsForStop_ = false;
    std::optional<Script> streamScript_;
    std::deque<Script> queuedScripts_;
    EventHook afterEvent_;
    bool honoursStop_ = true;

    std::vector<QNModelCorrectionRequest> streamRequests_;
    std::vector<QNModelCorrectionRequest> generateRequests_;
    int streamCalls_ = 0;
    int generateCalls_ = 0;
    int prewarmCalls_ = 0;
    int availabilityCalls_ = 0;
    int stoppedCalls_ = 0;
    std::vector<Event> deliveredEvents_;
};

}  // namespace ravlin::testing
