#pragma once

// Synthetic keyboard input to the frontmost application: a key chord's down and up events (the
// chord's modifiers held exactly, whatever the keyboard holds) and a piece of Unicode text typed
// as such. Each can fail (no event source, the desktop refused the event).

#include <string_view>

#include "platform/keys.h"
#include "platform/outcome.h"

namespace ravlin::platform {

class KeySynthesis {
  public:
    virtual ~KeySynthesis() = default;

    virtual Status postKeyDown(KeyChord chord) = 0;
    virtual Status postKeyUp(KeyChord chord) = 0;
    // Types `text` (UTF-16) at the focus; invalidArgument for an empty text.
    virtual Status postText(std::u16string_view text) = 0;

    // Key down then key up, back to back; nothing more is posted once one fails.
    Status postKeyPress(KeyChord chord) {
        if (auto down = postKeyDown(chord); !down) {
            return down;
        }
        return postKeyUp(chord);
    }
};

}  // namespace ravlin::platform
