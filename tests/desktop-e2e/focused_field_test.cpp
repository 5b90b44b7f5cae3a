// The field the person is typing in, where applications leave more than one element claiming the
// focus or none: a dialog over a document, the paragraph a commit left behind, a field of GNOME
// Text Editor's own, a spreadsheet cell being edited. Driven from outside as a person drives
// them; each application is started once for the suite.

#include <gtest/gtest.h>

#include <QDateTime>
#include <QElapsedTimer>
#include <QPoint>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>

#include "core/text/unicode.h"
#include "scenarios.h"
#include "tests/desktop/desktop_apps.h"

#include <atspi/atspi-constants.h>

namespace ravlin::testing {
namespace {

using Kind = DesktopApplication::Kind;
using text::Utf16Range;

bool activeWindowBecomes(const QString& start, std::chrono::milliseconds limit = kSettle) {
    return waitUntil([&] { return activeWindowTitle().startsWith(start); }, limit);
}

class FocusedField : public ComposerScenarios {
  protected:
    // Puts `text` where the application's caret is, as pasted (no autocorrection of the
    // application's own touches it).
    bool pasteIntoFront(const std::u16string& text) {
        namespace keycode = platform::keycode;
        namespace modifier = platform::modifier;
        return desktop.seams.pasteboard->setString(text).ok() &&
               desktop.seams.keySynthesis->postKeyPress({keycode::v, modifier::command}).ok();
    }

    std::u16string focusedValue(platform::ProcessID pid) {
        return desktop.value(desktop.focusedOf(pid));
    }

    // Whether the panel stands just under or over the field, across from part of it (a panel
    // by a field near the screen's edge is kept on the screen).
    static bool nextTo(const platform::Rect& panel, const platform::Rect& field) {
        constexpr double near = 8;
        const bool below = std::abs(panel.minY() - field.maxY()) <= near;
        const bool above = std::abs(panel.maxY() - field.minY()) <= near;
        return (below || above) && panel.minX() <= field.maxX() && panel.maxX() >= field.minX();
    }

    // Super+E over the field: the Composer opens by it, seeded with `seed`, and what is typed
    // then goes to the Composer alone (the field still holds `fieldHolds`). Says how long the
    // Composer took to have the keyboard after the shortcut.
    void composerOpensByTheField(platform::ProcessID pid, const char* where,
                                 const std::u16string& seed, const std::u16string& typed,
                                 const std::u16string& fieldHolds) {
        const auto field = desktop.focusedOf(pid);
        ASSERT_TRUE(field);
        ASSERT_TRUE(movePointerTo(1270, 1010));  // far from every field
        QElapsedTimer clock;
        clock.start();
        ASSERT_TRUE(keyboard.chord("Super_L+e"));
        ASSERT_TRUE(waitUntil([&] { return bool(desktop.focusedOf(programPid())); }, kSettle))
            << program.errors().toStdString();
        std::printf("measure: %s: Super+E to the Composer with the keyboard %lld ms (E held "
                    "%lld ms)\n",
                    where, static_cast<long long>(clock.elapsed()),
                    static_cast<long long>(Keyboard::shortcutHold.count()));
        EXPECT_TRUE(focusedValueBecomes(programPid(), seed))
            << text::toUtf8(focusedValue(programPid()));
        const auto panel = composerWindow();
        ASSERT_TRUE(panel);
        const auto against = frameOf(field);
        ASSERT_TRUE(against);
        EXPECT_TRUE(nextTo(*panel, *against))
            << "panel " << describe(*panel) << ", field " << describe(*against);
        ASSERT_TRUE(keyboard.type(typed));
        EXPECT_TRUE(focusedValueBecomes(programPid(), seed + typed))
            << text::toUtf8(focusedValue(programPid()));
        EXPECT_EQ(desktop.value(field), fieldHolds);
    }
};

// LibreOffice's Set Password dialog (File, Save As, "Save with password") over a new document
// whose paragraph still says it is focused behind it, the passphrase typed into both of its
// fields with a typed pair in it ("see eeyore"), then Super+E and the Quick Fix double tap. All
// find the dialog's password field and are refused: no BackSpace reaches it (both entries still
// match, and the document is saved with them), no Composer opens, nothing is copied, and the
// document keeps its text. (LibreOffice answers its clients over a connection of its own, out of
// a bus monitor's sight: its password field is refused by its role, before any text call.)
TEST_F(FocusedField, LibreOfficesSetPasswordDialogRefusesEveryTrigger) {
    ASSERT_TRUE(openLog(program));  // (it keeps what it is shown from now on)
    auto& writer = DesktopApplication::get(Kind::writer);
    ASSERT_TRUE(writer.ready());
    ASSERT_TRUE(writer.focus());
    // A new document saves in a format that takes a password.
    ASSERT_TRUE(keyboard.chord("Control_L+n"));
    ASSERT_TRUE(activeWindowBecomes(QStringLiteral("Untitled"), 10s))
        << activeWindowTitle().toStdString();
    // (again where the new window missed the keys)
    for (int attempt = 0; attempt < 3 && focusedValue(writer.pid()) != u"Harbour"; ++attempt) {
        ASSERT_TRUE(keyboard.chord("Control_L+a"));
        ASSERT_TRUE(pasteIntoFront(u"Harbour"));
        waitUntil([&] { return focusedValue(writer.pid()) == u"Harbour"; }, 2s);
    }
    ASSERT_EQ(focusedValue(writer.pid()), u"Harbour");
    ASSERT_TRUE(keyboard.chord("Control_L+Shift_L+s"));
    ASSERT_TRUE(activeWindowBecomes(QStringLiteral("Save")));
    // (its name field has the focus, its text selected)
    const QString name =
        QStringLiteral("guarded%1").arg(QDateTime::currentMSecsSinceEpoch() % 1000000);
    ASSERT_TRUE(keyboard.type(name.toStdU16String()));
    ASSERT_TRUE(clickElement(findInProgram(writer.pid(), "check box", u"Save with password")));
    ASSERT_TRUE(clickElement(findInProgram(writer.pid(), "push button", u"Save")));
    ASSERT_TRUE(activeWindowBecomes(QStringLiteral("Set Password")))
        << activeWindowTitle().toStdString();

    const ClipboardWatch clipboard;
    for (const char* field : {"password", "confirmation"}) {
        SCOPED_TRACE(field);
        ASSERT_TRUE(keyboard.type(u"see eeyore"));
        ASSERT_TRUE(keyboard.waitForRelease());
        EXPECT_FALSE(waitUntil([&] { return bool(desktop.focusedOf(programPid())); }, 800ms))
            << "the Composer opened after the typed pair";
        if (std::string(field) == "password") {
            ASSERT_TRUE(keyboard.tap("Tab"));
        }
    }
    ASSERT_TRUE(keyboard.chord("Super_L+e"));
    EXPECT_FALSE(waitUntil([&] { return bool(desktop.focusedOf(programPid())); }, 800ms))
        << "the Composer opened over the password field";
    waitUntil([&] { return unmanagedWindowsOf(program.pid()).empty(); }, kSettle);
    ASSERT_TRUE(keyboard.doubleTap("Shift_R"));
    EXPECT_TRUE(waitUntil([&] { return !unmanagedWindowsOf(program.pid()).empty(); }, kSettle))
        << "no heads-up on screen";
    EXPECT_EQ(activeWindowTitle(), QStringLiteral("Set Password"));

    // Both entries the same: the dialog takes them and the document is saved.
    ASSERT_TRUE(keyboard.tap("Return"));
    EXPECT_TRUE(activeWindowBecomes(name))
        << "the entries no longer matched: " << activeWindowTitle().toStdString();
    EXPECT_TRUE(waitUntil([&] { return focusedValue(writer.pid()) == u"Harbour"; }))
        << text::toUtf8(focusedValue(writer.pid()));
    EXPECT_EQ(clipboard.changes(), 0) << "the clipboard changed hands";
    EXPECT_EQ(service.requestCount(), 0u);
    if (activeWindowTitle().startsWith(name)) {
        ASSERT_TRUE(keyboard.chord("Control_L+w"));  // the saved document goes
        EXPECT_TRUE(waitUntil([&] { return !activeWindowTitle().startsWith(name); }))
            << activeWindowTitle().toStdString();
    }
    ASSERT_TRUE(desktop.bringToFrontPersistently(programPid()));
    const std::string log = sessionLog(program);
    EXPECT_EQ(occurrences(log, "state=blocked trigger=hotkey"), 1u) << log;
    EXPECT_EQ(occurrences(log, "state=quick_fix_skipped trigger=quick-fix-double-tap"), 1u)
        << log;
    EXPECT_NE(log.find("reason=secure-input"), std::string::npos) << log;
    EXPECT_EQ(occurrences(log, "trigger=double-tap"), 0u) << log;
    EXPECT_EQ(occurrences(log, "state=opened"), 0u) << log;
}

// Writer with two paragraphs, the caret gone on from the first (where the last reading found the
// field) into a new one: the paragraph with the caret is the field. Quick Fix corrects it and
// leaves the first as it was, and a commit's arrival is read from it (logged as made).
TEST_F(FocusedField, WriterTheParagraphWithTheCaret) {
    ASSERT_TRUE(openLog(program));  // (it keeps what it is shown from now on)
    auto& writer = DesktopApplication::get(Kind::writer);
    ASSERT_TRUE(writer.ready());
    ASSERT_TRUE(writer.prepare(u"Harbour lights ", Utf16Range{15, 0}));
    // A commit ends when the user's clipboard is back.
    const auto commit = [&](const std::u16string& typed, const std::u16string& arrived) {
        const auto before = copyElsewhere(QStringLiteral("kept clipboard"));
        ASSERT_TRUE(openComposer());
        ASSERT_TRUE(keyboard.type(typed));
        EXPECT_TRUE(focusedValueBecomes(programPid(), typed));
        ASSERT_TRUE(keyboard.waitForRelease());
        ASSERT_TRUE(keyboard.tap("Return"));
        EXPECT_TRUE(focusedValueBecomes(writer.pid(), arrived))
            << text::toUtf8(focusedValue(writer.pid())) << "\n"
            << program.errors().toStdString();
        EXPECT_TRUE(
            waitUntil([&] { return clipboardDifference(before, readClipboard()).empty(); }));
        ASSERT_TRUE(composerClosedInto(writer.pid()));
    };
    commit(u"Calm seas", u"Harbour lights Calm seas");

    // A new paragraph (its text pasted: Writer's own autocorrection would mend it as typed).
    ASSERT_TRUE(keyboard.tap("Return"));
    ASSERT_TRUE(pasteIntoFront(u"I recieve teh mail"));
    ASSERT_TRUE(waitUntil([&] { return focusedValue(writer.pid()) == u"I recieve teh mail"; }))
        << text::toUtf8(focusedValue(writer.pid()));
    ASSERT_TRUE(keyboard.doubleTap("Shift_R"));
    ASSERT_TRUE(focusedValueBecomes(writer.pid(), u"I receive the mail", kSettle))
        << text::toUtf8(focusedValue(writer.pid())) << "\n"
        << program.errors().toStdString() << "\n"
        << sessionLog(program);
    auto& accessibility = *desktop.seams.accessibility;
    const auto document = platform::elementAttribute(accessibility, desktop.focusedOf(writer.pid()),
                                                     platform::ax::parent);
    ASSERT_TRUE(document);
    const auto paragraphs =
        platform::elementListAttribute(accessibility, *document, platform::ax::children);
    ASSERT_GE(paragraphs.size(), 2u);
    EXPECT_EQ(desktop.value(paragraphs.front()), u"Harbour lights Calm seas");

    commit(u"Far away", u"I receive the mailFar away");
    ASSERT_TRUE(desktop.bringToFrontPersistently(programPid()));
    const std::string log = sessionLog(program);
    EXPECT_EQ(occurrences(log, "state=committed"), 2u) << log;
    EXPECT_EQ(occurrences(log, "commit_sent"), 0u) << log;
    EXPECT_EQ(occurrences(log, "commit_failed"), 0u) << log;
    EXPECT_NE(log.find("state=quick_fix_opened"), std::string::npos) << log;
    // The document as the suite found it: one paragraph.
    EXPECT_TRUE(writer.prepare(u"hello world", Utf16Range{0, 0}));
}

// GNOME Text Editor's search entry (Ctrl+F) says neither that it is focused nor that it can be:
// the inner widget that has the keyboard is not on the bus. Super+E finds it all the same and
// puts the Composer beside it, seeded with what is selected there; the keys typed then go to the
// Composer, none to the entry.
TEST_F(FocusedField, GnomeTextEditorsSearchEntry) {
    auto& editor = DesktopApplication::get(Kind::textEditor);
    ASSERT_TRUE(editor.ready());
    ASSERT_TRUE(editor.prepare(u"Harbour stands here", Utf16Range{0, 7}));
    ASSERT_TRUE(keyboard.chord("Control_L+f"));
    // The search entry opens with the selection in it, selected.
    ASSERT_TRUE(waitUntil([&] { return focusedValue(editor.pid()) == u"Harbour"; }))
        << text::toUtf8(focusedValue(editor.pid()));
    composerOpensByTheField(editor.pid(), "GNOME Text Editor's search entry",
                                             u"Harbour", u" and more", u"Harbour");
    ASSERT_TRUE(keyboard.tap("Escape"));
    ASSERT_TRUE(composerClosedInto(editor.pid()));
    EXPECT_EQ(focusedValue(editor.pid()), u"Harbour");
    ASSERT_TRUE(keyboard.tap("Escape"));  // the search bar closes
}

// A Calc cell being edited: its sheet says it is focused and has more cells than can be visited;
// the paragraph of the edited cell beside it holds the caret. Super+E puts the Composer by the
// cell, and the keys typed then go to the Composer alone; Return pastes at the caret; Quick Fix
// corrects the cell. (Calc tells no selection inside a cell being edited.)
TEST_F(FocusedField, ACalcCellBeingEdited) {
    auto& calc = DesktopApplication::get(Kind::calc);
    ASSERT_TRUE(calc.ready());
    ASSERT_TRUE(desktop.bringToFrontPersistently(calc.pid()));
    // (again where Calc, only just up, missed the keys)
    for (int attempt = 0; attempt < 3 && focusedValue(calc.pid()) != u"Harbour lights"; ++attempt) {
        ASSERT_TRUE(keyboard.tap("Escape"));
        ASSERT_TRUE(keyboard.chord("Control_L+Home"));
        ASSERT_TRUE(keyboard.type(u"Harbour lights"));
        waitUntil([&] { return focusedValue(calc.pid()) == u"Harbour lights"; }, 2s);
    }
    ASSERT_EQ(focusedValue(calc.pid()), u"Harbour lights");
    const auto before = copyElsewhere(QStringLiteral("kept clipboard"));
    composerOpensByTheField(calc.pid(), "a Calc cell", u"", u"Far away", u"Harbour lights");
    ASSERT_TRUE(keyboard.waitForRelease());
    ASSERT_TRUE(keyboard.tap("Return"));
    EXPECT_TRUE(focusedValueBecomes(calc.pid(), u"Harbour lightsFar away"))
        << text::toUtf8(focusedValue(calc.pid())) << "\n"
        << program.errors().toStdString();
    // (the commit has ended once the user's clipboard is back)
    EXPECT_TRUE(waitUntil([&] { return clipboardDifference(before, readClipboard()).empty(); }));
    ASSERT_TRUE(composerClosedInto(calc.pid()));

    // (pasted: Calc's own autocorrection would mend it as typed)
    ASSERT_TRUE(pasteIntoFront(u" I recieve teh mail"));
    ASSERT_TRUE(waitUntil(
        [&] { return focusedValue(calc.pid()) == u"Harbour lightsFar away I recieve teh mail"; }));
    ASSERT_TRUE(keyboard.doubleTap("Shift_R"));
    EXPECT_TRUE(
        focusedValueBecomes(calc.pid(), u"Harbour lightsFar away I receive the mail", kSettle))
        << text::toUtf8(focusedValue(calc.pid())) << "\n"
        << program.errors().toStdString();
    ASSERT_TRUE(desktop.bringToFrontPersistently(calc.pid()));
    ASSERT_TRUE(keyboard.tap("Escape"));  // the cell as it was: empty
}

// A modal dialog the application raises by itself while the Composer is open (an entry, then a
// hidden one: a password prompt), with no key or click of the person's: the person, having typed
// in the Composer, presses Return. Nothing of the Composer's reaches the dialog, and the text is
// kept for the next opening.
TEST_F(FocusedField, AnApplicationsOwnDialogGetsNothingOfTheComposer) {
    ASSERT_TRUE(openLog(program));  // (it keeps what it is shown from now on)
    auto& gtk = *desktop.gtk;
    const auto commitsEnded = [&] { return commitEnds(shownLog(program)); };
    for (const char* kind : {"entry", "hidden"}) {
        SCOPED_TRACE(kind);
        ASSERT_TRUE(gtk.command(QStringLiteral("text line start")));
        ASSERT_TRUE(focus(gtk, QStringLiteral("line")));
        ASSERT_TRUE(gtk.command(QStringLiteral("select 5 5")));  // nothing to seed the Composer
        ASSERT_TRUE(openComposer());
        ASSERT_TRUE(keyboard.type(u"teh finish"));
        EXPECT_TRUE(focusedValueBecomes(programPid(), u"The finish"));
        ASSERT_TRUE(keyboard.waitForRelease());
        const auto dismissed = program.errorLines("dismissPanel:").size();
        const auto takenBack = program.errorLines("by itself; taken back").size();
        const auto commits = commitsEnded();
        gtk.forget();
        ASSERT_TRUE(gtk.command(QStringLiteral("dialog ") + QString::fromLatin1(kind)));
        // The dialog has the keyboard and the Composer has gone, or the Composer took the
        // keyboard back over it.
        EXPECT_TRUE(waitUntil([&] {
            return (activeWindowTitle() == QStringLiteral("gtk-target dialog") &&
                    program.errorLines("dismissPanel:").size() > dismissed) ||
                   program.errorLines("by itself; taken back").size() > takenBack;
        }));
        ASSERT_TRUE(keyboard.tap("Return"));
        // What Return did is over once the dialog has it, or once the commit it made has ended.
        EXPECT_TRUE(waitUntil([&] {
            return gtk.printed(QStringLiteral("dialog key: Return")) || commitsEnded() > commits;
        }));
        const auto took = gtk.printedAfter(QStringLiteral("dialog: "));
        std::printf("measure: a %s dialog raised over the Composer: %s\n", kind,
                    took ? "it got the Composer's text" : "nothing reached it");
        EXPECT_FALSE(took) << took->toStdString();
        ASSERT_TRUE(gtk.command(QStringLiteral("dialog close")));
        // The text was kept: the next opening shows it (and is emptied for the next round).
        ASSERT_TRUE(focus(gtk, QStringLiteral("line")));
        ASSERT_TRUE(gtk.command(QStringLiteral("select 5 5")));
        ASSERT_TRUE(openComposer());
        EXPECT_EQ(desktop.value(desktop.focusedOf(programPid())), u"The finish");
        ASSERT_TRUE(keyboard.chord("Control_L+a"));
        ASSERT_TRUE(keyboard.tap("BackSpace"));
        ASSERT_TRUE(keyboard.tap("Escape"));
        ASSERT_TRUE(composerClosedInto(gtk.pid()));
        EXPECT_EQ(fieldValue(gtk, QStringLiteral("line")), u"start");
    }
}

// Under a window manager that gives the keyboard to the window the pointer moves onto, the
// pointer moved from the Composer onto the application is the person going there: the Composer
// goes at once, never taken back.
TEST_F(FocusedField, ThePointerMovedOntoTheApplicationWhereTheKeyboardFollowsIt) {
    auto& gtk = *desktop.gtk;
    ASSERT_TRUE(focus(gtk, QStringLiteral("line")));
    ASSERT_TRUE(movePointerTo(1270, 1010));  // on no window
    const FocusFollowingThePointer following;
    ASSERT_TRUE(following.on);
    ASSERT_TRUE(openComposer());
    const auto panel = composerWindow();
    ASSERT_TRUE(panel);
    ASSERT_TRUE(movePointerTo(static_cast<int>(panel->minX() + panel->width() / 2),
                              static_cast<int>(panel->minY() + panel->height() / 2)));
    pause(400ms);  // a person's look at the Composer
    const auto dismissed = program.errorLines("dismissPanel:").size();
    // Onto the application's window, below the Composer.
    ASSERT_TRUE(movePointerTo(static_cast<int>(panel->minX()) + 20,
                              static_cast<int>(panel->maxY()) + 60));
    EXPECT_TRUE(moreLinesSay(program, "dismissPanel:", dismissed));
    EXPECT_TRUE(composerClosedInto(gtk.pid()));
    const auto takenBack = program.errorLines("by itself; taken back").size();
    std::printf("measure: the pointer moved onto the application: the Composer %s, taken back "
                "%zu times\n",
                program.errorLines("dismissPanel:").size() > dismissed ? "went" : "stayed",
                takenBack);
    EXPECT_EQ(takenBack, 0u);
    ASSERT_TRUE(movePointerTo(1270, 1010));
}

// LibreOffice Writer taking the keyboard back by itself a moment after the Composer opened over
// it (its own focus handling, late on a busy machine), the person having typed a first letter
// in the Composer: the Composer takes it back, the person types on there, and Return pastes into
// Writer.
TEST_F(FocusedField, WritersLateKeyboardIsTakenBack) {
    auto& writer = DesktopApplication::get(Kind::writer);
    ASSERT_TRUE(writer.ready());
    ASSERT_TRUE(writer.prepare(u"Harbour lights ", Utf16Range{15, 0}));
    const auto window = activeWindow();
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(openComposer());
    ASSERT_TRUE(keyboard.type(u"C"));
    EXPECT_TRUE(focusedValueBecomes(programPid(), u"C"));
    ASSERT_TRUE(keyboard.waitForRelease());
    const auto takenBack = program.errorLines("by itself; taken back").size();
    ASSERT_TRUE(focusWindowByItsOwnApplication(window));
    EXPECT_TRUE(moreLinesSay(program, "by itself; taken back", takenBack))
        << program.errors().toStdString();
    EXPECT_TRUE(programInFront(program));
    EXPECT_TRUE(waitUntil([&] { return keyboardIn(programPid()); }));
    std::printf("measure: Writer took the keyboard by itself: taken back %zu times\n",
                program.errorLines("by itself; taken back").size() - takenBack);
    ASSERT_TRUE(keyboard.type(u"alm seas"));
    EXPECT_TRUE(focusedValueBecomes(programPid(), u"Calm seas"));
    ASSERT_TRUE(keyboard.waitForRelease());
    ASSERT_TRUE(keyboard.tap("Return"));
    EXPECT_TRUE(focusedValueBecomes(writer.pid(), u"Harbour lights Calm seas"))
        << text::toUtf8(focusedValue(writer.pid()));
    ASSERT_TRUE(composerClosedInto(writer.pid()));
    EXPECT_TRUE(writer.prepare(u"hello world", Utf16Range{0, 0}));
}

// A browser's page with a text input and a password input, loaded anew for each round: the
// input clicked and typed in, a click on an empty spot of the page (the document takes a caret of
// its own), the input clicked again, Super+E half a second later, then the typed pair ("see
// eeyore") and the Quick Fix double tap; five rounds each. In the password input every one is
// refused; in the text input each opens the Composer (Super+E by the input). Where the inputs
// stand is read before each load (a bar the browser shows after a while moves the page), and
// nothing is asked of the new page's elements before the program looks, as with a person; the
// page's title says which input the keys reached. The program never asks the password input for
// its text, over the bus or the browser's private connection.
class ClickedBackIntoAnInput : public FocusedField, public ::testing::WithParamInterface<Kind> {
  protected:
    DesktopApplication& browser = DesktopApplication::get(GetParam());
    ProgramBusCalls busCalls{program};

    // The program's calls of the text interfaces of the browser's objects, from its `from`th call
    // on, by the object's role (asked of the browser now).
    std::map<int, int> textCallsByRole(std::size_t from) {
        const auto calls = busCalls.calls();
        const QString name = accessibilityBusNameOf(browser.pid());
        EXPECT_FALSE(name.isEmpty()) << "the browser is not on the accessibility bus";
        std::map<QString, int> byPath;
        for (std::size_t i = from; i < calls.size(); ++i) {
            if (calls[i].destination == name &&
                (calls[i].member.startsWith(QStringLiteral("org.a11y.atspi.Text.")) ||
                 calls[i].member.startsWith(QStringLiteral("org.a11y.atspi.EditableText.")))) {
                ++byPath[calls[i].path];
            }
        }
        std::map<int, int> byRole;
        for (const auto& [path, count] : byPath) {
            byRole[roleOnTheBus(name, path).value_or(-1)] += count;
        }
        return byRole;
    }

    // The lengths of the page's text area, text input and password input, from its title;
    // nothing where it does not tell them.
    std::optional<std::array<int, 3>> lengths() {
        const auto parts = browser.windowTitle().split(QLatin1Char(' '));
        if (parts.size() < 8 || parts[0] != QStringLiteral("page") || parts[1] != QStringLiteral("e")) {
            return std::nullopt;
        }
        return std::array{parts[5].toInt(), parts[6].toInt(), parts[7].toInt()};
    }
    // The input's text length, as the title tells it.
    int length(const QString& field) {
        const auto now = lengths();
        return now ? (*now)[field == QStringLiteral("secret") ? 2 : 1] : -1;
    }
    // The middle of the input and an empty spot of the page beside the line of text under it,
    // read now.
    std::optional<std::pair<QPoint, QPoint>> places(const QString& field) {
        const auto element = browser.pageField(field);
        const auto frame = element ? frameOf(element) : std::nullopt;
        if (!frame) {
            return std::nullopt;
        }
        const int y = static_cast<int>(frame->minY() + frame->height() / 2);
        return std::pair{QPoint(static_cast<int>(frame->minX() + frame->width() / 2), y),
                         QPoint(static_cast<int>(frame->maxX() + 150),
                                static_cast<int>(frame->maxY() + 25))};
    }
    // A new load of the page, `field` clicked and `typed` typed there (the title tells the
    // input took it), a click on the page beside it, the input clicked again; returns half a
    // second after that click.
    bool typedAndClickedBack(const QString& field, const std::u16string& typed) {
        const auto at = places(field);
        if (!at || !browser.reload()) {
            return false;
        }
        // (a click while the page still takes in its load may go nowhere: a person clicks
        // again)
        bool took = false;
        for (int click = 0; click < 3 && !took; ++click) {
            pause(300ms);
            // (all it held replaced: a browser keeps what a text input held over a reload)
            took = clickAt(at->first.x(), at->first.y()) && (pause(200ms), true) &&
                   keyboard.chord("Control_L+a") && keyboard.type(typed) &&
                   keyboard.waitForRelease() &&
                   waitUntil([&] { return length(field) == static_cast<int>(typed.size()); },
                             2s);
        }
        if (!took) {
            ADD_FAILURE() << "the keys did not reach \"" << field.toStdString() << "\": "
                          << browser.windowTitle().toStdString();
            return false;
        }
        pause(300ms);
        if (!clickAt(at->second.x(), at->second.y())) {
            return false;
        }
        pause(400ms);
        QElapsedTimer sinceClick;
        sinceClick.start();
        if (!clickAt(at->first.x(), at->first.y())) {
            return false;
        }
        pause(std::max(0ms, 500ms - std::chrono::milliseconds(sinceClick.elapsed())));
        return true;
    }
    // Whether the Composer is up; put away when it is.
    bool composerUp() {
        if (!desktop.focusedOf(programPid())) {
            return false;
        }
        EXPECT_TRUE(keyboard.tap("Escape"));
        EXPECT_TRUE(composerClosedInto(browser.pid()));
        return true;
    }
};

TEST_P(ClickedBackIntoAnInput, PasswordRefusedTextInputOpened) {
    ASSERT_TRUE(openLog(program));  // (it keeps what it is shown from now on)
    ASSERT_TRUE(browser.ready());
    ASSERT_TRUE(browser.open('e'));
    const QString secret = QStringLiteral("secret");
    constexpr int rounds = 5;
    int superE = 0;
    int doubleTap = 0;
    int quickFix = 0;
    int passwordTextCalls = 0;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE("password input, round " + std::to_string(round));
        waitUntil([&] { return unmanagedWindowsOf(program.pid()).empty(); }, kSettle);
        const auto callsBefore = busCalls.calls().size();
        ASSERT_TRUE(typedAndClickedBack(secret, u"pw4lock"));
        {
            const auto looks = program.errorLines("openPanel: snapshot").size();
            ASSERT_TRUE(keyboard.chord("Super_L+e"));
            moreLinesSay(program, "openPanel: snapshot", looks);
            const bool refused =
                waitUntil([&] { return !unmanagedWindowsOf(program.pid()).empty(); }, kSettle) &&
                !composerUp();
            EXPECT_TRUE(refused) << program.errors().toStdString();
            superE += refused;
            waitUntil([&] { return unmanagedWindowsOf(program.pid()).empty(); }, kSettle);
        }
        {
            ASSERT_TRUE(keyboard.type(u"see eeyore"));
            ASSERT_TRUE(keyboard.waitForRelease());
            // (a refused pair leaves no line: a Composer would be up well within this; the
            // whole pair in the password input says the keyboard stayed there)
            const bool up = waitUntil([&] { return bool(desktop.focusedOf(programPid())); }, 800ms);
            const bool refused =
                !composerUp() && !up && waitUntil([&] { return length(secret) == 17; });
            EXPECT_TRUE(refused) << browser.windowTitle().toStdString();
            doubleTap += refused;
        }
        {
            ASSERT_TRUE(keyboard.doubleTap("Shift_R"));
            const bool refused =
                waitUntil([&] { return !unmanagedWindowsOf(program.pid()).empty(); }, kSettle) &&
                !composerUp() && length(secret) == 17;
            EXPECT_TRUE(refused) << browser.windowTitle().toStdString();
            quickFix += refused;
        }
        // (before the next load: the page's objects still answer)
        const int onPassword = textCallsByRole(callsBefore)[ATSPI_ROLE_PASSWORD_TEXT];
        EXPECT_EQ(onPassword, 0);
        passwordTextCalls += onPassword;
    }
    std::printf("measure: %s password input clicked back into, %d rounds: refused Super+E %d, "
                "double tap %d, Quick Fix %d; text calls on the password input %d\n",
                browser.name().c_str(), rounds, superE, doubleTap, quickFix, passwordTextCalls);

    const QString other = QStringLiteral("other");
    int opened = 0;
    int beside = 0;
    int pairs = 0;
    int quickFixes = 0;
    int inputTextCalls = 0;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE("text input, round " + std::to_string(round));
        waitUntil([&] { return unmanagedWindowsOf(program.pid()).empty(); }, kSettle);
        const auto callsBefore = busCalls.calls().size();
        ASSERT_TRUE(typedAndClickedBack(other, u"We walk"));
        if (openComposer()) {
            ++opened;
            const auto panel = composerWindow();
            const auto field = frameOf(browser.pageField(other));
            ASSERT_TRUE(panel && field);
            EXPECT_TRUE(nextTo(*panel, *field))
                << "panel " << describe(*panel) << ", field " << describe(*field);
            beside += nextTo(*panel, *field);
            ASSERT_TRUE(composerUp());
        }
        {
            ASSERT_TRUE(keyboard.type(u" see "));
            ASSERT_TRUE(waitUntil([&] { return length(other) == 12; }))
                << browser.windowTitle().toStdString();
            ASSERT_TRUE(keyboard.tap("e"));
            ASSERT_TRUE(keyboard.tap("e"));
            const bool open = programInFront(program) &&
                              waitUntil([&] { return bool(desktop.focusedOf(programPid())); });
            EXPECT_TRUE(open) << browser.windowTitle().toStdString();
            pairs += open;
            composerUp();
            // (the pair taken back)
            EXPECT_TRUE(waitUntil([&] { return length(other) == 12; }))
                << browser.windowTitle().toStdString();
        }
        {
            const auto openings = occurrences(shownLog(program), "state=quick_fix_opened");
            ASSERT_TRUE(keyboard.doubleTap("Shift_R"));
            const bool open = waitUntil(
                [&] { return occurrences(shownLog(program), "state=quick_fix_opened") > openings; },
                kSettle);
            EXPECT_TRUE(open) << shownLog(program);
            quickFixes += open;
            // (with nothing to fix, the Composer stays with the text: put away)
            waitUntil([&] { return bool(desktop.focusedOf(programPid())); }, 2s);
            composerUp();
        }
        // (the record sees the program's reads of a browser's input: those of the password
        // input above would have been seen)
        inputTextCalls += textCallsByRole(callsBefore)[ATSPI_ROLE_ENTRY];
    }
    std::printf("measure: %s text input clicked back into, %d rounds: Composer opened by "
                "Super+E %d (beside the input %d), double tap %d, Quick Fix %d; text calls on "
                "the input %d\n",
                browser.name().c_str(), rounds, opened, beside, pairs, quickFixes, inputTextCalls);
    EXPECT_GT(inputTextCalls, 0);
    EXPECT_EQ(opened, rounds);
    EXPECT_EQ(pairs, rounds);
    EXPECT_EQ(quickFixes, rounds);
    const std::string log = sessionLog(program);
    EXPECT_EQ(occurrences(log, "state=blocked trigger=hotkey"), std::size_t{rounds}) << log;
    EXPECT_EQ(occurrences(log, "state=quick_fix_skipped trigger=quick-fix-double-tap"),
              std::size_t{rounds})
        << log;
    EXPECT_EQ(occurrences(log, "reason=secure-input"), std::size_t{2 * rounds}) << log;
    EXPECT_EQ(occurrences(log, "secure_input=false role=AXTextField"), std::size_t{2 * rounds})
        << log;
}

INSTANTIATE_TEST_SUITE_P(Browsers, ClickedBackIntoAnInput,
                         ::testing::Values(Kind::firefoxOnSite, Kind::chromiumOnSite),
                         [](const auto& info) {
                             return info.param == Kind::chromiumOnSite ? "Chromium" : "Firefox";
                         });

}  // namespace
}  // namespace ravlin::testing
