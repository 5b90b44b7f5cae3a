// Which application is in front, which of its elements has the focus, and whether that is a
// password field.

#include <atspi/atspi.h>

#include <algorithm>
#include <functional>

#include "platform/linux/accessibility/atspi_accessibility.h"
#include "platform/linux/accessibility/atspi_calls.h"
#include "platform/linux/accessibility/atspi_element_calls.h"
#include "platform/linux/accessibility/toolkit.h"

namespace ravlin::platform {

using namespace atspi;

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
    const Toolkit& rules = toolkitOf(app);
    int visited = 0;
    bool stalled = false;
    // The first element that says it is focused without holding the keyboard (see
    // Toolkit::focusClaim), should nothing else be found.
    Held<AtspiAccessible> standIn(nullptr);
    std::function<AtspiAccessible*(AtspiAccessible*, int)> search =
        [&](AtspiAccessible* node, int depth) -> AtspiAccessible* {
        if (stalled || depth > maxDepth || ++visited > maxVisited) {
            return nullptr;
        }
        if (depth > 0) {
            const auto found = states(node);
            if (!found) {
                stalled = true;
                return nullptr;
            }
            if (found->focused) {
                Held<AtspiText> text(atspi_accessible_get_text_iface(node));
                if (rules.focusClaim(*found, static_cast<bool>(text)) == FocusClaim::holds) {
                    return static_cast<AtspiAccessible*>(g_object_ref(node));
                }
                if (!standIn) {
                    standIn.object = static_cast<AtspiAccessible*>(g_object_ref(node));
                }
            }
            if (!rules.showsChildren(*found)) {
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
    if (AtspiAccessible* found = search(app, 0)) {
        return found;
    }
    return standIn ? static_cast<AtspiAccessible*>(g_object_ref(standIn.get())) : nullptr;
}

AtspiAccessible* AtspiAccessibility::rememberedFocus(ProcessID pid) {
    const auto known = std::ranges::find(lastFocus_, pid, &std::pair<ProcessID, AtspiAccessible*>::first);
    if (known == lastFocus_.end()) {
        return nullptr;
    }
    AtspiAccessible* object = known->second;
    // Its states as they are now (the cache may hold those of an earlier event).
    atspi_accessible_clear_cache(object);
    const auto now = states(object);
    return now && now->focused && !now->defunct ? object : nullptr;
}

std::optional<States> AtspiAccessibility::states(AtspiAccessible* object) {
    const auto set = attempt(worstCall_, [&](GError** e) {
        (void)e;
        return atspi_accessible_get_state_set(object);
    });
    if (!set || *set == nullptr) {
        return std::nullopt;
    }
    const auto read = statesOf(*set);
    g_object_unref(*set);
    return read;
}

const Toolkit& AtspiAccessibility::toolkitOf(AtspiAccessible* app) {
    auto* name = attempt(worstCall_, [&](GError** e) {
                     return atspi_accessible_get_toolkit_name(app, e);
                 }).value_or(nullptr);
    auto* version = name != nullptr ? attempt(worstCall_,
                                              [&](GError** e) {
                                                  return atspi_accessible_get_toolkit_version(
                                                      app, e);
                                              })
                                          .value_or(nullptr)
                                    : nullptr;
    const Toolkit& rules = toolkitNamed(name != nullptr ? name : "", version != nullptr ? version : "");
    g_free(name);
    g_free(version);
    return rules;
}

const Toolkit& AtspiAccessibility::toolkit(Entry& entry) {
    if (entry.toolkit == nullptr) {
        // The application knows its toolkit; its elements need not.
        Held<AtspiAccessible> app(attempt(worstCall_, [&](GError** e) {
                                      return atspi_accessible_get_application(entry.object, e);
                                  }).value_or(nullptr));
        entry.toolkit = app ? &toolkitOf(app.get()) : &atkToolkit();
    }
    return *entry.toolkit;
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

std::optional<bool> AtspiAccessibility::isPasswordField(Entry& entry) {
    if (const auto known = reading(entry).password) {
        return known;
    }
    const auto known = role(entry);
    if (!known) {
        return std::nullopt;
    }
    Calls calls(*this, entry);
    return reading(entry).password =
               toolkit(entry).isPassword(static_cast<AtspiRole>(*known), calls);
}

SecureInput::State AtspiAccessibility::secureInputState() {
    using State = SecureInput::State;
    const auto isPassword = [this](AtspiAccessible* object, ProcessID pid) {
        // Takes over the caller's reference.
        auto entry = lookup(remember(object, pid));
        return entry ? isPasswordField(**entry) : std::nullopt;
    };
    if (auto found = focused()) {
        const auto password = isPassword(found->first, found->second);
        return !password ? State::unknown : *password ? State::on : State::off;
    }
    // Not found now: the field last reported focused in that application may still have the
    // focus. It can only tell a password field: another one may have lost the focus since.
    const auto active = activeProcess_ ? activeProcess_() : std::nullopt;
    if (active && *active != self_) {
        const auto known =
            std::ranges::find(lastFocus_, *active, &std::pair<ProcessID, AtspiAccessible*>::first);
        if (known != lastFocus_.end() &&
            isPassword(static_cast<AtspiAccessible*>(g_object_ref(known->second)), *active) ==
                true) {
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

}  // namespace ravlin::platform
