#include "platform/linux/taps/typed_run.h"

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

void TypedRun::erase() {
    // (volatile: the writes stay though nothing reads the character after them)
    volatile char16_t* unit = character_.data();
    for (std::size_t i = 0; i < character_.size(); ++i) {
        unit[i] = 0;
    }
    size_ = 0;
    times_ = 0;
    before_ = 0;
}

void TypedRun::forget() {
    if (size_ > 0 || withheld_) {
        ++run_;
    }
    erase();
    withheld_ = false;
    endsAtNext_ = false;
}

void TypedRun::withhold() {
    erase();
    withheld_ = true;
}

TypedRun::View TypedRun::view() const {
    return View{.character = std::u16string_view(character_.data(), size_),
                .times = times_,
                .before = before_,
                .run = run_};
}

bool TypedRun::take(const InputEvent& event) {
    switch (event.type) {
        case InputEventType::leftMouseDown:
        case InputEventType::rightMouseDown:
        case InputEventType::otherMouseDown:
            forget();
            return false;
        case InputEventType::flagsChanged: {
            // (a modifier pressed: the key after a chord may come with it)
            const auto held = event.flags & modifierFlags;
            if ((held & ~modifiersHeld_) != 0 && endsAtNext_) {
                forget();
            }
            modifiersHeld_ = held;
            return false;
        }
        case InputEventType::keyDown:
            break;
        default:
            return false;
    }
    if (endsAtNext_ || event.isOwn) {
        forget();
    }
    if (event.isOwn) {
        return false;
    }
    if ((event.modifiers & chordModifiers) != 0) {
        endsAtNext_ = true;
        return false;
    }
    if (event.keyCode == keycode::deleteKey) {
        if (withheld_ || times_ == 0) {
            return false;
        }
        before_ = times_--;
        if (times_ == 0) {
            forget();
        }
        return true;
    }
    const auto typed = event.typed();
    if (!typesIntoAField(typed)) {
        forget();
        return false;
    }
    if (withheld_) {
        return false;
    }
    const std::u16string_view kept(character_.data(), size_);
    if (times_ == 0 && typed.size() <= character_.size()) {
        std::ranges::copy(typed, character_.begin());
        size_ = typed.size();
    } else if (typed != kept || times_ >= maxTimes) {
        // Another character: no field that shows this run shows one character repeated.
        withhold();
        return false;
    }
    before_ = times_++;
    return true;
}

}  // namespace ravlin::platform
