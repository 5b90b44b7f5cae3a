#include "core/records/result.h"

#include <limits>

#include <gtest/gtest.h>

namespace ravlin {
namespace {

using Outcome = QNModelCorrectionOutcome;

TEST(ModelCorrectionResult, PlainNotesBecomePlainTextNotesInOrder) {
    auto result = QNModelCorrectionResult::withPlainNotes(u"teh", u"the", Outcome::corrected(),
                                                          {"first", "", "third: x"});
    EXPECT_EQ(result.notes(), (std::vector<std::string>{"first", "", "third: x"}));
    ASSERT_EQ(result.structuredNotes.size(), 3u);
    for (const auto& note : result.structuredNotes) {
        EXPECT_EQ(note.stageID, QNCorrectionStageID::unknown);
        EXPECT_FALSE(note.ruleID.has_value());
        EXPECT_EQ(note.key, "__legacy_note_text__");
    }
}

TEST(ModelCorrectionResult, UsageWithoutCountsIsStoredAsAbsent) {
    QNModelCorrectionResult withEmpty(u"a", u"b", Outcome::corrected(), {}, 1.0,
                                      QNModelCorrectionUsage{});
    QNModelCorrectionResult without(u"a", u"b", Outcome::corrected(), {}, 1.0);
    EXPECT_FALSE(withEmpty.usage.has_value());
    EXPECT_EQ(withEmpty, without);

    auto plain = QNModelCorrectionResult::withPlainNotes(u"a", u"b", Outcome::corrected(), {},
                                                         std::nullopt, QNModelCorrectionUsage{});
    EXPECT_FALSE(plain.usage.has_value());
}

TEST(ModelCorrectionResult, WithDecisionReplacesOnlyTheDecision) {
    QNModelCorrectionUsage usage;
    usage.inputTokens = 4;
    QNCorrectionDecision first({.id = "first", .input = u"teh"});
    QNCorrectionDecision second({.id = "second", .input = u"teh"});
    QNModelCorrectionResult original(u"teh", u"the", Outcome::corrected(),
                                     {QNCorrectionNote::plain("n")}, 7.5, usage, first);

    QNModelCorrectionResult replaced = original.withDecision(second);
    ASSERT_TRUE(replaced.decision.has_value());
    EXPECT_EQ(replaced.decision->id, "second");
    EXPECT_EQ(original.decision->id, "first");
    EXPECT_EQ(replaced.input, original.input);
    EXPECT_EQ(replaced.output, original.output);
    EXPECT_EQ(replaced.outcome, original.outcome);
    EXPECT_EQ(replaced.structuredNotes, original.structuredNotes);
    EXPECT_EQ(replaced.latencyMilliseconds, original.latencyMilliseconds);
    EXPECT_EQ(replaced.usage, original.usage);
    EXPECT_EQ(replaced.withDecision(first), original);
}

TEST(ModelCorrectionResult, ChangedTextComparesCanonically) {
    EXPECT_FALSE(QNModelCorrectionResult(u"same", u"same", Outcome::corrected()).changedText());
    EXPECT_FALSE(
        QNModelCorrectionResult(u"caf\u00e9", u"cafe\u0301", Outcome::corrected()).changedText());
    EXPECT_TRUE(QNModelCorrectionResult(u"teh", u"the", Outcome::unchanged()).changedText());
}

TEST(ModelCorrectionResult, EqualityOfLatencies) {
    double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_NE(QNModelCorrectionResult(u"a", u"b", Outcome::corrected(), {}, nan),
              QNModelCorrectionResult(u"a", u"b", Outcome::corrected(), {}, nan));
    EXPECT_NE(QNModelCorrectionResult(u"a", u"b", Outcome::corrected(), {}, 1.0),
              QNModelCorrectionResult(u"a", u"b", Outcome::corrected()));
    EXPECT_NE(QNModelCorrectionResult(u"a", u"b", Outcome::failed("x")),
              QNModelCorrectionResult(u"a", u"b", Outcome::failed("y")));
}

TEST(ServiceCorrectionApplication, CorrectedOutputOnlyForACorrectedResultOnUnchangedText) {
    struct Row {
        std::u16string current;
        Outcome outcome;
        std::optional<std::u16string> expected;
    };
    const std::u16string source = u"teh cat";
    const Row rows[] = {
        {u"teh cat", Outcome::corrected(), u"The cat."},
        {u"teh cat ", Outcome::corrected(), std::nullopt},  // one character more
        {u"teh cat", Outcome::unchanged(), std::nullopt},   // even though the output differs
        {u"teh cat", Outcome::skipped("Text too short"), std::nullopt},
        {u"teh cat", Outcome::unavailable("x"), std::nullopt},
        {u"teh cat", Outcome::rejected("x"), std::nullopt},
        {u"teh cat", Outcome::failed("x"), std::nullopt},
    };
    for (const Row& row : rows) {
        QNModelCorrectionResult result(source, u"The cat.", row.outcome);
        EXPECT_EQ(QNServiceCorrectionApplication::correctedOutput(source, row.current, result),
                  row.expected);
    }
}

}  // namespace
}  // namespace ravlin
