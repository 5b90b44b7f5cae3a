#include "platform/linux/desktop/linux_desktop_session.h"

#include <gio/gio.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/linux/desktop/xsettings.h"
#include "platform/linux/x11/error_trap.h"
#include "platform/linux/x11/xlib.h"

namespace ravlin::platform {
namespace {

constexpr const char* interfaceSchema = "org.gnome.desktop.interface";
constexpr unsigned long everyDesktop = 0xFFFFFFFF;
constexpr long stateAdd = 1;
constexpr long sourceApplication = 1;

// The selection's name for the default screen: "_NET_WM_CM_S0", "_XSETTINGS_S0".
std::string screenSelection(x11::Connection& connection, const char* prefix) {
    return prefix + std::to_string(DefaultScreen(connection.display()));
}

// Where a session announces its bus: the address in the environment, or the socket at
// $XDG_RUNTIME_DIR/bus. Without either there is no session bus to find (GIO would launch a bus
// of its own, which no desktop service listens on).
bool sessionBusAnnounced() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address != nullptr && *address != '\0') {
        return true;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime == '\0') {
        return false;
    }
    struct stat status {};
    return ::stat((std::string(runtime) + "/bus").c_str(), &status) == 0 &&
           S_ISSOCK(status.st_mode);
}

}  // namespace

LinuxDesktopSession::LinuxDesktopSession(std::shared_ptr<x11::Connection> connection)
    : connection_(std::move(connection)) {}

LinuxDesktopSession::~LinuxDesktopSession() {
    if (interface_ != nullptr) {
        g_object_unref(interface_);
    }
}

bool LinuxDesktopSession::hasSessionBus() {
    if (!sessionBus_ && !sessionBusAnnounced()) {
        sessionBus_ = false;
    }
    if (!sessionBus_) {
        GError* error = nullptr;
        GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
        if (error != nullptr) {
            g_error_free(error);
        }
        sessionBus_ = bus != nullptr;
        if (bus != nullptr) {
            g_object_unref(bus);
        }
    }
    return *sessionBus_;
}

_GSettings* LinuxDesktopSession::gnomeInterface(const char* key) {
    if (!lookedUp_) {
        lookedUp_ = true;
        GSettingsSchemaSource* source = g_settings_schema_source_get_default();
        GSettingsSchema* schema =
            source != nullptr ? g_settings_schema_source_lookup(source, interfaceSchema, TRUE)
                              : nullptr;
        if (schema != nullptr) {
            interface_ = g_settings_new_full(schema, nullptr, nullptr);
            g_settings_schema_unref(schema);
        }
    }
    if (interface_ == nullptr) {
        return nullptr;
    }
    GSettingsSchema* schema = nullptr;
    g_object_get(interface_, "settings-schema", &schema, nullptr);
    const bool hasKey = schema != nullptr && g_settings_schema_has_key(schema, key) != 0;
    if (schema != nullptr) {
        g_settings_schema_unref(schema);
    }
    return hasKey ? interface_ : nullptr;
}

bool LinuxDesktopSession::switchAccessibilityOn() {
    GSettings* settings = gnomeInterface("toolkit-accessibility");
    if (settings == nullptr) {
        return false;
    }
    const bool written = g_settings_set_boolean(settings, "toolkit-accessibility", TRUE) != 0;
    g_settings_sync();
    return written;
}

bool LinuxDesktopSession::reducesAnimations() {
    if (GSettings* settings = gnomeInterface("enable-animations")) {
        return g_settings_get_boolean(settings, "enable-animations") == 0;
    }
    if (const auto enabled = xsettingsEnablesAnimations()) {
        return !*enabled;
    }
    return false;
}

std::optional<bool> LinuxDesktopSession::xsettingsEnablesAnimations() {
    if (!connection_) {
        return std::nullopt;
    }
    x11::Connection& connection = *connection_;
    x11::ErrorTrap trap(connection);
    const x11::Window owner = XGetSelectionOwner(
        connection.display(), connection.atom(screenSelection(connection, "_XSETTINGS_S").c_str()));
    std::optional<bool> enabled;
    if (owner != None) {
        const x11::Atom property = connection.atom("_XSETTINGS_SETTINGS");
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long left = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(connection.display(), owner, property, 0,
                               long(xsettings::maximumLength / 4), False, property, &type, &format,
                               &count, &left, &data) == Success &&
            data != nullptr && format == 8) {
            if (const auto value = xsettings::integer({data, count}, "Net/EnableAnimations")) {
                enabled = *value != 0;
            }
        }
        if (data != nullptr) {
            XFree(data);
        }
    }
    (void)trap.finish();
    connection.drainSoon();
    return enabled;
}

bool LinuxDesktopSession::hasCompositor() {
    if (!connection_) {
        return false;
    }
    x11::Connection& connection = *connection_;
    const x11::Window owner = XGetSelectionOwner(
        connection.display(), connection.atom(screenSelection(connection, "_NET_WM_CM_S").c_str()));
    connection.drainSoon();
    return owner != None;
}

void LinuxDesktopSession::showOnEveryDesktop(std::uint64_t window) {
    if (!connection_ || window == 0) {
        return;
    }
    x11::Connection& connection = *connection_;
    Display* display = connection.display();
    const auto id = static_cast<x11::Window>(window);
    const x11::Atom state = connection.atom("_NET_WM_STATE");
    const x11::Atom sticky = connection.atom("_NET_WM_STATE_STICKY");
    const x11::Atom desktop = connection.atom("_NET_WM_DESKTOP");
    x11::ErrorTrap trap(connection);
    XWindowAttributes attributes{};
    const bool mapped =
        XGetWindowAttributes(display, id, &attributes) != 0 && attributes.map_state != IsUnmapped;
    if (mapped) {
        (void)connection.sendToRoot(id, state, {stateAdd, long(sticky), 0, sourceApplication});
        (void)connection.sendToRoot(id, desktop, {long(everyDesktop), sourceApplication});
    } else {
        // Added to the state the window already asks for (a toolkit keeps what it finds there).
        const auto asked = connection.list(id, state, XA_ATOM);
        if (std::ranges::find(asked, sticky) == asked.end()) {
            const long value = long(sticky);
            XChangeProperty(display, id, state, XA_ATOM, 32, PropModeAppend,
                            reinterpret_cast<const unsigned char*>(&value), 1);
        }
        const long all = long(everyDesktop);
        XChangeProperty(display, id, desktop, XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&all), 1);
    }
    (void)trap.finish();
    connection.drainSoon();
}

}  // namespace ravlin::platform
