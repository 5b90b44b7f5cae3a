#include "platform/linux/accessibility/atspi_calls.h"

#include "core/text/unicode.h"

namespace ravlin::platform::atspi {

States statesOf(AtspiStateSet* set) {
    const auto has = [set](AtspiStateType state) {
        return atspi_state_set_contains(set, state) != 0;
    };
    return States{
        .focused = has(ATSPI_STATE_FOCUSED),
        .focusable = has(ATSPI_STATE_FOCUSABLE),
        .active = has(ATSPI_STATE_ACTIVE),
        .showing = has(ATSPI_STATE_SHOWING),
        .visible = has(ATSPI_STATE_VISIBLE),
        .defunct = has(ATSPI_STATE_DEFUNCT),
        .editable = has(ATSPI_STATE_EDITABLE),
        .readOnly = has(ATSPI_STATE_READ_ONLY),
        .singleLine = has(ATSPI_STATE_SINGLE_LINE),
        .multiLine = has(ATSPI_STATE_MULTI_LINE),
    };
}

bool hasState(AtspiAccessible* object, AtspiStateType state) {
    AtspiStateSet* states = atspi_accessible_get_state_set(object);
    if (states == nullptr) {
        return false;
    }
    const bool found = atspi_state_set_contains(states, state) != 0;
    g_object_unref(states);
    return found;
}

std::u16string fromUtf8(const gchar* text) {
    return text != nullptr ? text::toUtf16(std::string_view(text)) : std::u16string();
}

Error failed(std::string message) {
    return Error{ErrorCode::failed, std::move(message)};
}

Error noValue(std::string_view name) {
    return Error{ErrorCode::notFound, "no value for " + std::string(name)};
}

Error secret() {
    return Error{ErrorCode::notPermitted, "a password field is never read"};
}

}  // namespace ravlin::platform::atspi
