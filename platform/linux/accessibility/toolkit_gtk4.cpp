// GTK 4's own accessibility (no ATK bridge). Checked against GTK 4.8:
// - Focus: no element is ever "showing"; "visible" is what tells an element on screen.
// - Selection: offsets count code points; an entry answers an empty text when asked "to the
//   end", so its text is asked up to its character count. Its answers to selection writes do not
//   tell: SetSelection says yes and only moves the caret, AddSelection selects and answers with
//   a reply of the wrong type. The selection is read back.
// - Caret: every position is relative to the element's window (screen coordinates are not
//   supported: asked for them, it answers window ones with a warning). An entry tells no place
//   for its characters at all: they stand on its one line, which is given for each of them, from
//   its start (where a caret probe could learn no more, and would type into the field for it).
// - Editable: the common states.
// - Password: a PasswordEntry has the password role, but an Entry with its visibility off is a
//   plain "text"; what it displays, its mask, tells it (its text is never asked).

#include "platform/linux/accessibility/toolkit.h"

namespace ravlin::platform::atspi {
namespace {

class Gtk4 final : public Toolkit {
  public:
    std::string_view name() const override { return "GTK 4"; }

    bool showsChildren(const States& states) const override {
        return states.showing || states.visible;
    }

    bool readsTextToItsCount() const override { return true; }
    bool readsSelectionWritesBack() const override { return true; }

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
        const auto states = role == ATSPI_ROLE_TEXT ? element.states() : std::nullopt;
        if (!states || states->multiLine) {
            return false;
        }
        const auto shown = element.displayedLine(0);
        return shown && isMask(*shown);
    }
};

}  // namespace

const Toolkit& gtk4Toolkit() {
    static const Gtk4 rules;
    return rules;
}

}  // namespace ravlin::platform::atspi
