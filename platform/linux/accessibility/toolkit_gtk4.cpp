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
// - Password: nothing over the bus tells an entry's visibility or its mask: no state, no object
//   attribute, no relation, and the text attributes say "invisible" false for hidden entries too;
//   only the line it displays does, drawn with the mask, while GetText answers the real text of
//   every hidden entry, PasswordEntry included. An Entry with its visibility off is a plain
//   "text" showing one character for each of its own, whatever the application made its mask:
//   a letter, a space (the mask "no feedback at all" shows spaces), an emoji (two UTF-16 units
//   each, a flag's regional indicators one each). A single line of one character repeated is
//   taken for hidden, and so is one that shows fewer characters than it holds; unless the line
//   is what the person's own keys typed into it in one run, the entry taking each key (the
//   double tap's "ee" in an empty entry, an "I" before Super+E): a hidden entry shows its mask,
//   never the letters typed, and a mask of bullets or stars is taken for one even so. An entry
//   that really holds "xxx" or only spaces, put there otherwise (pasted, or there before), is
//   refused, and so is a full entry showing what the keys typed without taking them. A hidden
//   entry whose mask is the letter typed cannot be told from typing. A PasswordEntry has the
//   password role, which decides alone: its peek button shows its text on the displayed line,
//   which is therefore never read. What cannot be told is hidden.

#include <unicode/ustring.h>

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
    bool followsTypedKeys() const override { return true; }
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
        if (role == ATSPI_ROLE_PASSWORD_TEXT) {
            return true;
        }
        if (role != ATSPI_ROLE_TEXT && role != ATSPI_ROLE_ENTRY) {
            return false;
        }
        const auto states = element.states();
        if (!states) {
            return true;
        }
        if (states->multiLine) {
            return false;
        }
        const auto count = element.characterCount();
        if (!count) {
            return true;
        }
        if (*count == 0) {
            // (nothing in it to hand out, nor anything shown to tell it by)
            return false;
        }
        const auto shown = element.displayedLine(0);
        if (!shown) {
            return true;
        }
        const auto line = withoutLineEnd(*shown);
        const auto showing = u_countChar32(reinterpret_cast<const UChar*>(line.data()),
                                           static_cast<int32_t>(line.size()));
        return showing < *count ||
               (isOneCharacterRepeated(line) && (isMask(line) || !element.showsWhatWasTyped(line)));
    }
};

}  // namespace

const Toolkit& gtk4Toolkit() {
    static const Gtk4 rules;
    return rules;
}

}  // namespace ravlin::platform::atspi
