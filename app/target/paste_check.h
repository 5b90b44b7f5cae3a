#pragma once

// Whether a paste arrived. A paste chord is only a request: the target may ignore it, fetch
// nothing, or have gone meanwhile, and the text must then stay where the user can still get it.
// So, once the pause after the chord is over, the paste is checked before anything of it is
// thrown away: the window that took the chord must still exist and have the focus; the target
// must have fetched the text from us (on X11 a paste takes it from the clipboard's owner, which
// is us); and where the focused field can be read, the text must be in it where it went. A
// field that cannot be read (a password field, a terminal, a program without accessibility)
// passes on the first two.

#include <qcoro/qcorotask.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/text/range.h"

namespace ravlin {

enum class QNPasteCheck {
    seen,        // the text is in the field where it went
    delivered,   // the field cannot be read; the window took the text and still has the focus
    notSeen,     // the field can be read, and the text is not in it where it went
    notFetched,  // the target never fetched the text from the clipboard
    targetGone,  // the window that took the chord is gone, or another one has the focus
};

// The session log's reason for a paste that did not arrive ("paste-not-seen",
// "paste-not-fetched", "target-gone"); "seen" and "delivered" for the others.
[[nodiscard]] std::string_view toString(QNPasteCheck check);
[[nodiscard]] constexpr bool arrived(QNPasteCheck check) {
    return check == QNPasteCheck::seen || check == QNPasteCheck::delivered;
}

// The target just before the paste chord.
struct QNPasteWitness {
    std::optional<std::uint64_t> window;  // the window with the focus, where the desktop says
    // The focused field's text and selection (or caret), where it can be read back.
    std::optional<std::u16string> value;
    std::optional<text::Utf16Range> selection;

    [[nodiscard]] bool readable() const { return value && selection; }
};

// The target once the pause after the chord is over.
struct QNPasteLook {
    bool inFront = false;  // the target application still has the focus
    std::optional<std::uint64_t> window;
    bool fetched = true;                 // the target has taken the text (true where unknown)
    std::optional<std::u16string> value;  // the same field's text now
};

// How a flow reads its target for the check, whichever way it reaches it. `value` and
// `selection` read the field focused just before the chord; unset where it cannot be read back.
struct QNPasteTarget {
    std::function<bool()> inFront;
    std::function<std::optional<std::uint64_t>()> window;
    std::function<bool()> fetched;
    std::function<std::optional<std::u16string>()> value;
    std::function<std::optional<text::Utf16Range>()> selection;

    // Just before the chord.
    [[nodiscard]] QNPasteWitness witness() const;
    // Once the pause after it is over; the field's text only where `before` could read it.
    [[nodiscard]] QNPasteLook look(const QNPasteWitness& before) const;
};

// Whether `after` holds `text` pasted over `selection` of `before`: the text (harmless
// reformatting allowed: newlines at its end dropped, or text the field adds after it) starts at
// the selection's start, and the field changed, unless the text equals what it replaced. A field
// that still holds its old text never passes.
[[nodiscard]] bool pastedTextSeen(std::u16string_view before, text::Utf16Range selection,
                                  std::u16string_view after, std::u16string_view text);

// The check of one look: the window first, then the fetch, then the field's text.
[[nodiscard]] QNPasteCheck judgePaste(const QNPasteWitness& before, const QNPasteLook& now,
                                      std::u16string_view text);

// Looks at the target (`look`) and judges; while only the text is missing from a readable field,
// looks again after `pause` (a target may fetch the text at once and show it a little later),
// up to `pasteLooks` times in all.
inline constexpr int pasteLooks = 6;
[[nodiscard]] QCoro::Task<QNPasteCheck> checkPaste(QNPasteWitness before, std::u16string text,
                                                   std::function<QNPasteLook()> look,
                                                   std::function<QCoro::Task<>()> pause);

}  // namespace ravlin
