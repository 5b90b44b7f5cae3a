#include "desktop_fixture.h"

#include <QCursor>
#include <QFile>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <future>

#include "core/text/unicode.h"

#include "platform/keys.h"
#include "platform/linux/clipboard/selection_text.h"
#include "platform/linux/clipboard/x11_selection_pasteboard.h"
#include "platform/linux/clipboard/x11_selections.h"
#include "platform/linux/linux_seams.h"
#include "platform/linux/x11/xlib.h"
#include "tests/support/x_properties.h"

// From XKBlib.h, which needs Xlib's macros that xlib.h puts away.
extern "C" int XkbLockModifiers(Display* display, unsigned device, unsigned affect,
                                unsigned values);

namespace ravlin::testing {

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    QElapsedTimer clock;
    clock.start();
    while (true) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (condition()) {
            return true;
        }
        if (clock.elapsed() > limit.count()) {
            return false;
        }
        QThread::msleep(2);
    }
}

std::optional<std::u16string> readString(platform::Pasteboard& pasteboard) {
    // Shared with the callback, which may come after a wait that gave up.
    auto text = std::make_shared<std::optional<std::optional<std::u16string>>>();
    pasteboard.readString([text](std::optional<std::u16string> read) { *text = std::move(read); });
    waitUntil([&] { return text->has_value(); }, 10s);
    return text->value_or(std::nullopt);
}

platform::PasteboardContents readContents(platform::Pasteboard& pasteboard) {
    auto contents = std::make_shared<std::optional<platform::PasteboardContents>>();
    pasteboard.readContents(
        [contents](platform::PasteboardContents read) { *contents = std::move(read); });
    waitUntil([&] { return contents->has_value(); }, 10s);
    return contents->value_or(
        platform::PasteboardContents{{}, {}, platform::PasteboardSaveFailure::ownerNotAnswering});
}

std::optional<std::u16string> clipboardTextThrough(platform::x11::Selections& reader) {
    std::promise<std::optional<std::u16string>> promise;
    auto answer = promise.get_future();
    reader.readText("CLIPBOARD", {}, [&](std::optional<std::u16string> text) {
        promise.set_value(std::move(text));
    });
    return answer.wait_for(3s) == std::future_status::ready ? answer.get() : std::nullopt;
}

bool clipboardManagerWatches() {
    const auto probe = platform::x11::Selections::open();
    if (!probe) {
        return false;
    }
    const auto copy = std::make_shared<const platform::x11::SelectionData>(
        platform::x11::textSelection(u"a copy to see a clipboard manager by"));
    QElapsedTimer waited;
    waited.start();
    for (auto patience = 500ms; waited.elapsed() < kHangWatchdog / 1ms; patience += 500ms) {
        if (probe->own("CLIPBOARD", copy) &&
            waitUntil([&] { return probe->fetched("CLIPBOARD"); }, patience)) {
            return true;
        }
    }
    return false;
}

namespace {

// Not a template: clang 14 cannot emit a coroutine that is a template or inline.
QCoro::Task<> keep(QCoro::Task<QNPasteOutcome> task,
                   std::shared_ptr<std::optional<QNPasteOutcome>> into) {
    *into = co_await std::move(task);
}

QCoro::Task<> keep(QCoro::Task<std::optional<std::u16string>> task,
                   std::shared_ptr<std::optional<std::optional<std::u16string>>> into) {
    *into = co_await std::move(task);
}

QCoro::Task<> keep(QCoro::Task<std::optional<platform::Rect>> task,
                   std::shared_ptr<std::optional<std::optional<platform::Rect>>> into) {
    *into = co_await std::move(task);
}

}  // namespace

std::optional<platform::Rect> runToEnd(QCoro::Task<std::optional<platform::Rect>> task) {
    auto result = std::make_shared<std::optional<std::optional<platform::Rect>>>();
    auto running = keep(std::move(task), result);
    waitUntil([&] { return result->has_value(); }, 10s);
    return result->value_or(std::nullopt);
}

QCoro::Task<> keepSaved(QCoro::Task<QNModelPasteboardSnapshot> task,
                        std::shared_ptr<std::optional<QNModelPasteboardSnapshot>> into) {
    *into = co_await std::move(task);
}

std::optional<QNPasteOutcome> pasteToEnd(QCoro::Task<QNPasteOutcome> task) {
    auto result = std::make_shared<std::optional<QNPasteOutcome>>();
    auto running = keep(std::move(task), result);
    waitUntil([&] { return result->has_value(); }, 10s);
    return *result;
}

std::optional<QNPasteResult> runToEnd(QCoro::Task<QNPasteOutcome> task) {
    const auto outcome = pasteToEnd(std::move(task));
    return outcome ? std::optional(outcome->result) : std::nullopt;
}

std::optional<std::u16string> runToEnd(QCoro::Task<std::optional<std::u16string>> task) {
    auto result = std::make_shared<std::optional<std::optional<std::u16string>>>();
    auto running = keep(std::move(task), result);
    waitUntil([&] { return result->has_value(); }, 10s);
    return result->value_or(std::nullopt);
}

TargetApp::TargetApp(std::string name, const QString& program, const QStringList& arguments)
    : name_(std::move(name)) {
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    // A target that ends before the suite does says why (the tests that follow fail).
    QObject::connect(&process_, &QProcess::finished, [this](int code, QProcess::ExitStatus how) {
        std::fprintf(stderr, "target %s ended: %s %d; its last errors:\n%s\n", name_.c_str(),
                     how == QProcess::CrashExit ? "signal" : "exit status", code,
                     process_.readAllStandardError().right(4000).constData());
    });
    process_.start(program, arguments);
    if (!process_.waitForStarted(10000)) {
        return;
    }
    // The target says "READY pid=N" once its window is shown.
    waitUntil(
        [this] {
            readOutput();
            return output_.contains(QLatin1String("READY pid="));
        },
        20s);
    pid_ = static_cast<platform::ProcessID>(process_.processId());
}

TargetApp::~TargetApp() {
    QObject::disconnect(&process_, &QProcess::finished, nullptr, nullptr);
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        if (!process_.waitForFinished(3000)) {
            process_.kill();
            process_.waitForFinished(3000);
        }
    }
}

void TargetApp::readOutput() {
    output_ += QString::fromUtf8(process_.readAllStandardOutput());
}

bool TargetApp::command(const QString& line) {
    forget();
    process_.write((line + QLatin1Char('\n')).toUtf8());
    return waitUntil([&] { return printed(QStringLiteral("OK ") + line); });
}

bool TargetApp::printed(const QString& line) {
    readOutput();
    return (QLatin1Char('\n') + output_).contains(QLatin1Char('\n') + line + QLatin1Char('\n'));
}

std::optional<QString> TargetApp::printedAfter(const QString& start) {
    readOutput();
    for (const auto& line : output_.split(QLatin1Char('\n'))) {
        if (line.startsWith(start)) {
            return line.mid(start.size());
        }
    }
    return std::nullopt;
}

Desktop& Desktop::get() {
    static Desktop* desktop = [] {
        static int argc = 1;
        static char name[] = "tests_desktop";
        static char* argv[] = {name, nullptr};
        auto* made = new Desktop{.application = new QApplication(argc, argv)};
        made->seams = platform::linuxSeams();
        // The keeper beside the program, not beside this test.
        if (const auto clipboard =
                std::dynamic_pointer_cast<platform::X11SelectionPasteboard>(made->seams.pasteboard)) {
            clipboard->setKeeperProgram(RAVLIN_CLIPBOARD_KEEPER);
        }
        made->accessibility =
            std::dynamic_pointer_cast<platform::AtspiAccessibility>(made->seams.accessibility);
        made->gtk = std::make_unique<TargetApp>("GTK", QStringLiteral("/usr/bin/python3"),
                                                QStringList{QStringLiteral(RAVLIN_GTK_TARGET)});
        made->gtk4 = std::make_unique<TargetApp>("GTK 4", QStringLiteral("/usr/bin/python3"),
                                                 QStringList{QStringLiteral(RAVLIN_GTK4_TARGET)});
        made->qt =
            std::make_unique<TargetApp>("Qt", QStringLiteral(RAVLIN_QT_TARGET), QStringList{});
        // Every application on the accessibility bus before any test asks for them.
        for (auto* app : {made->gtk.get(), made->gtk4.get(), made->qt.get()}) {
            waitUntil(
                [&] {
                    return made->seams.accessibility->applicationElement(app->pid()).hasValue();
                },
                20s);
        }
        // Each target once in front before the tests start.
        for (auto* app : {made->gtk4.get(), made->gtk.get(), made->qt.get(), made->gtk.get()}) {
            made->bringToFrontPersistently(app->pid());
        }
        std::atexit([] {
            // The targets end before the seams and the application go.
            Desktop::get().gtk.reset();
            Desktop::get().gtk4.reset();
            Desktop::get().qt.reset();
        });
        return made;
    }();
    return *desktop;
}

namespace {

// The process whose window (or an ancestor of it) holds the X input focus; 0 for none.
long focusOwner(Display* display) {
    Window window = 0;
    int revert = 0;
    XGetInputFocus(display, &window, &revert);
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    while (window > 1) {
        if (const auto pid = cardinalsOf(display, window, pidAtom, XA_CARDINAL, 1);
            pid.size() == 1 && pid.front() != 0) {
            return static_cast<long>(pid.front());
        }
        Window root = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned int childCount = 0;
        if (XQueryTree(display, window, &root, &parent, &children, &childCount) == 0) {
            break;
        }
        if (children != nullptr) {
            XFree(children);
        }
        window = parent;
    }
    return 0;
}

// The X server's time now: a property change on a window of ours carries it (0 if none came).
Time serverTimeNow(Display* display) {
    const Window clock = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    XSelectInput(display, clock, PropertyChangeMask);
    const Atom name = XInternAtom(display, "_RAVLIN_TEST_TIME", False);
    XChangeProperty(display, clock, name, XA_INTEGER, 32, PropModeAppend, nullptr, 0);
    XSync(display, False);
    Time time = 0;
    XEvent event;
    while (XCheckTypedWindowEvent(display, clock, PropertyNotify, &event)) {
        time = event.xproperty.time;
    }
    XDestroyWindow(display, clock);
    XSync(display, False);
    return time;
}

}  // namespace

bool Desktop::bringToFront(platform::ProcessID pid, std::chrono::milliseconds limit) {
    auto& workspace = *seams.workspace;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return false;
    }
    const auto frontmost = [&] {
        const auto front = workspace.frontmostApplication();
        return front ? front->pid : 0;
    };
    // Already in front with the keyboard: no request. One would only leave the window manager
    // an offer of the focus for the window to answer later, perhaps after another window has
    // been brought forward in the very same millisecond (the server takes a focus change as
    // late as the last one), taking the focus back from it.
    bool ok = frontmost() == pid && focusOwner(display) == pid;
    std::vector<std::pair<platform::ProcessID, long>> seen;
    if (!ok) {
        // A late answer to an earlier activation carries a time no later than the moment it
        // settled: asked at a later server time, the window manager focuses this window at a
        // later one, and the server refuses that answer.
        QElapsedTimer waited;
        waited.start();
        while (lastSettled != 0 && serverTimeNow(display) <= lastSettled &&
               waited.elapsed() < 100) {
            QThread::usleep(200);
        }
        ok = workspace.activate(pid) &&
             waitUntil(
                 [&] {
                     const platform::ProcessID now = frontmost();
                     const long focus = focusOwner(display);
                     if (seen.empty() || seen.back() != std::pair{now, focus}) {
                         seen.emplace_back(now, focus);
                     }
                     return now == pid && focus == pid;
                 },
                 limit);
    }
    if (ok) {
        lastSettled = serverTimeNow(display);
    } else {
        // What happened instead, for the failure's reader: (frontmost, X input focus) in turn.
        std::string fronts;
        for (const auto& [front, focus] : seen) {
            fronts += " (" + std::to_string(front) + ", " + std::to_string(focus) + ")";
        }
        std::fprintf(stderr, "bringToFront %d: the frontmost and the focus were%s\n", pid,
                     fronts.c_str());
    }
    XCloseDisplay(display);
    return ok;
}

bool Desktop::bringToFrontPersistently(platform::ProcessID pid) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (bringToFront(pid, 1s)) {
            return true;
        }
    }
    return false;
}

platform::ElementRef Desktop::focusedOf(platform::ProcessID pid) {
    auto& accessibility = *seams.accessibility;
    const auto focused = platform::elementAttribute(
        accessibility, accessibility.systemWideElement(), platform::ax::focusedUIElement);
    if (!focused) {
        return {};
    }
    const auto owner = accessibility.processID(*focused);
    return owner && *owner == pid ? *focused : platform::ElementRef{};
}

std::u16string Desktop::roleOf(const QString& field) {
    const bool password =
        QStringList{QStringLiteral("password"), QStringLiteral("peeked"), QStringLiteral("hidden"),
                    QStringLiteral("lettered"), QStringLiteral("zeroed"), QStringLiteral("spaced"),
                    QStringLiteral("locked")}
            .contains(field);
    return password ? u"AXSecureTextField"
           : field == QLatin1String("area") || field == QLatin1String("rich") ? u"AXTextArea"
                                                                               : u"AXTextField";
}

platform::ElementRef Desktop::focus(TargetApp& app, const QString& field) {
    if (!bringToFront(app.pid()) || !app.command(QStringLiteral("focus ") + field)) {
        return {};
    }
    // The fields' names are not exposed: their roles and contents tell them apart.
    const std::u16string role = roleOf(field);
    const std::u16string start = field == QLatin1String("readonly") ? u"read only"
                                 : field == QLatin1String("line")   ? u"h\u00e9llo"
                                                                    : u"";
    platform::ElementRef found;
    const bool focused = waitUntil([&] {
        found = focusedOf(app.pid());
        if (!found ||
            platform::textAttribute(*seams.accessibility, found, platform::ax::role) != role) {
            return false;
        }
        return start.empty() || value(found).starts_with(start);
    });
    if (!focused) {
        const auto last = focusedOf(app.pid());
        std::fprintf(
            stderr, "focus %s/%s: found %d role %s value %s\n", app.name().c_str(),
            field.toUtf8().constData(), last ? 1 : 0,
            text::toUtf8(platform::textAttribute(*seams.accessibility, last, platform::ax::role)
                             .value_or(u"-"))
                .c_str(),
            text::toUtf8(value(last)).c_str());
    }
    return focused ? found : platform::ElementRef{};
}

std::u16string Desktop::value(platform::ElementRef element) {
    return platform::textAttribute(*seams.accessibility, element, platform::ax::value)
        .value_or(u"<none>");
}

bool Desktop::select(platform::ElementRef element, text::Utf16Range range) {
    auto& accessibility = *seams.accessibility;
    const auto shown = [&] {
        return platform::rangeAttribute(accessibility, element, platform::ax::selectedTextRange) ==
               range;
    };
    std::string refusal;
    const bool selected = waitUntil([&] {
        const auto set = accessibility.setAttribute(element, platform::ax::selectedTextRange,
                                                    platform::AttributeValue(range));
        refusal = set.ok() ? std::string() : set.error().message;
        return set.ok() && waitUntil(shown, 1s);
    });
    if (!selected) {
        const auto now =
            platform::rangeAttribute(accessibility, element, platform::ax::selectedTextRange);
        std::fprintf(stderr, "%lld+%lld never shown as the selection (%s): %lld+%lld of \"%s\"\n",
                     static_cast<long long>(range.location), static_cast<long long>(range.length),
                     refusal.empty() ? "set" : refusal.c_str(),
                     static_cast<long long>(now ? now->location : -1),
                     static_cast<long long>(now ? now->length : -1),
                     text::toUtf8(value(element)).c_str());
    }
    return selected;
}

namespace {

// The process of the active window when its class (either part of WM_CLASS) is `windowClass`.
platform::ProcessID activeWindowProcessOfClass(const QString& windowClass) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return 0;
    }
    platform::ProcessID pid = 0;
    const auto active = cardinalsOf(display, DefaultRootWindow(display),
                                    XInternAtom(display, "_NET_ACTIVE_WINDOW", False), XA_WINDOW, 1);
    XClassHint hint{};
    if (active.size() == 1 && active.front() != 0 &&
        XGetClassHint(display, static_cast<Window>(active.front()), &hint) != 0) {
        const bool matches = windowClass == QLatin1String(hint.res_name ? hint.res_name : "") ||
                             windowClass == QLatin1String(hint.res_class ? hint.res_class : "");
        if (matches) {
            const auto named = cardinalsOf(display, static_cast<Window>(active.front()),
                                           XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL,
                                           1);
            pid = named.size() == 1 ? static_cast<platform::ProcessID>(named.front()) : 0;
        }
        XFree(hint.res_name);
        XFree(hint.res_class);
    }
    XCloseDisplay(display);
    return pid;
}

}  // namespace

CatTerminal::CatTerminal(const QString& program, QStringList options, const QString& execute,
                         bool asOneLine, const QString& serverClass) {
    process_.setStandardInputFile(QProcess::nullDevice());
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.setStandardErrorFile(QProcess::nullDevice());
    const QString command = QStringLiteral("exec cat > '%1'").arg(file());
    options << execute;
    if (asOneLine) {
        options << QStringLiteral("sh -c \"%1\"").arg(command);
    } else {
        options << QStringLiteral("sh") << QStringLiteral("-c") << command;
    }
    process_.start(program, options);
    if (!process_.waitForStarted(10000)) {
        return;
    }
    pid_ = static_cast<platform::ProcessID>(process_.processId());
    if (!serverClass.isEmpty() &&
        !waitUntil([&] { return (pid_ = activeWindowProcessOfClass(serverClass)) != 0; }, 20s)) {
        return;
    }
    ready_ = waitUntil([&] { return Desktop::get().bringToFrontPersistently(pid_); }, 20s);
}

CatTerminal::~CatTerminal() {
    if (process_.state() == QProcess::NotRunning) {
        return;
    }
    process_.terminate();
    if (!process_.waitForFinished(3000)) {
        process_.kill();
        process_.waitForFinished(3000);
    }
}

bool CatTerminal::ends(std::chrono::milliseconds limit) {
    return waitUntil([&] { return process_.state() == QProcess::NotRunning; }, limit);
}

QString CatTerminal::file() const {
    return folder_.path() + QStringLiteral("/typed.txt");
}

QByteArray CatTerminal::written() const {
    QFile out(file());
    return out.open(QIODevice::ReadOnly) ? out.readAll() : QByteArray("<no file>");
}

QByteArray CatTerminal::flushed() {
    auto& keys = *Desktop::get().seams.keySynthesis;
    constexpr std::uint32_t keyD = 2;  // D's virtual code
    const QByteArray before = written();
    (void)keys.postKeyPress({keyD, platform::modifier::command});  // Ctrl+D
    // cat has written the line, or ended where none was pending.
    waitUntil([&] { return written() != before || process_.state() == QProcess::NotRunning; });
    (void)keys.postKeyPress({keyD, platform::modifier::command});
    ends(3s);
    return written();
}

OwnKeyboardFocus::OwnKeyboardFocus() {
    auto& desktop = Desktop::get();
    field_ = std::make_unique<QLineEdit>();
    field_->setWindowTitle(QStringLiteral("keys of the test"));
    field_->setGeometry(400, 300, 300, 80);
    field_->show();
    if (!QTest::qWaitForWindowExposed(field_.get()) ||
        !desktop.bringToFrontPersistently(static_cast<platform::ProcessID>(::getpid()))) {
        return;
    }
    const QPoint centre = field_->mapToGlobal(field_->rect().center());
    QCursor::setPos(centre);
    ready_ = waitUntil([&] { return field_->hasFocus() && QCursor::pos() == centre; });
}

OwnKeyboardFocus::~OwnKeyboardFocus() {
    if (Display* display = XOpenDisplay(nullptr)) {
        XkbLockModifiers(display, 0x0100 /* the core keyboard */, LockMask | Mod2Mask, 0);
        XSync(display, False);
        XCloseDisplay(display);
    }
    // (the layout: tests that change it put "us" back themselves)
}

}  // namespace ravlin::testing
