#include "platform/linux/x11/x11_connection.h"

#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>
#include <atomic>
#include <climits>
#include <string>
#include <utility>

#include "platform/linux/x11/xlib.h"

namespace ravlin::platform::x11 {
namespace {

std::atomic<int> errorCount{0};

int countError(Display*, XErrorEvent*) {
    errorCount.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

// Longest list a window property may give us (a hostile client sets the properties we read).
constexpr long maxListLength = 4096;

}  // namespace

std::shared_ptr<Connection> Connection::open() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return nullptr;
    }
    XSetErrorHandler(countError);
    return std::shared_ptr<Connection>(new Connection(display));
}

Connection::Connection(Display* display) : display_(display) {
    notifier_ =
        std::make_unique<QSocketNotifier>(ConnectionNumber(display_), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { dispatchEvents(); });
}

Connection::~Connection() {
    notifier_.reset();
    if (clock_ != 0) {
        XDestroyWindow(display_, clock_);
    }
    XCloseDisplay(display_);
}

Window Connection::root() const {
    return DefaultRootWindow(display_);
}

Atom Connection::atom(const char* name) {
    return XInternAtom(display_, name, False);
}

std::optional<long> Connection::cardinal(Window window, Atom property, Atom type) {
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long left = 0;
    unsigned char* data = nullptr;
    std::optional<long> value;
    if (XGetWindowProperty(display_, window, property, 0, 1, False, type, &actualType, &format,
                           &count, &left, &data) == Success &&
        data != nullptr && format == 32 && count == 1) {
        // Format 32 comes back as an array of long.
        value = *reinterpret_cast<long*>(data);
    }
    if (data != nullptr) {
        XFree(data);
    }
    drainSoon();
    return value;
}

std::vector<Window> Connection::windowList(Window window, Atom property) {
    return list(window, property, XA_WINDOW);
}

std::vector<unsigned long> Connection::list(Window window, Atom property, Atom type) {
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long left = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned long> values;
    if (XGetWindowProperty(display_, window, property, 0, maxListLength, False, type, &actualType,
                           &format, &count, &left, &data) == Success &&
        data != nullptr && format == 32) {
        // Format 32 comes back as an array of long.
        const auto* longs = reinterpret_cast<long*>(data);
        values.assign(longs, longs + count);
    }
    if (data != nullptr) {
        XFree(data);
    }
    drainSoon();
    return values;
}

bool Connection::sendToRoot(Window window, Atom type, const std::vector<long>& data) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = type;
    event.xclient.format = 32;
    for (std::size_t i = 0; i < data.size() && i < 5; ++i) {
        event.xclient.data.l[i] = data[i];
    }
    return XSendEvent(display_, root(), False, SubstructureRedirectMask | SubstructureNotifyMask,
                      &event) != 0;
}

std::string Connection::windowClass(Window window) {
    XClassHint hint{};
    std::string name;
    if (XGetClassHint(display_, window, &hint) != 0) {
        if (hint.res_class != nullptr) {
            name = hint.res_class;
        }
    }
    if (hint.res_name != nullptr) {
        XFree(hint.res_name);
    }
    if (hint.res_class != nullptr) {
        XFree(hint.res_class);
    }
    drainSoon();
    return name;
}

std::string Connection::windowTitle(Window window) {
    // (longs of four bytes each)
    constexpr long maxTitleLongs = 1024;
    const auto read = [&](Atom property, Atom type) -> std::optional<std::string> {
        Atom actualType = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long left = 0;
        unsigned char* data = nullptr;
        std::optional<std::string> text;
        if (XGetWindowProperty(display_, window, property, 0, maxTitleLongs, False, type,
                               &actualType, &format, &count, &left, &data) == Success &&
            data != nullptr && format == 8 && actualType == type) {
            text.emplace(reinterpret_cast<const char*>(data), count);
        }
        if (data != nullptr) {
            XFree(data);
        }
        return text;
    };
    auto title = read(atom("_NET_WM_NAME"), atom("UTF8_STRING"));
    if (!title) {
        // Latin-1, as ICCCM has it.
        if (const auto latin = read(XA_WM_NAME, XA_STRING)) {
            title.emplace();
            for (const unsigned char c : *latin) {
                if (c < 0x80) {
                    title->push_back(static_cast<char>(c));
                } else {
                    title->push_back(static_cast<char>(0xC0 | (c >> 6)));
                    title->push_back(static_cast<char>(0x80 | (c & 0x3F)));
                }
            }
        }
    }
    drainSoon();
    return title.value_or(std::string());
}

Subscription Connection::observeEvents(std::function<void(XEvent*)> task) {
    return observers_.add(std::move(task));
}

void Connection::dispatchEvents() {
    const bool outer = std::exchange(dispatching_, true);
    // Bounded: a flood of events waits for the next turn of the loop.
    for (int handled = 0; handled < 256 && XPending(display_) > 0; ++handled) {
        XEvent event{};
        XNextEvent(display_, &event);
        const bool cookie = XGetEventData(display_, &event.xcookie) != 0;
        observers_.notify(&event);
        if (cookie) {
            XFreeEventData(display_, &event.xcookie);
        }
    }
    dispatching_ = outer;
    // What the bound left behind is already read from the socket: nothing would wake us for it.
    if (XEventsQueued(display_, QueuedAlready) > 0) {
        drainSoon();
    }
}

bool Connection::catchUp() {
    if (dispatching_) {
        return false;
    }
    XSync(display_, False);
    // A few rounds of the bounded dispatch; a flood beyond them is not vouched for.
    for (int round = 0; round < 4 && XEventsQueued(display_, QueuedAlready) > 0; ++round) {
        dispatchEvents();
    }
    return XEventsQueued(display_, QueuedAlready) == 0;
}

void Connection::sync() {
    XSync(display_, False);
    drainSoon();
}

void Connection::drainSoon() {
    if (drainQueued_) {
        return;
    }
    drainQueued_ = true;
    QTimer::singleShot(0, notifier_.get(), [this] {
        drainQueued_ = false;
        dispatchEvents();
    });
}

bool Connection::focusWithin(Window window) {
    Window focus = None;
    int revert = 0;
    XGetInputFocus(display_, &focus, &revert);
    // None, PointerRoot (1) or the root: the focus is in no application's window.
    const Window rootWindow = root();
    // A window manager's frame sits between a client window and the root: a few levels at most.
    bool within = false;
    for (int level = 0; level < 16 && focus > 1 && focus != rootWindow && !within; ++level) {
        within = focus == window;
        Window treeRoot = None;
        Window parent = None;
        Window* children = nullptr;
        unsigned int count = 0;
        if (within || XQueryTree(display_, focus, &treeRoot, &parent, &children, &count) == 0) {
            break;  // found, or gone meanwhile
        }
        if (children != nullptr) {
            XFree(children);
        }
        focus = parent;
    }
    drainSoon();
    return within;
}

unsigned long Connection::serverTime() {
    if (clock_ == 0) {
        clock_ = XCreateSimpleWindow(display_, root(), -10, -10, 1, 1, 0, 0, 0);
        XSelectInput(display_, clock_, PropertyChangeMask);
    }
    // An empty append changes nothing but still reports the change with the server's time.
    XChangeProperty(display_, clock_, atom("_RAVLIN_TIME"), XA_STRING, 8, PropModeAppend, nullptr,
                    0);
    sync();
    XEvent event{};
    if (XCheckTypedWindowEvent(display_, clock_, PropertyNotify, &event) == 0) {
        return CurrentTime;
    }
    return event.xproperty.time;
}

int Connection::takeErrorCount() {
    sync();
    return errorCount.exchange(0, std::memory_order_relaxed);
}

std::string executableName(std::int32_t pid) {
    if (pid <= 0) {
        return {};
    }
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    char buffer[PATH_MAX];
    const auto length = ::readlink(link.c_str(), buffer, sizeof buffer - 1);
    if (length <= 0) {
        return {};
    }
    const std::string path(buffer, static_cast<std::size_t>(length));
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace ravlin::platform::x11
