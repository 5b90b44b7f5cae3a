#pragma once

// A window's format-32 property as the tests' own X clients read it (Xlib hands the values back
// as unsigned longs). Include it after every other header, as Xlib itself.

#include <string>
#include <vector>

#include "platform/linux/x11/xlib.h"

namespace ravlin::testing {

// The values of `property` on `window` when it has the type `type` (at most `most` of them);
// none when it is absent, of another type or of another format.
inline std::vector<unsigned long> cardinalsOf(Display* display, Window window, Atom property,
                                              Atom type, long most = 1024) {
    std::vector<unsigned long> values;
    Atom actual = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, property, 0, most, False, type, &actual, &format,
                           &count, &after, &data) == Success &&
        data != nullptr && format == 32) {
        const auto* longs = reinterpret_cast<const unsigned long*>(data);
        values.assign(longs, longs + count);
    }
    if (data != nullptr) {
        XFree(data);
    }
    return values;
}

// A window's title (_NET_WM_NAME, UTF-8); empty when it has none.
inline std::string titleOf(Display* display, Window window) {
    std::string title;
    Atom actual = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False), 0, 1024,
                           False, XInternAtom(display, "UTF8_STRING", False), &actual, &format,
                           &count, &after, &data) == Success &&
        data != nullptr && format == 8) {
        title.assign(reinterpret_cast<const char*>(data), count);
    }
    if (data != nullptr) {
        XFree(data);
    }
    return title;
}

}  // namespace ravlin::testing
