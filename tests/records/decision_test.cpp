#include "core/records/decision.h"

#include <chrono>
#include <limits>
#include <set>

#include <gtest/gtest.h>

#include "core/text/fingerprint.h"

namespace ravlin {
namespace {

using namespace std::chrono_literals;

const Instant kStart = Instant{} + 10s;

QNCorrectionDecision decisionWithStatus(std::string id, QNCorrectionDecisionStatus status,
                                        std::vector<QNCorrectionDecision> children = {}) {
    return QNCorrectionDecision({.id = std::move(id),
                                 .input = u"teh",
                                 .status = std::move(status),
                                 .children = std::move(children),
                                 .startedAt = kStart});
}

std::vector<std::string> idsOf(const std::vector<QNCorrectionDecision>& decisions) {
    std::vector<std::string> ids;
    for (const auto& decision : decisions) {
        ids.push_back(decision.id);
    }
    return ids;
}

TEST(CorrectionDecision, MakeIDIsDecisionAndALowerCaseUUID) {
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        std::string id = QNCorrectionDecision::makeID();
        ASSERT_EQ(id.size(), 45u);
        EXPECT_EQ(id.rfind("decision-", 0), 0u);
        for (std::size_t at : {17u, 22u, 27u, 32u}) {
            EXPECT_EQ(id[at], '-') << id;
        }
        EXPECT_EQ(id[23], '4') << id;  // version 4
        for (char c : id) {
            EXPECT_FALSE(c >= 'A' && c <= 'Z') << id;
        }
        EXPECT_TRUE(seen.insert(id).second);
    }
}

TEST(CorrectionDecision, StableHashIsFnv1aOverUtf8Bytes) {
    struct Row {
        std::u16string text;
        std::string hex;
    };
    for (const Row& row : {Row{u"", "cbf29ce484222325"}, Row{u"abc", "e71fa2190541574b"}}) {
        EXPECT_EQ(text::hex16(QNCorrectionDecision::stableHash(row.text)), row.hex);
    }
    // A precomposed é is two UTF-8 bytes, e + combining acute three: one character each, but
    // different fingerprints.
    EXPECT_EQ(QNCorrectionDecision::stableHash(u"\u00e9"), text::fnv1a64("\xc3\xa9"));
    EXPECT_EQ(QNCorrectionDecision::stableHash(u"e\u0301"), text::fnv1a64("e\xcc\x81"));
    EXPECT_NE(QNCorrectionDecision::stableHash(u"\u00e9"),
              QNCorrectionDecision::stableHash(u"e\u0301"));
}

TEST(CorrectionDecision, DerivedFieldsCountCharactersAndHashBytes) {
    QNCorrectionDecision composed({.input = u"\u00e9", .startedAt = kStart});
    QNCorrectionDecision decomposed({.input = u"e\u0301", .startedAt = kStart});
    EXPECT_EQ(composed.inputLength, 1);
    EXPECT_EQ(decomposed.inputLength, 1);
    EXPECT_NE(composed.inputHash, decomposed.inputHash);

    QNCorrectionDecision emoji({.input = u"\U0001F44D\U0001F3FD ok", .startedAt = kStart});
    EXPECT_EQ(emoji.inputLength, 4);  // thumbs up with skin tone is one character
}

TEST(CorrectionDecision, InitializerWithoutOutputCopiesTheInput) {
    QNCorrectionDecision decision({.input = u"teh cat", .startedAt = kStart});
    EXPECT_EQ(decision.output, u"teh cat");
    EXPECT_EQ(decision.outputHash, decision.inputHash);
    EXPECT_EQ(decision.outputLength, 7);
    EXPECT_EQ(decision.startedAt, kStart);
    EXPECT_FALSE(decision.finishedAt.has_value());

    QNCorrectionDecision withOutput({.input = u"teh", .output = u"the cat", .startedAt = kStart});
    EXPECT_EQ(withOutput.outputLength, 7);
    EXPECT_EQ(withOutput.outputHash, QNCorrectionDecision::stableHash(u"the cat"));
}

TEST(CorrectionDecision, ContextFingerprintAndLength) {
    QNCorrectionDecision none({.input = u"x", .startedAt = kStart});
    EXPECT_FALSE(none.contextHash.has_value());
    EXPECT_EQ(none.contextLength, 0);

    QNCorrectionDecision empty({.input = u"x", .contextBefore = u"", .startedAt = kStart});
    EXPECT_EQ(empty.contextHash, 0xcbf29ce484222325ULL);
    EXPECT_EQ(empty.contextLength, 0);

    QNCorrectionDecision some({.input = u"x", .contextBefore = u"abc", .startedAt = kStart});
    EXPECT_EQ(some.contextHash, 0xe71fa2190541574bULL);
    EXPECT_EQ(some.contextLength, 3);

    // Assigned fields are refreshed only on request.
    some.contextBefore.reset();
    some.input = u"four";
    EXPECT_EQ(some.contextLength, 3);
    some.refreshTraceFields();
    EXPECT_FALSE(some.contextHash.has_value());
    EXPECT_EQ(some.contextLength, 0);
    EXPECT_EQ(some.inputLength, 4);
}

TEST(CorrectionDecision, UsageWithoutCountsIsStoredAsAbsent) {
    QNCorrectionDecision decision(
        {.input = u"x", .usage = QNModelCorrectionUsage{}, .startedAt = kStart});
    EXPECT_FALSE(decision.usage.has_value());

    QNModelCorrectionUsage tokens;
    tokens.totalTokens = 9;
    decision.finish(u"y", QNModelCorrectionOutcome::corrected(),
                    QNCorrectionDecisionStatus::accepted(), {}, 3.0, tokens, kStart + 1s);
    EXPECT_EQ(decision.usage, tokens);
    decision.finish(u"y", QNModelCorrectionOutcome::corrected(),
                    QNCorrectionDecisionStatus::accepted(), {}, 3.0, QNModelCorrectionUsage{},
                    kStart + 1s);
    EXPECT_FALSE(decision.usage.has_value());
}

TEST(CorrectionDecision, FinishReplacesNotesAndLeavesStagesAlone) {
    QNCorrectionDecision decision({.input = u"teh",
                                   .structuredNotes = {QNCorrectionNote::plain("initial")},
                                   .startedAt = kStart});
    decision.appendStage(QNCorrectionStageID::modelCall, QNCorrectionDecisionStatus::pending(),
                         std::nullopt, {QNCorrectionNote::plain("stage note")}, kStart);
    EXPECT_EQ(decision.status, QNCorrectionDecisionStatus::pending());
    EXPECT_FALSE(decision.finishedAt.has_value());

    decision.finish(u"the", QNModelCorrectionOutcome::corrected(),
                    QNCorrectionDecisionStatus::accepted(), {QNCorrectionNote::plain("first")},
                    10.0, std::nullopt, kStart + 1s);
    decision.finish(u"the!", QNModelCorrectionOutcome::rejected("degrades a word"),
                    QNCorrectionDecisionStatus::rejected("degrades a word"),
                    {{QNCorrectionStageID::degradationGuard, "guard.word", "reason", "degrade"}},
                    std::nullopt, std::nullopt, kStart + 2s);

    EXPECT_EQ(decision.notes(), std::vector<std::string>{"reason: degrade"});
    ASSERT_EQ(decision.stages.size(), 1u);
    EXPECT_EQ(decision.stages[0].notes, std::vector{QNCorrectionNote::plain("stage note")});
    EXPECT_EQ(decision.output, u"the!");
    EXPECT_EQ(decision.outputLength, 4);
    EXPECT_EQ(decision.outputHash, QNCorrectionDecision::stableHash(u"the!"));
    EXPECT_EQ(decision.outcome, QNModelCorrectionOutcome::rejected("degrades a word"));
    EXPECT_FALSE(decision.latencyMilliseconds.has_value());
    EXPECT_EQ(decision.finishedAt, kStart + 2s);
    EXPECT_EQ(decision.input, u"teh");
    EXPECT_EQ(decision.startedAt, kStart);
}

TEST(CorrectionDecision, NotesAreTheDecisionsOwnOnly) {
    QNCorrectionDecision child({.input = u"x",
                                .structuredNotes = {QNCorrectionNote::plain("child")},
                                .startedAt = kStart});
    QNCorrectionDecision parent({.input = u"x",
                                 .structuredNotes = {QNCorrectionNote::plain("own"),
                                                     {QNCorrectionStageID::sanitize,
                                                      "sanitize.quote-strip", "quotes", "2"}},
                                 .children = {child},
                                 .startedAt = kStart});
    parent.appendStage(QNCorrectionStageID::sanitize, QNCorrectionDecisionStatus::accepted(),
                       std::nullopt, {QNCorrectionNote::plain("stage")}, kStart, kStart);
    EXPECT_EQ(parent.notes(), (std::vector<std::string>{"own", "quotes: 2"}));
}

TEST(CorrectionDecision, AcceptedDecisionIsTheFirstInDepthFirstOrder) {
    auto accepted = QNCorrectionDecisionStatus::accepted();
    auto pending = QNCorrectionDecisionStatus::pending();

    auto self = decisionWithStatus("a", accepted, {decisionWithStatus("b", accepted)});
    ASSERT_TRUE(self.acceptedDecision().has_value());
    EXPECT_EQ(self.acceptedDecision()->id, "a");
    EXPECT_EQ(self.acceptedDecision()->children.size(), 1u);  // a copy, children included

    auto nested =
        decisionWithStatus("root", pending,
                           {decisionWithStatus("first", QNCorrectionDecisionStatus::rejected("r"),
                                               {decisionWithStatus("first.child", pending)}),
                            decisionWithStatus("second", QNCorrectionDecisionStatus::fallback("f"),
                                               {decisionWithStatus("second.child", accepted)}),
                            decisionWithStatus("third", accepted)});
    ASSERT_TRUE(nested.acceptedDecision().has_value());
    EXPECT_EQ(nested.acceptedDecision()->id, "second.child");

    EXPECT_FALSE(decisionWithStatus("none", QNCorrectionDecisionStatus::noChange(),
                                    {decisionWithStatus("c", pending)})
                     .acceptedDecision()
                     .has_value());
}

TEST(CorrectionDecision, FlattenedIsDepthFirstPreOrder) {
    auto pending = QNCorrectionDecisionStatus::pending();
    auto a =
        decisionWithStatus("A", pending,
                           {decisionWithStatus("B", pending, {decisionWithStatus("D", pending)}),
                            decisionWithStatus("C", pending)});
    EXPECT_EQ(idsOf(a.flattened()), (std::vector<std::string>{"A", "B", "D", "C"}));
    EXPECT_EQ(idsOf(decisionWithStatus("solo", pending).flattened()),
              std::vector<std::string>{"solo"});
}

TEST(CorrectionDecision, StatusOutcomeAndSourceEquality) {
    using Status = QNCorrectionDecisionStatus;
    EXPECT_EQ(Status::failed("x"), Status::failed("x"));
    EXPECT_NE(Status::failed("x"), Status::failed("y"));
    EXPECT_NE(Status::failed("x"), Status::rejected("x"));
    using Outcome = QNModelCorrectionOutcome;
    EXPECT_EQ(Outcome::skipped("Text too short"), Outcome::skipped("Text too short"));
    EXPECT_NE(Outcome::skipped("a"), Outcome::unavailable("a"));
    EXPECT_NE(Outcome::corrected(), Outcome::unchanged());
    using Source = QNCorrectionDecisionSource;
    EXPECT_EQ(Source::localRule("local.typo"), Source::localRule("local.typo"));
    EXPECT_NE(Source::localRule("local.typo"), Source::localRule("local.space"));
    EXPECT_NE(Source::modelPrimary(), Source::modelFallback());
}

TEST(CorrectionDecision, EqualityCoversChildrenLatencyAndEventIdentifiers) {
    auto a = decisionWithStatus("A", QNCorrectionDecisionStatus::pending(),
                                {decisionWithStatus("B", QNCorrectionDecisionStatus::pending())});
    auto b = a;
    EXPECT_EQ(a, b);
    b.children[0].policyVersion = "composer-v2-local";
    EXPECT_NE(a, b);

    b = a;
    b.appliedEventIDs.push_back(Uuid::random());
    EXPECT_NE(a, b);

    a.latencyMilliseconds = std::numeric_limits<double>::quiet_NaN();
    b = a;
    EXPECT_NE(a, b);  // a NaN latency equals nothing
}

}  // namespace
}  // namespace ravlin
