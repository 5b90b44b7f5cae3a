// The program's own windows as a new user meets them: the running window, its menu, the
// settings, the prompt editor and the session log, with cloud correction switched on and
// nothing set up behind it.

#include <gtest/gtest.h>

#include <gio/gio.h>
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QProcess>
#include <QTemporaryDir>
#include <optional>

#include "e2e_harness.h"
#include "scenarios.h"
#include "tests/support/random_bytes.h"

// Xlib last: its macros clash with names in the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include "tests/support/x_properties.h"

namespace ravlin::testing {
namespace {

// The client area of the managed window whose title starts with `title`, on the screen.
std::optional<ScreenWindow> windowTitled(const QString& title) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        return std::nullopt;
    }
    std::optional<ScreenWindow> found;
    const Window root = DefaultRootWindow(display);
    for (const auto window : cardinalsOf(display, root,
                                         XInternAtom(display, "_NET_CLIENT_LIST", False),
                                         XA_WINDOW)) {
        if (!QString::fromStdString(titleOf(display, window)).startsWith(title)) {
            continue;
        }
        XWindowAttributes attributes;
        int x = 0;
        int y = 0;
        Window child = 0;
        if (XGetWindowAttributes(display, window, &attributes) &&
            attributes.map_state == IsViewable &&
            XTranslateCoordinates(display, window, root, 0, 0, &x, &y, &child)) {
            found = ScreenWindow{x, y, attributes.width, attributes.height};
            break;
        }
    }
    XCloseDisplay(display);
    return found;
}

bool sameWindow(const std::optional<ScreenWindow>& a, const std::optional<ScreenWindow>& b) {
    return a && b && a->x == b->x && a->y == b->y && a->width == b->width &&
           a->height == b->height;
}

// A message bus of the test's own, which offers nothing: no accessibility bus, no keyring.
class EmptyBus {
  public:
    EmptyBus() {
        QFile config(folder_.filePath(QStringLiteral("bus.conf")));
        if (!config.open(QIODevice::WriteOnly)) {
            return;
        }
        config.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                     "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/"
                     "busconfig.dtd\"><busconfig><type>session</type><listen>unix:dir=" +
                     folder_.path().toUtf8() +
                     "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                     "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                     "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>");
        config.close();
        daemon_.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--config-file=") + config.fileName(),
                       QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        waitUntil([&] {
            address_ += QString::fromUtf8(daemon_.readAllStandardOutput());
            return address_.contains(QLatin1Char('\n'));
        });
        address_ = address_.trimmed();
    }
    ~EmptyBus() { endChild(daemon_); }
    EmptyBus(const EmptyBus&) = delete;
    EmptyBus& operator=(const EmptyBus&) = delete;

    [[nodiscard]] const QString& address() const { return address_; }

  private:
    QTemporaryDir folder_;
    QProcess daemon_;
    QString address_;
};

// Cloud correction switched on from the menu with nothing set up behind it: the settings do not
// open; the menu's first line and the Composer's heads-up say it. Typing on in the Composer
// opened from the menu, past the first finished sentence, every key stays in the Composer and
// no other window of the program comes to the front.
TEST_F(OwnWindows, TypingOnInTheComposerFromTheMenuWithCloudNotSetUp) {
    settings = {{"correctionModelMode", "local"}};
    ASSERT_NO_FATAL_FAILURE(launch());
    // "Use Cloud AI Correction", the menu's second item.
    ASSERT_TRUE(openMenu(program));
    ASSERT_TRUE(keyboard.tap("Down"));
    ASSERT_TRUE(keyboard.tap("Down"));
    ASSERT_TRUE(keyboard.tap("Return"));
    // The choice has been acted on once the menu is gone; a window it showed would be the
    // window manager's to put up a moment later.
    ASSERT_TRUE(menuClosed(program));
    pause(1s);
    EXPECT_FALSE(windowTitled(QStringLiteral("Settings")));
    // The menu now opens on the line that says so.
    ASSERT_TRUE(openMenu(program));
    pause(200ms);  // the popup draws itself (for the screenshot alone: nothing outside shows it)
    screenshot(QStringLiteral("menu-cloud-not-set-up"));
    ASSERT_TRUE(keyboard.tap("Escape"));

    // "Open Composer", below the line and its separator.
    ASSERT_TRUE(openMenu(program));
    ASSERT_TRUE(keyboard.tap("Down"));
    ASSERT_TRUE(keyboard.tap("Down"));
    ASSERT_TRUE(keyboard.tap("Return"));
    const auto pid = static_cast<platform::ProcessID>(program.pid());
    ASSERT_TRUE(waitUntil([&] { return bool(desktop.focusedOf(pid)); }, kSettle));
    const QString composer = activeWindowTitle();
    // The heads-up on screen (a window of its own, which no window manager handles).
    waitUntil([&] { return !unmanagedWindowsOf(program.pid()).empty(); }, kSettle);
    screenshot(QStringLiteral("composer-cloud-not-set-up-heads-up"));
    std::vector<QString> fronts;
    for (const char16_t character : std::u16string(u"I went to the station. and a hotel")) {
        ASSERT_TRUE(keyboard.type(std::u16string(1, character)));
        fronts.push_back(activeWindowTitle());
    }
    // A sentence's polish, had any route answered: past the Composer's idle wait after the last
    // key (1.5 s).
    pause(2s);
    fronts.push_back(activeWindowTitle());
    for (const auto& front : fronts) {
        EXPECT_EQ(front, composer);
    }
    EXPECT_FALSE(windowTitled(QStringLiteral("Settings")));
    // Every key went to the Composer (the local rules capitalize the sentence's start).
    EXPECT_EQ(desktop.value(desktop.focusedOf(pid)), u"I went to the station. And a hotel");
    ASSERT_TRUE(keyboard.tap("Escape"));
}

// Editing a custom prompt changes none of the Correction pane's rows: the settings window keeps
// its size and place.
TEST_F(OwnWindows, APromptEditLeavesTheSettingsWindowAsItWas) {
    ASSERT_NO_FATAL_FAILURE(launch());
    ASSERT_TRUE(openSettings(u"Correction"));
    // The pane's change of size settles: the window's resize animation (280 ms) runs on the
    // program's own clock, and nothing outside shows its end.
    pause(600ms);
    // Both prompts switched on: the pane's signature follows their texts.
    for (const auto* toggle : {u"Custom local correction prompt", u"Custom online correction prompt"}) {
        ASSERT_TRUE(clickElement(findInProgram(program.pid(), "check box", toggle, kSettle)));
    }
    pause(600ms);  // (as above)
    const auto before = windowTitled(QStringLiteral("Settings"));
    ASSERT_TRUE(before);
    ASSERT_TRUE(clickElement(findInProgram(program.pid(), "push button", u"Edit local prompt…", kSettle)));
    const bool editorActive = waitUntil(
        [] { return activeWindowTitle().startsWith("Custom "); }, kSettle);
    screenshot(QStringLiteral("prompt-editor-opened"));
    ASSERT_TRUE(editorActive) << activeWindowTitle().toStdString();
    ASSERT_TRUE(keyboard.type(u"Be brief."));
    // The editor holds the text; a resize it set off would have begun, and would be over
    // within the window's resize animation (280 ms).
    const auto pid = static_cast<platform::ProcessID>(program.pid());
    waitUntil([&] { return desktop.value(desktop.focusedOf(pid)) == u"Be brief."; }, kSettle);
    pause(600ms);
    screenshot(QStringLiteral("prompt-editor-beside-settings"));
    const auto after = windowTitled(QStringLiteral("Settings"));
    EXPECT_TRUE(sameWindow(before, after))
        << before->y << "+" << before->height << " -> " << (after ? after->y : -1) << "+"
        << (after ? after->height : -1);
    // The editor stands beside the settings (the screen is too narrow for both side by side:
    // it covers no more of them than it must), its top level with theirs.
    // (the window manager frames a window a moment after it is shown, its client area moving
    // down by the title bar; on a busy machine that moment comes late)
    std::optional<ScreenWindow> editor;
    waitUntil(
        [&] {
            editor = windowTitled(QStringLiteral("Custom "));
            return editor && editor->y == before->y;
        },
        5s);
    ASSERT_TRUE(editor);
    EXPECT_EQ(editor->y, before->y);
    EXPECT_GT(editor->x, before->x + before->width / 2)
        << editor->x << " settings " << before->x << "+" << before->width;
    ASSERT_TRUE(keyboard.tap("Escape"));
    EXPECT_TRUE(waitUntil([] { return !windowTitled(QStringLiteral("Custom ")); }, kSettle));
}

// Where the session's bus offers no accessibility bus and no keyring, start-up names neither as
// connected: the running window and standard error say they are not connected yet.
TEST_F(OwnWindows, WithoutAnAccessibilityBusOrKeyringNeitherIsNamedConnected) {
    EmptyBus bus;
    ASSERT_FALSE(bus.address().isEmpty());
    program.setEnvironment(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
    ASSERT_TRUE(program.start()) << program.errors().toStdString();
    ASSERT_TRUE(program.waitForError("ravlin: Coordinator started"))
        << program.errors().toStdString();
    const auto connected = program.errorLines("ravlin: Connected:");
    ASSERT_EQ(connected.size(), 1u) << program.errors().toStdString();
    for (const char* absent : {"accessibility", "secure input", "keychain"}) {
        EXPECT_EQ(connected.front().find(absent), std::string::npos) << connected.front();
    }
    EXPECT_NE(program.errors().indexOf("Not connected yet: accessibility, secure input, keychain."),
              -1)
        << program.errors().toStdString();
    // Stopped while its bus is still there: a bus that goes first ends it by itself (the
    // session bus's connection, once closed, terminates its process).
    EXPECT_EQ(program.stop(), 0) << program.errors().toStdString();
}

// The address of the session's accessibility bus, as its launcher tells it.
QString accessibilityBusAddress() {
    QString address;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (bus == nullptr) {
        return address;
    }
    if (GVariant* reply = g_dbus_connection_call_sync(
            bus, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", nullptr,
            G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr)) {
        const gchar* told = nullptr;
        g_variant_get(reply, "(&s)", &told);
        address = QString::fromUtf8(told);
        g_variant_unref(reply);
    }
    g_object_unref(bus);
    return address;
}

// A launcher too busy to answer at the program's start whether accessibility is on: once it
// answers, the program finds accessibility on by itself (its taps installed), though nothing
// of the switch changed meanwhile. (The program has a bus of its own, on which a stand-in for
// the launcher answers nothing about the switch until told; the accessibility bus is the
// session's.)
TEST_F(OwnWindows, AnAccessibilitySwitchThatDidNotAnswerAtStartIsAskedAgain) {
    const QString accessibilityBus = accessibilityBusAddress();
    ASSERT_FALSE(accessibilityBus.isEmpty());
    EmptyBus bus;
    ASSERT_FALSE(bus.address().isEmpty());
    QProcess launcher;
    launcher.start(QStringLiteral("/usr/bin/python3"),
                   {QStringLiteral(RAVLIN_SOURCE_DIR "/tests/desktop-e2e/busy_accessibility_launcher.py"),
                    bus.address(), accessibilityBus});
    ASSERT_TRUE(waitUntil([&] { return launcher.readAllStandardOutput().contains("ready"); }));
    program.setEnvironment(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
    program.setEnvironment(QStringLiteral("AT_SPI_BUS_ADDRESS"), accessibilityBus);
    ASSERT_TRUE(program.start()) << program.errors().toStdString();
    ASSERT_TRUE(program.waitForError("ravlin: Coordinator started"))
        << program.errors().toStdString();
    ASSERT_TRUE(program.errors().contains("Accessibility not granted yet; showing Settings"))
        << program.errors().toStdString();
    ::kill(static_cast<pid_t>(launcher.processId()), SIGUSR1);
    EXPECT_TRUE(program.waitForError("Accessibility status changed: trusted=true", kSettle))
        << program.errors().toStdString();
    EXPECT_EQ(program.stop(), 0) << program.errors().toStdString();
    endChild(launcher);
}

// The running window says "To quit, click Quit or press Ctrl+Q": Ctrl+Q while it is the active
// window ends the program, once, with no chord claimed twice.
TEST_F(OwnWindows, CtrlQInTheRunningWindowQuits) {
    ASSERT_NO_FATAL_FAILURE(launch());
    ASSERT_TRUE(waitUntil([] { return activeWindowTitle() == QStringLiteral("Ravlin"); }, kSettle))
        << activeWindowTitle().toStdString();
    ASSERT_TRUE(keyboard.chord("Control_L+q"));
    EXPECT_TRUE(waitUntil([&] { return !program.running(); }, kSettle));
    EXPECT_EQ(program.stop(), 0) << program.errors().toStdString();
    EXPECT_FALSE(program.errors().contains("Ambiguous shortcut"))
        << program.errors().toStdString();
}

// The session log's Export: with nothing on screen it leaves the person's clipboard exactly as it
// was, every format byte for byte, and says so; with lines on screen it copies them and says so.
TEST_F(OwnWindows, ExportLeavesTheClipboardWhenTheLogIsEmptyAndCopiesAFullOne) {
    settings = {{"correctionModelMode", "local"}};
    ASSERT_NO_FATAL_FAILURE(launch());
    const auto before = copyElsewhere(QStringLiteral("the person's own copy"));
    ASSERT_TRUE(openLog(program));
    const auto exportButton = findInProgram(program.pid(), "push button", u"Export", kSettle);
    ASSERT_TRUE(clickElement(exportButton));
    EXPECT_TRUE(programShows(program, u"Nothing to copy: the log is empty."));
    EXPECT_EQ(clipboardDifference(before, readClipboard()), "");

    // Lines for the log: cloud correction switched on and off from the menu (its route lines).
    for (int twice = 0; twice < 2; ++twice) {
        ASSERT_TRUE(openMenu(program));
        ASSERT_TRUE(keyboard.tap("Down"));
        ASSERT_TRUE(keyboard.tap("Down"));
        ASSERT_TRUE(keyboard.tap("Return"));
        ASSERT_TRUE(menuClosed(program));
    }
    ASSERT_TRUE(clickElement(exportButton));
    QByteArray copied;
    ASSERT_TRUE(waitUntil([&] {
        copied = readClipboard()[QStringLiteral("text/plain")];
        return copied.contains("correction_route intent=polish");
    })) << copied.toStdString();
    const auto lines = copied.count('\n') + 1;
    EXPECT_TRUE(programShows(
        program, u"Copied " + QString::number(lines).toStdU16String() + u" lines to the clipboard."));
}

// 9,000 characters pasted into a custom prompt: the editor shows the 8,000 that are stored, and
// the settings file holds the same.
TEST_F(OwnWindows, ANineThousandCharacterPromptPastedIsWhatIsStored) {
    QString pasted;
    for (int word = 0; pasted.size() < 9000; ++word) {
        pasted += QStringLiteral("word%1 ").arg(word);
    }
    pasted.truncate(9000);
    ASSERT_NO_FATAL_FAILURE(launch());
    copyElsewhere(pasted);
    ASSERT_TRUE(openSettings(u"Correction"));
    ASSERT_TRUE(clickElement(findInProgram(program.pid(), "push button", u"Edit local prompt…", kSettle)));
    ASSERT_TRUE(waitUntil([] { return activeWindowTitle().startsWith("Custom "); }, kSettle));
    const bool local = activeWindowTitle().startsWith("Custom Local");
    ASSERT_TRUE(keyboard.chord("Control_L+v"));
    const auto pid = static_cast<platform::ProcessID>(program.pid());
    const std::u16string kept = pasted.left(8000).toStdU16String();
    EXPECT_TRUE(waitUntil([&] { return desktop.value(desktop.focusedOf(pid)) == kept; }, kSettle))
        << desktop.value(desktop.focusedOf(pid)).size();
    EXPECT_TRUE(programShows(program, u"A prompt holds at most 8,000 characters"));
    screenshot(QStringLiteral("prompt-editor-cut-at-the-limit"));
    EXPECT_EQ(program.stop(), 0);
    QSettings stored(program.home() + "/.config/ravlin/ravlin.ini", QSettings::IniFormat);
    EXPECT_EQ(stored
                  .value(local ? QStringLiteral("CustomCorrectionPrompt.local.prompt")
                               : QStringLiteral("CustomCorrectionPrompt.online.prompt"))
                  .toString()
                  .toStdU16String(),
              kept);
}

// A bare letter in the Composer shortcut recorder: recording goes on, and the recorder says why.
TEST_F(OwnWindows, TheShortcutRecorderSaysWhyABareLetterIsRefused) {
    ASSERT_NO_FATAL_FAILURE(launch());
    ASSERT_TRUE(openSettings(u"Shortcuts"));
    const auto field = findInProgramWhere(
        program.pid(),
        [&](platform::ElementRef element) {
            return platform::textAttribute(*desktop.seams.accessibility, element, ax::title)
                       .value_or(u"") == u"Composer shortcut";
        },
        kSettle);
    ASSERT_TRUE(clickElement(field));
    // Recording once the click has given the recorder the keyboard.
    waitUntil(
        [&] {
            return platform::textAttribute(*desktop.seams.accessibility,
                                           desktop.focusedOf(static_cast<platform::ProcessID>(
                                               program.pid())),
                                           ax::title)
                       .value_or(u"") == u"Composer shortcut";
        },
        kSettle);
    ASSERT_TRUE(keyboard.tap("e"));
    EXPECT_TRUE(programShows(
        program, u"E alone cannot be a shortcut: hold Ctrl, Alt, Shift or Super with it."));
    screenshot(QStringLiteral("shortcut-recorder-refusal"));
    ASSERT_TRUE(keyboard.tap("Escape"));
}

// A settings file of random bytes is no settings file: the program runs on its defaults, says
// so, and leaves the file exactly as it was.
TEST_F(OwnWindows, ARandomSettingsFileIsLeftAsItWas) {
    const QByteArray random = randomBytes(2048, 0x9E3779B9);
    const QString path = program.home() + "/.config/ravlin/ravlin.ini";
    QDir().mkpath(program.home() + "/.config/ravlin");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(random);
    }
    ASSERT_TRUE(program.start()) << program.errors().toStdString();
    ASSERT_TRUE(program.waitForError("is not a settings file Ravlin understands"))
        << program.errors().toStdString();
    // A change made meanwhile lasts until the program quits and is not written over the file.
    ASSERT_TRUE(program.waitForError("ravlin: Coordinator started"));
    runningWindowUp();
    ASSERT_TRUE(openMenu(program));
    ASSERT_TRUE(keyboard.tap("Down"));
    ASSERT_TRUE(keyboard.tap("Down"));
    ASSERT_TRUE(keyboard.tap("Return"));
    ASSERT_TRUE(menuClosed(program));
    EXPECT_EQ(program.stop(), 0);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), random);
}

}  // namespace
}  // namespace ravlin::testing
