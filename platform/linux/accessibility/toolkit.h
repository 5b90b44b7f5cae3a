#pragma once

// Where toolkits show the same things differently over AT-SPI. Each toolkit's rules live in a
// file of their own beside this one (toolkit_<name>.cpp), one rule each for how it shows the
// focus, the selection (the unit of its offsets), the caret, what can be edited and what is a
// password field. The backend asks the rules of the element's application and stays the same
// for every toolkit: a new toolkit is a new file and a line in toolkitNamed().

#include <string_view>

#include "platform/linux/accessibility/atspi_calls.h"
#include "platform/linux/accessibility/text_offsets.h"

namespace ravlin::platform::atspi {

class Toolkit {
  public:
    virtual ~Toolkit() = default;

    // As the session log and the tests name it.
    [[nodiscard]] virtual std::string_view name() const = 0;

    // Focus: whether a walk looking for the focused element goes below an element in these
    // states (elements out of sight hold no focus).
    [[nodiscard]] virtual bool showsChildren(const States& states) const {
        return states.showing;
    }

    // Selection: the unit its text offsets count.
    [[nodiscard]] virtual OffsetUnit offsetUnit() const { return OffsetUnit::codePoints; }

    // Editable: whether the user can type into an element in these states.
    [[nodiscard]] virtual bool isEditable(const States& states) const {
        return states.editable && !states.readOnly;
    }

    // Password: whether an element of this AT-SPI role is a password field.
    [[nodiscard]] virtual bool isPassword(AtspiRole role) const {
        return role == ATSPI_ROLE_PASSWORD_TEXT;
    }
};

// The rules of the toolkit an application names (atspi_accessible_get_toolkit_name and _version
// of its application element); the ATK bridge's for any other.
[[nodiscard]] const Toolkit& toolkitNamed(std::string_view name, std::string_view version);

// Each toolkit's rules (toolkit_<name>.cpp).
[[nodiscard]] const Toolkit& atkToolkit();
[[nodiscard]] const Toolkit& qtToolkit();

}  // namespace ravlin::platform::atspi
