#pragma once

// Other applications' user interface as accessibility elements: read and write their attributes
// by the accessibility names the application uses throughout ("AXRole", "AXValue",
// "AXSelectedTextRange", ...), whatever the desktop's own accessibility layer calls them. Only
// the backend translates (roles, offsets, coordinates).
//
// Elements are opaque tokens handed out by the backend; a token stays valid until released or
// until its element disappears (then every call on it answers invalidArgument). Positions are
// y-down points from the primary screen's top-left corner; text ranges count UTF-16 units.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/support/subscription.h"
#include "core/text/range.h"
#include "platform/geometry.h"
#include "platform/outcome.h"

namespace ravlin::platform {

using ProcessID = std::int32_t;

// An element as the backend knows it. 0 names no element.
struct ElementRef {
    std::uint64_t id = 0;

    explicit operator bool() const { return id != 0; }
    friend bool operator==(const ElementRef&, const ElementRef&) = default;
    friend auto operator<=>(const ElementRef&, const ElementRef&) = default;
};

// The value of an attribute: text, bool, number, UTF-16 range, point, size, rectangle, element,
// element list.
using AttributeValue = std::variant<std::u16string, bool, double, text::Utf16Range, Point, Size,
                                    Rect, ElementRef, std::vector<ElementRef>>;

// The attribute names the application uses.
namespace ax {
inline constexpr std::string_view role = "AXRole";
inline constexpr std::string_view subrole = "AXSubrole";
inline constexpr std::string_view title = "AXTitle";
inline constexpr std::string_view value = "AXValue";
inline constexpr std::string_view selectedText = "AXSelectedText";
inline constexpr std::string_view selectedTextRange = "AXSelectedTextRange";
inline constexpr std::string_view numberOfCharacters = "AXNumberOfCharacters";
inline constexpr std::string_view position = "AXPosition";
inline constexpr std::string_view size = "AXSize";
inline constexpr std::string_view children = "AXChildren";
inline constexpr std::string_view parent = "AXParent";
inline constexpr std::string_view window = "AXWindow";
inline constexpr std::string_view windows = "AXWindows";
inline constexpr std::string_view focused = "AXFocused";
inline constexpr std::string_view focusedWindow = "AXFocusedWindow";
inline constexpr std::string_view focusedUIElement = "AXFocusedUIElement";
// Whether the user can type into the element (Boolean). Ours: an element can be edited by
// typing yet take no text written through accessibility (a web page's fields, KDE's editor), so
// whether "AXValue" is settable does not tell.
inline constexpr std::string_view editable = "AXEditable";
// Whether the field holds formatted text (Boolean): a web page's editor, whose paragraphs, bold
// words and links a plain text pasted over the whole of it would lose. Ours.
inline constexpr std::string_view richText = "AXRichText";
// An opaque marker range; no Linux accessibility layer has one, the backend answers none.
inline constexpr std::string_view selectedTextMarkerRange = "AXSelectedTextMarkerRange";
// Parameterized.
inline constexpr std::string_view stringForRange = "AXStringForRange";
inline constexpr std::string_view boundsForRange = "AXBoundsForRange";
inline constexpr std::string_view boundsForTextMarkerRange = "AXBoundsForTextMarkerRange";
// Roles and subroles.
inline constexpr std::string_view applicationRole = "AXApplication";
inline constexpr std::string_view windowRole = "AXWindow";
inline constexpr std::string_view textFieldRole = "AXTextField";
inline constexpr std::string_view textAreaRole = "AXTextArea";
inline constexpr std::string_view comboBoxRole = "AXComboBox";
inline constexpr std::string_view webAreaRole = "AXWebArea";
inline constexpr std::string_view secureTextFieldRole = "AXSecureTextField";
}  // namespace ax

class Accessibility {
  public:
    virtual ~Accessibility() = default;

    // Whether this process may use accessibility. With `prompt`, a desktop that can ask the user
    // to grant it does so (nothing else asks).
    [[nodiscard]] virtual bool isTrusted(bool prompt) = 0;
    // Told with the new answer whenever trust changes.
    virtual Subscription observeTrust(std::function<void(bool)> onChange) = 0;

    // The element that stands for the whole desktop ("AXFocusedUIElement" of it is the focused
    // element of the frontmost application).
    [[nodiscard]] virtual ElementRef systemWideElement() = 0;
    // The application element of a process; notFound when no such application is known.
    [[nodiscard]] virtual Expected<ElementRef> applicationElement(ProcessID pid) = 0;
    // The process an element belongs to.
    [[nodiscard]] virtual Expected<ProcessID> processID(ElementRef element) = 0;
    // Told with the newly focused element whenever the keyboard focus moves.
    virtual Subscription observeFocus(std::function<void(ElementRef)> onFocus) = 0;

    // Reads an attribute. notFound: the element has no such attribute or no value for it;
    // notPermitted: not trusted; invalidArgument: a token no longer (or never) known.
    [[nodiscard]] virtual Expected<AttributeValue> attribute(ElementRef element,
                                                             std::string_view name) = 0;
    // Reads a parameterized attribute ("AXStringForRange", "AXBoundsForRange" with a range).
    // notSupported when the element does not answer it.
    [[nodiscard]] virtual Expected<AttributeValue> parameterizedAttribute(
        ElementRef element, std::string_view name, const AttributeValue& parameter) = 0;
    [[nodiscard]] virtual Expected<bool> isAttributeSettable(ElementRef element,
                                                             std::string_view name) = 0;
    // Writes an attribute ("AXSelectedText", "AXSelectedTextRange", "AXValue"). Success means the
    // element accepted the write, not that its text changed: read back to be sure.
    virtual Status setAttribute(ElementRef element, std::string_view name,
                                const AttributeValue& value) = 0;

    // Lets the backend forget a token it handed out; later calls on it answer invalidArgument.
    virtual void release(ElementRef element) = 0;
};

// Typed reads: the attribute's value when it has that type, nothing on any failure.
[[nodiscard]] std::optional<std::u16string> textAttribute(Accessibility& accessibility,
                                                          ElementRef element,
                                                          std::string_view name);
[[nodiscard]] std::optional<bool> booleanAttribute(Accessibility& accessibility,
                                                   ElementRef element, std::string_view name);
[[nodiscard]] std::optional<text::Utf16Range> rangeAttribute(Accessibility& accessibility,
                                                             ElementRef element,
                                                             std::string_view name);
[[nodiscard]] std::optional<ElementRef> elementAttribute(Accessibility& accessibility,
                                                         ElementRef element, std::string_view name);
[[nodiscard]] std::vector<ElementRef> elementListAttribute(Accessibility& accessibility,
                                                           ElementRef element,
                                                           std::string_view name);

}  // namespace ravlin::platform
