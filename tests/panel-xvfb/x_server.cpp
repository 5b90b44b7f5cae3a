#include "x_server.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <map>

namespace ravlin::xserver {
namespace {
Display* display = nullptr;
std::map<std::string, Window> owners;
}

bool open() {
    display = XOpenDisplay(nullptr);
    return display != nullptr;
}

void close() {
    if (display != nullptr) {
        XCloseDisplay(display);
        display = nullptr;
    }
}

QRect geometry(unsigned long window) {
    XSync(display, False);
    Window root = 0;
    int x = 0;
    int y = 0;
    unsigned width = 0;
    unsigned height = 0;
    unsigned border = 0;
    unsigned depth = 0;
    XGetGeometry(display, window, &root, &x, &y, &width, &height, &border, &depth);
    Window child = 0;
    XTranslateCoordinates(display, window, root, 0, 0, &x, &y, &child);
    return QRect(x, y, int(width), int(height));
}

unsigned long inputFocus() {
    Window focus = 0;
    int revert = 0;
    XSync(display, False);
    XGetInputFocus(display, &focus, &revert);
    return focus;
}

void setInputFocus(unsigned long window) {
    XSetInputFocus(display, window, RevertToParent, CurrentTime);
    XSync(display, False);
}

unsigned long createForeignWindow() {
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 900, 700, 200,
                                              100, 0, 0, 0);
    XMapWindow(display, window);
    XSync(display, False);
    return window;
}

void destroyWindow(unsigned long window) {
    XDestroyWindow(display, window);
    XSync(display, False);
}

void ownSelection(const char* name, const char* property,
                  const std::vector<std::uint8_t>& bytes) {
    const Window owner = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0,
                                             0, 0);
    if (property != nullptr) {
        const Atom atom = XInternAtom(display, property, False);
        XChangeProperty(display, owner, atom, atom, 8, PropModeReplace, bytes.data(),
                        int(bytes.size()));
    }
    XSetSelectionOwner(display, XInternAtom(display, name, False), owner, CurrentTime);
    XSync(display, False);
    owners[name] = owner;
}

void releaseSelection(const char* name) {
    if (const auto found = owners.find(name); found != owners.end()) {
        XDestroyWindow(display, found->second);
        owners.erase(found);
        XSync(display, False);
    }
}

namespace {

// A format-32 property's values of one type (Xlib hands them back as longs, sign-extended).
std::vector<long> values32(unsigned long window, const char* property, Atom type) {
    XSync(display, False);
    Atom actual = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long left = 0;
    unsigned char* data = nullptr;
    std::vector<long> values;
    if (XGetWindowProperty(display, window, XInternAtom(display, property, False), 0, 64, False,
                           type, &actual, &format, &count, &left, &data) == Success &&
        data != nullptr && format == 32) {
        const auto* longs = reinterpret_cast<const long*>(data);
        values.assign(longs, longs + count);
    }
    if (data != nullptr) {
        XFree(data);
    }
    return values;
}

}  // namespace

std::vector<std::string> atomNames(unsigned long window, const char* property) {
    std::vector<std::string> names;
    for (const long atom : values32(window, property, XA_ATOM)) {
        if (char* name = XGetAtomName(display, static_cast<Atom>(atom))) {
            names.emplace_back(name);
            XFree(name);
        }
    }
    return names;
}

std::optional<std::uint32_t> cardinal(unsigned long window, const char* property) {
    const auto values = values32(window, property, XA_CARDINAL);
    if (values.size() != 1) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(values.front());
}

}  // namespace ravlin::xserver
