#include "platform/linux/taps/typed_run.h"

#include <unicode/utf16.h>

#include <algorithm>

#include "platform/keys.h"

namespace ravlin::platform {
namespace {

constexpr std::uint64_t modifierFlags =
    eventflag::shift | eventflag::control | eventflag::option | eventflag::command;
constexpr std::uint32_t chordModifiers = modifier::command | modifier::option | modifier::control;

bool typesIntoAField(std::u16string_view characters) {
    return !characters.empty() && std::ranges::none_of(characters, [](char16_t unit) {
        return unit < 0x20 || unit == 0x7F;
    });
}

}  // namespace

void TypedRun::forget() {
    text_.clear();
    endsAtNext_ = false;
}

void TypedRun::take(const InputEvent& event) {
    switch (event.type) {
        case InputEventType::leftMouseDown:
        case InputEventType::rightMouseDown:
        case InputEventType::otherMouseDown:
            forget();
            return;
        case InputEventType::flagsChanged: {
            // (a modifier pressed: the key after a chord may come with it)
            const auto held = event.flags & modifierFlags;
            if ((held & ~modifiersHeld_) != 0 && endsAtNext_) {
                forget();
            }
            modifiersHeld_ = held;
            return;
        }
        case InputEventType::keyDown:
            break;
        default:
            return;
    }
    if (endsAtNext_ || event.isOwn) {
        forget();
    }
    if (event.isOwn) {
        return;
    }
    if ((event.modifiers & chordModifiers) != 0) {
        endsAtNext_ = true;
        return;
    }
    if (event.keyCode == keycode::deleteKey) {
        if (!text_.empty()) {
            const bool pair = text_.size() > 1 && U16_IS_TRAIL(text_.back()) &&
                              U16_IS_LEAD(text_[text_.size() - 2]);
            text_.resize(text_.size() - (pair ? 2 : 1));
        }
        return;
    }
    const auto typed = event.typed();
    if (!typesIntoAField(typed)) {
        forget();
        return;
    }
    text_ += typed;
    if (text_.size() > maxUnits) {
        auto cut = text_.size() - maxUnits;
        if (U16_IS_TRAIL(text_[cut])) {
            ++cut;  // (never half a character)
        }
        text_.erase(0, cut);
    }
}

}  // namespace ravlin::platform
