#include <set>

#include <gtest/gtest.h>

#include "core/support/clock.h"
#include "core/support/uuid.h"

namespace ravlin {
namespace {

TEST(Uuid, IsVersionFourWithTheRfcVariantAndUnique) {
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        const Uuid uuid = Uuid::random();
        const std::string text = uuid.lowercaseString();
        ASSERT_EQ(text.size(), 36u);
        EXPECT_EQ(text[8], '-');
        EXPECT_EQ(text[23], '-');
        EXPECT_EQ(text[14], '4');
        EXPECT_NE(std::string("89ab").find(text[19]), std::string::npos);
        EXPECT_EQ(text.find_first_not_of("0123456789abcdef-"), std::string::npos);
        EXPECT_EQ(uuid.uppercaseString().find_first_not_of("0123456789ABCDEF-"), std::string::npos);
        EXPECT_TRUE(seen.insert(text).second);
    }
}

TEST(Clock, ManualClockMovesOnlyWhenTold) {
    ManualClock clock;
    const Instant start = clock.now();
    EXPECT_EQ(clock.now(), start);
    clock.advance(std::chrono::milliseconds(1500));
    EXPECT_DOUBLE_EQ(millisecondsBetween(start, clock.now()), 1500.0);
    const Instant a = Clock::system()->now();
    EXPECT_LE(a, Clock::system()->now());
}

}  // namespace
}  // namespace ravlin
