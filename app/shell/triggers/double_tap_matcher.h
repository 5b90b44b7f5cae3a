#pragma once

// The pure decisions behind the typed double-tap trigger: whether a key event is the trigger
// key, which keys mark a word boundary or move the caret, whether the text before the caret
// shows a boundary, and the two decisions about a tap's timing and its outcome. No state.
//
// Key codes are macOS virtual key codes (platform/keys.h); texts are UTF-16; times are seconds
// on the monotonic clock, 0 meaning "none recorded".

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace ravlin {

// Modifiers that turn a trigger tap into an ordinary key.
struct DisqualifyingModifierFlags {
    static constexpr std::uint32_t command = 1;
    static constexpr std::uint32_t option = 2;
    static constexpr std::uint32_t control = 4;
    static constexpr std::uint32_t function = 8;
    static constexpr std::uint32_t shift = 16;

    std::uint32_t rawValue = 0;

    // From an event's flags (Command 0x100000, Option 0x80000, Control 0x40000, Fn 0x800000,
    // Shift 0x20000).
    [[nodiscard]] static DisqualifyingModifierFlags fromEventFlags(std::uint64_t flags);
    [[nodiscard]] bool contains(std::uint32_t member) const { return (rawValue & member) != 0; }
    friend bool operator==(const DisqualifyingModifierFlags&,
                           const DisqualifyingModifierFlags&) = default;
};

enum class DoubleTapWindowDecision { fire, arm, armAfterIdleReset };
enum class MatchedTriggerDecision { fire, arm, ignore };

struct QNServiceDoubleTapMatcher {
    QNServiceDoubleTapMatcher() = delete;

    // Window and idle time-out the trigger uses.
    static constexpr double maxTapInterval = 0.6;
    static constexpr double idleTimeout = 2.0;
    // Two decimal timestamps exactly an interval apart may differ by a hair more; intervals are
    // compared with this slack.
    static constexpr double timeTolerance = 1e-6;

    // A keypad digit becomes its main-row key code; everything else is returned unchanged.
    [[nodiscard]] static std::uint32_t normalizeKeyCode(std::uint32_t keyCode);
    // The cheap test made before the event's characters are read: a key code of 0 on either
    // side never rules the event out.
    [[nodiscard]] static bool couldMatchByKeyCode(std::uint32_t eventKeyCode,
                                                  std::uint32_t triggerKeyCode);
    [[nodiscard]] static bool matches(std::uint32_t eventKeyCode,
                                      std::u16string_view eventCharacters,
                                      std::uint32_t triggerKeyCode,
                                      const std::set<std::u16string>& triggerCharacters);
    // The text itself when it is exactly one character (grapheme cluster).
    [[nodiscard]] static std::optional<std::u16string> singleCharacter(std::u16string_view text);
    [[nodiscard]] static bool hasDisqualifyingModifier(DisqualifyingModifierFlags flags);
    // Return, Tab, Space, keypad Enter whatever the characters; else characters that are all
    // whitespace or line separators. Punctuation is no boundary.
    [[nodiscard]] static bool isBoundaryKey(std::uint32_t keyCode, std::u16string_view characters);
    // A boundary key typed with nothing but Shift held.
    [[nodiscard]] static bool isArmingBoundaryKey(std::uint32_t keyCode,
                                                  std::u16string_view characters,
                                                  DisqualifyingModifierFlags modifiers);
    // Delete, Escape, Home, End, Page Up/Down, Forward Delete and the arrows.
    [[nodiscard]] static bool isCursorMover(std::uint32_t keyCode);
    // For a field whose caret stands just after the first tap's character: whether the text's
    // start or whitespace precedes that character. Positions count UTF-16 units.
    [[nodiscard]] static bool hasBoundaryBeforeInsertedTrigger(
        std::u16string_view value, std::int64_t caretLocationAfterTrigger,
        std::int64_t triggerUTF16Length);
    [[nodiscard]] static DoubleTapWindowDecision evaluateDoubleTapWindow(
        double now, double lastTriggerTime, double lastKeystrokeTime, bool lastWasTrigger,
        double maxTapInterval, double idleTimeout);
    [[nodiscard]] static MatchedTriggerDecision evaluateMatchedTrigger(
        DoubleTapWindowDecision windowDecision, bool priorWasTrigger, bool priorAtBoundary);

    // Interval tests with the tolerance above.
    [[nodiscard]] static bool isWithin(double interval, double limit) {
        return interval <= limit + timeTolerance;
    }
    [[nodiscard]] static bool isBeyond(double interval, double limit) {
        return interval > limit + timeTolerance;
    }
};

}  // namespace ravlin
