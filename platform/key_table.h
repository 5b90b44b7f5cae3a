#pragma once

// The keys the program knows, one row per position: the application key code (the macOS virtual
// key code of that position on the US ANSI keyboard) and the Linux evdev code there. A key code
// no row names is no key of ours: nothing can record it and no backend can press or grab it.
// Fn (63) has no row: X never sees that key.

#include <cstdint>

namespace ravlin::platform::keytable {

struct Row {
    std::uint8_t mac;
    std::uint8_t evdev;
};

// By position on the US ANSI keyboard (ISO and JIS extras where those keyboards have them).
inline constexpr Row rows[] = {
    // Letters.
    {0, 30},
    {1, 31},
    {2, 32},
    {3, 33},
    {4, 35},
    {5, 34},
    {6, 44},
    {7, 45},
    {8, 46},
    {9, 47},
    {11, 48},
    {12, 16},
    {13, 17},
    {14, 18},
    {15, 19},
    {16, 21},
    {17, 20},
    {31, 24},
    {32, 22},
    {34, 23},
    {35, 25},
    {37, 38},
    {38, 36},
    {40, 37},
    {45, 49},
    {46, 50},
    // Digits.
    {18, 2},
    {19, 3},
    {20, 4},
    {21, 5},
    {23, 6},
    {22, 7},
    {26, 8},
    {28, 9},
    {25, 10},
    {29, 11},
    // Punctuation: = - ] [ ' ; \ , / . `
    {24, 13},
    {27, 12},
    {30, 27},
    {33, 26},
    {39, 40},
    {41, 39},
    {42, 43},
    {43, 51},
    {44, 53},
    {47, 52},
    {50, 41},
    // ISO section (the extra key beside left Shift), JIS yen, underscore, keypad comma, eisu, kana.
    {10, 86},
    {93, 124},
    {94, 89},
    {95, 95},
    {102, 123},
    {104, 122},
    // Return, Tab, Space, BackSpace, Escape, forward Delete, Help (Insert's place).
    {36, 28},
    {48, 15},
    {49, 57},
    {51, 14},
    {53, 1},
    {117, 111},
    {114, 110},
    // Modifiers: right Command, Command, Shift, Caps Lock, Option, Control, right Shift, right
    // Option, right Control.
    {54, 126},
    {55, 125},
    {56, 42},
    {57, 58},
    {58, 56},
    {59, 29},
    {60, 54},
    {61, 100},
    {62, 97},
    // Arrows: left, right, down, up; Home, Page Up, End, Page Down.
    {123, 105},
    {124, 106},
    {125, 108},
    {126, 103},
    {115, 102},
    {116, 104},
    {119, 107},
    {121, 109},
    // F1-F12; Print Screen in F13's place (a PC keyboard's Print reads as F13 on a Mac, and
    // Linux keyboards rarely have an F13); F14-F20.
    {122, 59},
    {120, 60},
    {99, 61},
    {118, 62},
    {96, 63},
    {97, 64},
    {98, 65},
    {100, 66},
    {101, 67},
    {109, 68},
    {103, 87},
    {111, 88},
    {105, 99},
    {107, 184},
    {113, 185},
    {106, 186},
    {64, 187},
    {79, 188},
    {80, 189},
    {90, 190},
    // Keypad: . * + Clear (Num Lock's place) / Enter - = 0-9.
    {65, 83},
    {67, 55},
    {69, 78},
    {71, 69},
    {75, 98},
    {76, 96},
    {78, 74},
    {81, 117},
    {82, 82},
    {83, 79},
    {84, 80},
    {85, 81},
    {86, 75},
    {87, 76},
    {88, 77},
    {89, 71},
    {91, 72},
    {92, 73},
    // Volume up, down, mute.
    {72, 115},
    {73, 114},
    {74, 113},
};

[[nodiscard]] constexpr bool contains(std::uint32_t keyCode) {
    for (const auto& row : rows) {
        if (row.mac == keyCode) {
            return true;
        }
    }
    return false;
}

// F1 to F20, in order.
inline constexpr std::uint8_t functionKeys[] = {122, 120, 99,  118, 96,  97,  98, 100, 101, 109,
                                                103, 111, 105, 107, 113, 106, 64, 79,  80,  90};

// F1-F20.
[[nodiscard]] constexpr bool isFunctionKey(std::uint32_t keyCode) {
    for (const auto key : functionKeys) {
        if (key == keyCode) {
            return true;
        }
    }
    return false;
}

// The left and right Command, Shift, Option and Control keys, Caps Lock and Fn: keys that change
// the modifier flags and never arrive as a key press of their own.
[[nodiscard]] constexpr bool isModifierKey(std::uint32_t keyCode) {
    return keyCode >= 54 && keyCode <= 63;
}

}  // namespace ravlin::platform::keytable
