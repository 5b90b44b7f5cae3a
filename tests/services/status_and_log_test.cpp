#include <gtest/gtest.h>

#include "core/services/composition_status.h"
#include "core/services/privacy_log.h"

namespace ravlin {
namespace {

using Status = QNModelCompositionStatus;

TEST(CompositionStatus, LabelsAndDetails) {
    struct Case {
        Status status;
        std::string_view label;
        std::optional<std::string> detail;
    };
    const std::vector<Case> cases = {
        {Status::modelUnavailable("a", "b"), "Model unavailable", "b"},
        {Status::error(""), "Error", ""},
        {Status::ready(), "Ready", std::nullopt},
        {Status::pausing(), "Pausing", std::nullopt},
        {Status::correcting(), "Correcting", std::nullopt},
        {Status::fixed(), "Fixed", std::nullopt},
        {Status::noChanges(), "No changes", std::nullopt},
    };
    for (const auto& [status, label, detail] : cases) {
        EXPECT_EQ(status.label(), label);
        EXPECT_EQ(status.detail(), detail) << label;
    }
    EXPECT_EQ(Status{}, Status::ready());
}

TEST(CompositionStatus, EqualityComparesCaseAndTextsCanonically) {
    EXPECT_NE(Status::ready(), Status::pausing());
    EXPECT_NE(Status::modelUnavailable("x", "d"), Status::modelUnavailable("y", "d"));
    EXPECT_NE(Status::error("a"), Status::modelUnavailable("a", "a"));
    // "é" precomposed and decomposed are the same text.
    EXPECT_EQ(Status::error("caf\xC3\xA9"), Status::error("cafe\xCC\x81"));
}

TEST(CompositionSnapshot, PrefersAnyCorrectedText) {
    QNModelCompositionSnapshot snapshot{u"draft", u"", Status::fixed()};
    EXPECT_EQ(snapshot.preferredText(), u"draft");
    snapshot.corrected = u"\n";
    EXPECT_EQ(snapshot.preferredText(), u"\n");
    EXPECT_EQ(snapshot, (QNModelCompositionSnapshot{u"draft", u"\n", Status::fixed()}));
    EXPECT_NE(snapshot, (QNModelCompositionSnapshot{u"draft", u"\n", Status::noChanges()}));
}

TEST(PrivacyLog, CategoryRawValuesAreExact) {
    EXPECT_EQ(fromString<QNModelPrivacyLogCategory>("copy"), QNModelPrivacyLogCategory::copy);
    for (std::string_view raw : {"Copy", " copy", ""}) {
        EXPECT_EQ(fromString<QNModelPrivacyLogCategory>(raw), std::nullopt) << raw;
    }
    for (auto category : {QNModelPrivacyLogCategory::status, QNModelPrivacyLogCategory::correction,
                          QNModelPrivacyLogCategory::availability, QNModelPrivacyLogCategory::copy,
                          QNModelPrivacyLogCategory::error}) {
        EXPECT_EQ(fromString<QNModelPrivacyLogCategory>(toString(category)), category);
    }
}

TEST(PrivacyLog, AbsentCountDiffersFromZero) {
    const QNModelPrivacyLogEvent none{QNModelPrivacyLogCategory::status, "Ready", std::nullopt};
    const QNModelPrivacyLogEvent zero{QNModelPrivacyLogCategory::status, "Ready", 0};
    EXPECT_NE(none, zero);
    EXPECT_EQ(zero, (QNModelPrivacyLogEvent{QNModelPrivacyLogCategory::status, "Ready", 0}));
}

TEST(PrivacyLog, SharedLoggerIsOneInstanceThatDropsEvents) {
    const auto& logger = QNServicePrivacyLogger::shared();
    EXPECT_EQ(logger.get(), QNServicePrivacyLogger::shared().get());
    std::shared_ptr<QNServicePrivacyLogging> asInterface = logger;
    for (int i = 0; i < 1000; ++i) {
        asInterface->log({QNModelPrivacyLogCategory::correction, "starting", i});
    }
}

}  // namespace
}  // namespace ravlin
