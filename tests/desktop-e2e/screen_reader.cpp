#include "screen_reader.h"

#include <atspi/atspi.h>

#include <gtest/gtest.h>

#include <functional>

#include "tests/desktop/desktop_fixture.h"

namespace ravlin::testing {
namespace {

// How much of the program's tree one look walks: its windows hold a few hundred objects.
constexpr int kMostVisited = 4000;

struct Unref {
    void operator()(void* object) const { g_object_unref(object); }
};
using Held = std::unique_ptr<AtspiAccessible, Unref>;

std::string owned(gchar* text) {
    std::string copy = text != nullptr ? text : "";
    g_free(text);
    return copy;
}

ReadControl read(AtspiAccessible* object) {
    ReadControl control;
    control.role = owned(atspi_accessible_get_role_name(object, nullptr));
    control.name = owned(atspi_accessible_get_name(object, nullptr));
    if (AtspiStateSet* states = atspi_accessible_get_state_set(object)) {
        control.checked = atspi_state_set_contains(states, ATSPI_STATE_CHECKED);
        control.showing = atspi_state_set_contains(states, ATSPI_STATE_SHOWING);
        g_object_unref(states);
    }
    return control;
}

// libatspi's time limit on a call is one for the whole process, and the accessibility backend
// this process uses too sets it short, so that a hung application cannot freeze it. A screen
// reader waits for the program's answer however busy the machine is (the program answers an
// action once the change it made is done): its calls are bounded only against a hang, and the
// backend's limit is back once they are made.
// (A focus event heard during a call's wait is read inside it: the outermost one restores.)
class PatientCalls {
  public:
    PatientCalls() {
        if (depth_++ == 0) {
            limitTo(kHangWatchdog);
        }
    }
    ~PatientCalls() {
        if (--depth_ == 0) {
            limitTo(platform::AtspiAccessibility::callTimeout);
        }
    }
    PatientCalls(const PatientCalls&) = delete;
    PatientCalls& operator=(const PatientCalls&) = delete;

  private:
    static void limitTo(std::chrono::milliseconds limit) {
        const auto milliseconds = static_cast<gint>(limit.count());
        atspi_set_timeout(milliseconds, milliseconds * 4);
    }
    static inline int depth_ = 0;
};

// The program's application object, read afresh (libatspi keeps what events told it).
Held applicationOf(qint64 pid) {
    const Held desktop(atspi_get_desktop(0));
    const int count = atspi_accessible_get_child_count(desktop.get(), nullptr);
    for (int index = 0; index < count; ++index) {
        Held application(atspi_accessible_get_child_at_index(desktop.get(), index, nullptr));
        if (application && atspi_accessible_get_process_id(application.get(), nullptr) == pid) {
            atspi_accessible_clear_cache(application.get());
            return application;
        }
    }
    return nullptr;
}

// The first object under `root`, depth first, that `matches` accepts (held).
Held firstWhere(Held root, const std::function<bool(AtspiAccessible*)>& matches) {
    std::vector<Held> pending;
    pending.push_back(std::move(root));
    for (int visited = 0; !pending.empty() && visited < kMostVisited; ++visited) {
        Held object = std::move(pending.back());
        pending.pop_back();
        if (visited > 0 && matches(object.get())) {
            return object;
        }
        const int count = atspi_accessible_get_child_count(object.get(), nullptr);
        for (int index = count - 1; index >= 0; --index) {
            if (Held child{atspi_accessible_get_child_at_index(object.get(), index, nullptr)}) {
                pending.push_back(std::move(child));
            }
        }
    }
    return nullptr;
}

// The same in the program's windows.
Held firstWhere(qint64 pid, const std::function<bool(AtspiAccessible*)>& matches) {
    Held application = applicationOf(pid);
    return application ? firstWhere(std::move(application), matches) : nullptr;
}

Held control(qint64 pid, const std::string& role, const std::string& name) {
    return firstWhere(pid, [&](AtspiAccessible* object) {
        const ReadControl read = testing::read(object);
        return read.role == role && read.name == name;
    });
}

}  // namespace

std::string describe(const std::optional<ReadControl>& control) {
    if (!control) {
        return "nothing";
    }
    return control->role + " \"" + control->name + "\"" + (control->checked ? " (checked)" : "");
}

struct ScreenReader::Listener {
    qint64 pid = 0;
    AtspiEventListener* listener = nullptr;
    std::vector<ReadControl> heard;
};

ScreenReader::ScreenReader(qint64 pid) : pid_(pid), listener_(std::make_unique<Listener>()) {
    listener_->pid = pid;
    listener_->listener = atspi_event_listener_new(
        [](AtspiEvent* event, void* data) {
            auto& listener = *static_cast<Listener*>(data);
            const PatientCalls patient;
            if (event->detail1 == 1 && event->source != nullptr &&
                atspi_accessible_get_process_id(event->source, nullptr) == listener.pid) {
                listener.heard.push_back(read(event->source));
            }
            g_boxed_free(ATSPI_TYPE_EVENT, event);
        },
        listener_.get(), nullptr);
    atspi_event_listener_register(listener_->listener, "object:state-changed:focused", nullptr);
}

ScreenReader::~ScreenReader() {
    atspi_event_listener_deregister(listener_->listener, "object:state-changed:focused", nullptr);
    g_object_unref(listener_->listener);
}

std::optional<ReadControl> ScreenReader::find(const std::string& role,
                                              const std::string& name) const {
    const PatientCalls patient;
    const Held found = control(pid_, role, name);
    return found ? std::optional(read(found.get())) : std::nullopt;
}

bool ScreenReader::act(const std::string& role, const std::string& name) const {
    const PatientCalls patient;
    // The tree may be changing under the walk (a pane switched a moment ago): looked for again
    // until it is there, bounded only against a hang.
    Held found;
    if (!waitUntil([&] { return bool(found = control(pid_, role, name)); })) {
        ADD_FAILURE() << "no " << role << " \"" << name << "\" in the program's windows";
        return false;
    }
    AtspiAction* action = atspi_accessible_get_action_iface(found.get());
    if (action == nullptr) {
        ADD_FAILURE() << role << " \"" << name << "\" offers no action";
        return false;
    }
    GError* error = nullptr;
    const bool done = atspi_action_do_action(action, 0, &error);
    if (error != nullptr) {
        ADD_FAILURE() << "the action on " << role << " \"" << name << "\": " << error->message;
        g_error_free(error);
    }
    g_object_unref(action);
    return done;
}

std::optional<ReadControl> ScreenReader::focused() const {
    const PatientCalls patient;
    const auto isFocused = [](AtspiAccessible* object) {
        AtspiStateSet* states = atspi_accessible_get_state_set(object);
        const bool focused =
            states != nullptr && atspi_state_set_contains(states, ATSPI_STATE_FOCUSED);
        if (states != nullptr) {
            g_object_unref(states);
        }
        return focused;
    };
    // A widget that hands its focus on to a child says it is focused too: the control with the
    // keyboard is the deepest one that says so.
    Held found = firstWhere(pid_, isFocused);
    for (int depth = 0; found && depth < 40; ++depth) {
        Held inner = firstWhere(Held(static_cast<AtspiAccessible*>(g_object_ref(found.get()))),
                                isFocused);
        if (!inner) {
            break;
        }
        found = std::move(inner);
    }
    return found ? std::optional(read(found.get())) : std::nullopt;
}

std::vector<ReadControl> ScreenReader::heard() {
    return std::exchange(listener_->heard, {});
}

}  // namespace ravlin::testing
