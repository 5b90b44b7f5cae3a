#pragma once

// What the person's keys last typed in one go, kept from the key taps: the characters of the
// key downs since the last key that types nothing into a field (a cursor key, Return, Tab,
// Escape), the last click and the last key of this program's own (a paste, our BackSpaces);
// BackSpace takes its last character back. A chord (a key with Control, Alt or Super) leaves it
// standing for what the chord itself does (our own shortcut judges the field it was typed into)
// and ends it at the next key, modifier or click: after a window switch it is no longer the
// focused field's. Bounded: a run longer than `maxUnits` keeps its end (compared whole, an end
// stands for what it is).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/key_taps.h"

namespace ravlin::platform {

class TypedRun {
  public:
    static constexpr std::size_t maxUnits = 256;

    // A key down, a modifier change or a mouse down as the taps see it; anything else is no
    // news.
    void take(const InputEvent& event);
    void forget();
    // UTF-16; empty when nothing is known.
    [[nodiscard]] std::u16string_view text() const { return text_; }

  private:
    std::u16string text_;
    bool endsAtNext_ = false;
    std::uint64_t modifiersHeld_ = 0;
};

}  // namespace ravlin::platform
