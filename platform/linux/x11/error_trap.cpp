#include "platform/linux/x11/error_trap.h"

#include "platform/linux/x11/xlib.h"

namespace ravlin::platform::x11 {
namespace {

// Xlib's handler is one per process; traps do not nest (main thread only).
struct Active {
    Display* display = nullptr;
    unsigned long firstSerial = 0;
    int error = 0;
    XErrorHandler previous = nullptr;
};
Active* active = nullptr;

int trapError(Display* display, XErrorEvent* event) {
    if (active == nullptr) {
        return 0;
    }
    if (display == active->display && event->serial >= active->firstSerial) {
        if (active->error == 0) {
            active->error = event->error_code;
        }
        return 0;
    }
    return active->previous != nullptr ? active->previous(display, event) : 0;
}

}  // namespace

ErrorTrap::ErrorTrap(Connection& connection) : connection_(connection) {
    auto* state = new Active;
    state->display = connection.display();
    state->firstSerial = NextRequest(connection.display());
    state->previous = XSetErrorHandler(trapError);
    active = state;
}

int ErrorTrap::finish() {
    if (finished_ || active == nullptr) {
        return 0;
    }
    finished_ = true;
    connection_.sync();
    const int error = active->error;
    XSetErrorHandler(active->previous);
    delete active;
    active = nullptr;
    return error;
}

ErrorTrap::~ErrorTrap() {
    finish();
}

}  // namespace ravlin::platform::x11
