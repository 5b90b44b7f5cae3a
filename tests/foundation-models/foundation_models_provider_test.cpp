#include "core/providers/foundation-models/foundation_models_provider.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>

#include "core/records/prompt_catalogue.h"
#include "tests/support/scripted_language_model.h"
#include "tests/support/stream_events.h"

namespace ravlin {
namespace {

using ondevice::ModelAvailability;
using ondevice::StreamEnd;
using ondevice::UnavailableReason;
using testing::ScriptedLanguageModel;
using testing::snapshotsOf;
using Event = QNModelCorrectionStreamEvent;

constexpr std::chrono::seconds kLongEnough{10};

// A door a warm-up waits at: it goes on once the door opens or it is told to stop, and after
// kLongEnough in any case.
class Door {
  public:
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    // Waits at the door; true when it was told to stop.
    bool pass(std::stop_token stop) {
        std::unique_lock lock(mutex_);
        reached_ = true;
        changed_.notify_all();
        changed_.wait_for(lock, stop, kLongEnough, [this] { return open_; });
        return stop.stop_requested();
    }
    bool waitUntilReached() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kLongEnough, [this] { return reached_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable_any changed_;
    bool open_ = false;
    bool reached_ = false;
};

struct Fixture {
    std::shared_ptr<ScriptedLanguageModel> model = std::make_shared<ScriptedLanguageModel>();
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    QNProviderFoundationModelsCorrection provider{"PROMPT", model, clock};

    std::vector<Event> stream(const QNModelCorrectionRequest& request, std::stop_token stop = {}) {
        return testing::streamEvents(provider, request, std::move(stop));
    }
};

QNModelCorrectionRequest request(std::u16string text,
                                 std::optional<std::u16string> context = std::nullopt) {
    return QNModelCorrectionRequest(std::move(text), 300, std::nullopt, std::move(context));
}

TEST(FoundationModelsProvider, IdentifiesItselfAsTheLocalRoute) {
    Fixture f;
    EXPECT_EQ(f.provider.providerID(), "foundation-models");
    const auto diagnostics = f.provider.diagnostics();
    EXPECT_EQ(diagnostics.route, QNModelCorrectionRoute::local);
    EXPECT_EQ(diagnostics.providerName, "Apple Foundation Models");
    EXPECT_EQ(diagnostics.model, "SystemLanguageModel.default");
    EXPECT_EQ(diagnostics.endpointHost, std::nullopt);
    EXPECT_EQ(
        diagnostics.promptVersion,
        std::string(
            QNModelCorrectionPrompt::active(QNModelCorrectionPromptUseCase::local).rawValue()));
}

TEST(FoundationModelsProvider, MapsEveryAvailabilityToTheUsersWords) {
    struct Row {
        ModelAvailability availability;
        bool available;
        const char* title;
        const char* detail;
    } rows[] = {
        {ModelAvailability::available(), true, "Local model ready", ""},
        {ModelAvailability::unavailable(UnavailableReason::deviceNotEligible), false,
         "Device Not Eligible", "This device does not support the on-device language model."},
        {ModelAvailability::unavailable(UnavailableReason::appleIntelligenceNotEnabled), false,
         "Apple Intelligence Off", "Enable Apple Intelligence to use Ravlin correction."},
        {ModelAvailability::unavailable(UnavailableReason::modelNotReady), false,
         "Model Downloading",
         "The on-device language model is still preparing. Try again shortly."},
        {ModelAvailability::unavailable(UnavailableReason::other), false, "Model Unavailable",
         "On-device correction is unavailable."},
    };
    for (const auto& row : rows) {
        Fixture f;
        f.model->setAvailability(row.availability);
        const auto summary = f.provider.availabilitySummary();
        EXPECT_EQ(summary.isAvailable, row.available);
        EXPECT_EQ(summary.title, row.title);
        EXPECT_EQ(summary.detail, row.detail);
    }
}

TEST(FoundationModelsProvider, ThisPlatformsModelIsNotEligible) {
    QNProviderFoundationModelsCorrection provider("PROMPT");
    EXPECT_EQ(provider.availabilitySummary().title, "Device Not Eligible");
    EXPECT_EQ(testing::streamEvents(provider, request(u"teh cat")),
              std::vector<Event>{Event::unavailable("Device Not Eligible")});
    EXPECT_EQ(provider.generateCorrection(request(u"teh cat"), {}),
              QNModelCorrectionProviderResult::unavailable("Device Not Eligible"));
    provider.prewarm();
    EXPECT_FALSE(provider.hasWarmSession());
}

TEST(FoundationModelsProvider, StreamsDistinctGrowingSnapshotsThenCompletes) {
    Fixture f;
    f.model->enqueue(snapshotsOf({u"A", u"A", u"", u"B"}));
    f.clock->advance(std::chrono::milliseconds(0));
    const auto events = f.stream(request(u"the text"));
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0], Event::partial(u"A"));
    EXPECT_EQ(events[1], Event::partial(u"B"));
    ASSERT_EQ(events[2].kind(), Event::Kind::completed);
    EXPECT_EQ(events[2].response()->input, u"the text");
    EXPECT_EQ(events[2].response()->output, u"B");
    EXPECT_EQ(events[2].response()->usage, std::nullopt);
    EXPECT_TRUE(events[2].response()->latencyMilliseconds.has_value());
    // Greedy, capped by the request's token limit, schema in the prompt.
    const auto sessions = f.model->sessions();
    ASSERT_FALSE(sessions.empty());
    EXPECT_TRUE(sessions[0].options.at(0).greedySampling);
    EXPECT_EQ(sessions[0].options.at(0).maximumResponseTokens, 300);
    EXPECT_TRUE(sessions[0].includedSchema);
}

TEST(FoundationModelsProvider, EndsWithTheWordedFailures) {
    {
        Fixture f;
        f.model->enqueue(snapshotsOf({u"", u""}));
        EXPECT_EQ(
            f.stream(request(u"x y")),
            std::vector<Event>{Event::failed("Foundation Models stream ended without output")});
    }
    {
        Fixture f;
        f.model->enqueue(snapshotsOf({u"part"}, StreamEnd::error("The model crashed.")));
        const auto events = f.stream(request(u"x y"));
        ASSERT_EQ(events.size(), 2u);
        EXPECT_EQ(events[1], Event::failed("The model crashed."));
    }
    {
        Fixture f;
        f.model->enqueue(snapshotsOf({u"part"}, StreamEnd::cancelled()));
        EXPECT_EQ(f.stream(request(u"x y")).back(), Event::cancelled());
    }
}

TEST(FoundationModelsProvider, AStopRequestIsCancelledNeverAFailure) {
    Fixture f;
    std::stop_source stop;
    auto response = snapshotsOf({u"A", u"AB", u"ABC"}, StreamEnd::error("interrupted"));
    response.beforeSnapshot = [&](std::size_t index) {
        if (index == 1) {
            stop.request_stop();
        }
    };
    f.model->enqueue(std::move(response));
    const auto events = f.stream(request(u"x y"), stop.get_token());
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0], Event::partial(u"A"));
    EXPECT_EQ(events[1], Event::cancelled());

    Fixture g;
    std::stop_source early;
    early.request_stop();
    g.model->enqueue(snapshotsOf({u"A"}));
    EXPECT_EQ(g.provider.generateCorrection(request(u"x y"), early.get_token()),
              QNModelCorrectionProviderResult::cancelled());
}

TEST(FoundationModelsProvider, AWarmSessionServesOneRequestWithoutContext) {
    Fixture f;
    f.provider.prewarm();
    ASSERT_TRUE(f.provider.waitForWarmUp(kLongEnough));
    ASSERT_TRUE(f.provider.hasWarmSession());
    ASSERT_EQ(f.model->sessions().size(), 1u);
    EXPECT_EQ(f.model->sessions()[0].prewarmCount, 1);
    f.provider.prewarm();  // already warm
    EXPECT_EQ(f.model->sessions().size(), 1u);

    // A request with context gets its own session with the context paragraph appended.
    f.model->enqueue(snapshotsOf({u"Fixed."}));
    const auto withContext = request(u"fixd.", u"Earlier text.");
    f.stream(withContext);
    auto sessions = f.model->sessions();
    ASSERT_EQ(sessions.size(), 2u);
    EXPECT_EQ(sessions[1].instructions, withContext.instructions("PROMPT"));
    EXPECT_EQ(sessions[1].prompts.at(0), withContext.modelInputText());
    EXPECT_TRUE(sessions[0].prompts.empty());  // the warm one was not taken

    // A request without context takes the warm session; a fresh one is warmed afterwards.
    f.model->enqueue(snapshotsOf({u"Fixed."}));
    f.stream(request(u"fixd."));
    ASSERT_TRUE(f.provider.waitForWarmUp(kLongEnough));
    sessions = f.model->sessions();
    ASSERT_EQ(sessions.size(), 3u);
    EXPECT_EQ(sessions[0].prompts.size(), 1u);
    EXPECT_EQ(sessions[2].instructions, "PROMPT");
    EXPECT_EQ(sessions[2].prewarmCount, 1);
    EXPECT_TRUE(f.provider.hasWarmSession());
}

// Warming the next session takes its time in the background: the answer and a stop return
// while it is still going on.
TEST(FoundationModelsProvider, WarmingTheNextSessionNeverHoldsUpTheCaller) {
    for (const bool stopped : {false, true}) {
        SCOPED_TRACE(stopped ? "stopped" : "answered");
        Fixture f;
        Door door;
        f.model->setPrewarmAction([&door](std::stop_token stop) { (void)door.pass(stop); });
        std::stop_source stop;
        auto response = snapshotsOf({u"Fixed", u"Fixed."});
        response.beforeSnapshot = [&](std::size_t index) {
            if (stopped && index == 1) {
                stop.request_stop();
            }
        };
        f.model->enqueue(std::move(response));

        const auto result = f.provider.generateCorrection(request(u"fixd."), stop.get_token());

        EXPECT_EQ(result.kind(), stopped ? QNModelCorrectionProviderResult::Kind::cancelled
                                         : QNModelCorrectionProviderResult::Kind::success);
        ASSERT_TRUE(door.waitUntilReached());
        EXPECT_FALSE(f.provider.hasWarmSession());  // still warming
        door.open();
        ASSERT_TRUE(f.provider.waitForWarmUp(kLongEnough));
        EXPECT_TRUE(f.provider.hasWarmSession());
    }
}

TEST(FoundationModelsProvider, AWarmUpUnderWayEndsWithTheProvider) {
    auto model = std::make_shared<ScriptedLanguageModel>();
    Door door;
    std::atomic<bool> toldToStop = false;
    model->setPrewarmAction([&](std::stop_token stop) { toldToStop = door.pass(stop); });
    {
        QNProviderFoundationModelsCorrection provider("PROMPT", model);
        provider.prewarm();
        provider.prewarm();  // one warm-up at a time
        ASSERT_TRUE(door.waitUntilReached());
    }
    // The warm-up was stopped and has returned: no thread is left running.
    EXPECT_TRUE(toldToStop);
    ASSERT_EQ(model->sessions().size(), 1u);
    EXPECT_EQ(model->sessions()[0].prewarmCount, 1);
}

TEST(FoundationModelsProvider, GenerateKeepsTheLastTerminalEvent) {
    Fixture f;
    f.model->enqueue(snapshotsOf({u"Hello", u"Hello world"}));
    const auto result = f.provider.generateCorrection(request(u"helo wrld"), {});
    ASSERT_EQ(result.kind(), QNModelCorrectionProviderResult::Kind::success);
    EXPECT_EQ(result.response()->output, u"Hello world");
}

}  // namespace
}  // namespace ravlin
