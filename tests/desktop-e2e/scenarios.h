#pragma once

// The fixtures of the end-to-end scenarios: the real `ravlin` on a headless desktop, driven only
// from outside as a person would drive it (keys through XTest, results read from the target
// applications over AT-SPI, from the clipboard, and from what the program says: stderr and its
// session-log window), with the stand-in correction service configured.

#include <gtest/gtest.h>

#include <QDateTime>
#include <algorithm>
#include <array>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "core/text/unicode.h"
#include "correction_service.h"
#include "e2e_harness.h"
#include "tests/desktop/desktop_fixture.h"

namespace ravlin::testing {

namespace ax = platform::ax;

// How long a result may take to show: however slow a loaded desktop is, bounded only against a
// hang.
constexpr std::chrono::milliseconds kSettle = kHangWatchdog;

// How often `part` stands in `text`.
inline std::size_t occurrences(const std::string& text, std::string_view part) {
    std::size_t found = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++found;
    }
    return found;
}

// The session log's lines that end a Composer's commit, empty ones included.
inline std::size_t commitEnds(const std::string& log) {
    std::size_t ends = 0;
    for (const char* state : {"state=committed ", "state=commit_failed ", "state=commit_sent ",
                              "state=commit_partial ", "state=commit_skipped "}) {
        ends += occurrences(log, state);
    }
    return ends;
}

// While alive, the session's window manager gives the keyboard to the window the pointer moves
// onto (`on` says whether it took the setting).
struct FocusFollowingThePointer {
    bool on = setFocusFollowsPointer(true, kSettle);
    ~FocusFollowingThePointer() { EXPECT_TRUE(setFocusFollowsPointer(false, kSettle)); }
};

// What stderr must never hold, whatever the scenario.
inline void expectNoSanitizerReport(RavlinProgram& program) {
    for (const char* report :
         {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:"}) {
        EXPECT_FALSE(program.errors().contains(report)) << program.errors().toStdString();
    }
}

class EndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(desktop.gtk->pid() && desktop.qt->pid()) << "the targets did not start";
    }

    // Puts text and an image on the clipboard from the Qt target, as a person copies in another
    // application, and reads it back once this process has also had the news of it (a watch
    // started afterwards would otherwise count the copy as a change of hands).
    ClipboardContents copyElsewhere(const QString& text) {
        const ClipboardWatch news;
        EXPECT_TRUE(desktop.qt->command(QStringLiteral("copy ") + text));
        ClipboardContents contents;
        EXPECT_TRUE(waitUntil([&] {
            contents = readClipboard();
            return news.changes() > 0 && contents[QStringLiteral("text/plain")] == text.toUtf8();
        }));
        return contents;
    }

    // Brings the target to the front (asking again while it does not come: a window manager
    // may pass over one activation after another program's window went) and focuses its field.
    // (Desktop::focus also checks the fields' first texts, which these scenarios replace.)
    platform::ElementRef focus(TargetApp& app, const QString& field) {
        if (!desktop.bringToFrontPersistently(app.pid()) ||
            !app.command(QStringLiteral("focus ") + field)) {
            return {};
        }
        // (the GTK 4 window's hidden fields are password fields too)
        const std::u16string role = Desktop::roleOf(field);
        platform::ElementRef found;
        waitUntil([&] {
            found = desktop.focusedOf(app.pid());
            return found &&
                   platform::textAttribute(*desktop.seams.accessibility, found, ax::role) == role;
        });
        return found;
    }

    std::u16string fieldValue(TargetApp& app, const QString& field) {
        return desktop.value(focus(app, field));
    }

    // Whether `pid`'s focused element holds `text` within `limit`.
    bool focusedValueBecomes(platform::ProcessID pid, const std::u16string& text,
                             std::chrono::milliseconds limit = kSettle) {
        return waitUntil([&] { return desktop.value(desktop.focusedOf(pid)) == text; }, limit);
    }

    // A program that found accessibility not answering yet at start (a busy machine) shows
    // Settings and installs its taps once accessibility answers: a person goes on after both,
    // or the settings window, mapped late, takes the front from the window they went to and the
    // first shortcut finds no tap or opens over the program itself.
    void settledAfterStart(RavlinProgram& program) {
        if (!program.errors().contains("Accessibility not granted yet; showing Settings")) {
            return;
        }
        EXPECT_TRUE(program.waitForError("Accessibility status changed: trusted=true", kSettle))
            << program.errors().toStdString();
        EXPECT_TRUE(waitUntil(
            [&] { return activeWindowTitle().startsWith(QStringLiteral("Settings")); }, kSettle));
    }

    // Whether the program has a window in front (the Composer, the heads-up...).
    bool programInFront(RavlinProgram& program) {
        return waitUntil(
            [&] {
                const auto front = desktop.seams.workspace->frontmostApplication();
                return front && front->pid == program.pid();
            },
            kSettle);
    }

    // Whether any element of the program's windows names or holds `text` (a bounded walk).
    bool programShows(RavlinProgram& program, const std::u16string& text) {
        auto& accessibility = *desktop.seams.accessibility;
        return static_cast<bool>(findInProgramWhere(
                   program.pid(),
                   [&](platform::ElementRef element) {
                       return std::ranges::any_of(
                           std::array{ax::title, ax::value}, [&](const auto name) {
                               return platform::textAttribute(accessibility, element, name)
                                          .value_or(u"")
                                          .find(text) != std::u16string::npos;
                           });
                   },
                   kSettle));
    }

    // Opens the program's menu as a person does where the desktop has no tray: the running
    // window's "Menu" button (its window shows when the program is started again). The menu
    // is a popup of its own on screen: a window of the program's that was not there before the
    // click. The menu opened here before is gone first (a click while it is still open would
    // only close it).
    bool openMenu(RavlinProgram& program) {
        if (!menuClosed(program)) {
            return false;
        }
        const auto before = unmanagedWindowsOf(program.pid());
        auto button = findInProgram(program.pid(), "push button", u"Menu");
        if (!clickElement(button)) {
            if (!program.startAgain()) {
                return false;
            }
            button = findInProgram(program.pid(), "push button", u"Menu");
            if (!clickElement(button)) {
                return false;
            }
        }
        return waitUntil(
            [&] {
                for (const auto& window : unmanagedWindowsOf(program.pid())) {
                    if (std::ranges::none_of(before, [&](const ScreenWindow& was) {
                            return was.id == window.id;
                        })) {
                        menu_ = {program.pid(), window.id};
                        return true;
                    }
                }
                return false;
            },
            kSettle);
    }
    // Waits until the menu openMenu opened last is off the screen (an item chosen, Escape): what
    // its item does has been done by then.
    bool menuClosed(RavlinProgram& program) {
        return menu_.first != program.pid() ||
               waitUntil(
                   [&] {
                       return std::ranges::none_of(
                           unmanagedWindowsOf(program.pid()),
                           [&](const ScreenWindow& window) { return window.id == menu_.second; });
                   },
                   kSettle);
    }

    // Waits until stderr holds more lines with `text` than the `before` it held (a count of
    // errorLines(text) taken earlier); whether it did.
    bool moreLinesSay(RavlinProgram& program, const QByteArray& text, std::size_t before) {
        return waitUntil([&] { return program.errorLines(text).size() > before; }, kSettle);
    }

    // Waits until the Quick Fix set off since `panels` began watching the program's windows has
    // ended: its panel (a window of the program's own) was on screen and has gone.
    bool quickFixEnded(const ManagedWindowsWatch& panels) {
        return waitUntil(
            [&] { return panels.most() > panels.first() && panels.now() <= panels.first(); },
            kSettle);
    }

    // Opens the session log's window from the menu: with no correction issue on its first
    // line, "Open Log" is the third item ("Open Composer", "Use Cloud AI Correction", "Open
    // Log"), reached from the keyboard. (The menu's popup is not on the accessibility bus.)
    bool openLog(RavlinProgram& program) {
        if (findInProgram(program.pid(), "push button", u"Export", 100ms)) {
            return true;
        }
        if (!openMenu(program)) {
            return false;
        }
        for (int step = 0; step < 3; ++step) {
            if (!keyboard.tap("Down")) {
                return false;
            }
        }
        return keyboard.tap("Return") &&
               bool(findInProgram(program.pid(), "push button", u"Export", kSettle));
    }

    // The session log as its window shows it, through its "Export" button (which puts exactly
    // the text on screen on the clipboard); the window is opened from the menu the first time,
    // and brought to the front before the click (another window may cover it: the click would
    // land there).
    std::string sessionLog(RavlinProgram& program) {
        if (!openLog(program) || !activateWindowTitled(QStringLiteral("Session Log"), kSettle)) {
            return {};
        }
        const QByteArray before = readClipboard()[QStringLiteral("text/plain")];
        if (!clickElement(findInProgram(program.pid(), "push button", u"Export"))) {
            return {};
        }
        QByteArray text;
        waitUntil([&] {
            text = readClipboard()[QStringLiteral("text/plain")];
            return text != before && !text.isEmpty();
        });
        return text.toStdString();
    }

    // The session log as its window shows it now, read over accessibility (the clipboard
    // untouched); empty when the window is not open.
    std::string shownLog(RavlinProgram& program) {
        auto& accessibility = *desktop.seams.accessibility;
        const auto value = [&](platform::ElementRef element) {
            return platform::textAttribute(accessibility, element, ax::value).value_or(u"");
        };
        const auto view = findInProgramWhere(
            program.pid(),
            [&](platform::ElementRef element) {
                return value(element).find(u" uptime=") != std::u16string::npos;
            },
            100ms);
        return view ? text::toUtf8(value(view)) : std::string();
    }

    Desktop& desktop = Desktop::get();
    Keyboard keyboard;

  private:
    std::pair<qint64, unsigned long> menu_;  // the program, and its menu's window
};

// The program's own windows as a person meets them: the program with cloud correction on and no
// route to any cloud service (unless the test stores other settings), its running window up.
class OwnWindows : public EndToEnd {
  protected:
    void TearDown() override {
        if (program.running()) {
            EXPECT_EQ(program.stop(), 0) << program.errors().toStdString();
        }
        expectNoSanitizerReport(program);
    }

    void launch() {
        program.writeSettings(settings);
        ASSERT_TRUE(program.start()) << program.errors().toStdString();
        ASSERT_TRUE(program.waitForError("ravlin: Coordinator started"))
            << program.errors().toStdString();
        // Start-up says nothing but the program's own lines: no warning of the toolkit's.
        for (const auto& line : program.errorLines("")) {
            EXPECT_TRUE(line.empty() || line.starts_with("ravlin: ") ||
                        line.starts_with("io.quen.ravlin."))
                << line;
        }
        runningWindowUp();
    }

    // The running window takes the front once mapped: a person goes on once it is active, with
    // the keyboard.
    void runningWindowUp() {
        findInProgram(program.pid(), "push button", u"Quit", 5s);
        waitUntil(
            [&] {
                return activeWindowTitle() == QStringLiteral("Ravlin") &&
                       keyboardIn(static_cast<platform::ProcessID>(program.pid()));
            },
            kSettle);
    }

    // The settings from the running window's menu by their shortcut, on the pane `pane`.
    bool openSettings(std::u16string_view pane) {
        if (!openMenu(program) || !keyboard.chord("Control_L+comma") ||
            !findInProgram(program.pid(), "filler", u"Settings", kSettle)) {
            return false;
        }
        for (const char* role : {"toggle button", "push button", "check box", "radio button"}) {
            if (const auto item = findInProgram(program.pid(), role, pane, 200ms)) {
                return clickElement(item);
            }
        }
        return false;
    }

    std::map<std::string, std::string> settings{{"correctionModelMode", "online"}};
    RavlinProgram program;
};

// The program started on the session's desktop with the stand-in service configured and
// `settings` stored, ready for a person's keys.
class ComposerScenarios : public EndToEnd {
  protected:
    void SetUp() override {
        EndToEnd::SetUp();
        service.replace("recieve", "receive");
        service.configure(program);
        program.writeSettings(settings);
        ASSERT_TRUE(program.start()) << program.errors().toStdString();
        // The triggers are registered once the coordinator has started.
        ASSERT_TRUE(program.waitForError("ravlin: Coordinator started"))
            << program.errors().toStdString();
        settledAfterStart(program);
        // Where the desktop has no tray the running window opens at start; it takes the front
        // once mapped, and a person uses another window only after it came up: active, with the
        // keyboard.
        findInProgram(program.pid(), "push button", u"Quit", 5s);
        programInFront(program);
        waitUntil([&] { return keyboardIn(programPid()); }, kSettle);
    }
    void TearDown() override {
        EXPECT_EQ(program.stop(), 0) << program.errors().toStdString();
        expectNoSanitizerReport(program);
    }

    // Super+E as a person presses it (E held `hold`), then waits until the Composer's editor has
    // the keyboard focus (keys typed before that would go nowhere) and looks at it for a moment,
    // as a person does before typing: a panel that does not open, or goes away by itself, fails
    // the scenario.
    // (Another window of the program, the session log's, may hold a focus of its own: the
    // Composer's is a new one.)
    bool openComposer(std::chrono::milliseconds hold = Keyboard::shortcutHold) {
        const auto before = desktop.focusedOf(programPid());
        const bool opened = keyboard.chord("Super_L+e", hold) && programInFront(program) &&
                            waitUntil(
                                [&] {
                                    const auto focused = desktop.focusedOf(programPid());
                                    return focused && focused != before;
                                },
                                kSettle);
        // Gone is the panel's window gone from the front as well: under load one reading of the
        // focus can come back empty while the panel stands.
        const bool stayed = opened && !waitUntil(
                                          [&] {
                                              const auto front =
                                                  desktop.seams.workspace->frontmostApplication();
                                              return !desktop.focusedOf(programPid()) &&
                                                     !(front && front->pid == program.pid());
                                          },
                                          400ms);
        if (!stayed) {
            // What there is to see of it: the screen, what the program said, its session log.
            screenshot(QStringLiteral("composer-did-not-open-") +
                       QString::number(QDateTime::currentMSecsSinceEpoch()));
            ADD_FAILURE() << (opened ? "the Composer went away by itself after Super+E\n"
                                     : "the Composer did not take the focus after Super+E\n")
                          << program.errors().toStdString() << "\nsession log:\n"
                          << sessionLog(program);
        }
        return stayed;
    }
    platform::ProcessID programPid() { return static_cast<platform::ProcessID>(program.pid()); }

    // The typed double tap ("e", "e") into the field `value` reads, of `pid`'s: the Composer
    // opens, Escape puts it away, and the field holds what it held before the pair.
    void doubleTapOpensTheComposer(platform::ProcessID pid,
                                   const std::function<std::u16string()>& value) {
        const auto before = value();
        ASSERT_TRUE(keyboard.tap("e"));
        ASSERT_TRUE(keyboard.tap("e"));
        EXPECT_TRUE(programInFront(program) &&
                    waitUntil([&] { return bool(desktop.focusedOf(programPid())); }, kSettle))
            << "no Composer after the double tap; the field holds \"" << text::toUtf8(value())
            << "\"\n"
            << program.errors().toStdString();
        ASSERT_TRUE(keyboard.tap("Escape"));
        ASSERT_TRUE(composerClosedInto(pid));
        EXPECT_TRUE(waitUntil([&] { return value() == before; })) << text::toUtf8(value());
    }

    // Waits until the Composer has let the focus go and `pid` has it back: a session is over
    // only then, and a shortcut pressed before that belongs to the closing one. Then a
    // person's pause between two sessions.
    bool composerClosedInto(platform::ProcessID pid) {
        const bool closed = waitUntil([&] { return !desktop.focusedOf(programPid()); }, kSettle) &&
                            waitUntil([&] { return bool(desktop.focusedOf(pid)); }, kSettle);
        pause(300ms);
        return closed;
    }
    bool composerClosedInto(TargetApp& app) { return composerClosedInto(app.pid()); }

    // The Composer's window on screen (y down), as the program's accessibility says.
    std::optional<platform::Rect> composerWindow() {
        auto& accessibility = *desktop.seams.accessibility;
        const auto window = platform::elementAttribute(
            accessibility, desktop.focusedOf(programPid()), ax::window);
        return window ? frameOf(*window) : std::nullopt;
    }
    std::optional<platform::Rect> frameOf(platform::ElementRef element) {
        auto& accessibility = *desktop.seams.accessibility;
        const auto position = accessibility.attribute(element, ax::position);
        const auto size = accessibility.attribute(element, ax::size);
        if (!position.hasValue() || !size.hasValue()) {
            return std::nullopt;
        }
        const auto* origin = std::get_if<platform::Point>(&position.value());
        const auto* extent = std::get_if<platform::Size>(&size.value());
        return origin && extent ? std::optional(platform::Rect{*origin, *extent}) : std::nullopt;
    }
    // The selected text's bounds in a field (y down), as the field's application reports them.
    std::optional<platform::Rect> selectionBounds(platform::ElementRef field) {
        auto& accessibility = *desktop.seams.accessibility;
        const auto range = platform::rangeAttribute(accessibility, field, ax::selectedTextRange);
        if (!range) {
            return std::nullopt;
        }
        const auto bounds = accessibility.parameterizedAttribute(
            field, ax::boundsForRange, platform::AttributeValue(*range));
        const auto* rect = bounds.hasValue() ? std::get_if<platform::Rect>(&bounds.value())
                                             : nullptr;
        return rect ? std::optional(*rect) : std::nullopt;
    }
    static std::string describe(const platform::Rect& rect) {
        return std::to_string(rect.minX()) + "," + std::to_string(rect.minY()) + " " +
               std::to_string(rect.width()) + "x" + std::to_string(rect.height());
    }
    // Whether the panel stands against the selection: its top edge just under it or its bottom
    // edge just over it, its left edge near the selection's (the anchor's inset and the
    // caret's place at the selection's end allowed for).
    static bool besideSelection(const platform::Rect& panel, const platform::Rect& selection) {
        constexpr double near = 8;
        const bool below = std::abs(panel.minY() - selection.maxY()) <= near;
        const bool above = std::abs(panel.maxY() - selection.minY()) <= near;
        return (below || above) && panel.minX() >= selection.minX() - 12 - near &&
               panel.minX() <= selection.maxX() + near;
    }

    // One Composer round: "end" selected in the field seeds the Composer; its text replaced by
    // typing is corrected by the local rules and pasted over the selection by Return; the
    // user's clipboard is back afterwards.
    void composerRoundWithSelection(TargetApp& app, const QString& field) {
        const auto before = copyElsewhere(QStringLiteral("kept clipboard"));
        ASSERT_TRUE(app.command(QStringLiteral("text ") + field + QStringLiteral(" start end")));
        ASSERT_TRUE(focus(app, field));
        ASSERT_TRUE(app.command(QStringLiteral("select 6 9")));
        ASSERT_TRUE(openComposer());
        EXPECT_TRUE(focusedValueBecomes(programPid(), u"end"));
        screenshot(QStringLiteral("composer-beside-caret-") + QString::fromStdString(app.name()) +
                   QLatin1Char('-') + field);
        ASSERT_TRUE(keyboard.chord("Control_L+a"));
        ASSERT_TRUE(keyboard.type(u"teh finish"));
        EXPECT_TRUE(focusedValueBecomes(programPid(), u"The finish"));
        ASSERT_TRUE(keyboard.waitForRelease());
        ASSERT_TRUE(keyboard.tap("Return"));
        EXPECT_TRUE(focusedValueBecomes(app.pid(), u"start The finish"))
            << text::toUtf8(desktop.value(desktop.focusedOf(app.pid())));
        EXPECT_TRUE(waitUntil([&] { return clipboardDifference(before, readClipboard()).empty(); }))
            << clipboardDifference(before, readClipboard());
    }

    std::map<std::string, std::string> settings;  // stored before the start
    // The hosted service's requests that carried text.
    std::size_t hostedPosts() const {
        std::size_t posts = 0;
        for (const auto& request : service.requests()) {
            posts += request.method == "POST" && request.target.ends_with("/ravlin-cloud");
        }
        return posts;
    }

    CorrectionService service;
    RavlinProgram program;
};

// The online mode on, as the tray's "Use Cloud AI Correction" leaves it: the polish goes to
// the hosted service (the stand-in).
class OnlineScenarios : public ComposerScenarios {
  protected:
    OnlineScenarios() { settings = {{"correctionModelMode", "online"}}; }
};

}  // namespace ravlin::testing
