#pragma once

// What the Composer service needs of its text view: the text it shows and a way to write a whole
// new text. The editor's text controller implements it; tests use a small fake.

#include <string>

#include "app/editor/placement_caret.h"

namespace ravlin {

class QNComposerTextView {
  public:
    virtual ~QNComposerTextView() = default;

    // The text the view shows.
    [[nodiscard]] virtual std::u16string string() const = 0;
    // Writes `text` as the program's own write (never reported back as a user edit).
    virtual void setText(std::u16string text, QNPlacementCaret caretPlacement) = 0;
};

}  // namespace ravlin
