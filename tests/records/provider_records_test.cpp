#include "core/records/provider_records.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "core/text/unicode.h"

namespace ravlin {
namespace {

constexpr std::u16string_view kContextLine =
    u"Context for meaning only. Do not correct, rewrite, or return this context:\n";
constexpr std::u16string_view kTextLine =
    u"\n\nText to correct. Return only the corrected version of this text:\n";

TEST(ModelCorrectionRequest, ContextThatIsOnlyWhitespaceIsStoredAsAbsent) {
    for (std::u16string blank : {u"", u" \t\n\r ", u"\u2028\u00a0\u3000", u"\u0085\u000b\u000c"}) {
        QNModelCorrectionRequest request(u"teh cat", 256, "en_US", blank);
        EXPECT_FALSE(request.contextBefore.has_value());
        EXPECT_EQ(request.modelInputText(), u"teh cat");
        EXPECT_EQ(request.instructions("Fix typos."), "Fix typos.");
    }
}

TEST(ModelCorrectionRequest, ModelInputTextWithContextKeepsTheContextUntrimmed) {
    QNModelCorrectionRequest request(u"teh cat", 256, std::nullopt, u" Hello. ");
    ASSERT_TRUE(request.contextBefore.has_value());
    EXPECT_EQ(*request.contextBefore, u" Hello. ");
    EXPECT_EQ(request.modelInputText(),
              u"Context for meaning only. Do not correct, rewrite, or return this context:\n"
              u" Hello. "
              u"\n\nText to correct. Return only the corrected version of this text:\n"
              u"teh cat");
}

TEST(ModelCorrectionRequest, EmptyTextWithContextEndsWithTheLineFeedAfterTheSecondHeading) {
    QNModelCorrectionRequest request(u"", 256, std::nullopt, u"Before.");
    std::u16string expected = std::u16string(kContextLine) + u"Before." + std::u16string(kTextLine);
    EXPECT_EQ(request.modelInputText(), expected);
    EXPECT_EQ(request.modelInputText().back(), u'\n');
}

TEST(ModelCorrectionRequest, InstructionsGainTheContextParagraphOnlyWithContext) {
    QNModelCorrectionRequest withContext(u"x", 1, std::nullopt, u"ctx");
    std::string paragraph = withContext.instructions("");
    EXPECT_EQ(paragraph.size(), 176u);
    EXPECT_EQ(text::characterCount(std::string_view(paragraph)), 176);
    EXPECT_EQ(paragraph,
              "\n\nWhen context is provided, use it only to understand the current text. Do not "
              "rewrite or return the context. Return only the corrected text from the \"Text to "
              "correct\" section.");
    EXPECT_EQ(withContext.instructions("Fix typos. "), "Fix typos. " + paragraph);

    QNModelCorrectionRequest without(u"x", 1);
    EXPECT_EQ(without.instructions("Fix typos. "), "Fix typos. ");
}

TEST(ModelCorrectionRequest, EqualityComparesTextsByCanonicalEquivalence) {
    QNModelCorrectionRequest composed(u"caf\u00e9", 10, "fr", u"d\u00e9j\u00e0");
    QNModelCorrectionRequest decomposed(u"cafe\u0301", 10, "fr", u"de\u0301ja\u0300");
    EXPECT_EQ(composed, decomposed);
    EXPECT_NE(composed, QNModelCorrectionRequest(u"caf\u00e9", 11, "fr", u"d\u00e9j\u00e0"));
    EXPECT_NE(composed,
              QNModelCorrectionRequest(u"caf\u00e9", 10, std::nullopt, u"d\u00e9j\u00e0"));
    EXPECT_NE(composed, QNModelCorrectionRequest(u"caf\u00e9", 10, "fr"));
}

TEST(ModelCorrectionRoute, RawValuesAreExactAndRemoteIsLabelledOnline) {
    struct Row {
        QNModelCorrectionRoute route;
        std::string_view raw;
        std::string_view label;
    };
    for (const Row& row : {Row{QNModelCorrectionRoute::local, "local", "LOCAL"},
                           Row{QNModelCorrectionRoute::remote, "remote", "ONLINE"},
                           Row{QNModelCorrectionRoute::unavailable, "unavailable", "UNAVAILABLE"},
                           Row{QNModelCorrectionRoute::unknown, "unknown", "UNKNOWN"}}) {
        EXPECT_EQ(toString(row.route), row.raw);
        EXPECT_EQ(logLabel(row.route), row.label);
        EXPECT_EQ(fromString<QNModelCorrectionRoute>(row.raw), row.route);
    }
    for (std::string_view bad : {"Remote", "online", "ONLINE", "", "local "}) {
        EXPECT_FALSE(fromString<QNModelCorrectionRoute>(bad).has_value()) << bad;
    }
}

TEST(ModelCorrectionProviderDiagnostics, BothLogForms) {
    QNModelCorrectionProviderDiagnostics diagnostics{
        "p", QNModelCorrectionRoute::local, "My Model", std::nullopt, "", "v 1\n2"};
    EXPECT_EQ(diagnostics.logSummary(),
              "model_kind=LOCAL route=local provider=p name=My_Model host= prompt=v_1_2");
    EXPECT_EQ(diagnostics.readableLogDescription(), "LOCAL model provider=p My Model host=");

    QNModelCorrectionProviderDiagnostics full{"hosted-proxy",    QNModelCorrectionRoute::remote,
                                              "Hosted Online",   "gpt x",
                                              "api.example.com", "online-v14"};
    EXPECT_EQ(full.logSummary(),
              "model_kind=ONLINE route=remote provider=hosted-proxy name=Hosted_Online "
              "model=gpt_x host=api.example.com prompt=online-v14");
    EXPECT_EQ(full.readableLogDescription(),
              "ONLINE model provider=hosted-proxy Hosted Online model=gpt x host=api.example.com");

    QNModelCorrectionProviderDiagnostics bare{.providerID = "x"};
    EXPECT_EQ(bare.logSummary(), "model_kind=UNKNOWN route=unknown provider=x");
    EXPECT_EQ(bare.readableLogDescription(), "UNKNOWN model provider=x");
}

TEST(ModelCorrectionProviderDiagnostics, ProviderIdentifierIsInsertedUncleaned) {
    QNModelCorrectionProviderDiagnostics diagnostics{.providerID = "my provider",
                                                     .route = QNModelCorrectionRoute::remote,
                                                     .providerName = "a\tb"};
    EXPECT_EQ(diagnostics.logSummary(),
              "model_kind=ONLINE route=remote provider=my provider name=a\tb");
    EXPECT_EQ(diagnostics.readableLogDescription(), "ONLINE model provider=my provider a\tb");
}

TEST(ModelCorrectionEngineDiagnostics, LogSummaryWithAndWithoutFallback) {
    QNModelCorrectionProviderDiagnostics primary{.providerID = "foundation-models",
                                                 .route = QNModelCorrectionRoute::local};
    QNModelCorrectionProviderDiagnostics fallback{.providerID = "hosted-proxy",
                                                  .route = QNModelCorrectionRoute::remote};
    EXPECT_EQ((QNModelCorrectionEngineDiagnostics{primary, std::nullopt}.logSummary()),
              "primary_model={model_kind=LOCAL route=local provider=foundation-models} "
              "fallback_model=none");
    EXPECT_EQ((QNModelCorrectionEngineDiagnostics{primary, fallback}.logSummary()),
              "primary_model={model_kind=LOCAL route=local provider=foundation-models} "
              "fallback_model={model_kind=ONLINE route=remote provider=hosted-proxy}");
}

TEST(ModelCorrectionUsage, DerivedFlagsAndNormalization) {
    QNModelCorrectionUsage empty;
    EXPECT_FALSE(empty.hasMetadata());
    EXPECT_FALSE(empty.hasTokenCounts());
    EXPECT_FALSE(normalizedUsage(empty).has_value());
    EXPECT_FALSE(normalizedUsage(std::nullopt).has_value());

    QNModelCorrectionUsage creditsOnly;
    creditsOnly.creditsRemaining = 0;
    EXPECT_TRUE(creditsOnly.hasMetadata());
    EXPECT_FALSE(creditsOnly.hasTokenCounts());
    EXPECT_EQ(normalizedUsage(creditsOnly), creditsOnly);

    QNModelCorrectionUsage cachedOnly;
    cachedOnly.cachedTokens = 3;
    EXPECT_TRUE(cachedOnly.hasTokenCounts());
}

TEST(ModelCorrectionResponse, DropsAUsageWithoutCounts) {
    QNModelCorrectionResponse empty(u"a", u"b", 1.0, QNModelCorrectionUsage{});
    EXPECT_FALSE(empty.usage.has_value());
    EXPECT_EQ(empty, QNModelCorrectionResponse(u"a", u"b", 1.0));

    QNModelCorrectionUsage credits;
    credits.creditsRemaining = 12;
    QNModelCorrectionResponse kept(u"a", u"b", std::nullopt, credits);
    ASSERT_TRUE(kept.usage.has_value());
    EXPECT_EQ(kept.usage->creditsRemaining, 12);
}

TEST(ModelCorrectionResponse, EqualityOfLatenciesAndTexts) {
    double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_NE(QNModelCorrectionResponse(u"a", u"b", nan),
              QNModelCorrectionResponse(u"a", u"b", nan));
    EXPECT_EQ(QNModelCorrectionResponse(u"a", u"b"), QNModelCorrectionResponse(u"a", u"b"));
    EXPECT_NE(QNModelCorrectionResponse(u"a", u"b"), QNModelCorrectionResponse(u"a", u"b", 0.0));
    EXPECT_EQ(QNModelCorrectionResponse(u"a", u"b", 0.0),
              QNModelCorrectionResponse(u"a", u"b", -0.0));
    EXPECT_EQ(QNModelCorrectionResponse(u"\u00e9", u"x"),
              QNModelCorrectionResponse(u"e\u0301", u"x"));
    EXPECT_NE(QNModelCorrectionResponse(u"a", u"b"), QNModelCorrectionResponse(u"a", u"B"));
}

TEST(ModelCorrectionStreamEvent, OneShotResultsBecomeTheEventOfTheSameCase) {
    QNModelCorrectionResponse response(u"teh", u"the", 12.5);
    using Result = QNModelCorrectionProviderResult;
    using Event = QNModelCorrectionStreamEvent;
    struct Row {
        Result result;
        Event event;
    };
    const Row rows[] = {
        {Result::success(response), Event::completed(response)},
        {Result::unavailable("Model is downloading"), Event::unavailable("Model is downloading")},
        {Result::failed("HTTP 500"), Event::failed("HTTP 500")},
        {Result::cancelled(), Event::cancelled()},
    };
    for (const Row& row : rows) {
        Event event = Event::from(row.result);
        EXPECT_EQ(event, row.event);
        EXPECT_TRUE(event.isTerminal());
    }
    EXPECT_FALSE(Event::partial(u"t").isTerminal());
}

TEST(ModelCorrectionStreamEvent, CasesWithEqualPayloadsStillDiffer) {
    using Event = QNModelCorrectionStreamEvent;
    EXPECT_NE(Event::failed("x"), Event::unavailable("x"));
    EXPECT_NE(Event::failed("x"), Event::failed("y"));
    EXPECT_EQ(Event::partial(u"\u00e9"), Event::partial(u"e\u0301"));
    using Result = QNModelCorrectionProviderResult;
    EXPECT_NE(Result::failed("x"), Result::unavailable("x"));
}

}  // namespace
}  // namespace ravlin

namespace ravlin {
namespace {

TEST(StreamEventConversion, TerminalEventsRoundTripThroughResults) {
    using Result = QNModelCorrectionProviderResult;
    const Result results[] = {Result::success(QNModelCorrectionResponse(u"a", u"b", 2.0)),
                              Result::unavailable("u"), Result::failed("f"), Result::cancelled()};
    for (const auto& result : results) {
        EXPECT_EQ(QNModelCorrectionStreamEvent::from(result).terminalResult(), result);
    }
    EXPECT_EQ(QNModelCorrectionStreamEvent::partial(u"x").terminalResult(), std::nullopt);
}

}  // namespace
}  // namespace ravlin
