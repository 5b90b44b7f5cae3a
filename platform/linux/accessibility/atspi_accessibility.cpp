#include "platform/linux/accessibility/atspi_accessibility.h"

#include <atspi/atspi.h>
#include <gio/gio.h>
#include <unistd.h>

#include "platform/linux/accessibility/atspi_calls.h"
#include "platform/linux/accessibility/atspi_tree.h"
#include "platform/linux/accessibility/toolkit.h"

namespace ravlin::platform {

using namespace atspi;

namespace {

constexpr const char* busName = "org.a11y.Bus";
constexpr const char* busPath = "/org/a11y/bus";
constexpr const char* statusInterface = "org.a11y.Status";

}  // namespace

AtspiAccessibility::AtspiAccessibility(
    std::function<std::optional<ActiveWindow>()> activeWindow,
    std::function<std::optional<WindowPlace>(ProcessID)> windowOf)
    : activeWindow_(std::move(activeWindow)),
      windowOf_(std::move(windowOf)),
      self_(static_cast<ProcessID>(::getpid())) {
    atspi_init();
    const auto limit = static_cast<gint>(callTimeout.count());
    atspi_set_timeout(limit, limit * 4);
    GError* error = nullptr;
    session_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (error != nullptr) {
        g_error_free(error);
        session_ = nullptr;
    }
    if (session_ != nullptr) {
        trustSignal_ = g_dbus_connection_signal_subscribe(
            session_, busName, "org.freedesktop.DBus.Properties", "PropertiesChanged", busPath,
            statusInterface, G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
               GVariant* parameters, gpointer data) {
                auto* self = static_cast<AtspiAccessibility*>(data);
                const gchar* interface = nullptr;
                GVariant* changed = nullptr;
                g_variant_get(parameters, "(&s@a{sv}*)", &interface, &changed, nullptr);
                gboolean enabled = FALSE;
                if (changed != nullptr &&
                    g_variant_lookup(changed, "IsEnabled", "b", &enabled) != 0) {
                    const bool now = enabled != 0;
                    self->trustAnswered_ = true;
                    if (self->trusted_ != now) {
                        self->trusted_ = now;
                        self->trustObservers_.notify(now);
                    }
                }
                if (changed != nullptr) {
                    g_variant_unref(changed);
                }
            },
            this, nullptr);
    }
}

AtspiAccessibility::~AtspiAccessibility() {
    if (turnEnd_ != 0) {
        g_source_remove(turnEnd_);
    }
    if (focusListener_ != nullptr) {
        atspi_event_listener_deregister(focusListener_, "object:state-changed:focused", nullptr);
        g_object_unref(focusListener_);
    }
    for (auto& known : lastFocus_) {
        forget(known);
    }
    forgetPasswords([](const SeenPassword&) { return true; });
    if (typedInto_.field != nullptr) {
        g_object_unref(typedInto_.field);
    }
    for (auto& known : applications_) {
        g_object_unref(known.application);
    }
    if (focusAnswer_.element != nullptr) {
        g_object_unref(focusAnswer_.element);
    }
    if (session_ != nullptr) {
        if (trustSignal_ != 0) {
            g_dbus_connection_signal_unsubscribe(session_, trustSignal_);
        }
        g_object_unref(session_);
    }
    for (auto& [id, entry] : entries_) {
        g_object_unref(entry.object);
    }
}

// --- Trust

std::optional<bool> AtspiAccessibility::readTrust() {
    if (session_ == nullptr) {
        return false;
    }
    const auto limit = static_cast<gint>(callTimeout.count());
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        session_, busName, busPath, "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", statusInterface, "IsEnabled"), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, limit, nullptr, &error);
    if (error != nullptr) {
        // A session with no accessibility bus says so at once; a busy one may say nothing in
        // time, which tells nothing of the switch.
        const bool absent = g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
                            g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER);
        g_error_free(error);
        return absent ? std::optional<bool>(false) : std::nullopt;
    }
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    const bool enabled = value != nullptr && g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) &&
                         g_variant_get_boolean(value) != 0;
    if (value != nullptr) {
        g_variant_unref(value);
    }
    g_variant_unref(reply);
    if (!enabled) {
        return false;
    }
    // The registry answers on the accessibility bus (switched on, but no answer yet: asked
    // again next time).
    Held<AtspiAccessible> desktop(atspi_get_desktop(0));
    if (!desktop || !attempt(calls_, desktop.get(), [&](GError** e) {
                         return atspi_accessible_get_child_count(desktop.get(), e);
                     }).has_value()) {
        return std::nullopt;
    }
    return true;
}

bool AtspiAccessibility::isTrusted(bool prompt) {
    // Once answered, the answer follows the switch's change signals. A read that had no answer
    // (a busy bus at start) is not an answer: the next question reads again, or the program
    // would take accessibility for off until the switch next changed.
    if (!prompt && trustAnswered_ && session_ != nullptr) {
        return trusted_.value_or(false);
    }
    auto answer = readTrust();
    if (answer != true && prompt && session_ != nullptr) {
        // Turns the desktop's accessibility on; applications started before may need a restart
        // to notice.
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(
            session_, busName, busPath, "org.freedesktop.DBus.Properties", "Set",
            g_variant_new("(ssv)", statusInterface, "IsEnabled", g_variant_new_boolean(TRUE)),
            nullptr, G_DBUS_CALL_FLAGS_NONE, static_cast<gint>(callTimeout.count()), nullptr,
            &error);
        if (error != nullptr) {
            g_error_free(error);
        }
        if (reply != nullptr) {
            g_variant_unref(reply);
        }
        answer = readTrust();
    }
    trustAnswered_ = answer.has_value();
    const bool trusted = answer.value_or(false);
    if (trusted_ != trusted) {
        const bool changed = trusted_.has_value();
        trusted_ = trusted;
        if (changed) {
            trustObservers_.notify(trusted);
        }
    }
    return trusted;
}

Subscription AtspiAccessibility::observeTrust(std::function<void(bool)> onChange) {
    return trustObservers_.add(std::move(onChange));
}

// --- Tokens

ElementRef AtspiAccessibility::remember(AtspiAccessible* object, ProcessID pid) {
    // Takes over the caller's reference.
    if (const auto known = ids_.find(object); known != ids_.end()) {
        g_object_unref(object);
        return ElementRef{known->second};
    }
    while (entries_.size() >= maxTokens && !order_.empty()) {
        // The oldest token goes: an application that keeps making new objects cannot make us
        // hold every one of them.
        release(ElementRef{order_.front()});
        order_.pop_front();
    }
    if (order_.size() > 2 * maxTokens) {
        // Tokens released by their holders leave their ids behind here; drop those.
        std::erase_if(order_, [&](std::uint64_t id) { return !entries_.contains(id); });
    }
    const auto id = nextId_++;
    entries_.emplace(id, Entry{.object = object, .pid = pid});
    ids_.emplace(object, id);
    order_.push_back(id);
    return ElementRef{id};
}

Expected<AtspiAccessibility::Entry*> AtspiAccessibility::lookup(ElementRef element) {
    const auto found = entries_.find(element.id);
    if (found == entries_.end()) {
        return Error{ErrorCode::invalidArgument, "unknown element"};
    }
    return &found->second;
}

void AtspiAccessibility::release(ElementRef element) {
    const auto found = entries_.find(element.id);
    if (found == entries_.end()) {
        return;
    }
    ids_.erase(found->second.object);
    g_object_unref(found->second.object);
    entries_.erase(found);
}

// --- Attribute calls

Expected<AttributeValue> AtspiAccessibility::attribute(ElementRef element, std::string_view name) {
    if (element == systemWide) {
        if (name != ax::focusedUIElement) {
            return noValue(name);
        }
        auto found = focused();
        if (!found) {
            return found.error();
        }
        return AttributeValue(remember(found->first, found->second));
    }
    auto entry = lookup(element);
    if (!entry) {
        return entry.error();
    }
    if ((*entry)->pid == self_) {
        return Error{ErrorCode::notFound, "our own elements are not read"};
    }
    return read(**entry, name);
}

Expected<AttributeValue> AtspiAccessibility::parameterizedAttribute(
    ElementRef element, std::string_view name, const AttributeValue& parameter) {
    auto found = lookup(element);
    if (!found) {
        return found.error();
    }
    Entry& entry = **found;
    if (entry.pid == self_) {
        return Error{ErrorCode::notFound, "our own elements are not read"};
    }
    if (name != ax::stringForRange && name != ax::boundsForRange) {
        return Error{ErrorCode::notSupported, "parameterized attribute not supported"};
    }
    const auto* range = std::get_if<text::Utf16Range>(&parameter);
    if (range == nullptr || range->location < 0 || range->length < 0) {
        return Error{ErrorCode::invalidArgument, "a range is needed"};
    }
    if (isPasswordField(entry) != false) {
        return secret();
    }
    Held<AtspiText> textInterface(atspi_accessible_get_text_iface(entry.object));
    if (!textInterface) {
        return noValue(name);
    }
    if (const auto rich = richText(entry)) {
        return readRichRange(entry, *rich, name, *range);
    }
    const auto start = toolkitOffset(entry, range->location);
    const auto end = toolkitOffset(entry, range->end());
    if (!start || !end) {
        return Error{ErrorCode::invalidArgument, "range outside the text"};
    }
    if (name == ax::stringForRange) {
        if (selectionCrosses(entry)) {
            return failed("a selection crosses the element's bounds");
        }
        if (auto between = textBetween(entry, *start, *end)) {
            return AttributeValue(std::move(*between));
        }
        return failed("the text could not be read");
    }
    if (auto bounds = boundsOf(entry, *start, *end)) {
        return AttributeValue(*bounds);
    }
    return failed("no bounds for the range");
}

}  // namespace ravlin::platform
