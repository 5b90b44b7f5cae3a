// A plain X client for the clipboard tests, written straight on xcb and apart from the program's
// own selection layer, so that the two cannot share a mistake.
//
//   clipboard_tool serve SPEC [silent|stalling|later]
//                                        owns CLIPBOARD and serves each target of SPEC exactly
//                                        (INCR above 256 KiB); "silent" never answers;
//                                        "stalling" announces an INCR answer and sends none of
//                                        its steps; "later"
//                                        prints "ready" and takes the clipboard only once the
//                                        line "take" arrives on standard input (a line "fetch"
//                                        before it reads the clipboard's text as a requestor and
//                                        prints "fetched", as a clipboard manager does; a line
//                                        "after change MS" takes it MS ms after the X server
//                                        next tells of the clipboard changing hands, "after key
//                                        KEYSYM MS" MS ms after that key next goes down, whoever
//                                        has the focus: it prints "watching" once the server
//                                        tells it, then "taken N ms after" in the server's time
//                                        before "owning"). Prints
//                                        "owning" once it owns, "asked" for each request it gets
//                                        (answered or not), "gave" once it has answered one for
//                                        contents (a target other than TARGETS and TIMESTAMP),
//                                        "lost" when another client takes the clipboard, and
//                                        ends then.
//   clipboard_tool read                  reads CLIPBOARD as a requestor does (INCR included):
//                                        first "TARGETS <type> <name>...", then one line per
//                                        target that carries contents: "<name> <type> <format>
//                                        <size> <fnv-1a 64> <hex of the first 64 bytes>".
//   clipboard_tool owner                 "<pid>" of the window owning CLIPBOARD (its _NET_WM_PID),
//                                        "none" when nobody owns it, "?" when it has no pid.
//
// SPEC has one target per line: "<name>\t<type>\t<format>\t<contents>", contents "hex:<bytes>"
// or "text:<size>:<seed>" (that many printable bytes from a fixed generator), or "refused" (listed,
// and every request for it refused).
// TARGETS is answered with the names in SPEC's order after TARGETS and TIMESTAMP.

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Target {
    std::string name;
    std::string type;
    int format = 8;
    std::vector<std::uint8_t> bytes;
    bool refused = false;
};

xcb_connection_t* c = nullptr;
xcb_window_t window = 0;

xcb_atom_t atom(const std::string& name) {
    auto* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(name.size()), name.data()), nullptr);
    const xcb_atom_t value = reply ? reply->atom : XCB_NONE;
    std::free(reply);
    return value;
}

std::string name(xcb_atom_t value) {
    if (value == XCB_NONE) {
        return "None";
    }
    auto* reply = xcb_get_atom_name_reply(c, xcb_get_atom_name(c, value), nullptr);
    std::string text =
        reply ? std::string(xcb_get_atom_name_name(reply),
                            static_cast<std::size_t>(xcb_get_atom_name_name_length(reply)))
              : "?";
    std::free(reply);
    return text;
}

std::vector<std::uint8_t> generated(std::size_t size, std::uint64_t seed) {
    std::vector<std::uint8_t> bytes(size);
    std::uint64_t state = seed * 0x9E3779B97F4A7C15ULL + 1;
    for (auto& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = static_cast<std::uint8_t>(' ' + state % 95);
    }
    return bytes;
}

std::vector<Target> readTargetList(const char* path) {
    std::vector<Target> targets;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        Target target;
        std::string format;
        std::string contents;
        std::getline(fields, target.name, '\t');
        std::getline(fields, target.type, '\t');
        std::getline(fields, format, '\t');
        std::getline(fields, contents, '\t');
        target.format = std::stoi(format);
        if (contents.rfind("hex:", 0) == 0) {
            for (std::size_t i = 4; i + 1 < contents.size(); i += 2) {
                target.bytes.push_back(
                    static_cast<std::uint8_t>(std::stoul(contents.substr(i, 2), nullptr, 16)));
            }
        } else if (contents.rfind("text:", 0) == 0) {
            const auto colon = contents.find(':', 5);
            target.bytes = generated(std::stoull(contents.substr(5, colon - 5)),
                                     std::stoull(contents.substr(colon + 1)));
        } else {
            target.refused = contents == "refused";
        }
        targets.push_back(std::move(target));
    }
    return targets;
}

xcb_generic_event_t* waitEvent(Clock::time_point until) {
    while (true) {
        xcb_flush(c);
        if (auto* event = xcb_poll_for_event(c)) {
            return event;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0 || xcb_connection_has_error(c) != 0) {
            return nullptr;
        }
        pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
        ::poll(&fd, 1, static_cast<int>(left));
    }
}

std::uint32_t serverTime() {
    const xcb_atom_t clock = atom("_TOOL_TIME");
    xcb_change_property(c, XCB_PROP_MODE_APPEND, window, clock, XCB_ATOM_INTEGER, 32, 0, nullptr);
    const auto until = Clock::now() + std::chrono::seconds(5);
    while (auto* event = waitEvent(until)) {
        const bool found = (event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY &&
                           reinterpret_cast<xcb_property_notify_event_t*>(event)->atom == clock;
        const auto time = reinterpret_cast<xcb_property_notify_event_t*>(event)->time;
        std::free(event);
        if (found) {
            return time;
        }
    }
    return XCB_CURRENT_TIME;
}

struct Sending {
    const Target* target;
    std::size_t offset = 0;
    bool done = false;
};

// One conversion, INCR included: the bytes with their type and format; none on refusal or time.
struct Value {
    xcb_atom_t type = XCB_NONE;
    int format = 0;
    std::vector<std::uint8_t> bytes;
};

std::optional<Value> convert(xcb_atom_t target, Clock::time_point until);

// Waits for the X server to tell of the clipboard's next change of hands; the server time of
// the change, or none when the extension is missing or nothing came within an hour.
std::optional<std::uint32_t> nextChangeOfHands(xcb_atom_t clipboard) {
    const auto* fixes = xcb_get_extension_data(c, &xcb_xfixes_id);
    if (fixes == nullptr || fixes->present == 0) {
        return std::nullopt;
    }
    std::free(xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 5, 0), nullptr));
    const auto mask = XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER;
    std::free(xcb_request_check(
        c, xcb_xfixes_select_selection_input_checked(c, window, clipboard, mask)));
    std::puts("watching");
    std::fflush(stdout);
    std::optional<std::uint32_t> changed;
    while (!changed) {
        auto* event = waitEvent(Clock::now() + std::chrono::hours(1));
        if (event == nullptr) {
            return std::nullopt;
        }
        if ((event->response_type & 0x7f) == fixes->first_event + XCB_XFIXES_SELECTION_NOTIFY) {
            const auto& notify = *reinterpret_cast<xcb_xfixes_selection_notify_event_t*>(event);
            if (notify.selection == clipboard) {
                changed = notify.timestamp;
            }
        }
        std::free(event);
    }
    xcb_xfixes_select_selection_input(c, window, clipboard, 0);
    return changed;
}

// Waits for the key that types `keysym` to go down next, seen as raw input (whoever has the
// focus); the server time of the press, or none.
std::optional<std::uint32_t> nextKeyPress(const std::string& keysym) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return std::nullopt;
    }
    int opcode = 0;
    int event = 0;
    int error = 0;
    const int keycode = XKeysymToKeycode(display, XStringToKeysym(keysym.c_str()));
    if (keycode == 0 || !XQueryExtension(display, "XInputExtension", &opcode, &event, &error)) {
        XCloseDisplay(display);
        return std::nullopt;
    }
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XIEventMask mask{XIAllMasterDevices, sizeof bits, bits};
    XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
    XSync(display, False);
    std::puts("watching");
    std::fflush(stdout);
    std::optional<std::uint32_t> pressed;
    while (!pressed) {
        XEvent next;
        XNextEvent(display, &next);
        if (next.xcookie.type == GenericEvent && next.xcookie.extension == opcode &&
            XGetEventData(display, &next.xcookie)) {
            const auto* raw = static_cast<const XIRawEvent*>(next.xcookie.data);
            if (next.xcookie.evtype == XI_RawKeyPress && raw->detail == keycode) {
                pressed = static_cast<std::uint32_t>(raw->time);
            }
            XFreeEventData(display, &next.xcookie);
        }
    }
    XCloseDisplay(display);
    return pressed;
}

int serve(const char* listPath, bool silent, bool stalling, bool later) {
    const auto targets = readTargetList(listPath);
    const xcb_atom_t clipboard = atom("CLIPBOARD");
    const xcb_atom_t targetsAtom = atom("TARGETS");
    const xcb_atom_t timestamp = atom("TIMESTAMP");
    const xcb_atom_t incr = atom("INCR");
    std::vector<xcb_atom_t> list = {targetsAtom, timestamp};
    std::map<xcb_atom_t, const Target*> byAtom;
    for (const auto& target : targets) {
        list.push_back(atom(target.name));
        byAtom.emplace(list.back(), &target);
    }
    // The server time of the event an "after" line waits for.
    std::optional<std::uint32_t> moment;
    if (later) {
        std::puts("ready");
        std::fflush(stdout);
        char line[64];
        while (true) {
            if (std::fgets(line, sizeof line, stdin) == nullptr) {
                return 1;
            }
            std::istringstream words(line);
            std::string word;
            words >> word;
            if (word == "after") {
                std::string what;
                std::string keysym;
                int delay = 0;
                words >> what;
                if (what == "key") {
                    words >> keysym;
                }
                words >> delay;
                moment = what == "key" ? nextKeyPress(keysym) : nextChangeOfHands(clipboard);
                if (!moment) {
                    return 1;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(delay));
                break;
            }
            if (word != "fetch") {
                break;
            }
            (void)convert(atom("UTF8_STRING"), Clock::now() + std::chrono::seconds(5));
            std::puts("fetched");
            std::fflush(stdout);
        }
    }
    const std::uint32_t time = serverTime();
    xcb_set_selection_owner(c, window, clipboard, time);
    auto* owner = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, clipboard), nullptr);
    const bool owning = owner && owner->owner == window;
    std::free(owner);
    if (!owning) {
        std::puts("not owning");
        return 1;
    }
    if (moment) {
        std::printf("taken %d ms after\n", static_cast<int>(time - *moment));
    }
    std::puts("owning");
    std::fflush(stdout);
    constexpr std::size_t chunk = 256 * 1024;
    std::map<std::pair<xcb_window_t, xcb_atom_t>, Sending> sending;
    while (true) {
        auto* event = waitEvent(Clock::now() + std::chrono::hours(1));
        if (event == nullptr) {
            return 1;
        }
        const int type = event->response_type & 0x7f;
        if (type == XCB_SELECTION_CLEAR) {
            std::free(event);
            std::puts("lost");
            std::fflush(stdout);
            return 0;
        }
        if (type == XCB_SELECTION_REQUEST) {
            std::puts("asked");
            std::fflush(stdout);
        }
        if (type == XCB_SELECTION_REQUEST && !silent) {
            const auto request = *reinterpret_cast<xcb_selection_request_event_t*>(event);
            xcb_atom_t property = request.property == XCB_NONE ? request.target : request.property;
            if (request.target == targetsAtom) {
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property,
                                    XCB_ATOM_ATOM, 32, static_cast<std::uint32_t>(list.size()),
                                    list.data());
            } else if (request.target == timestamp) {
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property,
                                    XCB_ATOM_INTEGER, 32, 1, &time);
            } else if (const auto found = byAtom.find(request.target);
                       found != byAtom.end() && !found->second->refused) {
                std::puts("gave");
                std::fflush(stdout);
                const Target& target = *found->second;
                const std::size_t unit = static_cast<std::size_t>(target.format / 8);
                if (target.bytes.size() <= chunk) {
                    xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property,
                                        atom(target.type), static_cast<std::uint8_t>(target.format),
                                        static_cast<std::uint32_t>(target.bytes.size() / unit),
                                        target.bytes.data());
                } else {
                    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
                    xcb_change_window_attributes(c, request.requestor, XCB_CW_EVENT_MASK, &mask);
                    const auto size = static_cast<std::uint32_t>(target.bytes.size());
                    xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property, incr,
                                        32, 1, &size);
                    if (!stalling) {
                        sending[{request.requestor, property}] = Sending{&target};
                    }
                }
            } else {
                property = XCB_NONE;
            }
            xcb_selection_notify_event_t notify{};
            notify.response_type = XCB_SELECTION_NOTIFY;
            notify.time = request.time;
            notify.requestor = request.requestor;
            notify.selection = request.selection;
            notify.target = request.target;
            notify.property = property;
            char wire[32] = {};
            std::memcpy(wire, &notify, sizeof notify);
            xcb_send_event(c, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT, wire);
        }
        if (type == XCB_PROPERTY_NOTIFY) {
            const auto& change = *reinterpret_cast<xcb_property_notify_event_t*>(event);
            const auto found = sending.find({change.window, change.atom});
            if (change.state == XCB_PROPERTY_DELETE && found != sending.end()) {
                Sending& step = found->second;
                if (step.done) {
                    sending.erase(found);
                } else {
                    const Target& target = *step.target;
                    const std::size_t unit = static_cast<std::size_t>(target.format / 8);
                    const std::size_t size =
                        std::min(chunk, target.bytes.size() - step.offset) / unit * unit;
                    xcb_change_property(c, XCB_PROP_MODE_REPLACE, change.window, change.atom,
                                        atom(target.type), static_cast<std::uint8_t>(target.format),
                                        static_cast<std::uint32_t>(size / unit),
                                        target.bytes.data() + step.offset);
                    step.offset += size;
                    step.done = size == 0;
                }
            }
        }
        std::free(event);
    }
}

std::optional<Value> convert(xcb_atom_t target, Clock::time_point until) {
    const xcb_atom_t clipboard = atom("CLIPBOARD");
    const xcb_atom_t property = atom("_TOOL_READ");
    const xcb_atom_t incr = atom("INCR");
    xcb_delete_property(c, window, property);
    xcb_convert_selection(c, window, clipboard, target, property, XCB_CURRENT_TIME);
    bool incremental = false;
    Value value;
    while (auto* event = waitEvent(until)) {
        const int type = event->response_type & 0x7f;
        bool take = false;
        if (type == XCB_SELECTION_NOTIFY && !incremental) {
            const auto& notify = *reinterpret_cast<xcb_selection_notify_event_t*>(event);
            if (notify.target == target) {
                if (notify.property == XCB_NONE) {
                    std::free(event);
                    return std::nullopt;
                }
                take = true;
            }
        } else if (type == XCB_PROPERTY_NOTIFY && incremental) {
            const auto& change = *reinterpret_cast<xcb_property_notify_event_t*>(event);
            take = change.atom == property && change.state == XCB_PROPERTY_NEW_VALUE;
        }
        std::free(event);
        if (!take) {
            continue;
        }
        auto* reply = xcb_get_property_reply(
            c,
            xcb_get_property(c, 1, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, UINT32_MAX / 4),
            nullptr);
        if (reply == nullptr) {
            return std::nullopt;
        }
        const auto* data = static_cast<const std::uint8_t*>(xcb_get_property_value(reply));
        const auto size = static_cast<std::size_t>(xcb_get_property_value_length(reply));
        if (!incremental && reply->type == incr) {
            incremental = true;
        } else if (incremental && size == 0) {
            std::free(reply);
            return value;
        } else {
            value.type = reply->type;
            value.format = reply->format;
            value.bytes.insert(value.bytes.end(), data, data + size);
            if (!incremental) {
                std::free(reply);
                return value;
            }
        }
        std::free(reply);
    }
    return std::nullopt;
}

int read() {
    const auto until = Clock::now() + std::chrono::seconds(10);
    const auto listed = convert(atom("TARGETS"), until);
    if (!listed || listed->format != 32) {
        std::puts("no targets");
        return 1;
    }
    std::vector<xcb_atom_t> atoms(listed->bytes.size() / 4);
    std::memcpy(atoms.data(), listed->bytes.data(), atoms.size() * 4);
    std::string line = "TARGETS " + name(listed->type);
    for (const auto target : atoms) {
        line += " " + name(target);
    }
    std::puts(line.c_str());
    for (const auto target : atoms) {
        const std::string text = name(target);
        if (text == "TARGETS" || text == "TIMESTAMP" || text == "MULTIPLE" ||
            text == "SAVE_TARGETS" || text == "DELETE" || text == "INSERT_SELECTION" ||
            text == "INSERT_PROPERTY") {
            continue;
        }
        const auto value = convert(target, until);
        if (!value) {
            std::printf("%s refused\n", text.c_str());
            continue;
        }
        std::uint64_t hash = 0xcbf29ce484222325ULL;
        for (const auto byte : value->bytes) {
            hash = (hash ^ byte) * 0x100000001b3ULL;
        }
        std::string hex;
        for (std::size_t i = 0; i < value->bytes.size() && i < 64; ++i) {
            char two[3];
            std::snprintf(two, sizeof two, "%02x", value->bytes[i]);
            hex += two;
        }
        std::printf("%s %s %d %zu %016llx %s\n", text.c_str(), name(value->type).c_str(),
                    value->format, value->bytes.size(), static_cast<unsigned long long>(hash),
                    hex.c_str());
    }
    return 0;
}

int owner() {
    auto* reply =
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom("CLIPBOARD")), nullptr);
    const xcb_window_t owning = reply ? reply->owner : XCB_NONE;
    std::free(reply);
    if (owning == XCB_NONE) {
        std::puts("none");
        return 0;
    }
    auto* pid = xcb_get_property_reply(
        c, xcb_get_property(c, 0, owning, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 0, 1), nullptr);
    if (pid != nullptr && xcb_get_property_value_length(pid) == 4) {
        std::printf("%u\n", *static_cast<std::uint32_t*>(xcb_get_property_value(pid)));
    } else {
        std::puts("?");
    }
    std::free(pid);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return 2;
    }
    c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c) != 0) {
        return 2;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    window = xcb_generate_id(c);
    const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_EVENT_MASK,
                      &events);
    const auto pid = static_cast<std::uint32_t>(::getpid());
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL,
                        32, 1, &pid);
    const std::string mode = argv[1];
    int status = 2;
    if (mode == "serve" && argc >= 3) {
        const std::string option = argc >= 4 ? argv[3] : "";
        status = serve(argv[2], option == "silent", option == "stalling", option == "later");
    } else if (mode == "read") {
        status = read();
    } else if (mode == "owner") {
        status = owner();
    }
    xcb_disconnect(c);
    return status;
}
