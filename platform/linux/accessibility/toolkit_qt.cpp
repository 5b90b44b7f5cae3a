// Qt's own AT-SPI bridge (Qt 5 and 6, KDE Frameworks' widgets on it).
// - Focus: a widget says it is focused when the widget it hands its focus to (its focus proxy)
//   has it: KDE's editors' frames, tab buttons and status bar buttons all say so beside the
//   editor itself. A focused element that offers no text therefore stands in: one that does is
//   looked for first.
// - Selection: offsets count UTF-16 units, as QString does. KDE's text editor keeps its
//   selection when the caret is set: selection writes are read back (Qt answers at once).
// - Caret: positions are the screen's; KDE's text editor gives a character its place but no
//   height (and past a line's end a negative size), so a line is taken to be as high as the
//   distance from its top to the next line's, or from the previous line's; in a text of one line,
//   twice as high as its first character is wide (its font has fixed widths). The zero
//   rectangle (Qt's line edits past their end) stays what it is: no answer.
// - Editable: a read-only line edit says it is editable and read-only at once, which the common
//   rule reads as not editable; KDE's text editor is editable without the editable-text
//   interface (typed into, never written over the bus).
// - Format: a rich text edit's attribute runs say each part's weight, style and font (a plain
//   one's runs differ only where its lines do).

#include <algorithm>

#include "platform/linux/accessibility/toolkit.h"

namespace ravlin::platform::atspi {
namespace {

class Qt final : public Toolkit {
  public:
    std::string_view name() const override { return "Qt"; }
    FocusClaim focusClaim(const States& states, bool takesText) const override {
        return states.focusable && takesText ? FocusClaim::holds : FocusClaim::standsIn;
    }

    OffsetUnit offsetUnit() const override { return OffsetUnit::utf16; }
    bool readsSelectionWritesBack() const override { return true; }
    bool tellsFormatByRuns() const override { return true; }

    std::optional<Rect> textBounds(ElementCalls& element, int start, int end) const override {
        const auto rect = element.textExtents(start, end, coordinates());
        // (a Qt widget answers the zero rectangle where it has none: passed on, it counts as
        // none)
        if (!rect || rect->height() > 0 || *rect == Rect{}) {
            return rect;
        }
        const auto height = lineHeight(element, start, rect->minY());
        if (!height) {
            return rect;
        }
        return makeRect(rect->minX(), rect->minY(), std::max(0.0, rect->width()), *height);
    }

  private:
    static std::optional<double> lineHeight(ElementCalls& element, int offset, double top) {
        const auto line = element.lineAt(offset);
        if (!line) {
            return std::nullopt;
        }
        const auto topOf = [&](int at) -> std::optional<double> {
            const auto rect = element.textExtents(at, at, ATSPI_COORD_TYPE_SCREEN);
            return rect ? std::optional(rect->minY()) : std::nullopt;
        };
        if (const auto next = topOf(line->second); next && *next > top) {
            return *next - top;
        }
        if (line->first > 0) {
            const auto previous = element.lineAt(line->first - 1);
            if (const auto above = previous ? topOf(previous->first) : std::nullopt;
                above && *above < top) {
                return top - *above;
            }
        }
        const auto first = element.textExtents(line->first, line->first, ATSPI_COORD_TYPE_SCREEN);
        if (first && first->width() > 0) {
            return 2 * first->width();
        }
        return std::nullopt;
    }
};

}  // namespace

const Toolkit& qtToolkit() {
    static const Qt rules;
    return rules;
}

}  // namespace ravlin::platform::atspi
