#include "core/net/response_lines.h"

#include <gtest/gtest.h>

#include <cmath>

namespace ravlin::net {
namespace {

TEST(ResponseLines, DurationsRoundUpToWholeMilliseconds) {
    using std::chrono::milliseconds;
    EXPECT_EQ(durationFromSeconds(8.0), milliseconds(8000));
    EXPECT_EQ(durationFromSeconds(0.0001), milliseconds(1));
    EXPECT_EQ(durationFromSeconds(1.0005), milliseconds(1001));
    EXPECT_EQ(durationFromSeconds(0.0), milliseconds(1));
    EXPECT_EQ(durationFromSeconds(-3.0), milliseconds(1));
    EXPECT_EQ(durationFromSeconds(std::nan("")), milliseconds(1));
    EXPECT_GT(durationFromSeconds(1e300), milliseconds(1000LL * 3600 * 24 * 365));
}

}  // namespace
}  // namespace ravlin::net
