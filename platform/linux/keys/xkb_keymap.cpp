#include "platform/linux/keys/xkb_keymap.h"

#include <X11/XKBlib.h>
#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include "platform/linux/x11/xlib.h"

namespace ravlin::platform::x11 {

XkbSnapshot::XkbSnapshot(xkb_keymap* keymap) : keymap_(keymap), state_(xkb_state_new(keymap)) {}

XkbSnapshot::~XkbSnapshot() {
    xkb_state_unref(state_);
    xkb_keymap_unref(keymap_);
}

std::shared_ptr<XkbSnapshot> XkbSnapshot::fromLayout(const char* layout) {
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (context == nullptr) {
        return nullptr;
    }
    const xkb_rule_names names{nullptr, nullptr, layout, nullptr, nullptr};
    xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    xkb_context_unref(context);
    return keymap == nullptr ? nullptr : std::make_shared<XkbSnapshot>(keymap);
}

std::string XkbSnapshot::text(unsigned xKeyCode, unsigned depressed, unsigned locked,
                              unsigned group) const {
    // The first eight modifiers of a keymap are X's real ones, in the core bits' order.
    xkb_state_update_mask(state_, depressed & 0xFF, 0, locked & 0xFF, 0, 0, group);
    char buffer[64];
    const int length = xkb_state_key_get_utf8(state_, xKeyCode, buffer, sizeof buffer);
    if (length <= 0) {
        return {};
    }
    // A longer text comes back cut; keep what fitted.
    return std::string(buffer,
                       std::min<std::size_t>(static_cast<std::size_t>(length), sizeof buffer - 1));
}

char32_t XkbSnapshot::deadKeyAccent(unsigned xKeyCode, unsigned group) const {
    xkb_state_update_mask(state_, 0, 0, 0, 0, 0, group);
    switch (xkb_state_key_get_one_sym(state_, xKeyCode)) {
        case XK_dead_grave:
            return U'`';
        case XK_dead_acute:
            return U'\u00B4';
        case XK_dead_circumflex:
            return U'^';
        case XK_dead_tilde:
            return U'~';
        case XK_dead_macron:
            return U'\u00AF';
        case XK_dead_breve:
            return U'\u02D8';
        case XK_dead_abovedot:
            return U'\u02D9';
        case XK_dead_diaeresis:
            return U'\u00A8';
        case XK_dead_abovering:
            return U'\u02DA';
        case XK_dead_doubleacute:
            return U'\u02DD';
        case XK_dead_caron:
            return U'\u02C7';
        case XK_dead_cedilla:
            return U'\u00B8';
        case XK_dead_ogonek:
            return U'\u02DB';
        default:
            return 0;
    }
}

std::shared_ptr<Keyboard> Keyboard::open(std::shared_ptr<Connection> connection) {
    int opcode = 0;
    int eventBase = 0;
    int errorBase = 0;
    int major = XkbMajorVersion;
    int minor = XkbMinorVersion;
    if (XkbQueryExtension(connection->display(), &opcode, &eventBase, &errorBase, &major, &minor) ==
        0) {
        return nullptr;
    }
    xcb_connection_t* xcb = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(xcb) != 0 ||
        xkb_x11_setup_xkb_extension(
            xcb, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
            XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr) == 0) {
        xcb_disconnect(xcb);
        return nullptr;
    }
    const std::int32_t device = xkb_x11_get_core_keyboard_device_id(xcb);
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (device < 0 || context == nullptr) {
        xkb_context_unref(context);
        xcb_disconnect(xcb);
        return nullptr;
    }
    std::shared_ptr<Keyboard> keyboard(
        new Keyboard(std::move(connection), context, xcb, device, eventBase));
    if (!keyboard->snapshot()) {
        return nullptr;
    }
    return keyboard;
}

Keyboard::Keyboard(std::shared_ptr<Connection> connection, xkb_context* context,
                   xcb_connection_t* xcb, std::int32_t device, int eventBase)
    : connection_(std::move(connection)),
      context_(context),
      xcb_(xcb),
      device_(device),
      eventBase_(eventBase) {
    auto* display = connection_->display();
    constexpr unsigned long maps = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
    XkbSelectEvents(display, XkbUseCoreKbd, maps, maps);
    constexpr unsigned long states = XkbGroupStateMask | XkbModifierLockMask;
    XkbSelectEventDetails(display, XkbUseCoreKbd, XkbStateNotify, states, states);
    events_ = connection_->observeEvents([this](XEvent* event) { handle(event); });
    readState();
}

Keyboard::~Keyboard() {
    events_.reset();
    snapshot_.reset();
    xkb_context_unref(context_);
    xcb_disconnect(xcb_);
}

std::shared_ptr<const XkbSnapshot> Keyboard::snapshot() {
    if (stale_) {
        if (xkb_keymap* keymap = xkb_x11_keymap_new_from_device(context_, xcb_, device_,
                                                                XKB_KEYMAP_COMPILE_NO_FLAGS)) {
            snapshot_ = std::make_shared<XkbSnapshot>(keymap);
            stale_ = false;
        }
    }
    return snapshot_;
}

void Keyboard::readState() {
    XkbStateRec state{};
    if (XkbGetState(connection_->display(), XkbUseCoreKbd, &state) == Success) {
        group_ = state.group;
        locked_ = state.locked_mods;
    }
    connection_->drainSoon();
}

Subscription Keyboard::observeMapChanges(std::function<void()> task) {
    return mapChanges_.add(std::move(task));
}

void Keyboard::handle(XEvent* event) {
    if (event->type == MappingNotify) {
        mapChanges_.notify();
        return;
    }
    if (event->type != eventBase_) {
        return;
    }
    const auto* xkb = reinterpret_cast<const XkbEvent*>(event);
    switch (xkb->any.xkb_type) {
        case XkbStateNotify:
            group_ = static_cast<unsigned>(xkb->state.group);
            locked_ = xkb->state.locked_mods;
            break;
        case XkbNewKeyboardNotify:
        case XkbMapNotify:
            stale_ = true;
            mapChanges_.notify();
            break;
        default:
            break;
    }
}

}  // namespace ravlin::platform::x11
