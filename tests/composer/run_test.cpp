// A person types into the real editor, off screen, while the real engine answers over a scripted
// provider; the worker and the clock are both driven by hand, so everything runs on virtual time.

#include <gtest/gtest.h>

#include <QTest>

#include "app/composer/composer_service.h"
#include "app/editor/controller_auto_correcting_text.h"
#include "app/preferences/defaults.h"
#include "core/providers/retry_after.h"
#include "core/text/unicode.h"
#include "tests/support/manual_work_runner.h"
#include "tests/support/scripted_provider.h"

namespace ravlin {
namespace {

using namespace std::chrono_literals;
using testing::ManualWorkRunner;
using testing::ScriptedProvider;
using Event = QNModelCorrectionStreamEvent;
using Kind = QNStateComposer::Kind;

QCoro::Task<> commitInto(QNServiceComposer* composer, std::optional<std::u16string>* text) {
    *text = co_await composer->polishBeforeCommit(800ms);
}

QCoro::Task<> settleInto(QNServiceComposer* composer, std::optional<bool>* settled) {
    *settled = co_await composer->waitUntilSettled(std::nullopt);
}

class CorrectionRun : public ::testing::Test {
  public:
    void SetUp() override {
        provider->setDiagnostics({.providerID = "cloud", .route = QNModelCorrectionRoute::remote});
        controller = std::make_shared<QNControllerAutoCorrectingText>(
            QNModelTextEditorInteractionMode::composer, executor);
        view = controller->textView();
        view->resize(420, 200);
        view->show();
        composer = std::make_unique<QNServiceComposer>(QNServiceComposer::Construction{
            .controller = controller,
            .polishEngine = std::make_shared<QNEngineCorrection>("prompt", provider),
            .clock = executor,
            .workRunner = runner,
            .sessionLog = log,
        });
        composer->setLogSessionID("s001");
    }
    void TearDown() override {
        composer.reset();
        controller.reset();
        settle();
    }
    void type(const char* keys) {
        QTest::keyClicks(view, keys);
        executor->runUntilIdle();
    }
    // Lets the debounce pass, runs the engine call and every animation after it.
    void settle() {
        for (int round = 0; round < 4; ++round) {
            executor->advance(200ms);
            runner->runAll();
            executor->advance(1s);
        }
    }
    // A person's keys, one every 120 ms; the worker answers whatever went out meanwhile. What
    // the editor showed after each key is kept in `shown`.
    void typeAtPace(const char* keys) {
        for (const char* key = keys; *key != '\0'; ++key) {
            QTest::keyClick(view, *key);
            executor->runUntilIdle();
            shown.push_back(controller->string());
            executor->advance(120ms);
            runner->runAll();
        }
    }
    [[nodiscard]] bool logged(std::string_view part) const {
        return std::ranges::any_of(log->entries(), [&](const auto& entry) {
            return entry.message.find(part) != std::string::npos;
        });
    }
    [[nodiscard]] std::vector<QNCorrectionEventStatus::Kind> eventKinds(
        QNCorrectionEventSource::Kind source) const {
        std::vector<QNCorrectionEventStatus::Kind> kinds;
        for (const auto& event : composer->events.get()) {
            if (event.source.kind == source) {
                kinds.push_back(event.status.kind);
            }
        }
        return kinds;
    }

    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    std::shared_ptr<ManualWorkRunner> runner = std::make_shared<ManualWorkRunner>();
    std::shared_ptr<ScriptedProvider> provider = ScriptedProvider::make("cloud");
    std::shared_ptr<QNLoggerEvent> log = [] {
        auto logger = std::make_shared<QNLoggerEvent>(std::make_shared<MemoryDefaults>());
        logger->startCapturing();
        return logger;
    }();
    std::shared_ptr<QNControllerAutoCorrectingText> controller;
    QNTextViewCommitAware* view = nullptr;
    std::unique_ptr<QNServiceComposer> composer;
    // What the editor showed after each partial, as the stream went.
    std::vector<std::u16string> shown;
};

TEST_F(CorrectionRun, FinishedSentenceIsPolishedPartialByPartial) {
    provider->setStreamScript({Event::partial(u"I will"), Event::partial(u"I will mail"),
                               ScriptedProvider::completed(u"I will send the parcel.",
                                                           u"I will mail the package.")});
    bool waved = false;
    provider->setAfterEvent([&](std::size_t, const Event& event) {
        executor->advance(300ms);
        if (event.kind() == Event::Kind::partial) {
            shown.push_back(controller->string());
        }
        waved = waved || controller->hasPrefixWaveTask();
    });
    type("i will send the parcel. ");
    settle();

    // Each partial shows with the typed words it has not reached yet: nothing shrinks, nothing
    // after the answer so far goes, and a partial that changes nothing writes nothing.
    EXPECT_EQ(shown, (std::vector<std::u16string>{u"I will send the parcel. ",
                                                  u"I will mail the parcel. "}));
    EXPECT_TRUE(waved);
    EXPECT_EQ(controller->string(), u"I will mail the package. ");
    EXPECT_EQ(composer->buffers.canonicalText, u"I will mail the package. ");
    EXPECT_EQ(composer->status.get(), QNStateComposer::applied());
    using S = QNCorrectionEventStatus::Kind;
    EXPECT_EQ(eventKinds(QNCorrectionEventSource::Kind::modelStream), std::vector{S::superseded});
    EXPECT_EQ(eventKinds(QNCorrectionEventSource::Kind::modelSentencePolish), std::vector{S::live});
    const auto& decision = composer->recentDecisions.get().back();
    EXPECT_EQ(decision.status.kind, QNCorrectionDecisionStatus::Kind::accepted);
    EXPECT_EQ(decision.contextBefore, u"");
    EXPECT_EQ(composer->sealedContextPrefix, u"I will mail the package.");
    EXPECT_TRUE(logged("sid=s001 state=scheduled boundary=terminator"));
    EXPECT_TRUE(logged("sid=s001 req=r001 state=applied outcome=corrected"));
    EXPECT_FALSE(composer->correctionTask);
    EXPECT_FALSE(composer->dirtySpan) << "only the space after the sentence was left";
}

// A pause at a comma sends the sentence so far; the words typed after it go on with that
// sentence: no capital comes to them, neither at once nor when they go out, with the corrected
// piece before them as context.
TEST_F(CorrectionRun, APauseAtACommaStartsNoSentence) {
    provider->enqueueStreamScript(
        {ScriptedProvider::completed(u"Thx for the help,", u"Thanks for the help,")});
    provider->enqueueStreamScript(
        {ScriptedProvider::completed(u" ur the best.", u"you're the best.")});
    typeAtPace("thx for the help,");
    settle();
    ASSERT_EQ(controller->string(), u"Thanks for the help,");
    ASSERT_EQ(composer->sealedContextPrefix, u"Thanks for the help,");

    shown.clear();
    typeAtPace(" ur the best.");
    for (const std::u16string& text : shown) {
        EXPECT_EQ(text.find(u"Ur"), std::u16string::npos) << text::toUtf8(text);
    }
    settle();
    EXPECT_EQ(controller->string(), u"Thanks for the help, you're the best.");
    const auto requests = provider->streamRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].text, u" ur the best.");
    EXPECT_EQ(requests[1].contextBefore, u"Thanks for the help,");
    EXPECT_TRUE(logged("sid=s001 state=scheduled boundary=soft-punctuation"));
}

// An answer that finishes the piece sent at a comma is refused: the piece stays as typed, the
// person's own ending follows it, and the next request asks about the whole sentence.
TEST_F(CorrectionRun, APieceFinishedByTheAnswerIsAskedAgainWithTheWholeSentence) {
    provider->enqueueStreamScript({ScriptedProvider::completed(
        u"", u"I won't be able to make it, I'm stuck at work.")});
    provider->enqueueStreamScript({ScriptedProvider::completed(
        u"", u"I won't be able to make it, I'm stuck at work.")});
    typeAtPace("i wont be able to make it,");
    settle();
    EXPECT_EQ(controller->string().find(u"stuck"), std::u16string::npos)
        << text::toUtf8(controller->string());
    EXPECT_TRUE(logged("state=rejected outcome=rejected reason={not a correction (words after the "
                       "end)}"));

    typeAtPace(" im stuck at work.");
    settle();
    EXPECT_EQ(controller->string(), u"I won't be able to make it, I'm stuck at work.");
    const auto requests = provider->streamRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(requests[1].text.starts_with(requests[0].text)) << text::toUtf8(requests[1].text);
    EXPECT_TRUE(requests[1].text.ends_with(u" stuck at work.")) << text::toUtf8(requests[1].text);
    EXPECT_FALSE(requests[1].contextBefore);
}

// A pause sends the whole unfinished text; its streamed answer shows over the words it has
// reached, and the rest of what was typed stays on screen until the answer gets there.
TEST_F(CorrectionRun, AStreamedAnswerNeverTakesTheTypedTextAfterIt) {
    provider->setStreamScript(
        {Event::partial(u"I"), Event::partial(u"I mailed it. We"),
         Event::partial(u"I mailed it. We meet"),
         ScriptedProvider::completed(u"I sent it. We meet at noon", u"I mailed it. We meet at noon")});
    provider->setAfterEvent([&](std::size_t, const Event& event) {
        executor->advance(300ms);
        if (event.kind() == Event::Kind::partial) {
            shown.push_back(controller->string());
        }
    });
    // Too short before its full stop for a sentence boundary: the pause sends it all.
    type("i sent it. we meet at noon");
    settle();

    ASSERT_EQ(provider->streamRequests().size(), 1u);
    EXPECT_EQ(provider->streamRequests()[0].text, u"I sent it. We meet at noon");
    EXPECT_EQ(shown, (std::vector<std::u16string>{
                         u"I sent it. We meet at noon",
                         u"I mailed it. We meet at noon",
                         u"I mailed it. We meet at noon",
                     }));
    EXPECT_EQ(controller->string(), u"I mailed it. We meet at noon");
    EXPECT_TRUE(logged("state=scheduled boundary=idle"));
}

// Model text lands without pulses; the instant local fixes keep theirs.
TEST_F(CorrectionRun, ModelTextLandsWithoutPulsesAndLocalFixesPulse) {
    // The answer keeps every word typed: one left out would be refused.
    provider->setStreamScript(
        {Event::partial(u"The hello,"),
         ScriptedProvider::completed(u"The hello there.", u"The hello, there.")});
    type("teh ");
    EXPECT_EQ(controller->string(), u"The ");
    EXPECT_FALSE(controller->fadePulses().empty()) << "the local fix pulses";
    type("hello there. ");
    executor->advance(200ms);
    runner->runAll();
    for (int step = 0; step < 2000 && controller->string() != u"The hello, there. "; ++step) {
        if (controller->string() != u"The hello there. ") {
            ASSERT_TRUE(controller->fadePulses().empty()) << "model text pulsed at " << step;
        }
        executor->advance(1ms);
    }
    EXPECT_EQ(controller->string(), u"The hello, there. ");
    EXPECT_TRUE(controller->fadePulses().empty());
}

// The engine stamps its own clock; a decision is kept on the service's, so the coverage window
// runs on the executor's time.
TEST_F(CorrectionRun, DecisionsAndTheirCoverageUseTheExecutorsClock) {
    provider->setStreamScript({ScriptedProvider::completed(u"Hello there.", u"Hello, there.")});
    type("hello there. ");
    settle();
    const auto decision = composer->recentDecisions.get().back();
    ASSERT_EQ(decision.status.kind, QNCorrectionDecisionStatus::Kind::accepted);
    ASSERT_TRUE(decision.finishedAt);
    EXPECT_GE(*decision.finishedAt, decision.startedAt);
    EXPECT_LE(*decision.finishedAt, executor->now());
    EXPECT_LT(executor->now() - *decision.finishedAt, 10s);

    QNModelCorrectionJob job;
    job.scope = QNModelCorrectionJob::Scope::sentencePolish;
    job.targetPrefix = u"Hello there.";
    job.targetRange = {0, 12};
    const auto key = composer->dedupeKey(job);
    executor->advance(*decision.finishedAt + 10s - executor->now());
    EXPECT_TRUE(composer->recentDecisionsCover(job, key, executor->now()));
    executor->advance(1ms);
    EXPECT_FALSE(composer->recentDecisionsCover(job, key, executor->now()));
}

TEST_F(CorrectionRun, StreamFailingAfterPartialsRollsBackToTheTypedText) {
    provider->setStreamScript({Event::partial(u"Hello,"), Event::failed("HTTP 500")});
    provider->setAfterEvent([&](std::size_t, const Event&) {
        executor->advance(300ms);
        shown.push_back(controller->string());
    });
    type("hello there. ");
    settle();

    EXPECT_EQ(shown.front(), u"Hello, there. ");
    EXPECT_EQ(controller->string(), u"Hello there. ");
    // The line says why, in the menu's words too, and that the local rules had the text.
    EXPECT_TRUE(logged("state=failed outcome=failed reason={HTTP 500} "
                       "issue={Cloud failed - using local} input_len=12"));
    EXPECT_TRUE(logged("handled_by={model_kind=LOCAL route=local provider=local-rules "
                       "name=Local_rules}"));
    EXPECT_EQ(composer->buffers.canonicalText, u"Hello there. ");
    const auto streamed = eventKinds(QNCorrectionEventSource::Kind::modelStream);
    EXPECT_FALSE(streamed.empty());
    for (const auto kind : streamed) {
        EXPECT_EQ(kind, QNCorrectionEventStatus::Kind::rolledBack);
    }
    EXPECT_EQ(composer->status.get().kind, Kind::error);
    EXPECT_TRUE(composer->correctionIssue.get().has_value());
}

// The route as it stands here: the service first, an on-device model that is not there behind
// it. Each call answers by `answer` from the text it was asked about.
class RefusingRun : public CorrectionRun {
  public:
    void SetUp() override {
        CorrectionRun::SetUp();
        auto onDevice = ScriptedProvider::make("foundation-models");
        onDevice->setDiagnostics(
            {.providerID = "foundation-models", .route = QNModelCorrectionRoute::local});
        onDevice->setAvailability({false, "Device Not Eligible", "No on-device model."});
        composer->polishEngine = std::make_shared<QNEngineCorrection>("prompt", provider, onDevice);
        provider->setGenerateHandler([this](const QNModelCorrectionRequest& request, auto) {
            return ScriptedProvider::success(request.text, answer(request.text));
        });
    }
    std::function<std::u16string(const std::u16string&)> answer;
};

// Answers that are no correction of the sentence: each is refused, the typed sentence stays as
// it stood, the log says why, and no cloud failure is shown or counted towards the hold.
TEST_F(RefusingRun, AnAnswerThatIsNoCorrectionLeavesTheTypedText) {
    const std::u16string polished = u"We should bring the report tomorrow.";
    const std::vector<std::pair<std::u16string, std::string>> answers{
        {u"We.", "far shorter"},
        {u"The meeting has been cancelled and nobody needs to bring anything.",
         "most words replaced"},
        {u"Wir sollten den Bericht morgen mitbringen.", "most words replaced"},
        {u"\u660e\u65e5\u30ec\u30dd\u30fc\u30c8\u3092\u6301\u3063\u3066\u304f\u308b\u3002",
         "another script"},
        {polished + u" " + polished, "sentence repeated"},
        {std::u16string(1049, u'x'), "far longer"},
    };
    for (const auto& [reply, reason] : answers) {
        SCOPED_TRACE(reason);
        composer->reset();
        answer = [text = reply](const std::u16string&) { return text; };
        type("we shoud bring teh report tomorow. ");
        const std::u16string typed = controller->string();
        settle();
        EXPECT_EQ(controller->string(), typed);
        EXPECT_EQ(composer->buffers.canonicalText, typed);
        EXPECT_TRUE(logged("state=rejected outcome=rejected reason={not a correction (" + reason +
                           ")}"));
    }
    EXPECT_FALSE(composer->correctionIssue.get());
    EXPECT_EQ(composer->consecutiveHostedFallbackDispatchCount.get(), 0);
    EXPECT_FALSE(composer->unavailableHoldUntil());
    EXPECT_FALSE(logged("fallback_happened"));
}

// A sentence typed again is polished like any other, not refused as an echo of the first.
TEST_F(RefusingRun, ASentenceTypedTwiceIsPolishedBothTimes) {
    answer = [](std::u16string text) {
        if (const auto at = text.find(u"shoud"); at != std::u16string::npos) {
            text.replace(at, 5, u"should");
        }
        return text;
    };
    type("we shoud go now. ");
    settle();
    type("we shoud go now. ");
    settle();
    EXPECT_EQ(controller->string(), u"We should go now. We should go now. ");
    EXPECT_FALSE(logged("state=rejected"));
    EXPECT_FALSE(composer->correctionIssue.get());
    const auto requests = provider->generateRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].contextBefore, u"We should go now.");
}

// A sentence whose answer was refused stays as typed and is not asked about again: the sentences
// typed after it go out without it, and their answers leave it alone.
TEST_F(RefusingRun, ARefusedSentenceIsNotSentAgainWithTheNextOnes) {
    answer = [](std::u16string text) -> std::u16string {
        if (text.find(u"pasword") != std::u16string::npos) {
            return u"To reset your password, open the settings and choose a new one.";
        }
        for (const auto& [typo, word] : {std::pair{u"shoud", u"should"}, {u"teh", u"the"}}) {
            if (const auto at = text.find(typo); at != std::u16string::npos) {
                text.replace(at, std::u16string_view(typo).size(), word);
            }
        }
        return text;
    };
    type("how do i reset my pasword? ");
    settle();
    const std::u16string refused = controller->string();
    ASSERT_TRUE(logged("state=rejected"));
    for (const char* sentence : {"we shoud go now. ", "teh bus leaves soon. ", "we shoud hurry. "}) {
        type(sentence);
        settle();
    }
    EXPECT_EQ(controller->string(),
              refused + u"We should go now. The bus leaves soon. We should hurry. ");
    const auto requests = provider->generateRequests();
    ASSERT_EQ(requests.size(), 4u);
    for (std::size_t i = 1; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].text.find(u"pasword"), std::u16string::npos)
            << text::toUtf8(requests[i].text);
    }
}

// A person mends a word of a sentence already polished, key by key, while the next one is half
// typed: the sentence's end stands already, so nothing goes out until they pause; then it goes
// out once.
TEST_F(CorrectionRun, EditsInsideAFinishedSentenceGoOutOnceAfterThePause) {
    provider->setGenerateHandler(
        [](const QNModelCorrectionRequest& request, auto) {
            return ScriptedProvider::success(request.text, request.text);
        });
    type("i zorp it. ");
    settle();
    ASSERT_EQ(provider->generateRequests().size(), 1u);
    type("we go");
    view->setSelectedRange({5, 0});  // "I zor|p it."
    for (const char* key : {"i", "e", "v"}) {
        executor->advance(200ms);
        type(key);
        runner->runAll();
    }
    QTest::keyClick(view, Qt::Key_Delete);
    executor->runUntilIdle();
    executor->advance(1000ms);
    runner->runAll();
    EXPECT_EQ(provider->generateRequests().size(), 1u) << "a request went out before the pause";
    settle();
    const auto requests = provider->generateRequests();
    ASSERT_GE(requests.size(), 2u);
    // The pause sends the mended sentence with what follows it.
    EXPECT_EQ(requests[1].text, u"I zoriev it. We go");
    EXPECT_FALSE(logged("superseded-by-input"));
}

// Whole sentences taken out leave the others as they were: a polished one is not asked about
// again, nor is one still going out, which goes on from its new place.
TEST_F(CorrectionRun, TakingOutASentenceSendsNoOtherAgain) {
    provider->setGenerateHandler([](const QNModelCorrectionRequest& request, auto) {
        return ScriptedProvider::success(request.text, request.text);
    });
    type("hello there. ");
    settle();
    type("good night. ");
    settle();
    ASSERT_EQ(provider->generateRequests().size(), 2u);
    view->setSelectedRange({0, 13});  // "Hello there. "
    QTest::keyClick(view, Qt::Key_Backspace);
    executor->runUntilIdle();
    settle();
    EXPECT_EQ(controller->string(), u"Good night. ");
    EXPECT_EQ(provider->generateRequests().size(), 2u);
    EXPECT_FALSE(composer->dirtySpan);

    composer->begin({}, false, QNPlacementCaret::end, QNComposerCorrectionPolicy::liveTyping);
    provider->setGenerateHandler([](const QNModelCorrectionRequest& request, auto) {
        std::u16string text = request.text;
        if (const auto at = text.find(u"zorp"); at != std::u16string::npos) {
            text.replace(at, 4, u"zap");
        }
        return ScriptedProvider::success(request.text, text);
    });
    type("hello there. ");
    settle();
    type("we will zorp at noon. ");
    executor->advance(200ms);  // its request is out, its answer not yet in
    ASSERT_TRUE(composer->correctionTask);
    view->setSelectedRange({0, 13});
    QTest::keyClick(view, Qt::Key_Backspace);
    executor->runUntilIdle();
    settle();
    EXPECT_EQ(controller->string(), u"We will zap at noon. ");
    EXPECT_EQ(provider->generateRequests().size(), 4u);
    EXPECT_FALSE(logged("superseded-by-input"));
}

// A route that asked to be left alone (Retry-After) gets nothing until the wait is over, and the
// menu says it is waiting.
TEST_F(CorrectionRun, ARouteThatAskedToWaitGetsNothingMeanwhile) {
    QNRetryAfterGate::shared().hold("cloud", 30s);
    provider->setGenerateHandler([](const QNModelCorrectionRequest& request, auto) {
        return ScriptedProvider::success(request.text, request.text);
    });
    type("hello there. ");
    settle();
    EXPECT_EQ(provider->generateRequests().size(), 0u);
    EXPECT_TRUE(logged("state=skipped reason=retry-after"));
    ASSERT_TRUE(composer->correctionIssue.get());
    EXPECT_EQ(composer->correctionIssue.get()->menuDetail, "Waiting to try again - using local");

    QNRetryAfterGate::shared().clear();
    type("good night. ");
    settle();
    EXPECT_EQ(provider->generateRequests().size(), 1u);
    EXPECT_FALSE(composer->correctionIssue.get()) << "an answer clears it";
}

struct TypingCase {
    const char* name;
    std::int64_t caret;  // where the user puts the caret in "Hi there. Hello, there. "
    const char* keys;
    std::u16string text;
    std::int64_t caretAfter;
    bool kept;
    std::u16string resent;  // what goes out next; nothing while the sentence is unfinished
};

void PrintTo(const TypingCase& c, std::ostream* os) {
    *os << c.name;
}

class TypingIntoTheStream : public CorrectionRun,
                            public ::testing::WithParamInterface<TypingCase> {};

// The user changes the streamed sentence, or what it was asked about, while it streams: the
// stream stops and its late answer writes nothing. A key beside the streamed text puts back what
// the user had written there, keeping the key where it was pressed (the space through the key's
// own follow-up, the letters on the next turn); a key inside the streamed text keeps it as the
// user sees it, as the user's. The next polish is scheduled as after any edit.
TEST_P(TypingIntoTheStream, RollsBackAroundTheKeyOrKeepsWhatTheKeyEdited) {
    using S = QNCorrectionEventStatus::Kind;
    const TypingCase& c = GetParam();
    provider->setStreamScript({Event::partial(u"Hello,"),
                               ScriptedProvider::completed(u"Hello there.", u"Hello, there.")});
    bool typed = false;
    provider->setAfterEvent([&](std::size_t index, const Event&) {
        executor->advance(300ms);
        if (index == 0 && !typed) {
            typed = true;
            shown.push_back(controller->string());
            view->setSelectedRange({c.caret, 0});
            type(c.keys);
        }
    });
    type("hi there. ");
    composer->sealedContextPrefix = u"Hi there. ";  // the first sentence was polished
    type("hello there. ");
    executor->advance(200ms);
    runner->runAll();  // the stopped call ends at its next step; its result comes back late
    executor->advance(500ms);

    EXPECT_EQ(shown.at(0), u"Hi there. Hello, there. ");
    EXPECT_EQ(controller->string(), c.text);
    EXPECT_EQ(view->selectedRange(), (text::Utf16Range{c.caretAfter, 0}));
    EXPECT_EQ(composer->buffers.canonicalText, c.text);
    EXPECT_TRUE(logged("state=cancelled reason=superseded-by-input"));
    EXPECT_FALSE(logged("state=applied"));
    EXPECT_TRUE(eventKinds(QNCorrectionEventSource::Kind::modelSentencePolish).empty());
    const auto streamed = eventKinds(QNCorrectionEventSource::Kind::modelStream);
    ASSERT_FALSE(streamed.empty());
    for (const auto kind : streamed) {
        EXPECT_EQ(kind, c.kept ? S::superseded : S::rolledBack);
    }
    const auto& events = composer->events.get();
    const auto user = std::ranges::find_if(events, [](const auto& event) {
        return event.source.kind == QNCorrectionEventSource::Kind::userEdit;
    });
    ASSERT_EQ(user != events.end(), c.kept);
    const auto& decision = composer->recentDecisions.get().back();
    EXPECT_EQ(decision.status, QNCorrectionDecisionStatus::skipped("superseded-by-input"));
    if (c.kept) {
        EXPECT_EQ(user->status.kind, S::live);
        EXPECT_EQ(user->original, u"Hello there.");
        EXPECT_EQ(user->replacement, u"Helxlo, there.");
        EXPECT_EQ(decision.appliedEventIDs, std::vector{user->id});
        EXPECT_EQ(decision.output, u"Hello, there.");
    } else {
        EXPECT_TRUE(decision.appliedEventIDs.empty());
    }

    // The sentence goes out again at its next boundary.
    provider->setStreamScript({Event::unavailable("Service offline")});
    settle();
    const auto requests = provider->streamRequests();
    if (c.resent.empty()) {
        EXPECT_EQ(requests.size(), 1u);
    } else {
        ASSERT_GE(requests.size(), 2u);
        EXPECT_EQ(requests[1].text, c.resent);
    }
}

INSTANTIATE_TEST_SUITE_P(
    KeyBesideOrInside, TypingIntoTheStream,
    ::testing::Values(TypingCase{"before", 8, " ", u"Hi there . Hello there. ", 9, false,
                                 u"Hi there . Hello there."},
                      TypingCase{"inside", 13, "x", u"Hi there. Helxlo, there. ", 14, true,
                                 u"Helxlo, there."},
                      // Letters right after its full stop make it no sentence end after all.
                      TypingCase{"continuing its last word", 23, "x", u"Hi there. Hello there.x ",
                                 23, false, u""}),
    [](const auto& info) {
        std::string name = info.param.name;
        std::ranges::replace(name, ' ', '_');
        return name;
    });

// The person types on after a finished sentence while its answer streams: the request goes on
// and its answer lands, the next words stay as typed (their own local fixes made, one of them
// longer than what was typed), the sentence goes out once.
TEST_F(CorrectionRun, TypingTheNextSentenceLeavesTheStreamedOneGoing) {
    provider->setStreamScript({Event::partial(u"Hello,"),
                               ScriptedProvider::completed(u"Hello there.", u"Hello, there.")});
    provider->setAfterEvent([&](std::size_t index, const Event&) {
        executor->advance(300ms);
        if (index == 0) {
            shown.push_back(controller->string());
            type("i dont k");
            shown.push_back(controller->string());
        }
    });
    type("hello there. ");
    executor->advance(200ms);
    runner->runAll();
    executor->advance(500ms);

    EXPECT_EQ(shown,
              (std::vector<std::u16string>{u"Hello, there. ", u"Hello, there. I don't k"}));
    EXPECT_EQ(controller->string(), u"Hello, there. I don't k");
    EXPECT_EQ(composer->buffers.canonicalText, u"Hello, there. I don't k");
    EXPECT_EQ(view->selectedRange(), (text::Utf16Range{23, 0}));
    EXPECT_FALSE(logged("superseded-by-input"));
    EXPECT_TRUE(logged("req=r001 state=applied outcome=corrected"));
    ASSERT_TRUE(composer->dirtySpan);
    EXPECT_EQ(composer->dirtySpan->range, (text::Utf16Range{13, 10}));

    // The next sentence goes out alone, after the polished one as its context.
    provider->setStreamScript(
        {ScriptedProvider::completed(u" I don't know.", u" I don't know.")});
    provider->setAfterEvent({});
    type("now. ");
    settle();
    EXPECT_TRUE(logged("state=scheduled boundary=terminator input_len=14"))
        << "the full stop typed right after a longer answer ends the sentence";
    const auto requests = provider->streamRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].text, u"Hello there.");
    EXPECT_EQ(requests[1].text, u" I don't know.");
    EXPECT_EQ(requests[1].contextBefore, u"Hello, there.");
}

// Keys typed after a finished sentence during its debounce do not put its dispatch off: it goes
// out once, 120 ms after the boundary, however fast the next words come. A key that changes
// the sentence (its full stop taken back) cancels it instead.
TEST_F(CorrectionRun, TypingOnDoesNotPutTheDispatchOffButChangingTheSentenceDoes) {
    provider->setStreamScript({ScriptedProvider::completed(u"Hello there.", u"Hello, there.")});
    type("hello there.");
    for (const char* key : {" ", "h", "o", "w", " ", "a"}) {
        executor->advance(30ms);
        type(key);
    }
    EXPECT_EQ(composer->followUps.startedRuns.size(), 1u);
    runner->runAll();
    executor->advance(500ms);
    EXPECT_EQ(controller->string(), u"Hello, there. How a");
    EXPECT_EQ(provider->streamRequests().size(), 1u);

    composer->reset();
    type("good night.");
    executor->advance(30ms);
    QTest::keyClick(view, Qt::Key_Backspace);
    executor->runUntilIdle();
    executor->advance(500ms);
    EXPECT_EQ(composer->followUps.startedRuns.size(), 1u) << "the changed sentence went out";
    EXPECT_TRUE(logged("state=cancelled reason=superseded-by-input"));
}

TEST_F(CorrectionRun, TextChangedUnderTheStreamIsNeitherOverwrittenNorRolledBackOver) {
    provider->setStreamScript({Event::partial(u"Hello,"),
                               ScriptedProvider::completed(u"Hello there.", u"Hello, there.")});
    provider->setAfterEvent([&](std::size_t index, const Event&) {
        executor->advance(300ms);
        if (index == 0) {
            controller->setText(u"Other words. ", QNPlacementCaret::end);  // not a user edit
        }
    });
    type("hello there. ");
    executor->advance(200ms);
    runner->runAll();
    executor->advance(500ms);

    EXPECT_EQ(controller->string(), u"Other words. ");
    EXPECT_EQ(composer->buffers.canonicalText, u"Other words. ");
    EXPECT_TRUE(logged("state=stale"));
    EXPECT_EQ(composer->status.get(), QNStateComposer::idle());
}

TEST_F(CorrectionRun, IdleTextIsPolishedAfterThePause) {
    provider->setStreamScript({ScriptedProvider::completed(u"Hello there", u"Hello, there")});
    type("hello there");
    executor->advance(1400ms);
    runner->runAll();
    EXPECT_TRUE(provider->streamRequests().empty());
    settle();
    EXPECT_EQ(controller->string(), u"Hello, there");
    EXPECT_TRUE(logged("state=scheduled boundary=idle"));
}

TEST_F(CorrectionRun, ThreeUnavailableResultsHoldPolishAndRaiseAPersistentIssue) {
    provider->setStreamScript({Event::unavailable("Service offline")});
    type("hello there. ");
    settle();
    for (int again = 0; again < 3; ++again) {
        executor->advance(10s);  // past the memory of the last failure
        composer->maybeDispatchSentencePolish(QNBoundaryEvent::terminator);
        settle();
    }
    EXPECT_EQ(provider->streamRequests().size(), 3u);
    EXPECT_TRUE(logged("state=skipped reason=unavailable-hold"));
    EXPECT_TRUE(composer->correctionUnavailableWarning.get().has_value());
    ASSERT_TRUE(composer->correctionIssue.get().has_value());
    EXPECT_TRUE(composer->correctionIssue.get()->isPersistent);
    EXPECT_EQ(controller->string(), u"Hello there. ");
}

TEST_F(CorrectionRun, AcceptedSentenceIsNotSentAgain) {
    provider->setStreamScript({ScriptedProvider::completed(u"Hello there.", u"Hello there.")});
    type("hello there. ");
    settle();
    composer->sealedContextPrefix.clear();
    composer->maybeDispatchSentencePolish(QNBoundaryEvent::terminator);
    EXPECT_EQ(provider->streamRequests().size(), 1u);
    EXPECT_TRUE(logged("state=skipped reason=duplicate"));
    EXPECT_EQ(composer->status.get(), QNStateComposer::idle());
}

// A session's duplicates are its own: the same sentence typed again in the next session is
// polished again, whatever became of it before (applied, found unchanged or failed).
TEST_F(CorrectionRun, ASentenceTypedAgainInANewSessionIsPolishedAgain) {
    const std::vector<std::pair<const char*, Event>> earlier{
        {"applied", ScriptedProvider::completed(u"Hello there.", u"Hello, there.")},
        {"unchanged", ScriptedProvider::completed(u"Hello there.", u"Hello there.")},
        {"failed", Event::failed("HTTP 500")},
    };
    int session = 1;
    for (const auto& [name, answer] : earlier) {
        SCOPED_TRACE(name);
        const auto before = provider->streamRequests().size();
        provider->setStreamScript({answer});
        composer->reset();
        composer->setLogSessionID("s10" + std::to_string(session++));
        type("hello there. ");
        settle();
        provider->setStreamScript({ScriptedProvider::completed(u"Hello there.", u"Hello, there.")});
        composer->reset();
        composer->setLogSessionID("s10" + std::to_string(session++));
        type("hello there. ");
        settle();
        EXPECT_EQ(provider->streamRequests().size(), before + 2);
        EXPECT_EQ(controller->string(), u"Hello, there. ");
    }
    EXPECT_FALSE(logged("reason=duplicate"));
    EXPECT_FALSE(logged("reason=covered"));
}

TEST_F(CorrectionRun, PolishBeforeCommitGivesUpOnAStalledStreamAtItsDeadline) {
    provider->setStreamScript({Event::partial(u"Hello,"), ScriptedProvider::WaitForStop{}});
    std::optional<std::u16string> committed;
    provider->setAfterEvent([&](std::size_t, const Event&) {
        executor->advance(799ms);
        EXPECT_FALSE(committed);
        executor->advance(2ms);
    });
    type("hello there");
    commitInto(composer.get(), &committed);
    runner->runAll();
    settle();
    ASSERT_TRUE(committed);
    EXPECT_EQ(*committed, u"Hello there");
    EXPECT_TRUE(logged("state=cancelled reason=commit-timeout"));
}

// Return right after a sentence's polish failed: the same text is not sent again, and the
// commit takes the text at once.
TEST_F(CorrectionRun, ReturnAfterAFailedPolishDoesNotSendItAgain) {
    provider->setStreamScript({Event::failed("HTTP 500")});
    type("hello there. ");
    settle();
    ASSERT_EQ(provider->streamRequests().size(), 1u);
    std::optional<std::u16string> committed;
    commitInto(composer.get(), &committed);
    ASSERT_TRUE(committed) << "the commit waited";
    EXPECT_EQ(*committed, u"Hello there. ");
    EXPECT_EQ(provider->streamRequests().size(), 1u);
    EXPECT_TRUE(logged("state=skipped reason=recently-failed boundary=commit"));
}

// Return while a finished sentence is out: the commit waits for it, then asks about what was
// typed after it, alone.
TEST_F(CorrectionRun, ReturnWaitsForTheSentenceOutThenSendsTheRest) {
    provider->enqueueStreamScript(
        {ScriptedProvider::completed(u"Hello there.", u"Hello, there.")});
    provider->enqueueStreamScript({ScriptedProvider::completed(u" How ar", u" How are")});
    type("hello there. ");
    executor->advance(200ms);  // the sentence went out
    type("how ar");
    std::optional<std::u16string> committed;
    commitInto(composer.get(), &committed);
    runner->runAll();
    executor->advance(200ms);
    EXPECT_FALSE(committed);
    runner->runAll();
    executor->advance(300ms);
    ASSERT_TRUE(committed);
    EXPECT_EQ(*committed, u"Hello, there. How are");
    const auto requests = provider->streamRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].text, u"Hello there.");
    EXPECT_EQ(requests[1].text, u" How ar");
}

// Return ends the last word as a space would: the local rules fix it (and a word before a full
// stop the text ends with) before the text goes out, and the model is asked about it fixed.
TEST_F(CorrectionRun, ReturnFinishesTheLastWordForTheLocalRules) {
    for (const auto& [typed, expected] : std::vector<std::pair<const char*, std::u16string>>{
             {"i dont know teh answer realy", u"I don't know the answer really"},
             {"it was realy teh.", u"It was really the."},
             {"see you ", u"See you "},
         }) {
        SCOPED_TRACE(typed);
        composer->reset();
        controller->setText(u"", QNPlacementCaret::end);
        const auto asked = provider->streamRequests().size();
        type(typed);
        std::optional<std::u16string> committed;
        commitInto(composer.get(), &committed);
        runner->runAll();
        settle();
        ASSERT_TRUE(committed);
        EXPECT_EQ(*committed, expected);
        const auto requests = provider->streamRequests();
        ASSERT_GT(requests.size(), asked);
        EXPECT_EQ(requests.back().text.find(u"realy"), std::u16string::npos);
    }
}

TEST_F(CorrectionRun, QuickFixBeginSettlesWithAnUnavailableEngine) {
    provider->setStreamScript({Event::unavailable("Service offline")});
    composer->begin(u"teh draft here", true, QNPlacementCaret::visibleEnd,
                    QNComposerCorrectionPolicy::existingText);
    std::optional<bool> settled;
    settleInto(composer.get(), &settled);
    EXPECT_FALSE(settled);
    settle();
    EXPECT_EQ(settled, true);
    EXPECT_TRUE(composer->hasQuietExistingTextBaseline());
    EXPECT_EQ(*composer->existingTextQuietBaseline, controller->string());
}

TEST_F(CorrectionRun, ResetAndDestructionMidRunLeaveNothingBehind) {
    provider->setStreamScript({Event::partial(u"Hello,"), ScriptedProvider::WaitForStop{}});
    provider->setAfterEvent([&](std::size_t, const Event&) {
        executor->advance(300ms);
        composer->reset();
    });
    type("hello there. ");
    settle();
    EXPECT_EQ(controller->string(), u"");
    EXPECT_EQ(composer->buffers.canonicalText, u"");
    EXPECT_FALSE(composer->correctionTask);
    EXPECT_TRUE(logged("state=cancelled reason=reset"));

    provider->setAfterEvent([&](std::size_t, const Event&) { composer.reset(); });
    type("hello there. ");
    settle();  // the partial and the run's resumption find the service gone
    EXPECT_EQ(controller->string(), u"Hello there. ");
}

}  // namespace
}  // namespace ravlin
