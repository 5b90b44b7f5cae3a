#include "platform/linux/accessibility/atspi_calls.h"

#include "core/text/unicode.h"

namespace ravlin::platform::atspi {

namespace {

// Where an object is on the bus: its application's connection and its path. Neither carries
// anything the person typed or the application named.
std::string placeOf(const void* element) {
    auto* object = static_cast<GObject*>(const_cast<void*>(element));
    if (object == nullptr || !ATSPI_IS_OBJECT(object)) {
        return "an element";
    }
    const auto* atspiObject = ATSPI_OBJECT(object);
    std::string place = atspiObject->app != nullptr && atspiObject->app->bus_name != nullptr
                            ? atspiObject->app->bus_name
                            : "?";
    place += ' ';
    place += atspiObject->path != nullptr ? atspiObject->path : "?";
    return place;
}

// libatspi's own errors: the application gone, or the call over the bus failed (an error
// answered, or no answer within the limit).
std::string kindOf(const GError& error) {
    const char* domain = g_quark_to_string(error.domain);
    if (domain != nullptr && std::string_view(domain) == "atspi_error") {
        switch (error.code) {
            case 0:
                return "the application is gone";
            case 1:
                return "no answer (an error, or none within the time limit)";
            default:
                break;
        }
    }
    return std::string(domain != nullptr ? domain : "unknown") + " error " +
           std::to_string(error.code);
}

template <class Has>
States statesWith(Has has) {
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

}  // namespace

void CallRecord::failed(const void* element, const _GError& error, const char* function,
                        unsigned line) {
    if (!log_) {
        ++failures_;
        return;
    }
    failed(placeOf(element), kindOf(error), function, line);
}

void CallRecord::failed(const std::string& place, const std::string& kind, const char* function,
                        unsigned line) {
    ++failures_;
    if (!log_) {
        return;
    }
    const std::string call = std::string(function) + " line " + std::to_string(line);
    if (told_.size() >= maxTold) {
        told_.clear();
    }
    if (!told_.insert(place + '|' + call).second) {
        return;
    }
    log_->write({"io.quen.ravlin.AppRavlin", "Accessibility", LogLevel::info,
                 "an accessibility call failed: " + call + " on " + place + ": " + kind +
                     " (told once for this element and call)"});
}

States statesOf(AtspiStateSet* set) {
    return statesWith(
        [set](AtspiStateType state) { return atspi_state_set_contains(set, state) != 0; });
}

States statesOfBits(std::uint64_t bits) {
    return statesWith([bits](AtspiStateType state) {
        const auto bit = static_cast<unsigned>(state);
        return bit < 64 && ((bits >> bit) & 1u) != 0;
    });
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
