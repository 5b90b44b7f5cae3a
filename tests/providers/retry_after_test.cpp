#include "core/providers/retry_after.h"

#include <gtest/gtest.h>

namespace ravlin {
namespace {

using namespace std::chrono_literals;

TEST(RetryAfter, SecondsOrADateCappedAtAFewMinutes) {
    // Sun, 06 Nov 1994 08:49:37 GMT
    const auto now = std::chrono::system_clock::time_point(784111777s);
    struct Case {
        const char* value;
        std::optional<std::chrono::seconds> wait;
    };
    for (const Case& c : std::vector<Case>{
             {"30", 30s},
             {" 0 ", 0s},
             {"299", 299s},
             {"86400", kLongestRetryAfter},
             {"99999999999999999999", kLongestRetryAfter},
             {"Sun, 06 Nov 1994 08:50:07 GMT", 30s},
             {"Sunday, 06-Nov-94 08:50:07 GMT", 30s},
             {"Sun Nov  6 08:50:07 1994", 30s},
             {"Mon, 07 Nov 1994 08:49:37 GMT", kLongestRetryAfter},
             {"Sun, 06 Nov 1994 08:00:00 GMT", 0s},  // gone by
             {"-5", std::nullopt},
             {"1.5", std::nullopt},
             {"soon", std::nullopt},
             {"Sun, 06 Nov 1994 08:50 GMT", std::nullopt},
             {"Sun, 32 Nov 1994 08:50:07 GMT", std::nullopt},
             {"", std::nullopt},
         }) {
        EXPECT_EQ(parseRetryAfter(c.value, now), c.wait) << c.value;
    }
}

TEST(RetryAfterGate, HoldsTheRouteThatAskedOnly) {
    QNRetryAfterGate gate;
    gate.noteReply("hosted", 429, {{"Content-Type", "text/plain"}, {"retry-after", "30"}});
    gate.noteReply("openai", 200, {{"Retry-After", "30"}});     // a success asks nothing
    gate.noteReply("remote", 503, {{"Retry-After", "later"}});  // not a wait
    EXPECT_EQ(gate.remaining("hosted"), 30s);
    EXPECT_EQ(gate.remaining("openai"), std::nullopt);
    EXPECT_EQ(gate.remaining("remote"), std::nullopt);
    gate.hold("hosted", 5s);  // a shorter wait never cuts a longer one short
    EXPECT_EQ(gate.remaining("hosted"), 30s);
    gate.clear();
    EXPECT_EQ(gate.remaining("hosted"), std::nullopt);
    EXPECT_EQ(retryAfterWaitText("OpenAI", 12s), "OpenAI waiting before trying again (12 s left)");
}

}  // namespace
}  // namespace ravlin
