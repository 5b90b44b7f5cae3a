#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>

#include "core/services/correction_profile.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

using Scenario = QNProfileCorrectionScenario;
using Configuration = QNProfileCorrectionConfiguration;

TEST(ProfileConfiguration, ReadsTheEnvironment) {
    const struct {
        QNProfileEnvironment environment;
        Configuration expected;
    } cases[] = {
        {{}, Configuration(false, Scenario::shortTypos, 5, 1, true)},
        {{{"QN_PROFILE_CORRECTION", "  YES\n"}},
         Configuration(true, Scenario::shortTypos, 5, 1, true)},
        {{{"QN_PROFILE_CORRECTION", "y"}, {"QN_PROFILE_EXIT_AFTER_RUN", "No"}},
         Configuration(true, Scenario::shortTypos, 5, 1, false)},
        {{{"QN_PROFILE_CORRECTION", "enabled"}, {"QN_PROFILE_EXIT_AFTER_RUN", "maybe"}},
         Configuration(false, Scenario::shortTypos, 5, 1, true)},
        {{{"QN_PROFILE_CORRECTION", ""}, {"QN_PROFILE_EXIT_AFTER_RUN", ""}},
         Configuration(false, Scenario::shortTypos, 5, 1, true)},
        {{{"QN_PROFILE_SCENARIO", "clean"}}, Configuration(false, Scenario::clean, 5, 1, true)},
        {{{"QN_PROFILE_SCENARIO", "long-typos"}},
         Configuration(false, Scenario::longTypos, 5, 1, true)},
        {{{"QN_PROFILE_SCENARIO", "Clean"}},
         Configuration(false, Scenario::shortTypos, 5, 1, true)},
        {{{"QN_PROFILE_SCENARIO", " clean"}},
         Configuration(false, Scenario::shortTypos, 5, 1, true)},
        {{{"QN_PROFILE_ITERATIONS", "+7"}}, Configuration(false, Scenario::shortTypos, 7, 1, true)},
        {{{"QN_PROFILE_ITERATIONS", "7 "}}, Configuration(false, Scenario::shortTypos, 5, 1, true)},
        {{{"QN_PROFILE_ITERATIONS", "seven"}},
         Configuration(false, Scenario::shortTypos, 5, 1, true)},
        {{{"QN_PROFILE_ITERATIONS", "0"}}, Configuration(false, Scenario::shortTypos, 5, 1, true)},
        {{{"QN_PROFILE_ITERATIONS", "-3"}}, Configuration(false, Scenario::shortTypos, 5, 1, true)},
        {{{"QN_PROFILE_ITERATIONS", "+"}}, Configuration(false, Scenario::shortTypos, 5, 1, true)},
        {{{"QN_PROFILE_ITERATIONS", "9223372036854775807"}},
         Configuration(false, Scenario::shortTypos, std::numeric_limits<std::int64_t>::max(), 1,
                       true)},
        {{{"QN_PROFILE_ITERATIONS", "9223372036854775808"}},  // overflow
         Configuration(false, Scenario::shortTypos, 5, 1, true)},
        {{{"QN_PROFILE_WARMUPS", "0"}}, Configuration(false, Scenario::shortTypos, 5, 0, true)},
        {{{"QN_PROFILE_WARMUPS", "-1"}}, Configuration(false, Scenario::shortTypos, 5, 1, true)},
        {{{"QN_PROFILE_WARMUPS", "-9223372036854775808"}},
         Configuration(false, Scenario::shortTypos, 5, 1, true)},
        {{{"QN_PROFILE_WARMUPS", "003"}}, Configuration(false, Scenario::shortTypos, 5, 3, true)},
    };
    for (const auto& c : cases) {
        const auto configuration = Configuration::fromEnvironment(c.environment);
        EXPECT_EQ(configuration, c.expected)
            << (c.environment.empty() ? "empty" : c.environment.begin()->second);
    }
}

TEST(ProfileConfiguration, TheMemberwiseFormKeepsItsBounds) {
    const Configuration configuration(true, Scenario::clean, 0, -2, false);
    EXPECT_EQ(configuration.iterations, 1);
    EXPECT_EQ(configuration.warmups, 0);
}

TEST(ProfileScenario, RawValuesAndFixtures) {
    const struct {
        Scenario scenario;
        std::string raw;
        std::int64_t characters;
    } cases[] = {
        {Scenario::shortTypos, "short-typos", 48},
        {Scenario::clean, "clean", 70},
        {Scenario::longTypos, "long-typos", 246},
    };
    ASSERT_EQ(allProfileCorrectionScenarios().size(), 3U);
    for (std::size_t i = 0; i < 3; ++i) {
        const auto& c = cases[i];
        EXPECT_EQ(allProfileCorrectionScenarios()[i], c.scenario);
        EXPECT_EQ(toString(c.scenario), c.raw);
        EXPECT_EQ(fromString<Scenario>(c.raw), c.scenario);
        EXPECT_EQ(text::characterCount(fixtureText(c.scenario)), c.characters);
    }
    const auto longText = fixtureText(Scenario::longTypos);
    EXPECT_EQ(std::count(longText.begin(), longText.end(), u'\n'), 2);
    EXPECT_EQ(fromString<Scenario>("Clean"), std::nullopt);
    EXPECT_EQ(profileScenario(std::nullopt), Scenario::shortTypos);
    EXPECT_EQ(profileScenario("short-typos"), Scenario::shortTypos);
    EXPECT_EQ(fromString<QNProfileCorrectionPhase>("warmup"), QNProfileCorrectionPhase::warmup);
    EXPECT_EQ(fromString<QNProfileCorrectionPhase>("Measure"), std::nullopt);
}

TEST(ProfileMetric, SummarisesACorrectionOnOneLine) {
    const auto input = fixtureText(Scenario::clean);
    const QNModelCorrectionResult result(
        input, u"This is a clean paragraph.", QNModelCorrectionOutcome::corrected(),
        {QNCorrectionNote::plain("first"), QNCorrectionNote::plain("second")}, 45.678);
    const QNProfileCorrectionMetric metric(Scenario::clean, QNProfileCorrectionPhase::measure, 3,
                                           input, result, 12.345, 8);
    EXPECT_EQ(metric.approximateInputTokens, 17);
    EXPECT_EQ(metric.maximumResponseTokens, 256);
    EXPECT_EQ(metric.summaryLine(),
              "PROFILE scenario=clean phase=measure iteration=3 input_chars=70 approx_tokens=17 "
              "max_response_tokens=256 prompt_version=8 outcome=corrected model_ms=45.68 "
              "total_ms=12.35 output_chars=26 notes=2");
}

TEST(ProfileMetric, ATooLongInputAndAMissingLatencyHaveTheirWords) {
    const std::u16string input(20000, u'a');
    const QNModelCorrectionResult result(input, u"",
                                         QNModelCorrectionOutcome::failed("Boom: details"));
    const QNProfileCorrectionMetric metric(Scenario::longTypos, QNProfileCorrectionPhase::warmup, 0,
                                           input, result, 0.0, 108);
    EXPECT_EQ(metric.maximumResponseTokens, std::nullopt);
    EXPECT_EQ(metric.approximateInputTokens, 5000);
    EXPECT_EQ(metric.summaryLine(),
              "PROFILE scenario=long-typos phase=warmup iteration=0 input_chars=20000 "
              "approx_tokens=5000 max_response_tokens=none prompt_version=108 outcome=failed "
              "model_ms=nil total_ms=0.00 output_chars=0 notes=0");

    const QNModelCorrectionResult tiny(u"ab", u"ab",
                                       QNModelCorrectionOutcome::skipped("Text too short"));
    EXPECT_EQ(QNProfileCorrectionMetric(Scenario::shortTypos, QNProfileCorrectionPhase::measure, 1,
                                        u"ab", tiny, 1, 1)
                  .approximateInputTokens,
              1);
}

TEST(ProfileMetric, EveryOutcomeHasOneWord) {
    EXPECT_EQ(outcomeWord(QNModelCorrectionOutcome::skipped("x")), "skipped");
    EXPECT_EQ(outcomeWord(QNModelCorrectionOutcome::unavailable("x")), "unavailable");
    EXPECT_EQ(outcomeWord(QNModelCorrectionOutcome::rejected("x")), "rejected");
    EXPECT_EQ(outcomeWord(QNModelCorrectionOutcome::failed("x")), "failed");
    EXPECT_EQ(outcomeWord(QNModelCorrectionOutcome::corrected()), "corrected");
    EXPECT_EQ(outcomeWord(QNModelCorrectionOutcome::unchanged()), "unchanged");
}

}  // namespace
}  // namespace ravlin
