// Decision records: links to events, the cap, duplicate keys, coverage on virtual time, the
// known prefix and the log summaries.

#include <gtest/gtest.h>

#include <memory>

#include "app/composer/composer_service.h"
#include "tests/support/scripted_engine.h"

namespace ravlin {
namespace {

using namespace std::chrono_literals;
using text::Utf16Range;
using Job = QNModelCorrectionJob;

class PromptedEngine final : public testing::ScriptedEngine {
  public:
    QNModelCorrectionEngineDiagnostics diagnosticsSummary() override {
        return {{.providerID = "hosted", .promptVersion = "online-v14"}, std::nullopt};
    }
};

QNCorrectionDecision decision(std::string id, std::vector<QNCorrectionDecision> children = {}) {
    return QNCorrectionDecision({.id = std::move(id), .children = std::move(children)});
}

class DecisionTest : public ::testing::Test {
  protected:
    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    QNServiceComposer composer{executor};

    QNCorrectionEvent event(std::string decisionID, QNCorrectionEventStatus status,
                            std::vector<Uuid> supersedes = {}) {
        return {.id = Uuid::random(),
                .decisionID = std::move(decisionID),
                .supersedes = std::move(supersedes),
                .status = status};
    }
    // An accepted model decision spanning [start, start + length) that finished `age` ago.
    QNCorrectionDecision span(
        std::int64_t start, std::int64_t length, std::chrono::milliseconds age,
        QNCorrectionDecisionSource source = QNCorrectionDecisionSource::modelPrimary()) {
        return QNCorrectionDecision(
            {.source = source,
             .input = std::u16string(static_cast<std::size_t>(length), u'y'),
             .contextBefore = std::u16string(static_cast<std::size_t>(start), u'x'),
             .status = QNCorrectionDecisionStatus::accepted(),
             .policyVersion = "composer-v2",
             .startedAt = executor->now() - age - 1s,
             .finishedAt = executor->now() - age});
    }
};

TEST_F(DecisionTest, RecordingLinksLiveEventsAndAddsEveryDescendant) {
    const Uuid old1 = Uuid::random(), old2 = Uuid::random();
    const auto live = event("parent", QNCorrectionEventStatus::live(), {old1, old2});
    const auto gone = event("parent", QNCorrectionEventStatus::rolledBack(), {old2, old1});
    const auto childEvent = event("child-a", QNCorrectionEventStatus::live());
    composer.events.set({live, gone, childEvent});
    auto parent = decision("parent", {decision("child-a"), decision("child-b")});
    parent.appliedEventIDs = {Uuid::random()};
    parent.supersededEventIDs = {old2};

    composer.recordDecision(parent);
    const auto& list = composer.recentDecisions.get();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].id, "parent");
    EXPECT_EQ(list[0].appliedEventIDs, std::vector<Uuid>{live.id});
    EXPECT_EQ(list[0].supersededEventIDs, (std::vector<Uuid>{old2, old1}));
    EXPECT_EQ(list[1].appliedEventIDs, std::vector<Uuid>{childEvent.id});
    EXPECT_EQ(list[0].children[0].appliedEventIDs, std::vector<Uuid>{childEvent.id});
}

TEST_F(DecisionTest, TheListKeepsTheNewestTwoHundred) {
    composer.recentDecisions.set(std::vector<QNCorrectionDecision>(200, decision("old")));
    composer.recordDecision(decision("new"));
    EXPECT_EQ(composer.recentDecisions.get().size(), 200u);
    EXPECT_EQ(composer.recentDecisions.get().back().id, "new");
}

TEST_F(DecisionTest, DedupeKeyScopeAndPolicy) {
    const Job job{Job::Scope::sentencePolish, u"", u"Hello there.", {0, 12}};
    auto key = composer.dedupeKey(job);
    EXPECT_EQ(key.scope, QNCorrectionDecisionScope::wholePrefix);
    EXPECT_EQ(key.policyVersion, "composer-v2");
    EXPECT_EQ(key.inputHash, QNCorrectionDecision::stableHash(u"Hello there."));
    EXPECT_FALSE(key.contextHash);

    auto withContext = job;
    withContext.contextPrefix = u"Before. ";
    composer.polishEngine = std::make_shared<PromptedEngine>();
    key = composer.dedupeKey(withContext);
    EXPECT_EQ(key.scope, QNCorrectionDecisionScope::sentencePolish);
    EXPECT_EQ(key.contextHash, QNCorrectionDecision::stableHash(u"Before. "));
    EXPECT_EQ(key.policyVersion, "composer-v2 prompt=online-v14");
}

TEST_F(DecisionTest, RecentDecisionsCoverOnlyWithoutGaps) {
    const Job job{Job::Scope::sentencePolish, u"", u"", {20, 25}};
    const auto key = composer.dedupeKey(job);
    struct Case {
        const char* name;
        std::vector<QNCorrectionDecision> decisions;
        bool covered;
    };
    auto running = span(30, 15, 0ms);
    running.finishedAt.reset();
    running.startedAt = executor->now() - 9s;
    auto otherPolicy = span(30, 15, 0ms);
    otherPolicy.policyVersion.reset();
    auto rejected = span(30, 15, 0ms);
    rejected.status = QNCorrectionDecisionStatus::rejected("no");
    for (const auto& c : std::vector<Case>{
             {"tiled", {span(30, 15, 1s), span(20, 10, 1s)}, true},
             {"gap at 30", {span(20, 10, 1s), span(31, 14, 1s)}, false},
             {"starts before", {span(19, 10, 1s), span(29, 16, 1s)}, false},
             {"10,000 ms counts", {span(20, 25, 10000ms)}, true},
             {"10,001 ms does not", {span(20, 25, 10001ms)}, false},
             {"running counts from its start", {span(20, 10, 1s), running}, true},
             {"local rule", {span(20, 25, 1s, QNCorrectionDecisionSource::localRule("r"))}, false},
             {"other policy", {span(20, 10, 1s), otherPolicy}, false},
             {"rejected", {span(20, 10, 1s), rejected}, false},
         }) {
        composer.recentDecisions.set(c.decisions);
        EXPECT_EQ(composer.recentDecisionsCover(job, key, executor->now()), c.covered) << c.name;
    }
    EXPECT_FALSE(composer.recentDecisionsCover({Job::Scope::suffix, u"", u"", {20, 0}}, key,
                                               executor->now()));
}

TEST_F(DecisionTest, KnownAppliedPrefixPrefersTheLongerThenTheSealed) {
    struct Case {
        std::u16string sealed;
        std::optional<std::u16string> whole;
        std::u16string expected;
    };
    for (const auto& c :
         {Case{u"One. ", u"One. Two. ", u"One. Two. "}, Case{u"One. ", u"Two. ", u"One. "},
          Case{u"One. ", u"One. ", u"One. "}, Case{u"Uno. ", std::nullopt, u""},
          Case{u"Two. ", u"One. Two. Three!", u""}}) {
        composer.sealedContextPrefix = c.sealed;
        composer.lastWholeAppliedPrefix = c.whole;
        EXPECT_EQ(composer.knownAppliedPrefix(u"One. Two. Three"), c.expected);
    }
}

TEST(DecisionSummary, NamesTheHandlerAndTheFallback) {
    const QNModelCorrectionProviderDiagnostics primary{.providerID = "hosted",
                                                       .route = QNModelCorrectionRoute::remote};
    const QNModelCorrectionProviderDiagnostics fallback{.providerID = "openai",
                                                        .route = QNModelCorrectionRoute::remote};
    EXPECT_EQ(QNServiceComposer::correctionNotesSummary(decision("d")), "handled_by=unknown");

    auto child = decision("c");
    child.provider = fallback;
    child.source = QNCorrectionDecisionSource::modelFallback();
    auto parent = decision("p", {child});
    parent.provider = primary;
    EXPECT_EQ(QNServiceComposer::correctionNotesSummary(parent),
              "handled_by={" + fallback.logSummary() + "} fallback_happened={" +
                  primary.readableLogDescription() + " -> " + fallback.readableLogDescription() +
                  "}");
    EXPECT_EQ(QNServiceComposer::logFallbackApplied(parent), "");
    parent.children[0].status = QNCorrectionDecisionStatus::accepted();
    EXPECT_EQ(QNServiceComposer::logFallbackApplied(parent),
              " apply_outcome=fallback-applied via=fallback");
}

// A route that gave no answer handled nothing: the text stayed as the local rules left it.
TEST(DecisionSummary, ARouteThatGaveNoAnswerLeavesTheTextToTheLocalRules) {
    const QNModelCorrectionProviderDiagnostics hosted{.providerID = "hosted",
                                                      .route = QNModelCorrectionRoute::remote};
    const QNModelCorrectionProviderDiagnostics onDevice{.providerID = "foundation-models",
                                                        .route = QNModelCorrectionRoute::local};
    const std::string localRules =
        "handled_by={model_kind=LOCAL route=local provider=local-rules name=Local_rules}";
    using Status = QNCorrectionDecisionStatus;
    for (const Status& status : {Status::unavailable("Device Not Eligible"), Status::failed("x"),
                                 Status::rejected("schema leak"), Status::skipped("Cancelled")}) {
        SCOPED_TRACE(status.reason);
        auto child = decision("c");
        child.provider = onDevice;
        child.status = status;
        auto parent = decision("p", {child});
        parent.provider = hosted;
        parent.status = Status::fallback("hosted failed: Hosted proxy HTTP 500");
        // A fallback that is not there (unavailable) is not named: the local rules had it.
        const std::string fallback = status.kind == Status::Kind::unavailable
                                         ? "LOCAL model provider=local-rules Local rules"
                                         : onDevice.readableLogDescription();
        EXPECT_EQ(QNServiceComposer::correctionNotesSummary(parent),
                  localRules + " fallback_happened={" + hosted.readableLogDescription() + " -> " +
                      fallback + "}");
        auto alone = decision("a");
        alone.provider = hosted;
        alone.status = status;
        EXPECT_EQ(QNServiceComposer::correctionNotesSummary(alone), localRules);
    }
}

// The log's reason for an answer not used: the failing route's own fixed words, never what a
// service, a tool or the platform put after them.
TEST(DecisionSummary, FailureCauseKeepsOnlyTheRoutesOwnWords) {
    using Outcome = QNModelCorrectionOutcome;
    const auto withFallback = [](std::string reason) {
        auto parent = decision("p", {decision("c")});
        parent.provider = QNModelCorrectionProviderDiagnostics{.providerID = "hosted-proxy"};
        parent.status = QNCorrectionDecisionStatus::fallback(std::move(reason));
        return parent;
    };
    struct Row {
        const char* name;
        QNModelCorrectionResult result;
        std::optional<std::string> cause;
    };
    const std::vector<Row> rows{
        {"handed over after an HTTP error",
         QNModelCorrectionResult(u"a", u"a", Outcome::unavailable("Device Not Eligible"))
             .withDecision(withFallback(
                 "hosted-proxy failed: Hosted proxy HTTP 500: overloaded: typed words")),
         "Hosted proxy HTTP 500"},
        {"handed over after a cut stream",
         QNModelCorrectionResult(u"a", u"a", Outcome::unavailable("Device Not Eligible"))
             .withDecision(withFallback("hosted-proxy failed: Hosted proxy response incomplete")),
         "Hosted proxy response incomplete"},
        {"a tool's output after its failure",
         QNModelCorrectionResult(u"a", u"a",
                                 Outcome::failed("Codex CLI failed: {\"text\":\"typed\"}")),
         "Codex CLI failed"},
        {"a fixed text", QNModelCorrectionResult(u"a", u"a", Outcome::failed("OpenAI idle timeout")),
         "OpenAI idle timeout"},
        {"a refusal", QNModelCorrectionResult(u"a", u"b", Outcome::rejected("echoed context")),
         "echoed context"},
        {"a long service text, one line",
         QNModelCorrectionResult(u"a", u"a", Outcome::failed(std::string(50, 'x') + "{\n}" +
                                                               std::string(50, 'y'))),
         std::string(50, 'x') + "   " + std::string(27, 'y')},
        {"an answer used", QNModelCorrectionResult(u"a", u"b", Outcome::corrected()),
         std::nullopt},
        {"no change", QNModelCorrectionResult(u"a", u"a", Outcome::unchanged()), std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(QNServiceComposer::failureCause(row.result), row.cause);
    }
}

}  // namespace
}  // namespace ravlin
