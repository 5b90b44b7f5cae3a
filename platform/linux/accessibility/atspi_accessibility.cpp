#include "platform/linux/accessibility/atspi_accessibility.h"

#include <atspi/atspi.h>
#include <gio/gio.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "core/text/unicode.h"
#include "platform/linux/accessibility/text_offsets.h"

namespace ravlin::platform {
namespace {

using Clock = std::chrono::steady_clock;

// Runs one libatspi call that reports failure through a GError, keeping the longest call time.
// The answer is absent when the call failed or timed out.
template <class Function>
auto attempt(std::chrono::microseconds& worst, Function&& function) {
    GError* error = nullptr;
    const auto start = Clock::now();
    auto result = function(&error);
    worst = std::max(worst,
                     std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start));
    using Result = decltype(result);
    if (error != nullptr) {
        // libatspi answers nothing (null, 0) along with an error.
        g_error_free(error);
        return std::optional<Result>();
    }
    return std::optional<Result>(result);
}

// A reference on a GObject, dropped at scope exit.
template <class T>
struct Held {
    T* object = nullptr;
    explicit Held(T* held) : object(held) {}
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    ~Held() {
        if (object != nullptr) {
            g_object_unref(object);
        }
    }
    T* get() const { return object; }
    explicit operator bool() const { return object != nullptr; }
};

Error failed(std::string message) {
    return Error{ErrorCode::failed, std::move(message)};
}
Error noValue(std::string_view name) {
    return Error{ErrorCode::notFound, "no value for " + std::string(name)};
}
Error secret() {
    return Error{ErrorCode::notPermitted, "a password field is never read"};
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

constexpr const char* busName = "org.a11y.Bus";
constexpr const char* busPath = "/org/a11y/bus";
constexpr const char* statusInterface = "org.a11y.Status";

}  // namespace

AtspiAccessibility::AtspiAccessibility(std::function<std::optional<ProcessID>()> activeProcess)
    : activeProcess_(std::move(activeProcess)), self_(static_cast<ProcessID>(::getpid())) {
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
    for (auto& [pid, object] : lastFocus_) {
        g_object_unref(object);
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

bool AtspiAccessibility::readTrust() {
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
        g_error_free(error);
        return false;
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
    // The registry answers on the accessibility bus.
    Held<AtspiAccessible> desktop(atspi_get_desktop(0));
    return desktop && attempt(worstCall_, [&](GError** e) {
                          return atspi_accessible_get_child_count(desktop.get(), e);
                      }).has_value();
}

bool AtspiAccessibility::isTrusted(bool prompt) {
    // Once read, the answer follows the switch's change signals.
    if (!prompt && trusted_ && session_ != nullptr) {
        return *trusted_;
    }
    bool trusted = readTrust();
    if (!trusted && prompt && session_ != nullptr) {
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
        trusted = readTrust();
    }
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

// --- Applications and focus

AtspiAccessible* AtspiAccessibility::application(ProcessID pid) {
    if (pid == self_ || pid <= 0) {
        return nullptr;
    }
    Held<AtspiAccessible> desktop(atspi_get_desktop(0));
    if (!desktop) {
        return nullptr;
    }
    const auto count = attempt(worstCall_, [&](GError** e) {
                           return atspi_accessible_get_child_count(desktop.get(), e);
                       }).value_or(0);
    for (int i = 0; i < std::min(count, maxChildren); ++i) {
        auto child = attempt(worstCall_, [&](GError** e) {
                         return atspi_accessible_get_child_at_index(desktop.get(), i, e);
                     }).value_or(nullptr);
        if (child == nullptr) {
            continue;
        }
        // The bus daemon answers this, never the application itself.
        const auto owner = attempt(
            worstCall_, [&](GError** e) { return atspi_accessible_get_process_id(child, e); });
        if (owner == static_cast<guint>(pid)) {
            return child;
        }
        g_object_unref(child);
    }
    return nullptr;
}

AtspiAccessible* AtspiAccessibility::focusedIn(AtspiAccessible* app) {
    // libatspi answers states from a cache kept fresh by events; read the application anew so
    // a focus that moved a moment ago is not missed.
    atspi_accessible_clear_cache(app);
    int visited = 0;
    bool stalled = false;
    std::function<AtspiAccessible*(AtspiAccessible*, int)> search =
        [&](AtspiAccessible* node, int depth) -> AtspiAccessible* {
        if (stalled || depth > maxDepth || ++visited > maxVisited) {
            return nullptr;
        }
        if (depth > 0) {
            const auto states = focusStates(node);
            if (!states) {
                stalled = true;
                return nullptr;
            }
            if (states->focused) {
                return static_cast<AtspiAccessible*>(g_object_ref(node));
            }
            if (!states->showing) {
                return nullptr;
            }
        }
        const auto count = attempt(
            worstCall_, [&](GError** e) { return atspi_accessible_get_child_count(node, e); });
        if (!count) {
            // A target that does not answer gets no further calls in this search.
            stalled = true;
            return nullptr;
        }
        for (int i = 0; i < std::min(*count, maxChildren); ++i) {
            auto child = attempt(worstCall_, [&](GError** e) {
                             return atspi_accessible_get_child_at_index(node, i, e);
                         }).value_or(nullptr);
            if (child == nullptr) {
                continue;
            }
            AtspiAccessible* found = search(child, depth + 1);
            g_object_unref(child);
            if (found != nullptr || stalled) {
                return found;
            }
        }
        return nullptr;
    };
    return search(app, 0);
}

AtspiAccessible* AtspiAccessibility::rememberedFocus(ProcessID pid) {
    const auto known = std::ranges::find(lastFocus_, pid, &std::pair<ProcessID, AtspiAccessible*>::first);
    if (known == lastFocus_.end()) {
        return nullptr;
    }
    AtspiAccessible* object = known->second;
    // Its states as they are now (the cache may hold those of an earlier event).
    atspi_accessible_clear_cache(object);
    const auto states = focusStates(object);
    return states && states->focused && !states->defunct ? object : nullptr;
}

std::optional<AtspiAccessibility::FocusStates> AtspiAccessibility::focusStates(
    AtspiAccessible* object) {
    const auto set = attempt(worstCall_, [&](GError** e) {
        (void)e;
        return atspi_accessible_get_state_set(object);
    });
    if (!set || *set == nullptr) {
        return std::nullopt;
    }
    const FocusStates states{
        .focused = atspi_state_set_contains(*set, ATSPI_STATE_FOCUSED) != 0,
        .showing = atspi_state_set_contains(*set, ATSPI_STATE_SHOWING) != 0,
        .defunct = atspi_state_set_contains(*set, ATSPI_STATE_DEFUNCT) != 0,
    };
    g_object_unref(*set);
    return states;
}

void AtspiAccessibility::rememberFocus(AtspiAccessible* object, ProcessID pid) {
    // Takes over the caller's reference.
    if (const auto known =
            std::ranges::find(lastFocus_, pid, &std::pair<ProcessID, AtspiAccessible*>::first);
        known != lastFocus_.end()) {
        g_object_unref(known->second);
        lastFocus_.erase(known);
    }
    if (lastFocus_.size() >= maxRememberedFocus) {
        g_object_unref(lastFocus_.front().second);
        lastFocus_.erase(lastFocus_.begin());
    }
    lastFocus_.emplace_back(pid, object);
}

Expected<std::pair<AtspiAccessible*, ProcessID>> AtspiAccessibility::focused() {
    const auto active = activeProcess_ ? activeProcess_() : std::nullopt;
    if (active) {
        // Only the active window's process: another application may still show a focus it
        // lost a moment ago.
        if (*active == self_) {
            return Error{ErrorCode::notFound, "our own window is in front"};
        }
        if (AtspiAccessible* known = rememberedFocus(*active)) {
            return std::pair{static_cast<AtspiAccessible*>(g_object_ref(known)), *active};
        }
        Held<AtspiAccessible> app(application(*active));
        if (!app) {
            return Error{ErrorCode::notFound, "the active application is not accessible"};
        }
        if (AtspiAccessible* found = focusedIn(app.get())) {
            rememberFocus(static_cast<AtspiAccessible*>(g_object_ref(found)), *active);
            return std::pair{found, *active};
        }
        return Error{ErrorCode::notFound, "nothing has the focus"};
    }
    // No usable active window: the first focus of any other application.
    Held<AtspiAccessible> desktop(atspi_get_desktop(0));
    if (!desktop) {
        return failed("no accessibility desktop");
    }
    const auto count = attempt(worstCall_, [&](GError** e) {
                           return atspi_accessible_get_child_count(desktop.get(), e);
                       }).value_or(0);
    for (int i = 0; i < std::min(count, maxChildren); ++i) {
        Held<AtspiAccessible> app(attempt(worstCall_, [&](GError** e) {
                                      return atspi_accessible_get_child_at_index(desktop.get(), i,
                                                                                 e);
                                  }).value_or(nullptr));
        if (!app) {
            continue;
        }
        const auto pid = attempt(
            worstCall_, [&](GError** e) { return atspi_accessible_get_process_id(app.get(), e); });
        if (!pid || static_cast<ProcessID>(*pid) == self_) {
            continue;
        }
        if (AtspiAccessible* found = focusedIn(app.get())) {
            return std::pair{found, static_cast<ProcessID>(*pid)};
        }
    }
    return Error{ErrorCode::notFound, "nothing has the focus"};
}

Expected<ElementRef> AtspiAccessibility::applicationElement(ProcessID pid) {
    AtspiAccessible* app = application(pid);
    if (app == nullptr) {
        return Error{ErrorCode::notFound, "no such application"};
    }
    return remember(app, pid);
}

Expected<ProcessID> AtspiAccessibility::processID(ElementRef element) {
    auto entry = lookup(element);
    if (!entry) {
        return entry.error();
    }
    return (*entry)->pid;
}

SecureInput::State AtspiAccessibility::secureInputState() {
    using State = SecureInput::State;
    const auto isPassword = [this](AtspiAccessible* object) -> std::optional<bool> {
        const auto role =
            attempt(worstCall_, [&](GError** e) { return atspi_accessible_get_role(object, e); });
        return role ? std::optional(*role == ATSPI_ROLE_PASSWORD_TEXT) : std::nullopt;
    };
    if (auto found = focused()) {
        Held<AtspiAccessible> object(found->first);
        const auto password = isPassword(object.get());
        return !password ? State::unknown : *password ? State::on : State::off;
    }
    // Not found now: the field last reported focused in that application may still have the
    // focus. It can only tell a password field: another one may have lost the focus since.
    const auto active = activeProcess_ ? activeProcess_() : std::nullopt;
    if (active && *active != self_) {
        const auto known =
            std::ranges::find(lastFocus_, *active, &std::pair<ProcessID, AtspiAccessible*>::first);
        if (known != lastFocus_.end() && isPassword(known->second) == true) {
            return State::on;
        }
    }
    return State::unknown;
}

Subscription AtspiAccessibility::observeFocus(std::function<void(ElementRef)> onFocus) {
    // Only on demand: while anyone listens for events, every Qt program on the desktop (this
    // one too) sends each of its key presses through the accessibility registry first.
    if (focusListener_ == nullptr) {
        focusListener_ = atspi_event_listener_new(
            [](AtspiEvent* event, void* data) {
                if (event->detail1 == 1 && event->source != nullptr) {
                    static_cast<AtspiAccessibility*>(data)->onFocusEvent(event->source);
                }
                g_boxed_free(ATSPI_TYPE_EVENT, event);
            },
            this, nullptr);
        atspi_event_listener_register(focusListener_, "object:state-changed:focused", nullptr);
    }
    return focusObservers_.add(std::move(onFocus));
}

void AtspiAccessibility::onFocusEvent(AtspiAccessible* source) {
    // Our own events go first, before anything could ask our own accessibles a question.
    const auto pid =
        attempt(worstCall_, [&](GError** e) { return atspi_accessible_get_process_id(source, e); });
    if (!pid || static_cast<ProcessID>(*pid) == self_) {
        return;
    }
    rememberFocus(static_cast<AtspiAccessible*>(g_object_ref(source)),
                  static_cast<ProcessID>(*pid));
    const auto element =
        remember(static_cast<AtspiAccessible*>(g_object_ref(source)), static_cast<ProcessID>(*pid));
    focusObservers_.notify(element);
}

// --- Reads

bool AtspiAccessibility::usesUtf16(Entry& entry) {
    if (!entry.utf16Offsets) {
        // The application knows its toolkit; its elements need not.
        Held<AtspiAccessible> app(attempt(worstCall_, [&](GError** e) {
                                      return atspi_accessible_get_application(entry.object, e);
                                  }).value_or(nullptr));
        auto* name = app ? attempt(worstCall_,
                                   [&](GError** e) {
                                       return atspi_accessible_get_toolkit_name(app.get(), e);
                                   })
                               .value_or(nullptr)
                         : nullptr;
        entry.utf16Offsets = name != nullptr && std::string_view(name) == "Qt";
        g_free(name);
    }
    return *entry.utf16Offsets;
}

bool AtspiAccessibility::isEditable(AtspiAccessible* object) {
    Held<AtspiEditableText> editable(atspi_accessible_get_editable_text_iface(object));
    // Qt marks a read-only line edit editable and read-only at once.
    return editable && hasState(object, ATSPI_STATE_EDITABLE) &&
           !hasState(object, ATSPI_STATE_READ_ONLY);
}

// --- One reading's fetches

AtspiAccessibility::Reading& AtspiAccessibility::reading(Entry& entry) {
    if (entry.reading.turn != turn_) {
        entry.reading = Reading{.turn = turn_};
    }
    if (turnEnd_ == 0) {
        // Before anything else the next turn of the loop runs: what was read here is old then.
        turnEnd_ = g_idle_add_full(
            G_PRIORITY_HIGH,
            [](gpointer data) -> gboolean {
                auto* self = static_cast<AtspiAccessibility*>(data);
                self->turnEnd_ = 0;
                ++self->turn_;
                return G_SOURCE_REMOVE;
            },
            this, nullptr);
    }
    return entry.reading;
}

void AtspiAccessibility::forgetReadings() {
    ++turn_;
}

std::optional<int> AtspiAccessibility::role(Entry& entry) {
    if (const auto known = reading(entry).role) {
        return known;
    }
    const auto answer =
        attempt(worstCall_, [&](GError** e) { return atspi_accessible_get_role(entry.object, e); });
    if (!answer) {
        return std::nullopt;
    }
    return reading(entry).role = static_cast<int>(*answer);
}

std::optional<std::pair<int, int>> AtspiAccessibility::toolkitSelection(Entry& entry) {
    if (const auto known = reading(entry).selection) {
        return known;
    }
    Held<AtspiText> text(atspi_accessible_get_text_iface(entry.object));
    if (!text) {
        return std::nullopt;
    }
    const auto selections = attempt(
        worstCall_, [&](GError** e) { return atspi_text_get_n_selections(text.get(), e); });
    std::pair<int, int> range;
    if (selections && *selections > 0) {
        AtspiRange* selected = attempt(worstCall_, [&](GError** e) {
                                   return atspi_text_get_selection(text.get(), 0, e);
                               }).value_or(nullptr);
        if (selected == nullptr) {
            return std::nullopt;
        }
        range = std::minmax(selected->start_offset, selected->end_offset);
        g_free(selected);
    } else {
        const auto caret = attempt(
            worstCall_, [&](GError** e) { return atspi_text_get_caret_offset(text.get(), e); });
        if (!caret) {
            return std::nullopt;
        }
        range = {*caret, *caret};
    }
    range.first = std::max(range.first, 0);
    range.second = std::max(range.second, range.first);
    return reading(entry).selection = range;
}

std::optional<int> AtspiAccessibility::characterCount(Entry& entry) {
    if (const auto known = reading(entry).count) {
        return known;
    }
    Held<AtspiText> text(atspi_accessible_get_text_iface(entry.object));
    if (!text) {
        return std::nullopt;
    }
    const auto count = attempt(
        worstCall_, [&](GError** e) { return atspi_text_get_character_count(text.get(), e); });
    if (!count || *count < 0) {
        return std::nullopt;
    }
    return reading(entry).count = *count;
}

bool AtspiAccessibility::fetchPrefix(Entry& entry, int toolkitEnd) {
    {
        const auto& known = reading(entry);
        // (-1: all of it)
        if (known.prefixWhole || (toolkitEnd >= 0 && known.prefixEnd >= toolkitEnd)) {
            return true;
        }
    }
    auto text = fetchText(entry, 0, toolkitEnd);
    if (!text) {
        return false;
    }
    auto& r = reading(entry);
    r.prefix = std::move(*text);
    const auto unit = usesUtf16(entry) ? OffsetUnit::utf16 : OffsetUnit::codePoints;
    const auto units =
        fromUtf16Offset(r.prefix, static_cast<std::int64_t>(r.prefix.size()), unit);
    r.prefixEnd = toolkitEnd;
    // Fewer units than asked for: that is all there is.
    r.prefixWhole = toolkitEnd < 0 || units < toolkitEnd;
    return true;
}

std::optional<std::u16string> AtspiAccessibility::wholeText(Entry& entry) {
    if (!reading(entry).prefixWhole && !fetchPrefix(entry, -1)) {
        return std::nullopt;
    }
    return reading(entry).prefix;
}

std::optional<std::int64_t> AtspiAccessibility::utf16Offset(Entry& entry, int offset) {
    if (usesUtf16(entry)) {
        return std::max(offset, 0);
    }
    // Code points: the text before the offset tells how many of them take two units.
    if (!fetchPrefix(entry, offset)) {
        return std::nullopt;
    }
    return toUtf16Offset(reading(entry).prefix, offset, OffsetUnit::codePoints);
}

std::optional<int> AtspiAccessibility::toolkitOffset(Entry& entry, std::int64_t offset) {
    if (offset < 0 || offset > std::numeric_limits<int>::max()) {
        return std::nullopt;
    }
    if (usesUtf16(entry)) {
        const auto count = characterCount(entry);
        if (!count || offset > *count) {
            return std::nullopt;
        }
        return static_cast<int>(offset);
    }
    // As many code points as units asked for cover at least that many units.
    if (!fetchPrefix(entry, static_cast<int>(offset))) {
        return std::nullopt;
    }
    const auto& prefix = reading(entry).prefix;
    if (offset > static_cast<std::int64_t>(prefix.size())) {
        return std::nullopt;
    }
    return static_cast<int>(fromUtf16Offset(prefix, offset, OffsetUnit::codePoints));
}

std::optional<std::u16string> AtspiAccessibility::textBetween(Entry& entry, int start, int end) {
    if (end <= start) {
        return std::u16string();
    }
    const auto unit = usesUtf16(entry) ? OffsetUnit::utf16 : OffsetUnit::codePoints;
    if (const auto& known = reading(entry); known.prefixWhole || known.prefixEnd >= end) {
        const auto a = toUtf16Offset(known.prefix, start, unit);
        const auto b = toUtf16Offset(known.prefix, end, unit);
        return known.prefix.substr(static_cast<std::size_t>(a), static_cast<std::size_t>(b - a));
    }
    return fetchText(entry, start, end);
}

std::optional<std::u16string> AtspiAccessibility::fetchText(Entry& entry, int start, int end) {
    Held<AtspiText> text(atspi_accessible_get_text_iface(entry.object));
    if (!text) {
        return std::nullopt;
    }
    auto* raw = attempt(worstCall_, [&](GError** e) {
                    return atspi_text_get_text(text.get(), start, end, e);
                }).value_or(nullptr);
    if (raw == nullptr) {
        return std::nullopt;
    }
    std::optional<std::u16string> fetched;
    if (std::strlen(raw) <= maxTextBytes) {
        fetched = fromUtf8(raw);
    }
    g_free(raw);
    return fetched;
}

Expected<AttributeValue> AtspiAccessibility::readText(Entry& entry, std::string_view name) {
    {
        Held<AtspiText> text(atspi_accessible_get_text_iface(entry.object));
        if (!text) {
            return noValue(name);
        }
    }
    if (name == ax::value) {
        if (auto text = wholeText(entry)) {
            return AttributeValue(std::move(*text));
        }
        return failed("the text could not be read");
    }
    if (name == ax::numberOfCharacters) {
        // Code points do not tell UTF-16 units: those toolkits' texts are counted whole.
        const auto count = usesUtf16(entry) ? characterCount(entry) : std::nullopt;
        if (count) {
            return AttributeValue(static_cast<double>(*count));
        }
        if (const auto text = wholeText(entry)) {
            return AttributeValue(static_cast<double>(text->size()));
        }
        return failed("the text could not be read");
    }
    const auto selection = toolkitSelection(entry);
    if (!selection) {
        return failed("the selection could not be read");
    }
    if (name == ax::selectedTextRange) {
        const auto a = utf16Offset(entry, selection->first);
        const auto b = utf16Offset(entry, selection->second);
        if (!a || !b) {
            return failed("the text could not be read");
        }
        return AttributeValue(text::Utf16Range{*a, std::max<std::int64_t>(*b - *a, 0)});
    }
    if (auto selected = textBetween(entry, selection->first, selection->second)) {
        return AttributeValue(std::move(*selected));
    }
    return failed("the selection could not be read");
}

Expected<AttributeValue> AtspiAccessibility::read(Entry& entry, std::string_view name) {
    AtspiAccessible* object = entry.object;
    const auto role = this->role(entry);
    if (!role) {
        return failed("the element does not answer");
    }
    const bool password = *role == ATSPI_ROLE_PASSWORD_TEXT;
    if (name == ax::role) {
        bool singleLine = false;
        bool multiLine = false;
        if (*role == ATSPI_ROLE_TEXT) {
            AtspiStateSet* states = atspi_accessible_get_state_set(object);
            singleLine = atspi_state_set_contains(states, ATSPI_STATE_SINGLE_LINE) != 0;
            multiLine = atspi_state_set_contains(states, ATSPI_STATE_MULTI_LINE) != 0;
            g_object_unref(states);
        }
        return AttributeValue(text::toUtf16(axRoleName(*role, singleLine, multiLine)));
    }
    if (name == ax::value || name == ax::selectedText || name == ax::selectedTextRange ||
        name == ax::numberOfCharacters) {
        if (password) {
            return secret();
        }
        return readText(entry, name);
    }
    if (name == ax::title) {
        auto* title = attempt(worstCall_, [&](GError** e) {
                          return atspi_accessible_get_name(object, e);
                      }).value_or(nullptr);
        auto value = fromUtf8(title);
        g_free(title);
        if (value.empty()) {
            return noValue(name);
        }
        return AttributeValue(std::move(value));
    }
    if (name == ax::position || name == ax::size) {
        auto rect = reading(entry).extents;
        if (!rect) {
            Held<AtspiComponent> component(atspi_accessible_get_component_iface(object));
            if (!component) {
                return noValue(name);
            }
            AtspiRect* extents = attempt(worstCall_, [&](GError** e) {
                                     return atspi_component_get_extents(
                                         component.get(), ATSPI_COORD_TYPE_SCREEN, e);
                                 }).value_or(nullptr);
            if (extents == nullptr) {
                return failed("no extents");
            }
            rect = makeRect(extents->x, extents->y, extents->width, extents->height);
            g_free(extents);
            reading(entry).extents = rect;
        }
        return name == ax::position ? AttributeValue(rect->origin) : AttributeValue(rect->size);
    }
    if (name == ax::focused) {
        return AttributeValue(hasState(object, ATSPI_STATE_FOCUSED));
    }
    if (name == ax::parent) {
        auto* parent = attempt(worstCall_, [&](GError** e) {
                           return atspi_accessible_get_parent(object, e);
                       }).value_or(nullptr);
        if (parent == nullptr) {
            return noValue(name);
        }
        return AttributeValue(remember(parent, entry.pid));
    }
    if (name == ax::children || name == ax::windows) {
        const auto count = attempt(
            worstCall_, [&](GError** e) { return atspi_accessible_get_child_count(object, e); });
        if (!count) {
            return failed("the children could not be read");
        }
        std::vector<ElementRef> children;
        for (int i = 0; i < std::min(*count, maxChildren); ++i) {
            auto* child = attempt(worstCall_, [&](GError** e) {
                              return atspi_accessible_get_child_at_index(object, i, e);
                          }).value_or(nullptr);
            if (child != nullptr) {
                children.push_back(remember(child, entry.pid));
            }
        }
        if (name == ax::windows && *role != ATSPI_ROLE_APPLICATION) {
            return noValue(name);
        }
        return AttributeValue(std::move(children));
    }
    if (name == ax::window) {
        // The nearest frame, window or dialog above the element, else the top-level element
        // just below the application (a Qt window may be a plain widget).
        AtspiAccessible* node = static_cast<AtspiAccessible*>(g_object_ref(object));
        AtspiAccessible* below = nullptr;
        for (int depth = 0; node != nullptr && depth < maxDepth; ++depth) {
            const auto nodeRole =
                attempt(worstCall_, [&](GError** e) { return atspi_accessible_get_role(node, e); });
            if (nodeRole == ATSPI_ROLE_FRAME || nodeRole == ATSPI_ROLE_WINDOW ||
                nodeRole == ATSPI_ROLE_DIALOG) {
                if (below != nullptr) {
                    g_object_unref(below);
                }
                return AttributeValue(remember(node, entry.pid));
            }
            if (!nodeRole || nodeRole == ATSPI_ROLE_APPLICATION) {
                break;
            }
            auto* parent = attempt(worstCall_, [&](GError** e) {
                               return atspi_accessible_get_parent(node, e);
                           }).value_or(nullptr);
            if (below != nullptr) {
                g_object_unref(below);
            }
            below = node;
            node = parent;
        }
        const bool topLevel = node != nullptr && below != nullptr && below != object &&
                              attempt(worstCall_, [&](GError** e) {
                                  return atspi_accessible_get_role(node, e);
                              }) == ATSPI_ROLE_APPLICATION;
        if (node != nullptr) {
            g_object_unref(node);
        }
        if (topLevel) {
            return AttributeValue(remember(below, entry.pid));
        }
        if (below != nullptr) {
            g_object_unref(below);
        }
        return noValue(name);
    }
    if (*role == ATSPI_ROLE_APPLICATION) {
        if (name == ax::focusedUIElement) {
            if (AtspiAccessible* known = rememberedFocus(entry.pid)) {
                return AttributeValue(
                    remember(static_cast<AtspiAccessible*>(g_object_ref(known)), entry.pid));
            }
            if (AtspiAccessible* found = focusedIn(object)) {
                rememberFocus(static_cast<AtspiAccessible*>(g_object_ref(found)), entry.pid);
                return AttributeValue(remember(found, entry.pid));
            }
            return noValue(name);
        }
        if (name == ax::focusedWindow) {
            const auto count = attempt(worstCall_, [&](GError** e) {
                                   return atspi_accessible_get_child_count(object, e);
                               }).value_or(0);
            for (int i = 0; i < std::min(count, maxChildren); ++i) {
                auto* child = attempt(worstCall_, [&](GError** e) {
                                  return atspi_accessible_get_child_at_index(object, i, e);
                              }).value_or(nullptr);
                if (child == nullptr) {
                    continue;
                }
                if (hasState(child, ATSPI_STATE_ACTIVE)) {
                    return AttributeValue(remember(child, entry.pid));
                }
                g_object_unref(child);
            }
        }
    }
    return noValue(name);
}

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
    if (role(entry) == ATSPI_ROLE_PASSWORD_TEXT) {
        return secret();
    }
    Held<AtspiText> textInterface(atspi_accessible_get_text_iface(entry.object));
    if (!textInterface) {
        return noValue(name);
    }
    const auto start = toolkitOffset(entry, range->location);
    const auto end = toolkitOffset(entry, range->end());
    if (!start || !end) {
        return Error{ErrorCode::invalidArgument, "range outside the text"};
    }
    if (name == ax::stringForRange) {
        if (auto between = textBetween(entry, *start, *end)) {
            return AttributeValue(std::move(*between));
        }
        return failed("the text could not be read");
    }
    AtspiRect* extents =
        attempt(worstCall_, [&](GError** e) {
            return range->length == 0
                       ? atspi_text_get_character_extents(textInterface.get(), *start,
                                                          ATSPI_COORD_TYPE_SCREEN, e)
                       : atspi_text_get_range_extents(textInterface.get(), *start, *end,
                                                      ATSPI_COORD_TYPE_SCREEN, e);
        }).value_or(nullptr);
    if (extents == nullptr) {
        return failed("no bounds for the range");
    }
    // Passed on as the toolkit gives them (y down), empty rectangles included.
    const Rect rect = makeRect(extents->x, extents->y, extents->width, extents->height);
    g_free(extents);
    return AttributeValue(rect);
}

// --- Writes

Expected<bool> AtspiAccessibility::isAttributeSettable(ElementRef element, std::string_view name) {
    auto found = lookup(element);
    if (!found) {
        return found.error();
    }
    AtspiAccessible* object = (*found)->object;
    if ((*found)->pid == self_) {
        return false;
    }
    const auto role = this->role(**found);
    if (!role) {
        return Error{ErrorCode::failed, "the element does not answer"};
    }
    if (*role == ATSPI_ROLE_PASSWORD_TEXT) {
        return false;
    }
    if (name == ax::selectedText || name == ax::value) {
        return isEditable(object);
    }
    if (name == ax::selectedTextRange) {
        Held<AtspiText> text(atspi_accessible_get_text_iface(object));
        return static_cast<bool>(text);
    }
    if (name == ax::focused) {
        Held<AtspiComponent> component(atspi_accessible_get_component_iface(object));
        return static_cast<bool>(component);
    }
    return false;
}

Status AtspiAccessibility::writeSelection(Entry& entry, text::Utf16Range range) {
    const auto start = toolkitOffset(entry, range.location);
    const auto end = toolkitOffset(entry, range.end());
    if (!start || !end) {
        return Status::failure(ErrorCode::invalidArgument, "range outside the text");
    }
    Held<AtspiText> textInterface(atspi_accessible_get_text_iface(entry.object));
    std::optional<gboolean> done;
    if (range.length == 0) {
        done = attempt(worstCall_, [&](GError** e) {
            return atspi_text_set_caret_offset(textInterface.get(), *start, e);
        });
    } else {
        const auto selections = attempt(worstCall_, [&](GError** e) {
                                    return atspi_text_get_n_selections(textInterface.get(), e);
                                }).value_or(0);
        done = attempt(worstCall_, [&](GError** e) {
            return selections > 0
                       ? atspi_text_set_selection(textInterface.get(), 0, *start, *end, e)
                       : atspi_text_add_selection(textInterface.get(), *start, *end, e);
        });
    }
    forgetReadings();
    if (!done || *done == FALSE) {
        return Status::failure(ErrorCode::failed, "the application refused the selection");
    }
    return {};
}

Status AtspiAccessibility::writeSelectedText(Entry& entry, const std::u16string& replacement) {
    const auto before = wholeText(entry);
    const auto selection = toolkitSelection(entry);
    if (!before || !selection) {
        return Status::failure(ErrorCode::failed, "the text could not be read");
    }
    const auto& text = *before;
    const auto unit = usesUtf16(entry) ? OffsetUnit::utf16 : OffsetUnit::codePoints;
    const int start = selection->first;
    const int end = selection->second;
    const auto location = toUtf16Offset(text, start, unit);
    const auto length = toUtf16Offset(text, end, unit) - location;
    Held<AtspiEditableText> editable(atspi_accessible_get_editable_text_iface(entry.object));
    forgetReadings();
    if (end > start) {
        const auto deleted = attempt(worstCall_, [&](GError** e) {
            return atspi_editable_text_delete_text(editable.get(), start, end, e);
        });
        if (!deleted || *deleted == FALSE) {
            return Status::failure(ErrorCode::failed, "the application refused the delete");
        }
    }
    if (!replacement.empty()) {
        const auto utf8 = text::toUtf8(replacement);
        // GTK counts the inserted text in bytes, Qt in UTF-16 units.
        const int inserted = unit == OffsetUnit::utf16 ? static_cast<int>(replacement.size())
                                                       : static_cast<int>(utf8.size());
        const auto done = attempt(worstCall_, [&](GError** e) {
            return atspi_editable_text_insert_text(editable.get(), start, utf8.c_str(), inserted,
                                                   e);
        });
        if (!done || *done == FALSE) {
            return Status::failure(ErrorCode::failed, "the application refused the insert");
        }
    }
    std::u16string expected = text;
    expected.replace(static_cast<std::size_t>(location), static_cast<std::size_t>(length),
                     replacement);
    // Applications answer yes to writes they ignore: only the text itself tells.
    forgetReadings();
    const auto after = wholeText(entry);
    if (!after || *after != expected) {
        return Status::failure(ErrorCode::failed, "the application did not apply the write");
    }
    const auto caret = location + static_cast<std::int64_t>(replacement.size());
    Held<AtspiText> textInterface(atspi_accessible_get_text_iface(entry.object));
    (void)attempt(worstCall_, [&](GError** e) {
        return atspi_text_set_caret_offset(
            textInterface.get(), static_cast<int>(fromUtf16Offset(expected, caret, unit)), e);
    });
    forgetReadings();
    return {};
}

Status AtspiAccessibility::writeValue(Entry& entry, const std::u16string& text) {
    Held<AtspiEditableText> editable(atspi_accessible_get_editable_text_iface(entry.object));
    const auto utf8 = text::toUtf8(text);
    forgetReadings();
    const auto done = attempt(worstCall_, [&](GError** e) {
        return atspi_editable_text_set_text_contents(editable.get(), utf8.c_str(), e);
    });
    if (!done || *done == FALSE) {
        return Status::failure(ErrorCode::failed, "the application refused the text");
    }
    forgetReadings();
    const auto after = wholeText(entry);
    forgetReadings();
    if (!after || *after != text) {
        return Status::failure(ErrorCode::failed, "the application did not apply the write");
    }
    return {};
}

Status AtspiAccessibility::setAttribute(ElementRef element, std::string_view name,
                                        const AttributeValue& value) {
    auto found = lookup(element);
    if (!found) {
        return found.error();
    }
    Entry& entry = **found;
    if (entry.pid == self_) {
        return Status::failure(ErrorCode::notSupported, "our own elements are not written");
    }
    const auto settable = isAttributeSettable(element, name);
    if (!settable) {
        return settable.error();
    }
    if (!*settable) {
        return Status::failure(ErrorCode::notSupported, "attribute not settable");
    }
    if (name == ax::focused) {
        if (value != AttributeValue(true)) {
            return {};
        }
        forgetReadings();
        Held<AtspiComponent> component(atspi_accessible_get_component_iface(entry.object));
        const auto done = attempt(
            worstCall_, [&](GError** e) { return atspi_component_grab_focus(component.get(), e); });
        return done && *done != FALSE
                   ? Status()
                   : Status::failure(ErrorCode::failed, "the application refused the focus");
    }
    if (name == ax::selectedTextRange) {
        const auto* range = std::get_if<text::Utf16Range>(&value);
        if (range == nullptr || range->location < 0 || range->length < 0) {
            return Status::failure(ErrorCode::invalidArgument, "a range is needed");
        }
        return writeSelection(entry, *range);
    }
    const auto* text = std::get_if<std::u16string>(&value);
    if (text == nullptr) {
        return Status::failure(ErrorCode::invalidArgument, "a text attribute takes text");
    }
    return name == ax::selectedText ? writeSelectedText(entry, *text) : writeValue(entry, *text);
}

}  // namespace ravlin::platform
