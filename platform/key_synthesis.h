#pragma once

// Synthetic keyboard input to the frontmost application: a key chord's down and up events (the
// chord's modifiers held exactly, whatever the keyboard holds) and a piece of Unicode text typed
// as such. Each can fail (no event source, the desktop refused the event).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/keys.h"
#include "platform/outcome.h"

namespace ravlin::platform {

// What the desktop must show, in its own order of events, for a key to go out: the selection
// named `selection` still owned by the window `owner` (X11: this program's selection window,
// serving the text it put there), and, where `focusIn` is set, the keyboard's focus in that
// window or one inside it (where the desktop sends the keys, not the window it names active).
struct KeyCondition {
    std::string selection;
    std::uint64_t owner = 0;
    std::optional<std::uint64_t> focusIn;

    friend bool operator==(const KeyCondition&, const KeyCondition&) = default;
};

class KeySynthesis {
  public:
    virtual ~KeySynthesis() = default;

    virtual Status postKeyDown(KeyChord chord) = 0;
    virtual Status postKeyUp(KeyChord chord) = 0;
    // Types `text` (UTF-16) at the focus; invalidArgument for an empty text. Nothing waits here:
    // a text longer than textRoom allows now is refused, nothing of it typed.
    virtual Status postText(std::u16string_view text) = 0;

    // How much of `text` can be typed at once now (UTF-16 units from its start, whole
    // characters), and how long until more can. Where a desktop types characters with a few keys
    // it binds to them for a moment (X11), a key is free again only once the target has had the
    // time to translate it; a caller with more to type waits that long (as a suspension) and
    // goes on. Where nothing limits typing, all of it (postText then says whether it can).
    struct TextRoom {
        std::size_t units = 0;
        std::chrono::nanoseconds moreIn{};
    };
    [[nodiscard]] virtual TextRoom textRoom(std::u16string_view text) { return {text.size(), {}}; }
    // Whether the user holds a modifier key down now: a key posted meanwhile would reach the
    // application with it (a posting waits a short while for it to be let go).
    [[nodiscard]] virtual bool modifiersHeld() { return false; }

    // Key down then key up, back to back, as one burst (postKeyPresses): no key of the chord is
    // left down between two calls, whatever happens to this program.
    Status postKeyPress(KeyChord chord) { return postKeyPresses(chord, 1); }
    // `times` presses as one burst: where the desktop allows, nothing another keyboard sends can
    // come between them. Nothing more is posted once one fails.
    virtual Status postKeyPresses(KeyChord chord, int times) {
        for (int i = 0; i < times; ++i) {
            if (auto down = postKeyDown(chord); !down) {
                return down;
            }
            if (auto up = postKeyUp(chord); !up) {
                return up;
            }
        }
        return {};
    }
    // One press of `chord`, only while `condition` holds, checked as late as the desktop allows
    // with nothing of another program's between the check and the keys: invalidArgument, and
    // nothing posted, when the selection changed hands; notFound, and nothing posted, when the
    // keyboard's focus is not in `focusIn`. Where the desktop cannot check, the press goes out.
    virtual Status postKeyPressIf(KeyChord chord, const KeyCondition& condition) {
        (void)condition;
        return postKeyPress(chord);
    }
};

}  // namespace ravlin::platform
