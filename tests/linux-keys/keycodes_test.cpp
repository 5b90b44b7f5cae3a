#include "platform/linux/keys/keycodes.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/keys.h"

namespace ravlin::platform {
namespace {

struct Position {
    const char* name;
    std::uint32_t mac;
    unsigned x;
};

TEST(Keycodes, PositionsOfTheUsKeyboard) {
    const Position positions[] = {
        {"A", 0, 38},          {"E", 14, 26},
        {"Z", 6, 52},          {"Q", 12, 24},
        {"1", 18, 10},         {"0", 29, 19},
        {"grave", 50, 49},     {"ISO extra", 10, 94},
        {"Return", 36, 36},    {"Tab", 48, 23},
        {"Space", 49, 65},     {"BackSpace", 51, 22},
        {"Delete", 117, 119},  {"Escape", 53, 9},
        {"left", 123, 113},    {"up", 126, 111},
        {"Home", 115, 110},    {"Page Down", 121, 117},
        {"F1", 122, 67},       {"F12", 111, 96},
        {"Print", 105, 107},   {"F20", 90, 198},
        {"keypad 0", 82, 90},  {"keypad Enter", 76, 104},
        {"Command", 55, 133},  {"right Command", 54, 134},
        {"Shift", 56, 50},     {"right Shift", 60, 62},
        {"Option", 58, 64},    {"right Option", 61, 108},
        {"Control", 59, 37},   {"right Control", 62, 105},
        {"Caps Lock", 57, 66}, {"JIS yen", 93, 132},
    };
    for (const auto& position : positions) {
        SCOPED_TRACE(position.name);
        EXPECT_EQ(keycodes::xKeyCode(position.mac), position.x);
        EXPECT_EQ(keycodes::fromXKeyCode(position.x), position.mac);
    }
}

TEST(Keycodes, KeysWithoutACounterpart) {
    EXPECT_FALSE(keycodes::xKeyCode(keycode::function).has_value());
    EXPECT_FALSE(keycodes::xKeyCode(128).has_value());
    EXPECT_FALSE(keycodes::xKeyCode(0xFFFFFFFF).has_value());
    for (const unsigned x : {0U, 8U, 255U, 256U, 100000U}) {
        SCOPED_TRACE(x);
        EXPECT_EQ(keycodes::fromXKeyCode(x), keycodes::unknown);
    }
    EXPECT_NE(keycodes::unknown, 0U);
    EXPECT_NE(keycodes::unknown, 0xFFFFFFFFU);
}

TEST(Keycodes, EveryRowRoundTripsAndNoTwoShareAnXKey) {
    std::set<unsigned> seen;
    for (std::uint32_t mac = 0; mac < 128; ++mac) {
        const auto x = keycodes::xKeyCode(mac);
        if (!x) {
            continue;
        }
        SCOPED_TRACE(mac);
        EXPECT_TRUE(seen.insert(*x).second);
        EXPECT_EQ(keycodes::fromXKeyCode(*x), mac);
    }
    EXPECT_GE(seen.size(), 110U);
}

TEST(Keycodes, NumericPadFlagCoversKeypadAndArrowsOnly) {
    for (const std::uint32_t key : {82U, 92U, 65U, 76U, 81U, 71U, 123U, 126U}) {
        EXPECT_TRUE(keycodes::isKeypadOrArrow(key)) << key;
    }
    for (const std::uint32_t key : {0U, 14U, 36U, 64U, 72U, 79U, 90U, 115U, 117U}) {
        EXPECT_FALSE(keycodes::isKeypadOrArrow(key)) << key;
    }
}

}  // namespace
}  // namespace ravlin::platform
