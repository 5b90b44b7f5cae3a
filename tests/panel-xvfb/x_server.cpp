#include "x_server.h"

#include <X11/Xlib.h>

namespace ravlin::xserver {
namespace {
Display* display = nullptr;
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

}  // namespace ravlin::xserver
