#include "e2e_harness.h"

#include <signal.h>
#include <sys/stat.h>

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QPixmap>
#include <QPoint>
#include <QScreen>
#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "core/text/unicode.h"
#include "tests/desktop/desktop_fixture.h"
#include "tests/support/clipboard_targets.h"

// Xlib last: its macros (None, Bool, Status...) clash with names in the headers above.
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include "tests/support/x_properties.h"

namespace ravlin::testing {

QString outputFolder() {
    static const QString folder = [] {
        const char* chosen = std::getenv("RAVLIN_E2E_OUTPUT");
        QString path = chosen && *chosen ? QString::fromLocal8Bit(chosen)
                                         : QStringLiteral(RAVLIN_E2E_OUTPUT_DIR);
        QDir().mkpath(path);
        return path;
    }();
    return folder;
}

void endChild(QProcess& process, std::chrono::milliseconds limit) {
    if (process.state() == QProcess::NotRunning) {
        return;
    }
    process.terminate();
    if (!process.waitForFinished(static_cast<int>(limit.count()))) {
        process.kill();
        process.waitForFinished(3000);
    }
}

// --- The program

RavlinProgram::RavlinProgram() : environment_(QProcessEnvironment::systemEnvironment()) {
    home_ = root_.path() + QStringLiteral("/home");
    const QString runtime = root_.path() + QStringLiteral("/runtime");
    for (const QString& folder :
         {home_ + "/.config/ravlin", home_ + "/.local/share", home_ + "/.cache", runtime}) {
        QDir().mkpath(folder);
    }
    ::chmod(QFile::encodeName(runtime).constData(), 0700);
    environment_.insert("HOME", home_);
    environment_.insert("XDG_CONFIG_HOME", home_ + "/.config");
    environment_.insert("XDG_DATA_HOME", home_ + "/.local/share");
    environment_.insert("XDG_CACHE_HOME", home_ + "/.cache");
    environment_.insert("XDG_RUNTIME_DIR", runtime);
    // The session's own online settings, if any, never leak in.
    for (const char* name :
         {"RAVLIN_REMOTE_CORRECTION_URL", "RAVLIN_REMOTE_CORRECTION_MODEL",
          "RAVLIN_REMOTE_CORRECTION_API_KEY", "RAVLIN_SUPABASE_FUNCTIONS_BASE_URL",
          "RAVLIN_SUPABASE_PUBLISHABLE_KEY", "RAVLIN_SUPABASE_ANON_KEY"}) {
        environment_.remove(QString::fromLatin1(name));
    }
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.setStandardInputFile(QProcess::nullDevice());
    process_.setStandardOutputFile(QProcess::nullDevice());
}

RavlinProgram::~RavlinProgram() {
    if (running()) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

void RavlinProgram::writeSettings(const std::map<std::string, std::string>& settings) {
    QFile file(home_ + QStringLiteral("/.config/ravlin/ravlin.ini"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return;
    }
    std::ostringstream text;
    text << "[General]\n";
    for (const auto& [key, value] : settings) {
        text << key << '=' << value << '\n';
    }
    file.write(QByteArray::fromStdString(text.str()));
}

void RavlinProgram::setEnvironment(const QString& name, const QString& value) {
    environment_.insert(name, value);
}

bool RavlinProgram::start(std::chrono::milliseconds limit) {
    process_.setProcessEnvironment(environment_);
    process_.start(QStringLiteral(RAVLIN_PROGRAM), {});
    if (!process_.waitForStarted(10000)) {
        return false;
    }
    pid_ = process_.processId();
    return waitForError("ravlin: running (pid " + QByteArray::number(pid_) + ")", limit);
}

int RavlinProgram::stop(std::chrono::milliseconds limit) {
    if (!running()) {
        errors();
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }
    ::kill(static_cast<pid_t>(pid_), SIGTERM);
    // The event loop keeps turning meanwhile: the program may still ask this process for the
    // clipboard as it goes.
    const bool ended = waitUntil([&] { return !running(); }, limit);
    errors();
    if (!ended) {
        process_.kill();
        process_.waitForFinished(5000);
        return -1;
    }
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

bool RavlinProgram::startAgain() {
    QProcess second;
    second.setProcessEnvironment(environment_);
    second.setStandardInputFile(QProcess::nullDevice());
    second.setStandardOutputFile(QProcess::nullDevice());
    second.setStandardErrorFile(QProcess::nullDevice());
    second.start(QStringLiteral(RAVLIN_PROGRAM), {});
    if (!second.waitForStarted(10000) ||
        !waitUntil([&] { return second.state() == QProcess::NotRunning; }, 10s)) {
        endChild(second);
        return false;
    }
    return second.exitStatus() == QProcess::NormalExit && second.exitCode() == 0;
}

const QByteArray& RavlinProgram::errors() {
    errors_ += process_.readAllStandardError();
    return errors_;
}

bool RavlinProgram::waitForError(const QByteArray& text, std::chrono::milliseconds limit) {
    return waitUntil(
               [&] {
                   errors();
                   return errors_.contains(text) || !running();
               },
               limit) &&
           errors_.contains(text);
}

std::vector<std::string> RavlinProgram::errorLines(const QByteArray& text) {
    std::vector<std::string> lines;
    for (const QByteArray& line : errors().split('\n')) {
        if (line.contains(text)) {
            lines.push_back(line.toStdString());
        }
    }
    return lines;
}

// --- Keys

Keyboard::Keyboard() : display_(XOpenDisplay(nullptr)) {
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    if (display_ && !XTestQueryExtension(display_, &event, &error, &major, &minor)) {
        XCloseDisplay(display_);
        display_ = nullptr;
    }
}

Keyboard::~Keyboard() {
    if (display_) {
        for (const auto& [symbol, code] : borrowed_) {
            KeySym nothing = NoSymbol;
            XChangeKeyboardMapping(display_, code, 1, &nothing, 1);
        }
        XSync(display_, False);
        XCloseDisplay(display_);
    }
}

bool Keyboard::press(unsigned long keysym, bool down) {
    const KeyCode code = XKeysymToKeycode(display_, keysym);
    if (code == 0) {
        return false;
    }
    XTestFakeKeyEvent(display_, code, down ? True : False, CurrentTime);
    XSync(display_, False);
    return true;
}

bool Keyboard::key(const std::string& name, bool down) {
    const KeySym symbol = XStringToKeysym(name.c_str());
    return display_ != nullptr && symbol != NoSymbol && press(symbol, down);
}

void pause(std::chrono::milliseconds duration) {
    waitUntil([] { return false; }, duration);
}

std::chrono::milliseconds Keyboard::nextHold() {
    return typedHolds[typed_ % std::size(typedHolds)];
}

std::chrono::milliseconds Keyboard::nextPause() {
    return typedPauses[typed_++ % std::size(typedPauses)];
}

bool Keyboard::chord(const std::string& keys, std::chrono::milliseconds hold) {
    if (!display_) {
        return false;
    }
    std::vector<KeySym> symbols;
    std::stringstream names(keys);
    std::string name;
    while (std::getline(names, name, '+')) {
        const KeySym symbol = XStringToKeysym(name.c_str());
        if (symbol == NoSymbol || XKeysymToKeycode(display_, symbol) == 0) {
            return false;
        }
        symbols.push_back(symbol);
    }
    for (std::size_t index = 0; index < symbols.size(); ++index) {
        if (index > 0) {
            pause(chordStep);
        }
        press(symbols[index], true);
    }
    pause(hold);
    for (auto symbol = symbols.rbegin(); symbol != symbols.rend(); ++symbol) {
        if (symbol != symbols.rbegin()) {
            pause(chordRelease);
        }
        press(*symbol, false);
    }
    return true;
}

bool Keyboard::tap(const std::string& key) {
    const bool done = chord(key, nextHold());
    pause(nextPause());
    return done;
}

bool Keyboard::doubleTap(const std::string& key, std::chrono::milliseconds gap,
                         std::optional<std::chrono::milliseconds> hold) {
    if (!chord(key, hold.value_or(nextHold()))) {
        return false;
    }
    // The gap between the taps is what is being posted, not a wait for something to happen.
    pause(gap);
    return chord(key, hold.value_or(nextHold()));
}

namespace {

// Latin-1 keysyms are the code points; the rest are 0x01000000 + the code point.
KeySym keysymOf(char32_t character) {
    return character >= 0x20 && (character < 0x7f || (character >= 0xa0 && character <= 0xff))
               ? static_cast<KeySym>(character)
               : static_cast<KeySym>(0x01000000 + character);
}

}  // namespace

bool Keyboard::typeOne(char32_t character) {
    if (character == U'\n') {
        return tap("Return");
    }
    const KeySym symbol = keysymOf(character);
    KeyCode code = 0;
    bool shifted = false;
    if (const auto borrowed = borrowed_.find(symbol); borrowed != borrowed_.end()) {
        code = static_cast<KeyCode>(borrowed->second);
    } else {
        code = XKeysymToKeycode(display_, symbol);
        shifted = code != 0 && XkbKeycodeToKeysym(display_, code, 0, 0) != symbol;
    }
    if (code == 0) {
        return false;
    }
    const KeyCode shift = XKeysymToKeycode(display_, XK_Shift_L);
    const auto key = [&](KeyCode which, bool down) {
        XTestFakeKeyEvent(display_, which, down ? True : False, CurrentTime);
        XSync(display_, False);
    };
    if (shifted) {
        key(shift, true);
        pause(chordStep);
    }
    key(code, true);
    pause(nextHold());
    key(code, false);
    if (shifted) {
        pause(chordRelease);
        key(shift, false);
    }
    pause(nextPause());
    return true;
}

bool Keyboard::borrowKeycodes(const std::u32string& characters) {
    if (spareKeycodes_.empty()) {
        int low = 0;
        int high = 0;
        XDisplayKeycodes(display_, &low, &high);
        int perCode = 0;
        KeySym* map =
            XGetKeyboardMapping(display_, static_cast<KeyCode>(low), high - low + 1, &perCode);
        for (int candidate = high; candidate >= low && map; --candidate) {
            const KeySym* row = map + static_cast<std::ptrdiff_t>(candidate - low) * perCode;
            if (std::all_of(row, row + perCode, [](KeySym s) { return s == NoSymbol; })) {
                spareKeycodes_.push_back(candidate);
            }
        }
        if (map) {
            XFree(map);
        }
    }
    // Every character the keymap lacks gets a keycode of its own for the whole text: a mapping
    // changed between two keys could reach the application before the first key does.
    borrowed_.clear();
    for (const char32_t character : characters) {
        const KeySym symbol = keysymOf(character);
        if (character == U'\n' || borrowed_.contains(symbol)) {
            continue;
        }
        const KeyCode code = XKeysymToKeycode(display_, symbol);
        if (code != 0 && (XkbKeycodeToKeysym(display_, code, 0, 0) == symbol ||
                          XkbKeycodeToKeysym(display_, code, 0, 1) == symbol)) {
            continue;
        }
        if (borrowed_.size() == spareKeycodes_.size()) {
            return false;
        }
        const int spare = spareKeycodes_[borrowed_.size()];
        KeySym both[2] = {symbol, symbol};
        XChangeKeyboardMapping(display_, spare, 2, both, 1);
        borrowed_.emplace(symbol, spare);
    }
    XSync(display_, False);
    return true;
}

bool Keyboard::type(std::u16string_view text) {
    if (!display_) {
        return false;
    }
    const std::u32string characters =
        QString::fromStdU16String(std::u16string(text)).toStdU32String();
    return borrowKeycodes(characters) &&
           std::all_of(characters.begin(), characters.end(),
                       [this](char32_t character) { return typeOne(character); });
}

bool Keyboard::waitForRelease(std::chrono::milliseconds limit) {
    if (!display_) {
        return false;
    }
    return waitUntil(
        [&] {
            char keys[32] = {};
            XQueryKeymap(display_, keys);
            return std::all_of(std::begin(keys), std::end(keys),
                               [](char bits) { return bits == 0; });
        },
        limit);
}

// --- The pointer and the program's own windows

bool clickAt(int x, int y) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        return false;
    }
    XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    XSync(display, False);
    XCloseDisplay(display);
    return true;
}

bool doubleClickAt(int x, int y) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        return false;
    }
    XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
    XSync(display, False);
    // The pauses are the server's (XTest's delay before it takes each event). Spaced by this
    // process, the time between the clicks grew with whatever its event loop did meanwhile and
    // with the machine's load; past the double-click time the application sees two single
    // clicks and selects nothing.
    for (int click = 0; click < 2; ++click) {
        XTestFakeButtonEvent(display, 1, True, 60);
        XTestFakeButtonEvent(display, 1, False, 70);
    }
    XSync(display, False);
    XCloseDisplay(display);
    return true;
}

bool movePointerTo(int x, int y) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        return false;
    }
    XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
    XSync(display, False);
    XCloseDisplay(display);
    return true;
}

ClipboardWatch::ClipboardWatch() {
    connection_ = QObject::connect(QGuiApplication::clipboard(), &QClipboard::changed,
                                   [changes = changes_](QClipboard::Mode mode) {
                                       *changes += mode == QClipboard::Clipboard;
                                   });
}

ClipboardWatch::~ClipboardWatch() {
    QObject::disconnect(connection_);
}

AfterClipboardTake::AfterClipboardTake(std::chrono::milliseconds delay,
                                       std::function<void()> action) {
    connection_ = QObject::connect(
        QGuiApplication::clipboard(), &QClipboard::changed,
        [taken = taken_, delay, action = std::move(action)](QClipboard::Mode mode) {
            if (mode == QClipboard::Clipboard && !*taken) {
                *taken = true;
                QTimer::singleShot(delay, Qt::PreciseTimer, action);
            }
        });
}

AfterClipboardTake::~AfterClipboardTake() {
    QObject::disconnect(connection_);
}

std::vector<ScreenWindow> unmanagedWindowsOf(qint64 pid) {
    std::vector<ScreenWindow> found;
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        return found;
    }
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) {
        for (unsigned int i = 0; i < count; ++i) {
            XWindowAttributes attributes;
            if (!XGetWindowAttributes(display, children[i], &attributes) ||
                !attributes.override_redirect || attributes.map_state != IsViewable) {
                continue;
            }
            if (const auto owner = cardinalsOf(display, children[i], pidAtom, XA_CARDINAL, 1);
                owner.size() == 1 && static_cast<qint64>(owner.front()) == pid) {
                found.push_back({attributes.x, attributes.y, attributes.width, attributes.height,
                                 children[i]});
            }
        }
        XFree(children);
    }
    XCloseDisplay(display);
    return found;
}

bool trayHostPresent() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        return false;
    }
    const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(DefaultScreen(display));
    const bool present =
        XGetSelectionOwner(display, XInternAtom(display, name.c_str(), False)) != 0;
    XCloseDisplay(display);
    return present;
}

QString activeWindowTitle() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        return {};
    }
    QString title;
    const auto active = cardinalsOf(display, DefaultRootWindow(display),
                                    XInternAtom(display, "_NET_ACTIVE_WINDOW", False), XA_WINDOW);
    if (active.size() == 1 && active.front() != 0) {
        title = QString::fromStdString(titleOf(display, active.front()));
    }
    XCloseDisplay(display);
    return title;
}

unsigned long activeWindow() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        return 0;
    }
    const auto active = cardinalsOf(display, DefaultRootWindow(display),
                                    XInternAtom(display, "_NET_ACTIVE_WINDOW", False), XA_WINDOW);
    XCloseDisplay(display);
    return active.size() == 1 ? active.front() : 0;
}

bool focusWindowByItsOwnApplication(unsigned long window) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        return false;
    }
    XSetInputFocus(display, window, RevertToParent, CurrentTime);
    XSync(display, False);
    XCloseDisplay(display);
    return true;
}

bool setFocusFollowsPointer(bool follows, std::chrono::milliseconds limit) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        return false;
    }
    const Window root = DefaultRootWindow(display);
    // The configuration openbox was started with (a copy of the session's own).
    QString path;
    Atom actual = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, root, XInternAtom(display, "_OB_CONFIG_FILE", False), 0,
                           1024, False, XInternAtom(display, "UTF8_STRING", False), &actual,
                           &format, &count, &after, &data) == Success &&
        data != nullptr && format == 8) {
        path = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<int>(count));
    }
    if (data != nullptr) {
        XFree(data);
    }
    QFile file(path);
    QByteArray config;
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly) || (config = file.readAll()).isEmpty()) {
        XCloseDisplay(display);
        return false;
    }
    file.close();
    const QByteArray on = "<followMouse>yes</followMouse>";
    const QByteArray off = "<followMouse>no</followMouse>";
    config.replace(follows ? off : on, follows ? on : off);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(config) != config.size()) {
        XCloseDisplay(display);
        return false;
    }
    file.close();
    // Read again once openbox names its theme anew on the root window.
    const Atom theme = XInternAtom(display, "_OB_THEME", False);
    XSelectInput(display, root, PropertyChangeMask);
    XSync(display, False);
    QProcess reconfigure;
    reconfigure.start(QStringLiteral("openbox"), {QStringLiteral("--reconfigure")});
    bool read = reconfigure.waitForFinished(5000) && reconfigure.exitCode() == 0 &&
                waitUntil(
                    [&] {
                        XEvent event{};
                        while (XCheckTypedWindowEvent(display, root, PropertyNotify, &event)) {
                            if (event.xproperty.atom == theme) {
                                return true;
                            }
                        }
                        return false;
                    },
                    limit);
    XCloseDisplay(display);
    return read;
}

bool activateWindowTitled(const QString& title, std::chrono::milliseconds limit) {
    if (activeWindowTitle().startsWith(title)) {
        return true;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        return false;
    }
    const Window root = DefaultRootWindow(display);
    const Atom active = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    bool asked = false;
    for (const auto window :
         cardinalsOf(display, root, XInternAtom(display, "_NET_CLIENT_LIST", False), XA_WINDOW)) {
        if (!QString::fromStdString(titleOf(display, window)).startsWith(title)) {
            continue;
        }
        // As a taskbar asks it (source 2): the window manager does not weigh it against the
        // focused window's last input, as it does an application's own request.
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = active;
        event.xclient.format = 32;
        event.xclient.data.l[0] = 2;
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask,
                   &event);
        XSync(display, False);
        asked = true;
        break;
    }
    XCloseDisplay(display);
    return asked && waitUntil([&] { return activeWindowTitle().startsWith(title); }, limit);
}

namespace {

// One gdbus call's printed answer; empty when it failed.
QString gdbusCall(const QStringList& arguments) {
    QProcess call;
    call.start(QStringLiteral("gdbus"), QStringList{QStringLiteral("call")} + arguments);
    if (!call.waitForFinished(5000) || call.exitCode() != 0) {
        return {};
    }
    return QString::fromUtf8(call.readAllStandardOutput()).trimmed();
}

// The first quoted text of a gdbus answer: ('unix:path=...',) -> unix:path=...
QString quoted(const QString& answer) {
    const auto start = answer.indexOf(QLatin1Char('\''));
    const auto end = answer.indexOf(QLatin1Char('\''), start + 1);
    return start >= 0 && end > start ? answer.mid(start + 1, end - start - 1) : QString();
}

// The accessibility bus's address.
QString accessibilityBus() {
    return quoted(gdbusCall(
        {QStringLiteral("--session"), QStringLiteral("--dest"), QStringLiteral("org.a11y.Bus"),
         QStringLiteral("--object-path"), QStringLiteral("/org/a11y/bus"), QStringLiteral("--method"),
         QStringLiteral("org.a11y.Bus.GetAddress")}));
}

}  // namespace

QString accessibilityBusNameOf(platform::ProcessID pid) {
    const QString bus = accessibilityBus();
    if (bus.isEmpty()) {
        return {};
    }
    const QStringList onBus = {QStringLiteral("--address"), bus, QStringLiteral("--dest"),
                               QStringLiteral("org.freedesktop.DBus"), QStringLiteral("--object-path"),
                               QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("--method")};
    const QString names = gdbusCall(onBus + QStringList{QStringLiteral("org.freedesktop.DBus.ListNames")});
    for (const auto& part : names.split(QLatin1Char('\''))) {
        if (!part.startsWith(QLatin1Char(':'))) {
            continue;
        }
        const QString owner = gdbusCall(
            onBus + QStringList{QStringLiteral("org.freedesktop.DBus.GetConnectionUnixProcessID"), part});
        if (owner == QStringLiteral("(uint32 %1,)").arg(pid)) {
            return part;
        }
    }
    return {};
}

std::optional<int> roleOnTheBus(const QString& application, const QString& path) {
    const QString answer = gdbusCall(
        {QStringLiteral("--address"), accessibilityBus(), QStringLiteral("--dest"), application,
         QStringLiteral("--object-path"), path, QStringLiteral("--method"),
         QStringLiteral("org.a11y.atspi.Accessible.GetRole")});
    // (uint32 40,)
    bool number = false;
    const int role = answer.section(QLatin1Char(' '), 1).section(QLatin1Char(','), 0, 0).toInt(&number);
    return number ? std::optional<int>(role) : std::nullopt;
}

ProgramBusCalls::ProgramBusCalls(RavlinProgram& program)
    : file_(program.home() + QStringLiteral("/bus-calls")) {
    program.setEnvironment(QStringLiteral("LD_PRELOAD"), QStringLiteral(RAVLIN_BUS_CALLS_RECORD));
    program.setEnvironment(QStringLiteral("RAVLIN_BUS_CALLS_FILE"), file_);
}

std::vector<ProgramBusCalls::Call> ProgramBusCalls::calls() const {
    QFile file(file_);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    std::vector<Call> calls;
    for (const auto& line : file.readAll().split('\n')) {
        const auto parts = line.split(' ');
        if (parts.size() == 3) {
            calls.push_back({QString::fromUtf8(parts[0]), QString::fromUtf8(parts[1]),
                             QString::fromUtf8(parts[2])});
        }
    }
    return calls;
}

AccessibilityCalls::AccessibilityCalls(platform::ProcessID pid) {
    bus_ = accessibilityBus();
    name_ = accessibilityBusNameOf(pid);
    if (bus_.isEmpty() || name_.isEmpty()) {
        return;
    }
    monitor_.setProcessChannelMode(QProcess::SeparateChannels);
    QObject::connect(&monitor_, &QProcess::readyReadStandardOutput,
                     [this] { output_ += monitor_.readAllStandardOutput(); });
    // (line-buffered: what it saw is there before it is asked)
    monitor_.start(QStringLiteral("stdbuf"),
                   {QStringLiteral("-oL"), QStringLiteral("dbus-monitor"), QStringLiteral("--address"),
                    bus_, QStringLiteral("type='method_call',destination='%1'").arg(name_)});
    // Once it is a monitor, it has lost the name it had.
    ready_ = monitor_.waitForStarted(5000) &&
             waitUntil([&] { return output_.contains("member=NameLost"); }, 5s);
}

AccessibilityCalls::~AccessibilityCalls() {
    endChild(monitor_);
}

std::vector<std::string> AccessibilityCalls::calls() {
    // A call of our own after all those made so far: once the monitor shows it, it has shown
    // those (the bus keeps the order of its messages).
    ++pings_;
    (void)gdbusCall({QStringLiteral("--address"), bus_, QStringLiteral("--dest"), name_,
                     QStringLiteral("--object-path"), QStringLiteral("/org/a11y/atspi/accessible/root"),
                     QStringLiteral("--method"), QStringLiteral("org.freedesktop.DBus.Peer.Ping")});
    waitUntil([&] { return output_.count("member=Ping") >= pings_; }, 5s);
    std::vector<std::string> seen;
    for (const auto& line : output_.split('\n')) {
        if (!line.startsWith("method call")) {
            continue;
        }
        const auto interface = line.indexOf("interface=");
        const auto member = line.indexOf("member=");
        if (interface < 0 || member < 0) {
            continue;
        }
        const auto interfaceEnd = line.indexOf(';', interface);
        seen.push_back(line.mid(interface + 10, interfaceEnd - interface - 10).toStdString() + "." +
                       line.mid(member + 7).trimmed().toStdString());
    }
    return seen;
}

platform::ElementRef findInProgramWhere(
    qint64 pid, const std::function<bool(platform::ElementRef)>& matches,
    std::chrono::milliseconds limit) {
    auto& accessibility = *Desktop::get().seams.accessibility;
    platform::ElementRef found;
    waitUntil(
        [&] {
            const auto application =
                accessibility.applicationElement(static_cast<platform::ProcessID>(pid));
            if (!application.hasValue()) {
                return false;
            }
            std::vector<platform::ElementRef> pending{application.value()};
            for (int visited = 0; !pending.empty() && visited < 2000; ++visited) {
                const auto element = pending.back();
                pending.pop_back();
                if (matches(element)) {
                    found = element;
                    return true;
                }
                for (const auto& child : platform::elementListAttribute(accessibility, element,
                                                                        platform::ax::children)) {
                    pending.push_back(child);
                }
            }
            return false;
        },
        limit);
    return found;
}

platform::ElementRef findInProgram(qint64 pid, std::string_view role, std::u16string_view title,
                                   std::chrono::milliseconds limit) {
    auto& accessibility = *Desktop::get().seams.accessibility;
    return findInProgramWhere(
        pid,
        [&](platform::ElementRef element) {
            return platform::textAttribute(accessibility, element, platform::ax::title) == title &&
                   text::toUtf8(platform::textAttribute(accessibility, element, platform::ax::role)
                                    .value_or(u"")) == role;
        },
        limit);
}

bool clickElement(platform::ElementRef element) {
    auto& accessibility = *Desktop::get().seams.accessibility;
    // (a window just shown may not be laid out yet, and a busy application may not answer at
    // once: a person waits until it stands there)
    std::optional<QPoint> middle;
    waitUntil(
        [&] {
            const auto position = accessibility.attribute(element, platform::ax::position);
            const auto size = accessibility.attribute(element, platform::ax::size);
            if (!position.hasValue() || !size.hasValue()) {
                return false;
            }
            const auto* origin = std::get_if<platform::Point>(&position.value());
            const auto* extent = std::get_if<platform::Size>(&size.value());
            if (!origin || !extent || extent->width <= 0 || extent->height <= 0) {
                return false;
            }
            middle = QPoint(static_cast<int>(origin->x + extent->width / 2),
                            static_cast<int>(origin->y + extent->height / 2));
            return true;
        },
        10s);
    return middle && clickAt(middle->x(), middle->y());
}

// --- The clipboard

ClipboardContents readClipboard() {
    ClipboardContents contents;
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data) {
        return contents;
    }
    for (const QString& format : data->formats()) {
        if (!isSelectionProtocolTarget(format)) {
            contents[format] = data->data(format);
        }
    }
    return contents;
}

bool leaveClipboardWithoutOwner() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        return false;
    }
    const Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
    XSetSelectionOwner(display, clipboard, None, CurrentTime);
    XSync(display, False);
    const bool none = waitUntil([&] { return XGetSelectionOwner(display, clipboard) == None; });
    XCloseDisplay(display);
    return none;
}

QStringList clipboardTargets() {
    return clipboardTargetsSeenElsewhere();
}

std::string clipboardDifference(const ClipboardContents& before, const ClipboardContents& after) {
    std::string difference;
    QStringList formats;
    for (const auto* side : {&before, &after}) {
        for (const auto& [format, bytes] : *side) {
            if (!formats.contains(format)) {
                formats << format;
            }
        }
    }
    for (const QString& format : formats) {
        const auto was = before.find(format);
        const auto is = after.find(format);
        if (was == before.end() || is == after.end()) {
            difference += format.toStdString() + (was == before.end() ? ": added\n" : ": gone\n");
        } else if (was->second != is->second) {
            difference += format.toStdString() + ": " + std::to_string(was->second.size()) +
                          " bytes became " + std::to_string(is->second.size()) + " other bytes\n";
        }
    }
    return difference;
}

QString screenshot(const QString& name) {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        return {};
    }
    const QString path = outputFolder() + QLatin1Char('/') + name + QStringLiteral(".png");
    return screen->grabWindow(0).save(path, "PNG") ? path : QString();
}

// --- Other programs

namespace {

// Waits until a window of `pid` is in front (at most 20 s): its window may be mapped well after
// the process started, and only then can it be activated.
bool inFront(platform::ProcessID pid) {
    auto& desktop = Desktop::get();
    return waitUntil([&] { return desktop.bringToFront(pid, 1s); }, 20s);
}

// The same, and on the accessibility bus.
bool upAndInFront(platform::ProcessID pid) {
    auto& desktop = Desktop::get();
    return waitUntil(
               [&] { return desktop.seams.accessibility->applicationElement(pid).hasValue(); },
               20s) &&
           inFront(pid);
}

}  // namespace

StockEditor::StockEditor(const QString& text) {
    const QString path = folder_.path() + QStringLiteral("/note.txt");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0) {
        return;
    }
    file.close();
    process_.setStandardInputFile(QProcess::nullDevice());
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.setStandardErrorFile(outputFolder() + QStringLiteral("/mousepad.log"));
    process_.start(QStringLiteral("mousepad"), {path});
    if (!process_.waitForStarted(10000)) {
        return;
    }
    pid_ = static_cast<platform::ProcessID>(process_.processId());
    ready_ = upAndInFront(pid_);
    if (!ready_) {
        std::fprintf(
            stderr, "mousepad (pid %lld) not ready: %s, exit %d; its log: %s\n",
            static_cast<long long>(pid_),
            process_.state() == QProcess::NotRunning ? "ended" : "running", process_.exitCode(),
            QFile::encodeName(outputFolder() + QStringLiteral("/mousepad.log")).constData());
    }
}

StockEditor::~StockEditor() {
    endChild(process_);
}

Terminal::Terminal() {
    process_.setStandardInputFile(QProcess::nullDevice());
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.setStandardErrorFile(QProcess::nullDevice());
    process_.start(QStringLiteral("xterm"), {QStringLiteral("-e"), QStringLiteral("cat")});
    if (!process_.waitForStarted(10000)) {
        return;
    }
    pid_ = static_cast<platform::ProcessID>(process_.processId());
    ready_ = inFront(pid_);
}

Terminal::~Terminal() {
    endChild(process_);
}

bool keyboardIn(platform::ProcessID pid) {
    auto& workspace = *Desktop::get().seams.workspace;
    const auto front = workspace.frontmostApplication();
    const auto window = workspace.frontmostWindow();
    return front && front->pid == pid && window &&
           workspace.keyboardFocusIn(*window).value_or(true);
}

// --- Whose windows are where

namespace {

int managedWindowsOn(Display* display, qint64 pid) {
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    int count = 0;
    for (const auto window : cardinalsOf(display, DefaultRootWindow(display),
                                         XInternAtom(display, "_NET_CLIENT_LIST", False),
                                         XA_WINDOW)) {
        XWindowAttributes attributes;
        const auto owner = cardinalsOf(display, window, pidAtom, XA_CARDINAL, 1);
        count += owner.size() == 1 && static_cast<qint64>(owner.front()) == pid &&
                 XGetWindowAttributes(display, window, &attributes) &&
                 attributes.map_state == IsViewable;
    }
    return count;
}

}  // namespace

qint64 windowOwnerAt(int x, int y) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        return 0;
    }
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    qint64 owner = 0;
    Window from = DefaultRootWindow(display);
    int fromX = x;
    int fromY = y;
    // Down to the deepest window there: an embedded one (a tray icon in its tray) says its own.
    for (int level = 0; level < 32; ++level) {
        Window child = 0;
        int childX = 0;
        int childY = 0;
        if (!XTranslateCoordinates(display, from, from, fromX, fromY, &childX, &childY, &child) ||
            child == 0) {
            break;
        }
        if (const auto pid = cardinalsOf(display, child, pidAtom, XA_CARDINAL, 1);
            pid.size() == 1 && pid.front() != 0) {
            owner = static_cast<qint64>(pid.front());
        }
        // Into the child, (x, y) in its own coordinates.
        Window inner = 0;
        XTranslateCoordinates(display, from, child, fromX, fromY, &childX, &childY, &inner);
        from = child;
        fromX = childX;
        fromY = childY;
    }
    XCloseDisplay(display);
    return owner;
}

void ManagedWindowsWatch::State::look() {
    now = display ? managedWindowsOn(display, pid) : 0;
    most = std::max(most, now);
}

ManagedWindowsWatch::ManagedWindowsWatch(qint64 pid) {
    state_->display = XOpenDisplay(nullptr);
    state_->pid = pid;
    state_->look();
    state_->first = state_->now;
    timer_ = new QTimer;
    QObject::connect(timer_, &QTimer::timeout, [state = state_] { state->look(); });
    timer_->start(10);
}

ManagedWindowsWatch::~ManagedWindowsWatch() {
    delete timer_;
    if (state_->display) {
        XCloseDisplay(state_->display);
    }
}

}  // namespace ravlin::testing
