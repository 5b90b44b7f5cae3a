// Records of instant local fixes over real rule evaluations, the text probes, and the
// rescheduling after an edit on virtual time.

#include <gtest/gtest.h>

#include <memory>
#include <tuple>

#include "app/composer/composer_service.h"
#include "core/rules/local_fixes.h"
#include "core/text/unicode.h"
#include "platform/fake/fake_desktop.h"

namespace ravlin {
namespace {

using namespace std::chrono_literals;

std::int64_t length(std::u16string_view text) {
    return static_cast<std::int64_t>(text.size());
}

LocalRuleEvaluation evaluate(std::u16string_view text) {
    return localRuleRegistry(QNModelLocalFixRules::all).evaluateDetailed(text, RuleContext{});
}

std::vector<std::string> ruleIDs(const std::vector<QNCorrectionEvent>& events) {
    std::vector<std::string> ids;
    for (const auto& event : events) {
        ids.push_back(event.source.ruleID);
    }
    return ids;
}

class LocalRecords : public ::testing::Test {
  protected:
    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    QNServiceComposer composer{executor};
    // The segment holds an eager whitespace fix that shortens it before further eager fixes, and
    // a tentative phrase fix.
    const std::u16string segment = u"so  i dont think it is nit working now";
    const LocalRuleEvaluation evaluation = evaluate(segment);

    void SetUp() override { composer.buffers.reset(u"Hi. " + segment + u" Bye."); }
};

TEST_F(LocalRecords, EagerFixesRewriteTheSegmentAsItNowStandsAndRecordEach) {
    ASSERT_EQ(evaluation.text, u"So I don't think it is not working now");
    composer.applyEagerLocalApplications(evaluation, {4, length(segment)});

    // Each rewrite replaced what the segment held after the one before: the text around it is
    // intact.
    EXPECT_EQ(composer.buffers.canonicalText, u"Hi. So I don't think it is not working now Bye.");
    EXPECT_EQ(composer.buffers.authoredText, u"Hi. " + segment + u" Bye.");
    EXPECT_TRUE(composer.buffers.projection.satisfiesInvariants());

    const auto events = composer.events.get();
    EXPECT_EQ(ruleIDs(events),
              (std::vector<std::string>{"local.whitespace-collapse", "local.lone-i",
                                        "local.sentence-start-cap", "local.contraction.long"}));
    const auto decisions = composer.recentDecisions.get();
    ASSERT_EQ(decisions.size(), events.size());
    for (std::size_t i = 0; i < events.size(); ++i) {
        SCOPED_TRACE(events[i].source.ruleID);
        const auto& event = events[i];
        // The ranges are those of the given segment; the visible one spans the output.
        EXPECT_EQ(event.canonicalRange, (text::Utf16Range{4, length(segment)}));
        EXPECT_EQ(event.authoredRange, (text::Utf16Range{4, length(segment)}));
        EXPECT_EQ(event.visibleRangeAtApply, (text::Utf16Range{4, length(event.replacement)}));
        EXPECT_EQ(event.tier, ConfidenceTier::eager);
        // Every later fix of the same place supersedes the one before.
        if (i + 1 < events.size()) {
            EXPECT_EQ(event.status, QNCorrectionEventStatus::superseded(events[i + 1].id));
            EXPECT_EQ(events[i + 1].supersedes, std::vector<Uuid>{event.id});
            EXPECT_EQ(decisions[i].supersededByEventIDs, std::vector<Uuid>{events[i + 1].id});
        } else {
            EXPECT_EQ(event.status, QNCorrectionEventStatus::live());
        }

        const auto& decision = decisions[i];
        EXPECT_EQ(event.decisionID, decision.id);
        EXPECT_EQ(decision.appliedEventIDs, std::vector<Uuid>{event.id});
        EXPECT_EQ(decision.source, QNCorrectionDecisionSource::localRule(event.source.ruleID));
        EXPECT_EQ(std::tie(decision.trigger, decision.scope, decision.tier, decision.input,
                           decision.output, decision.status, decision.policyVersion),
                  std::make_tuple(QNCorrectionDecisionTrigger::localRule,
                                  QNCorrectionDecisionScope::local, ConfidenceTier::eager,
                                  event.original, event.replacement,
                                  QNCorrectionDecisionStatus::accepted(), "composer-v2-local"));
        const QNCorrectionNote note{QNCorrectionStageID::preflightLocal, event.source.ruleID,
                                    "rule", event.source.ruleID};
        EXPECT_EQ(decision.structuredNotes, std::vector<QNCorrectionNote>{note});
        ASSERT_EQ(decision.stages.size(), 1u);
        EXPECT_EQ(decision.stages[0].notes, std::vector<QNCorrectionNote>{note});
    }
}

TEST_F(LocalRecords, TentativeFixesAreRecordedWithoutTouchingTheText) {
    const auto before = composer.buffers.canonicalText;
    composer.recordTentativeLocalApplications(evaluation, 4);
    EXPECT_EQ(composer.buffers.canonicalText, before);

    const auto events = composer.events.get();
    ASSERT_EQ(ruleIDs(events), std::vector<std::string>{"local.phrase-pattern"});
    const auto& event = events[0];
    EXPECT_EQ(event.canonicalRange, (text::Utf16Range{4, length(event.original)}));
    EXPECT_EQ(event.visibleRangeAtApply, (text::Utf16Range{4, length(event.replacement)}));
    EXPECT_EQ(event.tier, ConfidenceTier::tentative);
    EXPECT_EQ(composer.recentDecisions.get().at(0).tier, ConfidenceTier::tentative);

    // A later eager pass over the same place supersedes it.
    composer.applyEagerLocalApplications(evaluation, {4, length(segment)});
    EXPECT_EQ(composer.events.get().at(0).status,
              QNCorrectionEventStatus::superseded(composer.events.get().at(1).id));
}

TEST_F(LocalRecords, RulesKeptForModelsAndUnchangedOutputs) {
    const auto localMetadata = evaluate(u"i think so").applications.at(0).metadata;
    LocalRuleEvaluation handMade{u"teh", u"the", {}};
    handMade.applications.push_back(
        {"local.typo-map.short", localMetadata, u"teh", u"the", {}, {}});
    handMade.applications.push_back({"local.lone-i", localMetadata, u"same", u"same", {}, {}});
    composer.applyEagerLocalApplications(handMade, {0, 2});
    composer.recordTentativeLocalApplications(handMade, 0);
    // The model-only rule is skipped by both; the unchanged one is recorded as no change.
    ASSERT_EQ(ruleIDs(composer.events.get()), std::vector<std::string>{"local.lone-i"});
    const auto decision = composer.recentDecisions.get().at(0);
    EXPECT_EQ(decision.status, QNCorrectionDecisionStatus::noChange());
    EXPECT_EQ(decision.outcome, QNModelCorrectionOutcome::unchanged());
}

TEST(TextProbes, SentenceTail) {
    struct Case {
        std::u16string text, tail;
    };
    for (const auto& c : {
             Case{u"Wait! ok", u" ok"},
             Case{u"One. two", u" two"},
             Case{u"one two", u""},
             Case{u"One.\ntwo", u"two"},
             Case{u"pi is 3.14", u""},
             Case{u"Done.", u""},
             Case{u"", u""},
             Case{u"Why?\u00A0\U0001F600 x", u"\u00A0\U0001F600 x"},
             Case{u"a.b. c\nd? e", u" e"},
         }) {
        EXPECT_EQ(QNServiceComposer::textAfterLastSentenceEnd(c.text), c.tail)
            << text::toUtf8(c.text);
    }
}

TEST(TextProbes, LettersOnly) {
    EXPECT_TRUE(QNServiceComposer::isLettersOnly(u"a"));
    EXPECT_TRUE(QNServiceComposer::isLettersOnly(u"e\u0301"));
    EXPECT_TRUE(QNServiceComposer::isLettersOnly(u"\U0001D400"));  // a letter beyond the BMP
    EXPECT_FALSE(QNServiceComposer::isLettersOnly(u""));
    EXPECT_FALSE(QNServiceComposer::isLettersOnly(u"1"));
    EXPECT_FALSE(QNServiceComposer::isLettersOnly(u"\U0001F600"));
    EXPECT_FALSE(QNServiceComposer::isLettersOnly(u"a'"));
}

TEST(TextProbes, MisspelledLastWord) {
    auto executor = std::make_shared<ManualExecutor>();
    platform::fake::FakeDesktop desktop(executor);
    desktop.setMisspelledWords({u"recieve", u"teh", u"cafe\u0301", u"e\u0301e\u0301e\u0301"});
    QNServiceComposer composer(executor);
    composer.degradationSpellChecker =
        std::make_shared<QNServiceNSSpellChecker>(desktop.seams().spellChecker);
    struct Case {
        std::u16string text;
        std::optional<std::int64_t> offset;
    };
    for (const auto& c : {
             Case{u"a recieve", 2},
             Case{u"recieve", std::nullopt},                  // starts the text
             Case{u"a recieve ", std::nullopt},               // does not end in a word
             Case{u"a teh", std::nullopt},                    // three letters
             Case{u"I receive", std::nullopt},                // spelled right
             Case{u"\U0001F600 cafe\u0301", 3},               // four characters, five scalars
             Case{u"a e\u0301e\u0301e\u0301", std::nullopt},  // three characters, six scalars
             Case{u"", std::nullopt},
         }) {
        EXPECT_EQ(composer.misspelledLastWordOffset(c.text), c.offset) << text::toUtf8(c.text);
    }
}

class Rescheduling : public ::testing::Test {
  protected:
    // Flows still waiting end before the executor goes.
    void TearDown() override {
        for (auto* task : {&composer.pendingDispatchTask, &composer.idleBackstopTask}) {
            if (*task) {
                (*task)->cancel();
            }
        }
        executor->runUntilIdle();
    }
    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    QNServiceComposer composer{executor};
    int statusWrites = 0;
    Subscription statusWatch =
        composer.status.observe([this](const QNStateComposer&) { ++statusWrites; });

    void edit(std::u16string text, std::chrono::nanoseconds sinceEdit = {}) {
        composer.buffers.reset(text);
        composer.dirtySpan = QNDirtySpan{{0, length(text)}, 1, executor->now() - sinceEdit};
    }
};

TEST_F(Rescheduling, IdleWaitIsWhatIsLeftOfThePauseRoundedUp) {
    edit(u"Hello there", 400'500us);
    EXPECT_EQ(composer.idleBackstopDelayMs(), 1100);
    edit(u"Hello there", 1600ms);
    EXPECT_EQ(composer.idleBackstopDelayMs(), 1500);
}

TEST_F(Rescheduling, SecondEditCancelsTheFirstWaitAndStatusIsWrittenOnce) {
    edit(u"Hello there", 400ms);
    composer.rescheduleAfterEdit();
    EXPECT_EQ(composer.status.get(), QNStateComposer::waitingForPause());
    ASSERT_TRUE(composer.idleBackstopTask);
    auto firstStop = composer.idleBackstopTask->stop.get_token();

    executor->advance(500ms);
    edit(u"Hello there friend");
    composer.rescheduleAfterEdit();
    EXPECT_TRUE(firstStop.stop_requested());
    executor->advance(1499ms);  // past the first wait's end
    EXPECT_EQ(composer.followUps.idlePathRuns, 0);
    executor->advance(1ms);
    EXPECT_EQ(composer.followUps.idlePathRuns, 1);
    EXPECT_EQ(composer.followUps.appliedPrefixRefreshes, 2);
    EXPECT_EQ(statusWrites, 1);
    EXPECT_EQ(composer.followUps.polishBoundaries,
              (std::vector<QNBoundaryEvent>{QNBoundaryEvent::idle}));
}

TEST_F(Rescheduling, BoundaryGoesToThePolishGateInsteadOfWaiting) {
    composer.pendingDispatchTask.emplace();
    auto dispatchStop = composer.pendingDispatchTask->stop.get_token();
    composer.pendingCorrectionJob = QNModelCorrectionJob{};
    edit(u"Hello there my friend.");
    composer.rescheduleAfterEdit();
    edit(u"Hello there", 1500ms);
    composer.rescheduleAfterEdit();
    EXPECT_EQ(composer.followUps.polishBoundaries,
              (std::vector<QNBoundaryEvent>{QNBoundaryEvent::terminator, QNBoundaryEvent::idle}));
    EXPECT_TRUE(dispatchStop.stop_requested());
    // The gate scheduled the idle job in place of the terminator's.
    ASSERT_TRUE(composer.pendingCorrectionJob);
    EXPECT_EQ(composer.pendingCorrectionJob->targetPrefix, u"Hello there");
    EXPECT_FALSE(composer.idleBackstopTask);
    EXPECT_EQ(statusWrites, 0);
}

TEST_F(Rescheduling, BlankTextOrNoSpanGoesIdleUnlessACorrectionRuns) {
    composer.status.set(QNStateComposer::correcting());
    composer.existingTextQuietBaseline = u"seed";
    composer.existingTextInitialWholeDidComplete = true;
    composer.correctionTask.emplace();
    edit(u" \n\t");
    composer.rescheduleAfterEdit();
    EXPECT_FALSE(composer.existingTextQuietBaseline);
    EXPECT_FALSE(composer.existingTextInitialWholeDidComplete);
    EXPECT_EQ(composer.status.get(), QNStateComposer::correcting());

    composer.correctionTask.reset();
    composer.buffers.reset(u"Hello");
    composer.dirtySpan.reset();
    composer.rescheduleAfterEdit();
    EXPECT_EQ(composer.status.get(), QNStateComposer::idle());
    EXPECT_FALSE(composer.idleBackstopTask);
}

TEST(ReschedulingLifetime, IdleWaitOutlivingTheServiceEndsWithoutTouchingIt) {
    auto executor = std::make_shared<ManualExecutor>();
    auto composer = std::make_unique<QNServiceComposer>(executor);
    composer->buffers.reset(u"Hello");
    composer->dirtySpan = QNDirtySpan{{0, 5}, 1, executor->now()};
    composer->rescheduleAfterEdit();
    composer.reset();
    executor->advance(2s);  // under the sanitizers, a touch of the freed service would show
    EXPECT_EQ(executor->runUntilIdle(), 0u);
}

}  // namespace
}  // namespace ravlin
