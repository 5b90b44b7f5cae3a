#pragma once

// What the Composer service needs of its text view: the text it shows, a way to write a whole
// new text, the caret, the instant local pass and the edit reports. The editor's text controller
// implements it; tests use a small fake, which may leave the optional parts at their defaults.

#include <functional>
#include <string>

#include "app/composer/correction_buffers.h"
#include "app/editor/placement_caret.h"
#include "core/rules/local_fixes.h"
#include "core/rules/tier_policy.h"

namespace ravlin {

class QNComposerTextView {
  public:
    virtual ~QNComposerTextView() = default;

    // The text the view shows.
    [[nodiscard]] virtual std::u16string string() const = 0;
    // Writes `text` as the program's own write (never reported back as a user edit).
    virtual void setText(std::u16string text, QNPlacementCaret caretPlacement) = 0;

    // The text from the start to the caret; by default the whole text.
    [[nodiscard]] virtual std::u16string textBeforeCaret() { return string(); }
    // Fixes the words finished since `settledPrefix` in place before the caret; by default
    // nothing changes.
    virtual QNModelLocalFixResult applyLocalFixesBeforeCaret(std::u16string /*settledPrefix*/,
                                                             QNModelLocalFixRules /*enabledRules*/,
                                                             const TierPolicy& /*tierPolicy*/) {
        return QNModelLocalFixResult(string(), {}, false, std::vector<QNCorrectionNote>{});
    }
    // Installs the receivers of the user's edits (each edit, from inside the view's change
    // report) and of the follow-up call on the next turn; empty functions remove them.
    virtual void setEditHandlers(std::function<void(const QNUserEdit&)> /*onUserEdit*/,
                                 std::function<void()> /*onUserType*/) {}
};

}  // namespace ravlin
