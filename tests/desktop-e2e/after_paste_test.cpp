// After the paste, as a person meets it: a text a terminal took is never offered again; a window
// that names no process is a target like any other; a terminal that reports its caret where it
// is not gets the Composer by its terminal all the same.

#include <gtest/gtest.h>
#include <signal.h>

#include <QProcess>
#include <optional>
#include <string>

#include "core/text/unicode.h"
#include "e2e_harness.h"
#include "scenarios.h"
#include "tests/desktop/desktop_fixture.h"
#include "tests/support/x_properties.h"  // last: Xlib

namespace ravlin::testing {
namespace {

// The process a window names in _NET_WM_PID, as the X server has it; none when it names none.
std::optional<unsigned long> namedProcess(std::uint64_t window) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return std::nullopt;
    }
    const auto pid = cardinalsOf(display, static_cast<Window>(window),
                                 XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 1);
    XCloseDisplay(display);
    return pid.size() == 1 ? std::optional(pid.front()) : std::nullopt;
}

// The title of the active window, as the X server has it.
std::string activeWindowTitle() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return {};
    }
    const auto active =
        cardinalsOf(display, DefaultRootWindow(display),
                    XInternAtom(display, "_NET_ACTIVE_WINDOW", False), XA_WINDOW, 1);
    std::string title = active.size() == 1 ? titleOf(display, active.front()) : std::string();
    XCloseDisplay(display);
    return title;
}

// A two-line text committed into a terminal is in the terminal's hands once its own client has
// taken it (a terminal may ask the person about a paste with line breaks: that is the
// terminal's, in front of them): it is told as sent, and the next Super+E opens an empty
// Composer, never the text again. What cat writes is the text, once.
TEST_F(ComposerScenarios, ATwoLineCommitIntoATerminalIsNeverOfferedAgain) {
    ASSERT_TRUE(openLog(program));  // it records while it is open
    copyElsewhere(QStringLiteral("kept clipboard"));
    std::size_t commits = 0;
    for (const auto& [name, command, execute] :
         {std::tuple{"xterm", QStringLiteral("xterm"), QStringLiteral("-e")},
          std::tuple{"sakura", QStringLiteral("sakura"), QStringLiteral("-x")}}) {
        SCOPED_TRACE(name);
        CatTerminal terminal(command, {}, execute, std::string_view(name) == "sakura");
        ASSERT_TRUE(terminal.ready());
        ASSERT_TRUE(openComposer());
        ASSERT_TRUE(keyboard.type(u"First line here."));
        ASSERT_TRUE(keyboard.chord("Shift_L+Return"));
        ASSERT_TRUE(keyboard.type(u"Second line."));
        ASSERT_TRUE(keyboard.waitForRelease());
        EXPECT_TRUE(focusedValueBecomes(programPid(), u"First line here.\nSecond line."))
            << text::toUtf8(desktop.value(desktop.focusedOf(programPid())));
        const auto terminalInFront = [&] {
            return waitUntil(
                [&] {
                    const auto front = desktop.seams.workspace->frontmostApplication();
                    return front && front->pid == terminal.pid();
                },
                kSettle);
        };
        ASSERT_TRUE(keyboard.chord("Return"));
        ASSERT_TRUE(terminalInFront());
        // The paste's pause and the put-back are over once the user's clipboard is back.
        EXPECT_TRUE(waitUntil(
            [&] {
                return readClipboard()[QStringLiteral("text/plain")] ==
                       QByteArray("kept clipboard");
            },
            kSettle));
        // The commit is over (its draft kept or not) once the log says how it ended.
        ++commits;
        EXPECT_TRUE(waitUntil([&] {
            const std::string log = shownLog(program);
            return occurrences(log, "state=committed ") + occurrences(log, "state=commit_sent ") +
                       occurrences(log, "state=commit_failed ") >=
                   commits;
        })) << shownLog(program);
        // (a draft is in the Composer's editor before it takes the keyboard)
        ASSERT_TRUE(openComposer());
        EXPECT_EQ(desktop.value(desktop.focusedOf(programPid())), u"")
            << "the Composer holds the text the terminal took";
        ASSERT_TRUE(keyboard.chord("Escape"));
        EXPECT_TRUE(terminalInFront());
        // Ctrl+D goes to the terminal once it has the keyboard.
        EXPECT_TRUE(waitUntil([&] { return keyboardIn(terminal.pid()); }));
        EXPECT_EQ(terminal.flushed().toStdString(), "First line here.\nSecond line.");
    }
    const std::string log = sessionLog(program);
    EXPECT_EQ(occurrences(log, "state=commit_sent method=paste reason=arrival-unconfirmed"), 2u)
        << log;
    EXPECT_EQ(occurrences(log, "state=reopened"), 0u) << log;
}

// A window that names no process (_NET_WM_PID unset, as Eterm leaves it) is found by the X
// client that made it: the Composer pastes into it like into any other, and the program never
// takes itself for the target.
TEST_F(ComposerScenarios, AWindowThatNamesNoProcessIsATargetLikeAnyOther) {
    ASSERT_TRUE(openLog(program));
    const auto before = copyElsewhere(QStringLiteral("kept clipboard"));
    TargetApp unnamed("GTK window without a process", QStringLiteral("/usr/bin/python3"),
                      {QStringLiteral(RAVLIN_GTK_TARGET), QStringLiteral("--no-pid")});
    ASSERT_TRUE(unnamed.pid());
    ASSERT_TRUE(waitUntil(
        [&] { return desktop.seams.accessibility->applicationElement(unnamed.pid()).hasValue(); },
        20s));
    ASSERT_TRUE(unnamed.command(QStringLiteral("text line start end")));
    // In front as the window manager put it there (it maps new windows focused): the suite's
    // own way to bring a window forward goes by the process the window names.
    ASSERT_TRUE(waitUntil([&] { return activeWindowTitle() == "gtk-target without pid"; }, 10s))
        << activeWindowTitle();
    ASSERT_TRUE(unnamed.command(QStringLiteral("focus line")));
    ASSERT_TRUE(waitUntil([&] { return bool(desktop.focusedOf(unnamed.pid())); }, kSettle));
    const auto window = desktop.seams.workspace->frontmostWindow();
    ASSERT_TRUE(window);
    EXPECT_EQ(namedProcess(*window), std::nullopt) << "the window names its process";
    ASSERT_TRUE(unnamed.command(QStringLiteral("select 6 9")));
    ASSERT_TRUE(openComposer());
    EXPECT_TRUE(focusedValueBecomes(programPid(), u"end"));
    ASSERT_TRUE(keyboard.type(u" works"));
    ASSERT_TRUE(keyboard.waitForRelease());
    EXPECT_TRUE(focusedValueBecomes(programPid(), u"End works"))
        << text::toUtf8(desktop.value(desktop.focusedOf(programPid())));
    ASSERT_TRUE(keyboard.chord("Return"));
    EXPECT_TRUE(waitUntil(
        [&] { return desktop.value(desktop.focusedOf(unnamed.pid())) == u"start End works"; },
        kSettle))
        << text::toUtf8(desktop.value(desktop.focusedOf(unnamed.pid())));
    // The commit is over once the user's clipboard is back.
    EXPECT_TRUE(waitUntil([&] { return clipboardDifference(before, readClipboard()).empty(); }))
        << clipboardDifference(before, readClipboard());
    ASSERT_TRUE(composerClosedInto(unnamed));
    const std::string log = sessionLog(program);
    EXPECT_EQ(occurrences(log, "state=committed method=paste"), 1u) << log;
    EXPECT_EQ(occurrences(log, "target=ravlin"), 0u) << log;
}

// Konsole reports its caret from its terminal's corner, not the screen's: a caret outside the
// element it belongs to is no caret. The Composer opens by the terminal, as where a terminal
// reports no caret at all; not by the pointer, far from it, nor at the screen's corner.
TEST_F(ComposerScenarios, ACaretKonsoleReportsOutsideItsTerminalPlacesTheComposerByTheTerminal) {
    QProcess konsole;
    konsole.setStandardOutputFile(QProcess::nullDevice());
    konsole.setStandardErrorFile(QProcess::nullDevice());
    konsole.start(QStringLiteral("konsole"), {QStringLiteral("--separate")});
    ASSERT_TRUE(konsole.waitForStarted(10000));
    const auto pid = static_cast<platform::ProcessID>(konsole.processId());
    ASSERT_TRUE(waitUntil([&] { return desktop.bringToFrontPersistently(pid); }, 20s));
    platform::ElementRef terminal;
    ASSERT_TRUE(waitUntil([&] { return bool(terminal = desktop.focusedOf(pid)); }, 20s));
    // The caret a few lines down and along, off the terminal's own corner.
    for (int line = 0; line < 4; ++line) {
        ASSERT_TRUE(keyboard.tap("Return"));
    }
    ASSERT_TRUE(keyboard.type(u"echo"));
    ASSERT_TRUE(keyboard.waitForRelease());
    const auto area = frameOf(terminal);
    ASSERT_TRUE(area);
    ASSERT_TRUE(movePointerTo(1270, 1010));  // far from the terminal
    ASSERT_TRUE(openComposer());
    const auto panel = composerWindow();
    ASSERT_TRUE(panel);
    EXPECT_TRUE(besideSelection(*panel, *area))
        << "panel " << describe(*panel) << ", terminal " << describe(*area);
    screenshot(QStringLiteral("composer-by-konsole"));
    ASSERT_TRUE(keyboard.chord("Escape"));
    // (the Composer gone before Konsole goes)
    EXPECT_TRUE(waitUntil([&] { return !desktop.focusedOf(programPid()); }));
    konsole.terminate();
    if (!konsole.waitForFinished(5000)) {
        konsole.kill();
        konsole.waitForFinished(5000);
    }
}

}  // namespace
}  // namespace ravlin::testing
