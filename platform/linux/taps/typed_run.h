#pragma once

// What the person's keys last typed in one go, kept from the key taps, as far as a field could
// show it back the way a hidden entry shows its mask: one character typed again and again
// ("ee", "I", "aaaa"). A run is the characters of the key downs since the last key that types
// nothing into a field (a cursor key, Return, Tab, Escape), the last click and the last key of
// this program's own (a paste, our BackSpaces); BackSpace takes its last character back. A chord
// (a key with Control, Alt or Super) leaves it standing for what the chord itself does (our own
// shortcut judges the field it was typed into) and ends it at the next key, modifier or click:
// after a window switch it is no longer the focused field's.
//
// Nothing else is kept: a run of other characters (a word, a password) is only known to be one,
// and a run withheld (the field it goes into is a password field, or not one the run could
// stand for) keeps nothing until it ends. The character kept is overwritten when the run ends.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/key_taps.h"

namespace ravlin::platform {

class TypedRun {
  public:
    // The most a key types (UTF-16 units), and the most times a character is counted.
    static constexpr std::size_t maxCharacter = 8;
    static constexpr std::size_t maxTimes = 256;

    // The run as it stands: `character` typed `times` times in a row (none: nothing kept), the
    // `run` it belongs to (a new number for each run), and `before` times as the key before left
    // it.
    struct View {
        std::u16string_view character;
        std::size_t times = 0;
        std::size_t before = 0;
        std::uint64_t run = 0;
    };

    TypedRun() = default;
    ~TypedRun() { forget(); }
    TypedRun(const TypedRun&) = delete;
    TypedRun& operator=(const TypedRun&) = delete;

    // A key down, a modifier change or a mouse down as the taps see it; anything else is no
    // news. Whether it added a character to what is kept, or took one back.
    bool take(const InputEvent& event);
    // The run ends: a key after it starts another.
    void forget();
    // Keeps nothing more of this run until it ends.
    void withhold();
    [[nodiscard]] View view() const;

  private:
    // Overwrites the character kept.
    void erase();

    std::array<char16_t, maxCharacter> character_{};
    std::size_t size_ = 0;
    std::size_t times_ = 0;
    std::size_t before_ = 0;
    std::uint64_t run_ = 1;
    // Keys were typed in this run that are not kept (other characters, or withheld).
    bool withheld_ = false;
    bool endsAtNext_ = false;
    std::uint64_t modifiersHeld_ = 0;
};

}  // namespace ravlin::platform
