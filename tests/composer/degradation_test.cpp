// The single-word degradation check, the code-unit edit distance and the deadline step.

#include <gtest/gtest.h>
#include <qcoro/qcorotask.h>

#include <memory>

#include "app/composer/composer_service.h"
#include "core/text/unicode.h"
#include "platform/fake/fake_desktop.h"

namespace ravlin {
namespace {

using namespace std::chrono_literals;

TEST(Degradation, RefusesOnlyAMisspelledWordSwappedForAnotherMisspelledWord) {
    auto executor = std::make_shared<ManualExecutor>();
    platform::fake::FakeDesktop desktop(executor);
    desktop.setMisspelledWords({u"recieve", u"receeve", u"teh", u"iPhonne", u"Iphonne",
                                u"desole", u"d\u00e9sol\u00e9", u"desolee", u"prasentation",
                                u"Pr\u00e4sentation", u"gruss", u"Gru\u00df"});
    QNServiceComposer composer(executor);
    composer.degradationSpellChecker =
        std::make_shared<QNServiceNSSpellChecker>(desktop.seams().spellChecker);
    struct Case {
        const char* original;
        const char* corrected;
        bool refused;
    };
    for (const auto& c : {
             Case{"I recieve it", "I receeve it", true},
             Case{"I recieve it", "I receive it", false},      // now spelled right
             Case{"I receive it", "I recieve it", false},      // the user's word was fine
             Case{"I recieve it", "We receeve it", false},     // two words changed
             Case{"I recieve it", "I receeve it now", false},  // a word added
             Case{"teh cat", "tah cat", false},                // fewer than 3 characters
             Case{"Iphonne x", "iPhonne x", false},            // the answer's word is skipped
             Case{"iPhonne x", "Iphonne x", true},             // skipped original: still checked
             // Accents put on correct the word; another letter is still checked.
             Case{"Je suis desole", "Je suis d\u00e9sol\u00e9", false},
             Case{"Je suis desole", "Je suis desolee", true},
             // So do an umlaut or a "ß" for the plain spelling, with a noun's capital.
             Case{"die prasentation ist fertig", "die Pr\u00e4sentation ist fertig", false},
             Case{"viele gruss", "viele Gru\u00df", false},
         }) {
        EXPECT_EQ(
            composer.isSingleWordDegradation(text::toUtf16(c.original), text::toUtf16(c.corrected)),
            c.refused)
            << c.original << " -> " << c.corrected;
    }
    composer.degradationSpellChecker = nullptr;
    EXPECT_FALSE(composer.isSingleWordDegradation(u"I recieve it", u"I receeve it"));
}

TEST(EditDistance, CountsCodeUnitsUpToTheLimit) {
    struct Case {
        std::u16string a, b;
        std::int64_t limit, expected;
    };
    for (const auto& c :
         {Case{u"kitten", u"sitting", 10, 3}, Case{u"kitten", u"sitting", 3, 3},
          Case{u"kitten", u"sitting", 2, 2}, Case{u"", u"abc", 2, 2}, Case{u"abc", u"", 10, 3},
          Case{u"same", u"same", 1, 0}, Case{u"\U0001F600", u"\U0001F601", 5, 1},
          Case{u"ab", u"abcdef", 4, 4}, Case{u"a", u"b", 0, 0}, Case{u"a", u"b", -3, -3}}) {
        EXPECT_EQ(composer::boundedEditDistance(c.a, c.b, c.limit), c.expected)
            << text::toUtf8(c.a) << " / " << text::toUtf8(c.b) << " limit " << c.limit;
    }
    // A small limit gives up on long, different texts.
    const std::u16string longA(100000, u'a'), longB(100000, u'b');
    EXPECT_EQ(composer::boundedEditDistance(longA, longB, 3), 3);
}

TEST(SleepStep, SleepsAtMostFiveMillisecondsAndNeverPastTheDeadline) {
    struct Case {
        std::chrono::milliseconds untilDeadline, slept;
    };
    for (const auto& c :
         {Case{-1ms, 0ms}, Case{0ms, 0ms}, Case{2ms, 2ms}, Case{5ms, 5ms}, Case{40ms, 5ms}}) {
        auto executor = std::make_shared<ManualExecutor>();
        QNServiceComposer composer(executor);
        const Instant start = executor->now();
        auto step = composer.sleepStep(start + c.untilDeadline);
        if (c.slept > 0ms) {
            executor->advance(c.slept - 1ns);
            EXPECT_FALSE(step.isReady()) << c.untilDeadline.count();
            executor->advance(1ns);
        }
        EXPECT_TRUE(step.isReady()) << c.untilDeadline.count();
        EXPECT_EQ(executor->pendingCount(), 0u);
    }
}

TEST(SleepStep, AStopEndsTheStepAtOnce) {
    auto executor = std::make_shared<ManualExecutor>();
    QNServiceComposer composer(executor);
    std::stop_source stop;
    auto step = composer.sleepStep(executor->now() + 1s, stop.get_token());
    executor->advance(1ms);
    stop.request_stop();
    executor->runUntilIdle();
    EXPECT_TRUE(step.isReady());
    EXPECT_EQ(executor->pendingCount(), 0u);
}

}  // namespace
}  // namespace ravlin
