#include "app/shell/triggers/double_tap_matcher.h"

#include "core/text/unicode.h"
#include "platform/keys.h"

namespace ravlin {

namespace {

bool allWhitespace(std::u16string_view text) {
    for (std::int64_t offset = 0; offset < static_cast<std::int64_t>(text.size());) {
        const char32_t scalar = text::codePointAt(text, offset);
        if (!text::isWhitespaceOrNewline(scalar)) {
            return false;
        }
        offset += scalar > 0xFFFF ? 2 : 1;
    }
    return true;
}

}  // namespace

DisqualifyingModifierFlags DisqualifyingModifierFlags::fromEventFlags(std::uint64_t flags) {
    namespace flag = platform::eventflag;
    DisqualifyingModifierFlags result;
    if (flags & flag::command)
        result.rawValue |= command;
    if (flags & flag::option)
        result.rawValue |= option;
    if (flags & flag::control)
        result.rawValue |= control;
    if (flags & flag::function)
        result.rawValue |= function;
    if (flags & flag::shift)
        result.rawValue |= shift;
    return result;
}

std::uint32_t QNServiceDoubleTapMatcher::normalizeKeyCode(std::uint32_t keyCode) {
    switch (keyCode) {
        case 82:
            return 29;
        case 83:
            return 18;
        case 84:
            return 19;
        case 85:
            return 20;
        case 86:
            return 21;
        case 87:
            return 23;
        case 88:
            return 22;
        case 89:
            return 26;
        case 91:
            return 28;
        case 92:
            return 25;
        default:
            return keyCode;
    }
}

bool QNServiceDoubleTapMatcher::couldMatchByKeyCode(std::uint32_t eventKeyCode,
                                                    std::uint32_t triggerKeyCode) {
    return triggerKeyCode == 0 || eventKeyCode == 0 ||
           normalizeKeyCode(eventKeyCode) == normalizeKeyCode(triggerKeyCode);
}

bool QNServiceDoubleTapMatcher::matches(std::uint32_t eventKeyCode,
                                        std::u16string_view eventCharacters,
                                        std::uint32_t triggerKeyCode,
                                        const std::set<std::u16string>& triggerCharacters) {
    if (eventCharacters.empty()) {
        return normalizeKeyCode(eventKeyCode) == normalizeKeyCode(triggerKeyCode);
    }
    const auto single = singleCharacter(eventCharacters);
    if (!single) {
        return false;
    }
    return triggerCharacters.contains(*single) ||
           triggerCharacters.contains(text::lowercased(*single)) ||
           triggerCharacters.contains(text::uppercased(*single));
}

std::optional<std::u16string> QNServiceDoubleTapMatcher::singleCharacter(std::u16string_view text) {
    if (text.empty() || text::leadingCharacterBoundaries(text, 2).size() != 2) {
        return std::nullopt;
    }
    return std::u16string(text);
}

bool QNServiceDoubleTapMatcher::hasDisqualifyingModifier(DisqualifyingModifierFlags flags) {
    return flags.rawValue != 0;
}

bool QNServiceDoubleTapMatcher::isBoundaryKey(std::uint32_t keyCode,
                                              std::u16string_view characters) {
    using namespace platform::keycode;
    if (keyCode == returnKey || keyCode == tab || keyCode == space || keyCode == keypadEnter) {
        return true;
    }
    return !characters.empty() && allWhitespace(characters);
}

bool QNServiceDoubleTapMatcher::isArmingBoundaryKey(std::uint32_t keyCode,
                                                    std::u16string_view characters,
                                                    DisqualifyingModifierFlags modifiers) {
    return (modifiers.rawValue & ~DisqualifyingModifierFlags::shift) == 0 &&
           isBoundaryKey(keyCode, characters);
}

bool QNServiceDoubleTapMatcher::isCursorMover(std::uint32_t keyCode) {
    switch (keyCode) {
        case 51:
        case 53:
        case 115:
        case 116:
        case 117:
        case 119:
        case 121:
        case 123:
        case 124:
        case 125:
        case 126:
            return true;
        default:
            return false;
    }
}

bool QNServiceDoubleTapMatcher::hasBoundaryBeforeInsertedTrigger(
    std::u16string_view value, std::int64_t caretLocationAfterTrigger,
    std::int64_t triggerUTF16Length) {
    const auto length = static_cast<std::int64_t>(value.size());
    if (triggerUTF16Length < 1 || caretLocationAfterTrigger < 0 ||
        length < caretLocationAfterTrigger || caretLocationAfterTrigger - triggerUTF16Length < 0) {
        return false;
    }
    if (caretLocationAfterTrigger == triggerUTF16Length) {
        return true;
    }
    // The character (grapheme cluster) holding the unit just before the trigger; only its
    // neighbourhood is examined, however long the text.
    const std::int64_t before = caretLocationAfterTrigger - triggerUTF16Length - 1;
    const std::int64_t start = text::characterBoundaryBefore(value, before + 1);
    const auto rest = value.substr(static_cast<std::size_t>(start));
    const auto bounds = text::leadingCharacterBoundaries(rest, 1);
    const std::int64_t end =
        bounds.size() == 2 ? bounds[1] : static_cast<std::int64_t>(rest.size());
    return allWhitespace(rest.substr(0, static_cast<std::size_t>(end)));
}

DoubleTapWindowDecision QNServiceDoubleTapMatcher::evaluateDoubleTapWindow(
    double now, double lastTriggerTime, double lastKeystrokeTime, bool lastWasTrigger,
    double maxTapInterval, double idleTimeout) {
    if (lastKeystrokeTime != 0 && isBeyond(now - lastKeystrokeTime, idleTimeout)) {
        return DoubleTapWindowDecision::armAfterIdleReset;
    }
    if (lastWasTrigger && isWithin(now - lastTriggerTime, maxTapInterval)) {
        return DoubleTapWindowDecision::fire;
    }
    return DoubleTapWindowDecision::arm;
}

MatchedTriggerDecision QNServiceDoubleTapMatcher::evaluateMatchedTrigger(
    DoubleTapWindowDecision windowDecision, bool priorWasTrigger, bool priorAtBoundary) {
    if (windowDecision == DoubleTapWindowDecision::fire && priorWasTrigger) {
        return MatchedTriggerDecision::fire;
    }
    return priorAtBoundary ? MatchedTriggerDecision::arm : MatchedTriggerDecision::ignore;
}

}  // namespace ravlin
