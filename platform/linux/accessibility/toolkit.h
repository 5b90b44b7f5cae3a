#pragma once

// Where toolkits show the same things differently over AT-SPI. Each toolkit's rules live in a
// file of their own beside this one (toolkit_<name>.cpp), one rule each for how it shows the
// focus, the selection (the unit of its offsets, how far its text goes), the caret (where its
// rectangles stand), what can be edited and what is a password field. The backend asks the rules
// of the element's application and stays the same for every toolkit: a new toolkit is a new
// file and a line in toolkitNamed().

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/geometry.h"
#include "platform/linux/accessibility/atspi_calls.h"
#include "platform/linux/accessibility/text_offsets.h"

namespace ravlin::platform::atspi {

// What a rule may ask of the element it judges, beyond what it is handed: each one bounded call
// to the application (or none where the element does not answer).
class ElementCalls {
  public:
    virtual ~ElementCalls() = default;
    [[nodiscard]] virtual std::optional<States> states() = 0;
    // The line as the element displays it around a toolkit offset: a password field shows its
    // mask there, never its text.
    [[nodiscard]] virtual std::optional<std::u16string> displayedLine(int offset) = 0;
    // How many characters it holds, in its toolkit's units (no text is asked for).
    [[nodiscard]] virtual std::optional<int> characterCount() = 0;
    // The rectangle of [start, end) in toolkit offsets, of the character at `start` when the
    // range is empty, in `coordinates` as the toolkit gives it (y down).
    [[nodiscard]] virtual std::optional<Rect> textExtents(int start, int end,
                                                          AtspiCoordType coordinates) = 0;
    // The element's own rectangle in `coordinates` as the toolkit gives it (y down).
    [[nodiscard]] virtual std::optional<Rect> frame(AtspiCoordType coordinates) = 0;
    // The toolkit offsets where the line holding `offset` starts and ends.
    [[nodiscard]] virtual std::optional<std::pair<int, int>> lineAt(int offset) = 0;
    // Whether a line it displays is exactly what the person's own keys typed into it in the run
    // now, each key seen taken (no call: the key taps keep the run, the backend what the field
    // took of it). A hidden field shows its mask, never the letters.
    [[nodiscard]] virtual bool showsWhatWasTyped(std::u16string_view line) {
        (void)line;
        return false;
    }
};

// What an element that says it is focused is to a walk looking for the focus.
enum class FocusClaim {
    // It has the keyboard: the walk ends there.
    holds,
    // It only stands in the focus's way (a container or a proxy of the element that has it):
    // the walk looks inside it, then on, and takes it only when it finds nothing else.
    standsIn,
};

class Toolkit {
  public:
    virtual ~Toolkit() = default;

    // As the tests name it.
    [[nodiscard]] virtual std::string_view name() const = 0;

    // Focus: whether a walk looking for the focused element goes below an element in these
    // states (elements out of sight hold no focus).
    [[nodiscard]] virtual bool showsChildren(const States& states) const {
        return states.showing;
    }

    // Focus: what a focused element in these states is, `takesText` whether it offers text.
    // An element that cannot take the focus can only say it has it because something inside it
    // does (LibreOffice's document around the paragraph with the caret) or out of turn
    // (Chromium's empty documents of its other frames).
    [[nodiscard]] virtual FocusClaim focusClaim(const States& states, bool takesText) const {
        (void)takesText;
        return states.focusable ? FocusClaim::holds : FocusClaim::standsIn;
    }

    // Focus: whether an element in these states that claims no focus may have it all the same
    // without saying so (an editable field whose focus is held by an inner widget the bus does
    // not show). Taken only where nothing in the window claims the focus, and only when it is
    // the one such text field there.
    [[nodiscard]] virtual bool mayHoldFocusUnsaid(const States& states) const {
        (void)states;
        return false;
    }

    // Focus: whether a walk asks the elements of a window a level at a time, the requests of a
    // level sent together (see atspi_tree.h), rather than one call after another. For toolkits
    // that answer over the bus themselves, whose children are all their own.
    [[nodiscard]] virtual bool asksALevelAtATime() const { return false; }

    // Selection: the unit its text offsets count.
    [[nodiscard]] virtual OffsetUnit offsetUnit() const { return OffsetUnit::codePoints; }
    // Selection: whether the whole text is asked up to the character count (some elements
    // answer nothing to the usual "to the end").
    [[nodiscard]] virtual bool readsTextToItsCount() const { return false; }

    // Selection: whether a selection written is read back to know it took, rather than trusting
    // the answer (which then says it at once, and the selection may show a moment later).
    [[nodiscard]] virtual bool readsSelectionWritesBack() const { return false; }
    // Selection: whether it answers a selection added at all (where it does not, the call is
    // sent without waiting for an answer, and the selection read back).
    [[nodiscard]] virtual bool answersSelectionAdds() const { return true; }
    // Whether the attribute runs of its text tell how each part of it is formatted (a bold
    // word, an italic one): text whose runs differ is formatted.
    [[nodiscard]] virtual bool tellsFormatByRuns() const { return false; }

    // Caret: the coordinates its positions are asked in. Window coordinates are relative to the
    // element's window, whose place on the screen the backend adds.
    [[nodiscard]] virtual AtspiCoordType coordinates() const { return ATSPI_COORD_TYPE_SCREEN; }
    // Caret: the rectangle of [start, end) (of the character at `start` when empty), in
    // coordinates(), as the toolkit gives it; empty rectangles are passed on as they are.
    [[nodiscard]] virtual std::optional<Rect> textBounds(ElementCalls& element, int start,
                                                         int end) const {
        return element.textExtents(start, end, coordinates());
    }

    // Editable: whether the user can type into an element in these states.
    [[nodiscard]] virtual bool isEditable(const States& states) const {
        return states.editable && !states.readOnly;
    }

    // Password: whether hidden entries show as plain text fields told only by their line, which
    // may be what the person typed (see ElementCalls::showsWhatWasTyped): the keys typed into
    // such a field are followed, one by one.
    [[nodiscard]] virtual bool followsTypedKeys() const { return false; }

    // Password: whether an element of this role is a password field, told from its role, its
    // states, its character count and the line it displays alone, never from its text (a hidden
    // field may hand that out in clear). Its own role, decided without asking anything more (a
    // field whose text is shown for a moment is still one); or a single line shown as a mask (a
    // web page's field hidden by its style alone).
    [[nodiscard]] virtual bool isPassword(AtspiRole role, ElementCalls& element) const;
};

// The rules of the toolkit an application names (atspi_accessible_get_toolkit_name and _version
// of its application element); the ATK bridge's for any other.
[[nodiscard]] const Toolkit& toolkitNamed(std::string_view name, std::string_view version);

// Each toolkit's rules (toolkit_<name>.cpp).
[[nodiscard]] const Toolkit& atkToolkit();
[[nodiscard]] const Toolkit& gtk4Toolkit();
[[nodiscard]] const Toolkit& qtToolkit();

// Whether a displayed line is a mask: one visible character, not a letter, a digit or white
// space, shown for each character of the text (a password field's bullets or stars).
[[nodiscard]] bool isMask(std::u16string_view line);
// Whether a displayed line is one character shown once or more, whatever it is: what a field
// shows of its text with any mask, a letter, a space or an emoji too. A character is what a
// person sees as one (a grapheme cluster: an emoji with its modifiers, a letter with its accent
// apart), or one code point where it joins its own kind into characters of two (regional
// indicators: a flag for each pair, an odd one left alone).
[[nodiscard]] bool isOneCharacterRepeated(std::u16string_view line);
// A displayed line without the line break it may end with.
[[nodiscard]] std::u16string_view withoutLineEnd(std::u16string_view line);
// Whether a field of one line (a text or entry role, not multi-line) shows its text as a mask.
[[nodiscard]] bool showsMask(AtspiRole role, ElementCalls& element);

}  // namespace ravlin::platform::atspi
