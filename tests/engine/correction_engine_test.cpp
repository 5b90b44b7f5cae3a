#include "core/engine/correction_engine.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/support/recording_privacy_logger.h"
#include "tests/support/scripted_provider.h"

namespace ravlin {
namespace {

using testing::RecordingPrivacyLogger;
using testing::ScriptedProvider;
using Event = QNModelCorrectionStreamEvent;
using Status = QNCorrectionDecisionStatus;
using Outcome = QNModelCorrectionOutcome;

QNModelCorrectionProviderDiagnostics diagnosticsFor(const std::string& id,
                                                    QNModelCorrectionRoute route) {
    QNModelCorrectionProviderDiagnostics diagnostics;
    diagnostics.providerID = id;
    diagnostics.route = route;
    diagnostics.providerName = id + " name";
    return diagnostics;
}

struct Engine {
    std::shared_ptr<ScriptedProvider> primary = ScriptedProvider::make("primary");
    std::shared_ptr<ScriptedProvider> fallback;
    std::shared_ptr<RecordingPrivacyLogger> logger = std::make_shared<RecordingPrivacyLogger>();
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::unique_ptr<QNEngineCorrection> engine;
    std::vector<std::u16string> partials;

    explicit Engine(bool withFallback = false) {
        primary->setDiagnostics(diagnosticsFor("primary", QNModelCorrectionRoute::local));
        if (withFallback) {
            fallback = ScriptedProvider::make("fallback");
            fallback->setDiagnostics(diagnosticsFor("fallback", QNModelCorrectionRoute::remote));
        }
        engine = std::make_unique<QNEngineCorrection>("PROMPT", primary, fallback, logger, clock);
    }

    QNModelCorrectionResult run(const std::u16string& text,
                                std::optional<std::u16string> context = std::nullopt,
                                QNMisbehaviorRuleIDSet extra = {}, std::stop_token stop = {}) {
        QNCorrectionDecision decision;
        return engine->correct(
            text, context, decision, extra,
            [this](const std::u16string& partial) { partials.push_back(partial); }, stop);
    }
};

std::string lastNote(const QNModelCorrectionResult& result) {
    return result.structuredNotes.empty() ? "" : result.structuredNotes.back().text();
}

// ---- Availability, diagnostics, prewarm ---------------------------------------------------------

TEST(EngineAvailability, CombinesPrimaryAndFallback) {
    const QNModelAvailabilitySummary up{true, "Up", "up detail."};
    const QNModelAvailabilitySummary down{false, "Down", "down detail."};
    const QNModelAvailabilitySummary off{false, "Off", "off detail."};
    struct Row {
        QNModelAvailabilitySummary primary;
        std::optional<QNModelAvailabilitySummary> fallback;
        QNModelAvailabilitySummary expected;
        int fallbackAsked;
    } rows[] = {
        {up, off, up, 0},
        {up, std::nullopt, up, 0},
        {down, up, {true, "Fallback Ready", "Down. Using fallback: Up."}, 1},
        {down, off, {false, "Down", "down detail. Fallback unavailable: Off."}, 1},
        {down, std::nullopt, down, 0},
    };
    for (const auto& row : rows) {
        Engine e(row.fallback.has_value());
        e.primary->setAvailability(row.primary);
        if (row.fallback) {
            e.fallback->setAvailability(*row.fallback);
        }
        EXPECT_EQ(e.engine->availabilitySummary(), row.expected) << row.primary.title;
        if (e.fallback) {
            EXPECT_EQ(e.fallback->availabilityCalls(), row.fallbackAsked);
        }
    }
}

TEST(EngineAvailability, DefaultsToTheOnDeviceProviderAndPrewarmsBoth) {
    QNEngineCorrection bare("PROMPT");
    const auto diagnostics = bare.diagnosticsSummary();
    EXPECT_EQ(diagnostics.primary.providerID, "foundation-models");
    EXPECT_EQ(diagnostics.fallback, std::nullopt);

    Engine e(true);
    e.engine->prewarm();
    EXPECT_EQ(e.primary->prewarmCalls(), 1);
    EXPECT_EQ(e.fallback->prewarmCalls(), 1);
    EXPECT_EQ(e.engine->diagnosticsSummary().fallback->providerID, "fallback");

    Engine solo;
    solo.engine->prewarm();
    EXPECT_EQ(solo.primary->prewarmCalls(), 1);
}

// ---- Early ends
// -----------------------------------------------------------------------------------

TEST(EnginePipeline, TooShortTextIsSkippedBeforeAnyProviderIsAsked) {
    for (std::u16string text : {u"", u"  a \n", u"   \n\t", u"\u00e9\u0301 "}) {
        Engine e(true);
        const auto result = e.run(text);
        EXPECT_EQ(result.outcome, Outcome::skipped("Text too short"));
        EXPECT_EQ(result.output, text);
        EXPECT_EQ(result.decision->output, text);  // untrimmed
        EXPECT_EQ(result.decision->status, Status::skipped("Text too short"));
        EXPECT_EQ(e.primary->availabilityCalls(), 0);
        EXPECT_EQ(e.primary->streamCalls(), 0);
        EXPECT_TRUE(e.logger->events().empty());
    }
    Engine two;
    EXPECT_EQ(two.run(u" ab ").outcome.kind, Outcome::Kind::unchanged);
}

TEST(EnginePipeline, UnavailableEndsWithOneStageAndOnePrivacyEvent) {
    Engine e;
    e.primary->setAvailability({false, "Model Downloading", "later"});
    const auto result = e.run(u"teh cat sat");
    EXPECT_EQ(result.outcome, Outcome::unavailable("Model Downloading"));
    EXPECT_EQ(result.output, u"teh cat sat");
    ASSERT_EQ(result.decision->stages.size(), 1u);
    EXPECT_EQ(result.decision->stages[0].id, QNCorrectionStageID::availability);
    EXPECT_EQ(result.decision->stages[0].status, Status::unavailable("Model Downloading"));
    ASSERT_EQ(e.logger->events().size(), 1u);
    EXPECT_EQ(
        e.logger->events()[0],
        (QNModelPrivacyLogEvent{QNModelPrivacyLogCategory::availability, "Model Downloading", 11}));
    EXPECT_EQ(e.primary->streamCalls(), 0);
}

TEST(EnginePipeline, TooLongForTheOnDeviceModelIsSkippedEvenWithAFallback) {
    Engine e(true);
    const auto result = e.run(std::u16string(7812, u'a'));
    EXPECT_EQ(result.outcome, Outcome::skipped("Text too long for on-device model"));
    ASSERT_EQ(e.logger->events().size(), 1u);
    EXPECT_EQ(e.logger->events()[0].category, QNModelPrivacyLogCategory::correction);
    EXPECT_EQ(e.logger->events()[0].characterCount, 7812);
    EXPECT_EQ(e.primary->streamCalls(), 0);
    EXPECT_EQ(e.fallback->streamCalls(), 0);

    Engine fits;
    EXPECT_NE(fits.run(std::u16string(7811, u'a')).outcome.kind, Outcome::Kind::skipped);
    EXPECT_EQ(fits.primary->streamRequests().at(0).maximumResponseTokens, 2016);
}

TEST(EnginePipeline, TextOrContextPastTheFixedUtf16LengthIsTooLong) {
    // Letters carrying combining marks: few characters, many units.
    const auto marked = [](int letters, int marks) {
        std::u16string text;
        for (int i = 0; i < letters; ++i) {
            text += u'a';
            text.append(static_cast<std::size_t>(marks), u'\u0301');
        }
        return text;
    };
    // The longest text the budget passes, at 16 units a character, is exactly at the length.
    const auto atLength = marked(7811, 15);
    ASSERT_EQ(static_cast<std::int64_t>(atLength.size()), QNEngineCorrection::kMaximumUtf16Length);
    struct Row {
        const char* name;
        std::u16string text;
        std::optional<std::u16string> context;
        bool tooLong;
    } rows[] = {
        {"400 characters of 5,000 marks each", marked(400, 5000), std::nullopt, true},
        {"context of such characters", u"teh cat sat", marked(400, 5000), true},
        {"text at the length", atLength, std::nullopt, false},
        {"one unit past it", atLength + u'\u0301', std::nullopt, true},
        {"a long context is bounded first", u"teh cat sat",
         std::u16string(200'000, u'a') + u". Fine.", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Engine e(true);
        e.primary->setStreamScript({ScriptedProvider::completed(u"x", u"The cat sat")});
        const auto result = e.run(row.text, row.context);
        EXPECT_EQ(result.outcome == Outcome::skipped("Text too long for on-device model"),
                  row.tooLong);
        EXPECT_EQ(e.primary->streamCalls(), row.tooLong ? 0 : 1);
        EXPECT_EQ(e.fallback->streamCalls(), 0);
    }
}

// ---- One provider
// ----------------------------------------------------------------------------------

TEST(EnginePipeline, AcceptsACleanAnswerAndTracesOneModelCall) {
    Engine e(true);
    QNModelCorrectionUsage usage;
    usage.outputTokens = 7;
    e.primary->setStreamScript(
        {ScriptedProvider::completed(u"teh cat", u"\"The cat.\"", 12.5, usage)});
    const auto result = e.engine->correct(u"teh cat", u"Before.", {});
    EXPECT_EQ(result.outcome, Outcome::corrected());
    EXPECT_EQ(result.output, u"The cat");  // quotes and the added full stop are cleaned off
    EXPECT_EQ(result.latencyMilliseconds, 12.5);
    EXPECT_EQ(result.usage, usage);
    const auto& decision = *result.decision;
    EXPECT_EQ(decision.trigger, QNCorrectionDecisionTrigger::direct);
    EXPECT_EQ(decision.scope, QNCorrectionDecisionScope::model);
    EXPECT_EQ(decision.source, QNCorrectionDecisionSource::modelPrimary());
    EXPECT_EQ(decision.parentID, std::nullopt);
    EXPECT_EQ(decision.status, Status::accepted());
    EXPECT_TRUE(decision.children.empty());
    ASSERT_EQ(decision.stages.size(), 1u);
    EXPECT_EQ(decision.stages[0].id, QNCorrectionStageID::modelCall);
    EXPECT_EQ(decision.stages[0].notes, decision.structuredNotes);
    EXPECT_EQ(decision.contextBefore, u"Before.");
    const auto request = e.primary->streamRequests().at(0);
    EXPECT_EQ(request.contextBefore, u"Before.");
    EXPECT_EQ(request.maximumResponseTokens, 256);
    EXPECT_EQ(e.fallback->streamCalls(), 0);
    for (const auto& note : result.structuredNotes) {
        EXPECT_EQ(note.text().find("timing:"), std::string::npos);
    }
}

TEST(EnginePipeline, AnAnswerEqualToTheTextIsUnchangedAndKeepsUsage) {
    Engine e;
    QNModelCorrectionUsage usage;
    usage.creditsRemaining = 3;
    e.primary->setStreamScript(
        {ScriptedProvider::completed(u"e\u0301t\u00e9", u"\u00e9t\u00e9", 1, usage)});
    const auto result = e.run(u"e\u0301t\u00e9");
    EXPECT_EQ(result.outcome, Outcome::unchanged());
    EXPECT_EQ(result.decision->status, Status::noChange());
    EXPECT_EQ(result.output, u"e\u0301t\u00e9");  // the caller's own text
    EXPECT_EQ(result.usage, usage);
}

TEST(EnginePipeline, TheLastTerminalEventDecides) {
    {
        Engine e;
        e.primary->setStreamScript(
            {ScriptedProvider::completed(u"ab cd", u"Ab cd"), Event::failed("late failure")});
        const auto result = e.run(u"ab cd");
        EXPECT_EQ(result.outcome, Outcome::failed("late failure"));
        EXPECT_EQ(result.output, u"ab cd");
    }
    {
        Engine e;
        e.primary->setStreamScript(
            {Event::failed("early failure"), ScriptedProvider::completed(u"ab cd", u"Ab cd")});
        EXPECT_EQ(e.run(u"ab cd").outcome, Outcome::corrected());
    }
    {
        Engine e;
        e.primary->setStreamScript({});
        const auto result = e.run(u"ab cd");
        EXPECT_EQ(result.outcome, Outcome::failed("primary produced no events"));
        EXPECT_EQ(result.decision->status, Status::failed("primary produced no events"));
    }
}

TEST(EnginePipeline, RejectsEchoedContextAndMisbehaviorWithoutAFallback) {
    {
        Engine e;
        e.primary->setStreamScript(
            {ScriptedProvider::completed(u"x", u"The earlier sentence. The cat sat.")});
        const auto result = e.run(u"teh cat sat.", u"The earlier sentence.");
        // Starting with the context is stripped (what follows is kept as it stands), not refused.
        EXPECT_EQ(result.output, u" The cat sat.");
        EXPECT_EQ(result.notes().back(), "stripped echoed context");
    }
    {
        Engine e;
        e.primary->setStreamScript({ScriptedProvider::completed(
            u"x", u"The cat sat. The earlier sentence continues here.")});
        const auto result = e.run(u"teh cat sat.", u"The earlier sentence");
        EXPECT_EQ(result.outcome, Outcome::rejected("echoed context"));
        EXPECT_EQ(result.decision->status, Status::rejected("echoed context"));
        const auto& note = result.structuredNotes.back();
        EXPECT_EQ(note.stageID, QNCorrectionStageID::echoStrip);
        EXPECT_EQ(note.ruleID, "echo-strip.context-reject");
        EXPECT_EQ(note.value.rfind("rejected_output: hash=", 0), 0u);
        // The note names the answer by fingerprint, never by its text.
        EXPECT_EQ(note.value.find("cat"), std::string::npos);
    }
    {
        Engine e;
        e.primary->setStreamScript(
            {ScriptedProvider::completed(u"x", u"QNModelCorrectedOutput: the cat sat")});
        const auto result = e.run(u"teh cat sat");
        EXPECT_EQ(result.outcome.kind, Outcome::Kind::rejected);
        ASSERT_GE(result.structuredNotes.size(), 2u);
        const auto& misbehavior = result.structuredNotes[result.structuredNotes.size() - 2];
        EXPECT_EQ(misbehavior.ruleID, "misbehavior.schema-leak");
        EXPECT_EQ(result.structuredNotes.back().stageID, QNCorrectionStageID::unknown);
    }
}

TEST(EnginePipeline, AnAnswerThatCleansToNothingIsRefusedNotApplied) {
    Engine e;
    e.primary->setStreamScript({ScriptedProvider::completed(u"x", u"```\n\n```")});
    const auto result = e.run(u"teh cat sat");
    EXPECT_EQ(result.outcome, Outcome::rejected("empty answer"));
    EXPECT_EQ(
        QNServiceCorrectionApplication::correctedOutput(u"teh cat sat", u"teh cat sat", result),
        std::nullopt);

    Engine withFallback(true);
    withFallback.primary->setStreamScript({ScriptedProvider::completed(u"x", u"   ")});
    withFallback.fallback->setStreamScript({ScriptedProvider::completed(u"x", u"The cat sat")});
    const auto rescued = withFallback.run(u"teh cat sat");
    EXPECT_EQ(rescued.outcome, Outcome::corrected());
    EXPECT_EQ(rescued.output, u"The cat sat");
    EXPECT_EQ(rescued.decision->status, Status::fallback("primary rejected: empty answer"));
}

// ---- Fallback
// --------------------------------------------------------------------------------------

TEST(EngineFallback, TracesTheFallbackAsAChildAndTimesBothAttempts) {
    Engine e(true);
    e.primary->setStreamScript({Event::failed("boom")});
    e.primary->setAfterEvent(
        [&](std::size_t, const Event&) { e.clock->advance(std::chrono::microseconds(10'400)); });
    e.fallback->setStreamScript({ScriptedProvider::completed(u"x", u"The cat sat")});
    e.fallback->setAfterEvent(
        [&](std::size_t, const Event&) { e.clock->advance(std::chrono::microseconds(20'500)); });

    const auto result = e.run(u"teh cat sat", u"Earlier.");
    EXPECT_EQ(result.outcome, Outcome::corrected());
    EXPECT_EQ(result.output, u"The cat sat");
    const auto& parent = *result.decision;
    EXPECT_EQ(parent.status, Status::fallback("primary failed: boom"));
    EXPECT_EQ(parent.outcome, Outcome::failed("boom"));
    ASSERT_EQ(parent.children.size(), 1u);
    const auto& child = parent.children[0];
    EXPECT_EQ(child.parentID, parent.id);
    EXPECT_EQ(child.source, QNCorrectionDecisionSource::modelFallback());
    EXPECT_EQ(child.status, Status::accepted());
    EXPECT_EQ(child.provider->providerID, "fallback");
    EXPECT_EQ(child.contextBefore, u"Earlier.");
    ASSERT_TRUE(parent.finishedAt.has_value());

    const auto lines = result.notes();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "fallback: primary failed: boom");
    EXPECT_EQ(lines[1],
              "fallback route: LOCAL model provider=primary primary name -> "
              "ONLINE model provider=fallback fallback name");
    EXPECT_EQ(lines.back(),
              "timing: primary(primary)=10 ms, fallback(fallback)=21 ms, total=31 ms");
    EXPECT_DOUBLE_EQ(*result.latencyMilliseconds, 30.9);
    EXPECT_EQ(child.structuredNotes, result.structuredNotes);
    EXPECT_EQ(child.latencyMilliseconds, result.latencyMilliseconds);
    // The fallback gets the same budget and bounded context, and no partial reaches the caller.
    EXPECT_EQ(e.fallback->streamRequests().at(0).contextBefore, u"Earlier.");
    EXPECT_TRUE(e.partials.empty());
}

TEST(EngineFallback, AFailingFallbackIsTheResultWithTheTimingNote) {
    Engine e(true);
    e.primary->setStreamScript({});
    e.fallback->setStreamScript({Event::unavailable("no key")});
    const auto result = e.run(u"teh cat sat");
    EXPECT_EQ(result.outcome, Outcome::unavailable("no key"));
    EXPECT_EQ(result.output, u"teh cat sat");
    EXPECT_EQ(result.decision->status,
              Status::fallback("primary failed: primary produced no events"));
    EXPECT_EQ(result.decision->children.at(0).status, Status::unavailable("no key"));
    EXPECT_EQ(result.notes().front(), "fallback: primary failed: primary produced no events");
    EXPECT_EQ(lastNote(result).rfind("timing: primary(primary)=", 0), 0u);
}

TEST(EngineFallback, MisbehaviorLeadsToFallbackAndRejectionNotesAreHandedOn) {
    Engine e(true);
    e.primary->setStreamScript(
        {ScriptedProvider::completed(u"x", u"QNModelCorrectedOutput: the cat sat")});
    e.fallback->setStreamScript({ScriptedProvider::completed(u"x", u"The cat sat")});
    const auto result = e.run(u"teh cat sat", std::nullopt, {"misbehavior.anything"});
    EXPECT_EQ(result.outcome, Outcome::corrected());
    EXPECT_EQ(result.decision->outcome->kind, Outcome::Kind::rejected);
    bool handedOn = false;
    for (const auto& note : result.structuredNotes) {
        handedOn = handedOn || note.ruleID == std::optional<std::string>("misbehavior.schema-leak");
    }
    EXPECT_TRUE(handedOn);
}

TEST(EngineFallback, ReplacingProvidersMidCallDoesNotChangeTheRunningCorrection) {
    Engine e(true);
    auto replacement = ScriptedProvider::make("replacement");
    e.primary->setStreamScript({Event::failed("boom")});
    e.primary->setAfterEvent(
        [&](std::size_t, const Event&) { e.engine->setModelProviders(replacement, nullptr); });
    e.fallback->setStreamScript({ScriptedProvider::completed(u"x", u"The cat sat")});
    const auto result = e.run(u"teh cat sat");
    EXPECT_EQ(result.output, u"The cat sat");
    EXPECT_EQ(e.fallback->streamCalls(), 1);
    EXPECT_EQ(replacement->streamCalls(), 0);
    EXPECT_EQ(e.engine->diagnosticsSummary().primary.providerID, "replacement");
}

// ---- Cancellation
// ------------------------------------------------------------------------------------

TEST(EngineCancellation, AStopBeatsEveryAnswerAndNoFallbackFollows) {
    {
        Engine e(true);
        std::stop_source stop;
        stop.request_stop();
        e.primary->setStreamScript({ScriptedProvider::completed(u"x", u"The cat sat")});
        const auto result = e.run(u"teh cat sat", std::nullopt, {}, stop.get_token());
        EXPECT_EQ(result.outcome, Outcome::skipped("Cancelled"));
        EXPECT_EQ(result.decision->status, Status::skipped("Cancelled"));
        EXPECT_TRUE(result.structuredNotes.empty());
        EXPECT_EQ(e.fallback->streamCalls(), 0);
    }
    {
        // The provider ignores the stop and still completes; the stop still wins.
        Engine e(true);
        std::stop_source stop;
        e.primary->setHonoursStop(false);
        e.primary->setStreamScript(
            {Event::partial(u"The"), ScriptedProvider::completed(u"x", u"The cat sat")});
        e.primary->setAfterEvent([&](std::size_t index, const Event&) {
            if (index == 0)
                stop.request_stop();
        });
        const auto result = e.run(u"teh cat sat", std::nullopt, {}, stop.get_token());
        EXPECT_EQ(result.outcome, Outcome::skipped("Cancelled"));
        EXPECT_EQ(result.output, u"teh cat sat");
        EXPECT_EQ(e.fallback->streamCalls(), 0);
    }
    {
        // A stop from another thread while the provider waits.
        Engine e;
        std::stop_source stop;
        e.primary->setStreamScript(
            {ScriptedProvider::WaitForStop{}, ScriptedProvider::completed(u"x", u"Late")});
        std::jthread canceller([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            stop.request_stop();
        });
        EXPECT_EQ(e.run(u"teh cat sat", std::nullopt, {}, stop.get_token()).outcome,
                  Outcome::skipped("Cancelled"));
    }
}

TEST(EngineCancellation, AStopIsHeardBetweenPartialsOfAHugeAnswer) {
    // A provider that keeps sending after the stop; its answers are hard to clean.
    const std::u16string heavy = [] {
        std::u16string text;
        for (int i = 0; i < 40'000; ++i) {
            text += u"> ";
        }
        return text + u"\u00e9";
    }();
    Engine e(true);
    std::stop_source stop;
    e.primary->setHonoursStop(false);
    e.primary->setStreamScript({Event::partial(u"The cat"), Event::partial(heavy + u" cat"),
                                Event::partial(heavy + u" cat sat"),
                                ScriptedProvider::completed(u"x", heavy)});
    e.primary->setAfterEvent([&](std::size_t index, const Event&) {
        if (index == 0)
            stop.request_stop();
    });
    const auto result = e.run(u"teh cat sat", std::nullopt, {}, stop.get_token());
    EXPECT_EQ(result.outcome, Outcome::skipped("Cancelled"));
    EXPECT_EQ(e.partials, std::vector<std::u16string>{u"The cat"});
    EXPECT_EQ(e.fallback->streamCalls(), 0);
}

// ---- Partials
// ----------------------------------------------------------------------------------------

TEST(EnginePartials, ForwardsCleanChangedPartialsFromThePrimaryOnly) {
    Engine e;
    e.primary->setStreamScript({
        Event::partial(u"Cat"),
        Event::partial(u"\"Cat\""),  // cleans to the same text: not forwarded again
        Event::partial(u"Cat sat"),
        Event::partial(u"QNModelCorrectedOutput"),  // misbehaves: dropped
        Event::partial(u"   "),                     // would blank the text: dropped
        Event::partial(u"Cat sat sat sat sat sat sat sat sat sat"),  // far longer: dropped
        Event::partial(u"Cat"),                     // differs from the last forwarded
        ScriptedProvider::completed(u"x", u"Cat sat"),
    });
    EXPECT_EQ(e.run(u"cta sat").outcome, Outcome::corrected());
    EXPECT_EQ(e.partials, (std::vector<std::u16string>{u"Cat", u"Cat sat", u"Cat"}));
}

// A chatty answer streams its lead-in first: nothing of it is shown while it may still be one,
// and the text after it shows without it.
TEST(EnginePartials, ALeadInIsHeldBackUntilItIsKnown) {
    Engine e;
    e.primary->setStreamScript({
        Event::partial(u"Sure"),
        Event::partial(u"Sure! Here is the"),
        Event::partial(u"Sure! Here is the corrected text:"),
        Event::partial(u"Sure! Here is the corrected text: We should"),
        Event::partial(u"Sure! Here is the corrected text: We should go. Let me"),
        ScriptedProvider::completed(
            u"x", u"Sure! Here is the corrected text: We should go. Let me know!"),
    });
    const auto result = e.run(u"we shoud go.");
    EXPECT_EQ(result.outcome, Outcome::corrected());
    EXPECT_EQ(result.output, u"We should go.");
    EXPECT_EQ(e.partials, (std::vector<std::u16string>{u"We should", u"We should go."}));
}

// A long word streamed a few characters at a time (a link) shows once the answer goes past it:
// the answer is not judged again for each piece of the word.
TEST(EnginePartials, AWordStillGrowingShowsOnceTheAnswerGoesPastIt) {
    Engine e;
    e.primary->setStreamScript({Event::partial(u"See https://exa"),
                                Event::partial(u"See https://example.com/a"),
                                Event::partial(u"See https://example.com/a/b now"),
                                ScriptedProvider::completed(u"x", u"See https://example.com/a/b now")});
    e.run(u"see https://example.com/a/b now");
    EXPECT_EQ(e.partials, (std::vector<std::u16string>{u"See https://exa",
                                                       u"See https://example.com/a/b now"}));
}

TEST(EnginePartials, TrailingSpacesOfTheInputFollowTheRawPartial) {
    Engine e;
    e.primary->setStreamScript({Event::partial(u"The ca"), Event::partial(u"The cat sat  "),
                                ScriptedProvider::completed(u"x", u"The cat sat  ")});
    e.run(u"teh cat sat  ");
    ASSERT_EQ(e.partials.size(), 2u);
    EXPECT_EQ(e.partials[0], u"The ca");
    EXPECT_EQ(e.partials[1], u"The cat sat  ");
}

// ---- Entry points and the interface's defaults
// --------------------------------------------------------

TEST(EngineEntryPoints, SimpleCallsMakeTheirOwnDecisionAndForwardContext) {
    Engine e;
    e.primary->setStreamScript(
        {Event::partial(u"The cat"), ScriptedProvider::completed(u"x", u"The cat")});
    std::vector<std::u16string> seen;
    const auto result =
        e.engine->correct(u"teh cat", u"Context here.",
                          [&](const std::u16string& text) { seen.push_back(text); }, {});
    EXPECT_EQ(seen, std::vector<std::u16string>{u"The cat"});
    EXPECT_EQ(result.decision->contextBefore, u"Context here.");
    EXPECT_EQ(result.decision->id.rfind("decision-", 0), 0u);
    EXPECT_EQ(e.primary->streamRequests().at(0).contextBefore, u"Context here.");
}

// Only the text-alone call is implemented; every other entry point uses the defaults.
class MinimalGenerator final : public QNServiceCorrectionGenerating {
  public:
    QNModelAvailabilitySummary availabilitySummary() override { return {true, "Ready", ""}; }
    void prewarm() override {}
    using QNServiceCorrectionGenerating::correct;
    QNModelCorrectionResult correct(const std::u16string& text, std::stop_token) override {
        seen.push_back(text);
        return QNModelCorrectionResult(text, text + u"!", Outcome::corrected(), {}, 4.0);
    }
    std::vector<std::u16string> seen;
};

TEST(EngineEntryPoints, TheInterfaceDefaultsDropWhatTheTypeCannotUse) {
    MinimalGenerator generator;
    EXPECT_EQ(generator.diagnosticsSummary().primary.providerID, "unknown");
    EXPECT_EQ(generator.diagnosticsSummary().primary.route, QNModelCorrectionRoute::unknown);
    bool partialCalled = false;
    const auto result =
        generator.correct(u"hi", u"ctx", [&](const std::u16string&) { partialCalled = true; }, {});
    EXPECT_EQ(result.output, u"hi!");
    EXPECT_FALSE(partialCalled);

    QNCorrectionDecision decision;
    const auto traced = generator.correct(u"hi", u"some context", decision,
                                          QNMisbehaviorRuleIDSet{"x"}, QNPartialTextHandler{}, {});
    EXPECT_EQ(decision.input, u"hi");
    EXPECT_EQ(decision.contextBefore, u"some context");
    EXPECT_EQ(decision.output, u"hi!");
    EXPECT_EQ(decision.status, Status::accepted());
    EXPECT_EQ(decision.latencyMilliseconds, 4.0);
    EXPECT_TRUE(decision.finishedAt.has_value());
    EXPECT_EQ(traced.decision, decision);
    EXPECT_EQ(generator.seen, (std::vector<std::u16string>{u"hi", u"hi"}));
}

}  // namespace
}  // namespace ravlin
