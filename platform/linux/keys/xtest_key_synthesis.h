#pragma once

// Synthetic keys over XTest. A press goes out whole, key downs and key ups in one burst of
// requests: no key of ours stays down in the server between two calls, whatever becomes of
// this program. A chord into another application is the Linux one: Ctrl stands for
// Command (plus Shift, Alt, Ctrl where asked). Keys go out at once: a shortcut that started the
// flow is often still down, and a held Shift or Super would turn Ctrl+V into another chord, so
// callers wait for modifiersHeld() to turn false first, as a suspension (never here, asleep on
// the thread that posts, which is the program's main thread). A keyboard grab a hot key of ours
// took (a press not handled yet) is let go first, or the keys would come back to this program.
//
// Unicode text is typed by binding spare keycodes (ones without symbols) to the characters'
// keysyms. A text takes as many keycodes as it has characters, each busy for bindingLifetime
// afterwards (the one typed with longest ago taken first): one longer than the free ones is typed
// in parts by the caller (textRoom), never by sleeping here. The bindings are undone together
// once no text was typed for quietBeforeUnbinding: an application on a busy desktop may still be
// reading the keymap for the last change when the next comes (Chromium then reads it without the
// new binding and drops the key), so no change of ours falls between two texts typed close
// together.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/key_synthesis.h"
#include "platform/linux/x11/x11_connection.h"

class QTimer;

namespace ravlin::platform {

// The X keysym for a virtual key code of the ANSI layout (Delete is BackSpace); none for a key
// with no X counterpart (Fn).
[[nodiscard]] std::optional<unsigned long> keysymForKeyCode(std::uint32_t keyCode);
// The keysym that types one code point: Latin-1 directly, the rest in the Unicode keysym range;
// none for surrogates and values past U+10FFFF.
[[nodiscard]] std::optional<unsigned long> keysymForCodePoint(char32_t codePoint);
// The modifier keysyms held for a chord sent to an application (Carbon mask in).
[[nodiscard]] std::vector<unsigned long> modifierKeysyms(std::uint32_t modifiers);

class XTestKeySynthesis final : public KeySynthesis {
  public:
    // How long a borrowed keycode keeps its character at least after the key went out.
    static constexpr auto bindingLifetime = std::chrono::milliseconds(300);
    // The most spare keycodes borrowed for text at once.
    static constexpr std::size_t maxSpareKeys = 64;
    // How long after the last text typed the borrowed keycodes are given back.
    static constexpr auto quietBeforeUnbinding = std::chrono::milliseconds(1000);
    // Longest text typed in one call, in code points.
    static constexpr std::size_t maxTextLength = 256;

    explicit XTestKeySynthesis(std::shared_ptr<x11::Connection> connection);
    ~XTestKeySynthesis() override;

    // Whether the server offers XTest at all.
    [[nodiscard]] bool available() const { return available_; }

    Status postKeyDown(KeyChord chord) override;
    Status postKeyUp(KeyChord chord) override;
    // One request after the other, without a round trip between them.
    Status postKeyPresses(KeyChord chord, int times) override;
    // Under a server grab: the selection's owner and the input focus asked, and the press sent
    // only while they are the condition's, so that no other client's copy or focus change can
    // come between the look and the keys.
    Status postKeyPressIf(KeyChord chord, const KeyCondition& condition) override;
    Status postText(std::u16string_view text) override;
    TextRoom textRoom(std::u16string_view text) override;
    bool modifiersHeld() override { return modifierHeld(); }

  private:
    struct Spare {
        unsigned char keyCode = 0;
        std::chrono::steady_clock::time_point busyUntil{};
        bool bound = false;
        unsigned long symbol = 0;
    };

    // Ends a keyboard grab of this program's (not an exclusive capture).
    void letGoOfOwnGrab();
    // The X keys of a chord, modifiers first.
    Expected<std::vector<unsigned char>> chordKeys(KeyChord chord);
    // One key event, remembered as ours for the key taps (see OwnKeyEvents).
    void fakeKey(unsigned char key, bool press);
    // Presses the keys in order, or releases them in reverse; fails when the server refused any.
    Status sendKeys(const std::vector<unsigned char>& keys, bool press);
    [[nodiscard]] bool modifierHeld();
    void findSpareKeyCodes();
    // The spare keycodes free to take a character at `now`, the one typed with longest ago
    // first.
    [[nodiscard]] std::vector<Spare*> freeSpares(std::chrono::steady_clock::time_point now);
    // Whether the key still has the character this program gave it (another program, or a
    // keymap loaded anew, may have changed it since).
    [[nodiscard]] bool stillBound(Spare& spare);
    void unbindAll();

    std::shared_ptr<x11::Connection> connection_;
    bool available_ = false;
    std::vector<unsigned char> modifierKeyCodes_;
    std::vector<Spare> spares_;
    std::unique_ptr<QTimer> unbindTimer_;
};

}  // namespace ravlin::platform
