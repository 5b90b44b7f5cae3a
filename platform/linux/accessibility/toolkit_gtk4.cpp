// GTK 4's own accessibility (no ATK bridge). Checked against GTK 4.8:
// - Focus: no element is ever "showing"; "visible" is what tells an element on screen. There is
//   no cache interface and it answers over the bus itself: a window's elements are asked a
//   level at a time (a window of ~115 elements: a couple of dozen round trips, not ~400).
// - Focus, unsaid: a field of an application's own that delegates its text to an inner text
//   widget (GNOME Text Editor's search entry) shows neither the focus nor focusability: the
//   inner widget that has the keyboard is not on the bus. Nothing in the window claims the
//   focus then; that field, editable and not focusable itself, is where it is.
// - Selection: offsets count code points; an entry answers an empty text when asked "to the
//   end", so its text is asked up to its character count. Its answers to selection writes do not
//   tell: SetSelection says yes and only moves the caret, AddSelection selects and answers with
//   a reply of the wrong type, which never reaches the caller (who would wait out the call's
//   time limit for it). AddSelection is sent without waiting; the selection is read back.
// - Caret: every position is relative to the element's window (screen coordinates are not
//   supported: asked for them, it answers window ones with a warning). An entry tells no place
//   for its characters at all: they stand on its one line, which is given for each of them, from
//   its start (where a caret probe could learn no more, and would type into the field for it).
// - Editable: the common states.
// - Password: nothing over the bus tells an entry's visibility or its mask (no state, no
//   attribute); only the line it displays does, drawn with the mask, while GetText answers the
//   real text of every hidden entry, PasswordEntry included. An Entry with its visibility off
//   is a plain "text" showing one character for each of its own, whatever the application made
//   its mask (a letter too): a single line of one character repeated is taken for hidden (an
//   entry that really holds "xxx" is refused with it). A PasswordEntry has the password role
//   and is hidden unless its peek button shows its text. What cannot be told is hidden.

#include "platform/linux/accessibility/toolkit.h"

namespace ravlin::platform::atspi {
namespace {

class Gtk4 final : public Toolkit {
  public:
    std::string_view name() const override { return "GTK 4"; }

    bool showsChildren(const States& states) const override {
        return states.showing || states.visible;
    }

    bool mayHoldFocusUnsaid(const States& states) const override {
        return states.editable && !states.focusable && !states.focused && !states.multiLine &&
               (states.visible || states.showing);
    }

    bool asksALevelAtATime() const override { return true; }

    bool readsTextToItsCount() const override { return true; }
    bool readsSelectionWritesBack() const override { return true; }
    bool answersSelectionAdds() const override { return false; }

    AtspiCoordType coordinates() const override { return ATSPI_COORD_TYPE_WINDOW; }

    std::optional<Rect> textBounds(ElementCalls& element, int start, int end) const override {
        if (auto rect = element.textExtents(start, end, coordinates())) {
            return rect;
        }
        const auto states = element.states();
        if (!states || states->multiLine) {
            return std::nullopt;
        }
        const auto line = element.frame(coordinates());
        if (!line || line->height() <= 0) {
            return std::nullopt;
        }
        return makeRect(line->minX(), line->minY(), 0, line->height());
    }

    bool isPassword(AtspiRole role, ElementCalls& element) const override {
        const bool password = role == ATSPI_ROLE_PASSWORD_TEXT;
        if (!password && role != ATSPI_ROLE_TEXT && role != ATSPI_ROLE_ENTRY) {
            return false;
        }
        const auto states = element.states();
        if (!states) {
            return true;
        }
        if (states->multiLine) {
            return password;
        }
        const auto shown = element.displayedLine(0);
        if (!shown) {
            return true;
        }
        // (a PasswordEntry's peek shows its text: an ordinary field then)
        return password ? shown->empty() || isOneCharacterRepeated(*shown)
                        : isOneCharacterRepeated(*shown);
    }
};

}  // namespace

const Toolkit& gtk4Toolkit() {
    static const Gtk4 rules;
    return rules;
}

}  // namespace ravlin::platform::atspi
