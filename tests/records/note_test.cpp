#include "core/records/note.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace ravlin {
namespace {

using Json = nlohmann::json;

TEST(CorrectionNote, TextViewShowsPlainNotesByValueAndOthersAsKeyColonValue) {
    std::vector<QNCorrectionNote> notes = {
        QNCorrectionNote::plain(""),
        {QNCorrectionStageID::sanitize, "sanitize.preamble-strip", "__legacy_note_text__",
         "stripped preamble"},
        {QNCorrectionStageID::apply, std::nullopt, "", "v"},
        {QNCorrectionStageID::apply, std::nullopt, "__legacy_note_text__ ", "v"},
        {QNCorrectionStageID::echoStrip, "echo-strip.context-reject", "rejected_output", "x"},
    };
    EXPECT_EQ(noteTexts(notes),
              (std::vector<std::string>{"", "stripped preamble", ": v", "__legacy_note_text__ : v",
                                        "rejected_output: x"}));
    EXPECT_TRUE(noteTexts({}).empty());
}

TEST(CorrectionNote, WrappingThenViewingGivesTheTextsBack) {
    std::vector<std::string> texts = {"one", "", "key: value", "__legacy_note_text__"};
    auto notes = wrapPlainNotes(texts);
    EXPECT_EQ(noteTexts(notes), texts);
    for (const auto& note : notes) {
        EXPECT_EQ(note.stageID, QNCorrectionStageID::unknown);
        EXPECT_FALSE(note.ruleID.has_value());
    }
}

TEST(CorrectionNote, EncodingLeavesAnAbsentRuleOutAndRoundTrips) {
    QNCorrectionNote withoutRule{QNCorrectionStageID::modelCall, std::nullopt, "provider", "p"};
    Json encoded = withoutRule;
    EXPECT_EQ(encoded, Json::parse(R"({"stageID":"modelCall","key":"provider","value":"p"})"));
    EXPECT_EQ(encoded.get<QNCorrectionNote>(), withoutRule);

    QNCorrectionNote withRule{QNCorrectionStageID::misbehaviorDetect, "misbehavior.schema-leak",
                              "k", "v"};
    EXPECT_EQ(Json(withRule).get<QNCorrectionNote>(), withRule);

    auto nullRule =
        Json::parse(R"({"stageID":"unknown","ruleID":null,"key":"k","value":"v","x":1})")
            .get<QNCorrectionNote>();
    EXPECT_EQ(nullRule, (QNCorrectionNote{QNCorrectionStageID::unknown, std::nullopt, "k", "v"}));
}

TEST(CorrectionNote, DecodingRejectsUnknownStagesAndMissingOrMistypedMembers) {
    struct Row {
        const char* json;
        DecodingError::Kind kind;
    };
    const Row rows[] = {
        {R"({"stageID":"Sanitize","key":"k","value":"v"})", DecodingError::Kind::dataCorrupted},
        {R"({"stageID":"sanit","key":"k","value":"v"})", DecodingError::Kind::dataCorrupted},
        {R"({"key":"k","value":"v"})", DecodingError::Kind::keyNotFound},
        {R"({"stageID":"apply","value":"v"})", DecodingError::Kind::keyNotFound},
        {R"({"stageID":"apply","key":"k"})", DecodingError::Kind::keyNotFound},
        {R"({"stageID":1,"key":"k","value":"v"})", DecodingError::Kind::typeMismatch},
        {R"({"stageID":"apply","key":null,"value":"v"})", DecodingError::Kind::typeMismatch},
        {R"({"stageID":"apply","key":"k","value":2})", DecodingError::Kind::typeMismatch},
        {R"({"stageID":"apply","ruleID":3,"key":"k","value":"v"})",
         DecodingError::Kind::typeMismatch},
        {R"(["apply","k","v"])", DecodingError::Kind::typeMismatch},
    };
    for (const Row& row : rows) {
        try {
            (void)Json::parse(row.json).get<QNCorrectionNote>();
            ADD_FAILURE() << "decoded " << row.json;
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), row.kind) << row.json;
        }
    }
}

TEST(CorrectionNote, EqualityDistinguishesAnAbsentRuleFromAnEmptyOne) {
    QNCorrectionNote none{QNCorrectionStageID::apply, std::nullopt, "k", "v"};
    QNCorrectionNote empty{QNCorrectionStageID::apply, "", "k", "v"};
    EXPECT_NE(none, empty);
    EXPECT_NE(none, (QNCorrectionNote{QNCorrectionStageID::sanitize, std::nullopt, "k", "v"}));
    // Texts compare by canonical equivalence.
    EXPECT_EQ((QNCorrectionNote{QNCorrectionStageID::apply, std::nullopt, "k", "caf\u00e9"}),
              (QNCorrectionNote{QNCorrectionStageID::apply, std::nullopt, "k", "cafe\u0301"}));
}

}  // namespace
}  // namespace ravlin
