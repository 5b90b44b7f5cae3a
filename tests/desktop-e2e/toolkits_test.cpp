// Every toolkit a Linux desktop has, in applications people use, driven as a person drives
// them: Super+E over a selection opens the Composer beside it holding its text, Return writes
// exactly what the Composer holds over it (a second line shaped as the field shapes a pasted
// one), Quick Fix corrects the field in place, the typed double tap opens the Composer and
// leaves no E behind; and their password fields are refused every way, with no key of ours
// reaching them. Each application is started once for the suite.

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include <QClipboard>
#include <QGuiApplication>

#include "core/text/unicode.h"
#include "scenarios.h"
#include "tests/desktop/desktop_apps.h"

namespace ravlin::testing {
namespace {

using Kind = DesktopApplication::Kind;
using text::Utf16Range;

// A text field of one toolkit: in an application people use, or the suite's GTK 4 window.
struct Field {
    const char* name;
    std::optional<Kind> kind;  // none: the GTK 4 window
    QString field;
    // What a line break pasted into the field becomes ("\n" where it takes several lines, a
    // space in a single line); none: the Composer's text is kept to one line there.
    std::optional<std::u16string> lineBreak;
};

void PrintTo(const Field& field, std::ostream* out) {
    *out << field.name;
}

class Toolkits : public ComposerScenarios, public ::testing::WithParamInterface<Field> {
  protected:
    platform::ProcessID pid() {
        return GetParam().kind ? DesktopApplication::get(*GetParam().kind).pid()
                               : desktop.gtk4->pid();
    }

    // The field in front, holding `text` with `selection` selected.
    platform::ElementRef prepare(const std::u16string& text, Utf16Range selection) {
        if (GetParam().kind) {
            return DesktopApplication::get(*GetParam().kind)
                .prepare(text, selection, GetParam().field);
        }
        auto& app = *desktop.gtk4;
        const QString field = GetParam().field;
        if (!app.command(QStringLiteral("text %1 %2").arg(field, QString::fromStdU16String(text)))) {
            return {};
        }
        const auto found = focus(app, field);
        return found && app.command(QStringLiteral("select %1 %2")
                                        .arg(selection.location)
                                        .arg(selection.end()))
                   ? found
                   : platform::ElementRef{};
    }

    std::u16string value() { return desktop.value(desktop.focusedOf(pid())); }

    // The whole document as the application copies it (Ctrl+A, Ctrl+C): Writer's focused
    // element is only the paragraph with the caret.
    std::u16string copiedDocument() {
        const ClipboardWatch news;
        if (!keyboard.chord("Control_L+a") || !keyboard.chord("Control_L+c") ||
            !waitUntil([&] { return news.changes() > 0; })) {
            return u"<no copy>";
        }
        std::u16string copied;
        waitUntil([&] {
            copied = QGuiApplication::clipboard()->text().toStdU16String();
            return !copied.empty();
        });
        return copied;
    }

    // Where the field's selection stands on the screen (y down): the selected text's bounds; where
    // a toolkit gives no bounds for a range (GTK 4), the caret's at its end; where it gives none
    // for characters at all (GTK 4's entries), the field's.
    std::optional<platform::Rect> placeOfSelection(platform::ElementRef field) {
        if (const auto bounds = selectionBounds(field)) {
            return bounds;
        }
        auto& accessibility = *desktop.seams.accessibility;
        const auto range = platform::rangeAttribute(accessibility, field, ax::selectedTextRange);
        const auto caret =
            range ? accessibility.parameterizedAttribute(
                        field, ax::boundsForRange,
                        platform::AttributeValue(Utf16Range{range->end(), 0}))
                  : platform::Expected<platform::AttributeValue>(platform::Error{});
        if (caret.hasValue()) {
            return std::get<platform::Rect>(*caret);
        }
        return frameOf(field);
    }
};

TEST_P(Toolkits, TheComposerQuickFixAndTheDoubleTapWorkThere) {
    // (the log's window opened before Writer first comes up: it keeps what it is shown from now
    // on, and a window coming up takes the menu's keys)
    const bool writer = GetParam().kind == Kind::writer;
    if (writer) {
        ASSERT_TRUE(openLog(program));
    }
    if (GetParam().kind) {
        ASSERT_TRUE(DesktopApplication::get(*GetParam().kind).ready());
    }
    {
        SCOPED_TRACE("Super+E beside the selection, Return exact");
        const auto field = prepare(u"Harbour stands here", Utf16Range{8, 6});
        ASSERT_TRUE(field);
        const auto before = copyElsewhere(QStringLiteral("kept clipboard"));
        ASSERT_TRUE(movePointerTo(1270, 1010));  // far from every field
        const ClipboardWatch clipboard;
        ASSERT_TRUE(openComposer());
        EXPECT_TRUE(focusedValueBecomes(programPid(), u"stands"))
            << text::toUtf8(desktop.value(desktop.focusedOf(programPid())));
        const auto panel = composerWindow();
        ASSERT_TRUE(panel);
        // (read while the panel shows: LibreOffice tells its paragraphs' places afresh only once
        // its window has moved or lost the front)
        const auto against = placeOfSelection(field);
        ASSERT_TRUE(against);
        EXPECT_TRUE(besideSelection(*panel, *against))
            << "panel " << describe(*panel) << ", selection " << describe(*against);
        EXPECT_EQ(clipboard.changes(), 0) << "the clipboard changed hands\n" << program.errors().toStdString();
        screenshot(QStringLiteral("composer-beside-selection-") +
                   QString::fromLatin1(GetParam().name).replace(QLatin1Char(' '), QLatin1Char('-')));
        ASSERT_TRUE(keyboard.chord("Control_L+a"));
        ASSERT_TRUE(keyboard.type(u"teh finish"));
        EXPECT_TRUE(focusedValueBecomes(programPid(), u"The finish"));
        // A second line (Shift+Return), which the field shapes as it shapes any pasted text:
        // arrived once, seen there, never left to be pasted again.
        const auto& lineBreak = GetParam().lineBreak;
        if (lineBreak) {
            ASSERT_TRUE(keyboard.chord("Shift_L+Return"));
            ASSERT_TRUE(keyboard.type(u"Line two."));
            EXPECT_TRUE(focusedValueBecomes(programPid(), u"The finish\nLine two."));
        }
        ASSERT_TRUE(keyboard.waitForRelease());
        ASSERT_TRUE(keyboard.tap("Return"));
        const std::u16string expected =
            u"Harbour The finish" + (lineBreak ? *lineBreak + u"Line two." : u"") + u" here";
        if (writer) {
            // (a paragraph of its own: the focused element is the second one)
            EXPECT_TRUE(focusedValueBecomes(pid(), u"Line two. here"))
                << text::toUtf8(value()) << "\n"
                << program.errors().toStdString();
        } else {
            EXPECT_TRUE(focusedValueBecomes(pid(), expected))
                << text::toUtf8(value()) << "\n"
                << program.errors().toStdString();
        }
        EXPECT_TRUE(waitUntil([&] { return clipboardDifference(before, readClipboard()).empty(); }))
            << clipboardDifference(before, readClipboard());
        ASSERT_TRUE(composerClosedInto(pid()));
        if (writer) {
            const auto document = text::toUtf8(copiedDocument());
            EXPECT_EQ(occurrences(document, "Harbour The finish"), 1u) << document;
            EXPECT_EQ(occurrences(document, "Line two. here"), 1u) << document;
            // Seen arriving in its two paragraphs, not only taken.
            ASSERT_TRUE(desktop.bringToFrontPersistently(programPid()));
            const std::string log = sessionLog(program);
            EXPECT_NE(log.find("state=committed method=paste"), std::string::npos) << log;
        }
    }
    // Quick Fix in GNOME Text Editor, KWrite, Writer and Chromium's input runs in the desktop
    // suite (tests_desktop WriteBackInApplications: the whole document and the caret exact), and
    // in KWrite and Chromium below as a person runs the program.
    if (!GetParam().kind || GetParam().kind == Kind::firefox) {
        // (its last word too, as Return would correct it)
        SCOPED_TRACE("Quick Fix");
        ASSERT_TRUE(prepare(u"I recieve teh mail, I dont", Utf16Range{26, 0}));
        const ManagedWindowsWatch panels(program.pid());
        ASSERT_TRUE(keyboard.doubleTap("Shift_R"));
        EXPECT_TRUE(focusedValueBecomes(pid(), u"I receive the mail, I don't"))
            << text::toUtf8(value()) << "\n"
            << program.errors().toStdString();
        // The Quick Fix runs on a moment after the text shows (its checks, the caret put back);
        // a person's next trigger comes after it (one meanwhile starts nothing).
        quickFixEnded(panels);
    }
    if (GetParam().kind == Kind::kwrite || GetParam().kind == Kind::chromium) {
        // As a person runs the program: the session log closed, the clipboard held by another
        // program, or by nobody. Every try is corrected.
        for (const bool owned : {true, false}) {
            for (int attempt = 1; attempt <= 5; ++attempt) {
                SCOPED_TRACE(std::string("Quick Fix, the clipboard ") +
                             (owned ? "another program's" : "nobody's") + ", try " +
                             std::to_string(attempt));
                ASSERT_TRUE(prepare(u"I recieve teh mail", Utf16Range{18, 0}));
                if (owned) {
                    copyElsewhere(QStringLiteral("kept clipboard"));
                } else {
                    ASSERT_TRUE(leaveClipboardWithoutOwner());
                }
                const ManagedWindowsWatch panels(program.pid());
                ASSERT_TRUE(keyboard.doubleTap("Shift_R"));
                EXPECT_TRUE(focusedValueBecomes(pid(), u"I receive the mail"))
                    << text::toUtf8(value()) << "\n"
                    << program.errors().toStdString();
                quickFixEnded(panels);  // (as above)
            }
        }
    }
    {
        SCOPED_TRACE("the typed double tap");
        const auto field = prepare(u"Harbour", Utf16Range{7, 0});
        ASSERT_TRUE(field);
        ASSERT_TRUE(keyboard.tap("space"));
        ASSERT_TRUE(waitUntil([&] { return desktop.value(field) == u"Harbour "; }));
        doubleTapOpensTheComposer(pid(), [&] { return desktop.value(field); });
    }
}

INSTANTIATE_TEST_SUITE_P(
    People, Toolkits,
    ::testing::Values(
        Field{"GNOME Text Editor", Kind::textEditor, QStringLiteral("document"), u"\n"},
        Field{"GTK 4 Entry", std::nullopt, QStringLiteral("line")},
        Field{"KWrite", Kind::kwrite, QStringLiteral("document"), u"\n"},
        Field{"LibreOffice Writer", Kind::writer, QStringLiteral("document"), u"\n"},
        Field{"Chromium textarea", Kind::chromium, QStringLiteral("area"), u"\n"},
        Field{"Chromium input", Kind::chromium, QStringLiteral("line"), u" "},
        Field{"Firefox textarea", Kind::firefox, QStringLiteral("area")},
        Field{"Firefox input", Kind::firefox, QStringLiteral("line")}),
    [](const auto& info) {
        std::string name = info.param.name;
        std::erase(name, ' ');
        return name;
    });

// LibreOffice without a toolkit plugin of its desktop's has no accessibility at all (its own
// X11 backend offers none): the program treats it as any application without it. Super+E opens
// the Composer empty, by the pointer, after no copy (nothing tells whether the field is a
// password field); Quick Fix says it could not read the field.
TEST_F(ComposerScenarios, WriterWithoutItsToolkitPluginIsAnApplicationWithoutAccessibility) {
    ASSERT_TRUE(openLog(program));  // (it keeps what it is shown from now on)
    auto& writer = DesktopApplication::get(Kind::plainWriter);
    ASSERT_TRUE(writer.ready());
    ASSERT_FALSE(desktop.seams.accessibility->applicationElement(writer.pid()).hasValue());
    ASSERT_TRUE(desktop.bringToFrontPersistently(writer.pid()));
    const ClipboardWatch clipboard;
    ASSERT_TRUE(openComposer());
    EXPECT_TRUE(focusedValueBecomes(programPid(), u""));
    ASSERT_TRUE(keyboard.tap("Escape"));
    EXPECT_TRUE(waitUntil([&] { return !desktop.focusedOf(programPid()); }, kSettle));
    ASSERT_TRUE(desktop.bringToFrontPersistently(writer.pid()));
    waitUntil([&] { return unmanagedWindowsOf(program.pid()).empty(); }, kSettle);
    ASSERT_TRUE(keyboard.doubleTap("Shift_R"));
    EXPECT_TRUE(waitUntil([&] { return !unmanagedWindowsOf(program.pid()).empty(); }, kSettle))
        << "no heads-up on screen";
    EXPECT_EQ(clipboard.changes(), 0) << "the clipboard changed hands";
    // The Quick Fix's end, as the log's window shows it.
    programShows(program, u"state=quick_fix_");
    ASSERT_TRUE(desktop.bringToFrontPersistently(programPid()));
    const std::string log = sessionLog(program);
    EXPECT_NE(log.find("role=? selection_source=none"), std::string::npos) << log;
    EXPECT_NE(log.find("anchor: mouse fallback"), std::string::npos) << log;
    EXPECT_NE(log.find("state=quick_fix_"), std::string::npos) << log;
}

// The password fields of GTK 4 (PasswordEntries, one with its text shown by its peek button, and
// Entries with their visibility off, which the bus shows as plain text, masked with bullets, a
// letter, nothing, a space and an emoji) and of a web page (a password input, one whose "show
// password" made it a text input after the program had seen it, in Chromium and Firefox, and a
// field masked by its style alone, as PIN pages do), typed into as a person types a passphrase:
// Super+E opens no Composer over them, the typed pair "ee" is left as typed (no BackSpace),
// Quick Fix is refused with the heads-up, no copy chord reaches them (the clipboard never changes
// hands), and nothing that could answer with GTK 4's text is ever asked of it: GTK 4 answers its
// hidden entries' real text to GetText, and a PasswordEntry's displayed line shows it while
// peeked (a password role is never asked for its line).
TEST_F(ComposerScenarios, PasswordFieldsOfEveryToolkitAreRefused) {
    auto& chromium = DesktopApplication::get(Kind::chromium);
    ASSERT_TRUE(chromium.ready());
    auto& firefox = DesktopApplication::get(Kind::firefox);
    ASSERT_TRUE(firefox.ready());
    struct Password {
        const char* name;
        platform::ProcessID pid;
        // Focused with something in it, selected, so that typing replaces it (an empty GTK 4
        // Entry with its visibility off shows nothing that tells it: see the README).
        std::function<bool()> focusFilled;
        // What the field holds, as the application says it (never read over accessibility).
        std::function<bool(const QString& typed)> holds;
        // Whether a BackSpace or a copy chord reached it.
        std::function<bool()> gotOurKeys;
        // Refused by its role alone: not even its displayed line is asked for.
        bool byRole = false;
        // Super+E pressed once more before it was filled (while it was a password input).
        bool seenBefore = false;
    };
    const auto gtk4Field = [&](const char* title, const char* field, bool byRole = false) {
        const QString name = QString::fromLatin1(field);
        return Password{
            title,
            desktop.gtk4->pid(),
            [this, name] {
                // (focused, GTK selects its whole text)
                return desktop.gtk4->command(QStringLiteral("text ") + name +
                                             QStringLiteral(" pass")) &&
                       bool(focus(*desktop.gtk4, name));
            },
            [this, name](const QString& typed) {
                return desktop.gtk4->printed(name + QStringLiteral(": ") + typed);
            },
            [this, name] {
                return desktop.gtk4->printed(name + QStringLiteral(" key: BackSpace")) ||
                       desktop.gtk4->printed(name + QStringLiteral(" key: Ctrl+c"));
            },
            byRole};
    };
    const auto webField = [&](const char* title, DesktopApplication& browser, const char* field) {
        const QString name = QString::fromLatin1(field);
        return Password{
            title, browser.pid(),
            // (filled as a person fills it: the field masked by its style shows nothing that
            // tells it before it holds something)
            [&, name] {
                return bool(browser.focus(name)) && keyboard.chord("Control_L+a") &&
                       keyboard.type(u"pass") &&
                       waitUntil([&] {
                           return browser.windowTitle().startsWith(name + QStringLiteral(" 4"));
                       }) &&
                       keyboard.chord("Control_L+a");
            },
            [&, name](const QString& typed) {
                return browser.windowTitle().startsWith(
                    QStringLiteral("%1 %2").arg(name).arg(typed.size()));
            },
            [] { return false; }};
    };
    // A password input the program has seen as one (Super+E refused over it), then shown by the
    // page's "show password": a text input holding the password in clear.
    const auto shownField = [&](const char* title, DesktopApplication& browser) {
        return Password{
            title, browser.pid(),
            [&] {
                const auto says = [&](const char* words) {
                    const bool said = waitUntil([&] {
                        return browser.windowTitle().startsWith(QString::fromLatin1(words));
                    });
                    EXPECT_TRUE(said) << "the page says " << browser.windowTitle().toStdString();
                    return said;
                };
                const auto looks = program.errorLines("openPanel: snapshot").size();
                if (!browser.focus(QStringLiteral("shown")) || !keyboard.tap("F7") ||
                    !keyboard.chord("Control_L+a") || !keyboard.type(u"pass") ||
                    !says("shown 4 password") || !keyboard.chord("Super_L+e")) {
                    return false;
                }
                // Refused or not once the program has looked at the field (a line says what it
                // saw); a Composer would be up a moment after.
                moreLinesSay(program, "openPanel: snapshot", looks);
                waitUntil([&] { return bool(desktop.focusedOf(programPid())); }, 800ms);
                EXPECT_FALSE(desktop.focusedOf(programPid()))
                    << "the Composer opened over the password input";
                return !desktop.focusedOf(programPid()) && keyboard.tap("F8") &&
                       says("shown 4 text") && keyboard.chord("Control_L+a");
            },
            [&](const QString& typed) {
                return browser.windowTitle().startsWith(
                    QStringLiteral("shown %1 text").arg(typed.size()));
            },
            [] { return false; }, false, true};
    };
    const std::vector<Password> fields = {
        gtk4Field("GTK 4 PasswordEntry", "password", true),
        gtk4Field("GTK 4 PasswordEntry peeked", "peeked", true),
        gtk4Field("GTK 4 hidden Entry masked with bullets", "hidden"),
        gtk4Field("GTK 4 hidden Entry masked with a letter", "lettered"),
        gtk4Field("GTK 4 hidden Entry showing nothing", "zeroed"),
        gtk4Field("GTK 4 hidden Entry masked with a space", "spaced"),
        gtk4Field("GTK 4 hidden Entry masked with an emoji", "locked"),
        webField("Chromium password input", chromium, "password"),
        webField("Chromium input masked by its style", chromium, "pin"),
        shownField("Chromium password input shown", chromium),
        shownField("Firefox password input shown", firefox),
    };
    const ClipboardWatch clipboard;
    AccessibilityCalls gtk4Calls(desktop.gtk4->pid());
    ASSERT_TRUE(gtk4Calls.ready()) << "no monitor of the accessibility bus";
    std::size_t blocked = 0;
    for (const auto& field : fields) {
        SCOPED_TRACE(field.name);
        const auto callsBefore = gtk4Calls.calls().size();
        ASSERT_TRUE(field.focusFilled());
        blocked += field.seenBefore ? 2 : 1;
        desktop.gtk4->forget();
        const auto looks = program.errorLines("openPanel: snapshot").size();
        ASSERT_TRUE(keyboard.chord("Super_L+e"));
        // Refused or not once the program has looked at the field (a line says what it saw).
        moreLinesSay(program, "openPanel: snapshot", looks);
        EXPECT_FALSE(waitUntil([&] { return bool(desktop.focusedOf(programPid())); }, 800ms))
            << "the Composer opened over the password field";
        ASSERT_TRUE(keyboard.type(u"my "));
        pause(800ms);
        ASSERT_TRUE(keyboard.type(u"ee"));
        ASSERT_TRUE(keyboard.waitForRelease());
        EXPECT_FALSE(waitUntil([&] { return bool(desktop.focusedOf(programPid())); }, 800ms))
            << "the Composer opened after the typed pair";
        EXPECT_TRUE(waitUntil([&] { return field.holds(QStringLiteral("my ee")); }));
        waitUntil([&] { return unmanagedWindowsOf(program.pid()).empty(); }, kSettle);
        ASSERT_TRUE(keyboard.doubleTap("Shift_R"));
        EXPECT_TRUE(waitUntil([&] { return !unmanagedWindowsOf(program.pid()).empty(); }, kSettle))
            << "no heads-up on screen";
        EXPECT_FALSE(field.gotOurKeys());
        if (field.pid == desktop.gtk4->pid()) {
            // What of its text interface was asked meanwhile, for the record.
            const auto calls = gtk4Calls.calls();
            std::map<std::string, int> asked;
            for (auto call = calls.begin() + static_cast<std::ptrdiff_t>(callsBefore);
                 call != calls.end(); ++call) {
                if (const auto at = call->find("Text."); at != std::string::npos) {
                    ++asked[call->substr(at)];
                }
                if (field.byRole) {
                    EXPECT_EQ(call->find("Text.GetStringAtOffset"), std::string::npos) << *call;
                }
            }
            std::string said;
            for (const auto& [call, times] : asked) {
                said += " " + call + " x" + std::to_string(times);
            }
            std::printf("measure: %s: text calls:%s\n", field.name,
                        said.empty() ? " none" : said.c_str());
        }
    }
    EXPECT_EQ(clipboard.changes(), 0) << "the clipboard changed hands";
    EXPECT_EQ(service.requestCount(), 0u);
    // Only the displayed line (GetStringAtOffset, by line) and what is not text.
    for (const auto& call : gtk4Calls.calls()) {
        for (const char* reading : {"Text.GetText", "Text.GetCharacterAtOffset",
                                    "Text.GetAttributeRun", "Text.GetBoundedRanges",
                                    "EditableText."}) {
            EXPECT_EQ(call.find(reading), std::string::npos) << call;
        }
    }
    ASSERT_TRUE(desktop.bringToFrontPersistently(programPid()));
    const std::string log = sessionLog(program);
    EXPECT_EQ(occurrences(log, "state=blocked trigger=hotkey"), blocked) << log;
    // (a refused pair says nothing: no line tells which kind of field held the letters)
    EXPECT_EQ(occurrences(log, "trigger=double-tap"), 0u) << log;
    EXPECT_EQ(occurrences(log, "state=opened"), 0u) << log;
}

// An ordinary GTK 4 entry showing only what the person just typed into it, one letter repeated
// as a hidden entry's mask would be: the typed pair at the start of the empty entry opens the
// Composer and takes away only itself; Super+E after one letter opens it over the letter.
TEST_F(ComposerScenarios, Gtk4EntryShowingWhatThePersonTypedIsNoPasswordField) {
    auto& app = *desktop.gtk4;
    const QString line = QStringLiteral("line");
    {
        SCOPED_TRACE("the typed pair at the start of an empty entry");
        ASSERT_TRUE(app.command(QStringLiteral("text line")));
        ASSERT_TRUE(focus(app, line));
        app.forget();
        ASSERT_TRUE(keyboard.tap("e"));
        ASSERT_TRUE(keyboard.tap("e"));
        EXPECT_TRUE(programInFront(program) &&
                    waitUntil([&] { return bool(desktop.focusedOf(programPid())); }, kSettle))
            << "no Composer after the double tap\n"
            << program.errors().toStdString();
        EXPECT_TRUE(app.printed(QStringLiteral("line: ee")));
        EXPECT_TRUE(waitUntil([&] { return app.printed(QStringLiteral("line: ")); }))
            << "the taps were left in the entry";
        ASSERT_TRUE(keyboard.tap("Escape"));
        ASSERT_TRUE(composerClosedInto(app.pid()));
    }
    {
        SCOPED_TRACE("Super+E after one letter");
        ASSERT_TRUE(app.command(QStringLiteral("text line")));
        ASSERT_TRUE(focus(app, line));
        app.forget();
        ASSERT_TRUE(keyboard.type(u"I"));
        ASSERT_TRUE(waitUntil([&] { return app.printed(QStringLiteral("line: I")); }));
        ASSERT_TRUE(keyboard.waitForRelease());
        ASSERT_TRUE(openComposer());
        ASSERT_TRUE(keyboard.tap("Escape"));
        ASSERT_TRUE(composerClosedInto(app.pid()));
        EXPECT_FALSE(app.printed(QStringLiteral("line: "))) << "the letter was taken away";
    }
}

// GTK 4 entries hidden with a letter, showing a line the person's keys could have typed and did
// not: one masked with "a" that showed the "aaaa" the person typed there, now holding another
// password of that length that the application put there ("Zq9k", shown "aaaa"); and one full
// (at most 6 characters, "Zq9kXY" shown "xxxxxx") into which the person types "xxxxxx", keys it
// does not take. Super+E, the typed double tap and Quick Fix are each refused over both, and
// nothing that could answer with the text is asked of GTK 4.
TEST_F(ComposerScenarios, Gtk4EntriesShowingALineThePersonDidNotTypeThereAreRefused) {
    auto& app = *desktop.gtk4;
    // The field in front, focused, holding `text`, the caret at its end.
    const auto ready = [&](const QString& field, const QString& text) {
        return app.command((QStringLiteral("text %1 %2").arg(field, text)).trimmed()) &&
               desktop.bringToFrontPersistently(app.pid()) &&
               app.command(QStringLiteral("focus ") + field) &&
               app.command(QStringLiteral("select %1 %1").arg(text.size())) &&
               waitUntil([&] { return keyboardIn(app.pid()); });
    };
    AccessibilityCalls calls(app.pid());
    ASSERT_TRUE(calls.ready()) << "no monitor of the accessibility bus";
    {
        SCOPED_TRACE("\"aaaa\" typed by the person into the entry masked with \"a\"");
        ASSERT_TRUE(ready(QStringLiteral("masked"), QString()));
        ASSERT_TRUE(keyboard.type(u"aaaa"));
        ASSERT_TRUE(waitUntil([&] { return app.printed(QStringLiteral("masked: aaaa")); }));
        ASSERT_TRUE(keyboard.waitForRelease());
        const auto before = calls.calls().size();
        const bool opened = openComposer();
        // (what the opening asked of GTK 4, for the figures)
        std::printf("measure: GTK 4 entry, Super+E: %zu calls on the bus\n",
                    calls.calls().size() - before - 1);

        ASSERT_TRUE(opened);
        ASSERT_TRUE(keyboard.tap("Escape"));
        ASSERT_TRUE(composerClosedInto(app.pid()));
    }
    const auto openingCalls = calls.calls().size();
    enum class Action { superE, doubleTap, quickFix };
    struct Case {
        const char* name;
        QString field;
        QString text;
        std::u16string typedFirst;
    };
    std::size_t refusals = 0;
    for (const Case& c : {
             Case{"masked with \"a\", \"Zq9k\" put there", QStringLiteral("masked"),
                  QStringLiteral("Zq9k"), u""},
             Case{"full, \"xxxxxx\" typed", QStringLiteral("full"), QStringLiteral("Zq9kXY"),
                  u"xxxxxx"},
         }) {
        for (const auto action : {Action::superE, Action::doubleTap, Action::quickFix}) {
            SCOPED_TRACE(std::string(c.name) + (action == Action::superE      ? ", Super+E"
                                                : action == Action::doubleTap ? ", double tap"
                                                                              : ", Quick Fix"));
            ASSERT_TRUE(ready(c.field, c.text));
            app.forget();
            ASSERT_TRUE(keyboard.type(c.typedFirst));
            ASSERT_TRUE(keyboard.waitForRelease());
            waitUntil([&] { return unmanagedWindowsOf(program.pid()).empty(); }, kSettle);
            bool refused = false;
            if (action == Action::superE) {
                const auto looks = program.errorLines("openPanel: snapshot").size();
                ASSERT_TRUE(keyboard.chord("Super_L+e"));
                moreLinesSay(program, "openPanel: snapshot", looks);
                refused = waitUntil([&] { return !unmanagedWindowsOf(program.pid()).empty(); },
                                    kSettle) &&
                          !desktop.focusedOf(programPid());
            } else if (action == Action::doubleTap) {
                ASSERT_TRUE(keyboard.type(u"ee"));
                ASSERT_TRUE(keyboard.waitForRelease());
                // (a refused pair leaves no line: a Composer would be up well within this)
                refused = !waitUntil([&] { return bool(desktop.focusedOf(programPid())); }, 800ms);
            } else {
                ASSERT_TRUE(keyboard.doubleTap("Shift_R"));
                refused = waitUntil([&] { return !unmanagedWindowsOf(program.pid()).empty(); },
                                    kSettle) &&
                          !desktop.focusedOf(programPid());
            }
            EXPECT_TRUE(refused);
            refusals += refused;
            if (desktop.focusedOf(programPid())) {
                ASSERT_TRUE(keyboard.tap("Escape"));
                ASSERT_TRUE(composerClosedInto(app.pid()));
            }
            EXPECT_FALSE(app.printed(c.field + QStringLiteral(" key: BackSpace")));
            EXPECT_FALSE(app.printed(c.field + QStringLiteral(" key: Ctrl+c")));
        }
    }
    std::printf("measure: GTK 4 entries showing a line not typed there: %zu of 6 refused\n",
                refusals);
    const auto asked = calls.calls();
    for (auto call = asked.begin() + static_cast<std::ptrdiff_t>(openingCalls); call != asked.end();
         ++call) {
        for (const char* reading : {"Text.GetText", "Text.GetCharacterAtOffset",
                                    "Text.GetAttributeRun", "Text.GetBoundedRanges",
                                    "EditableText."}) {
            EXPECT_EQ(call->find(reading), std::string::npos) << *call;
        }
    }
    EXPECT_EQ(service.requestCount(), 0u);
}

// A GTK 4 entry masked with a regional indicator (two of them show as one flag), holding one to
// eight characters: Super+E is refused with its heads-up every time, and nothing that could
// answer with its text is asked of it.
TEST_F(ComposerScenarios, Gtk4EntryMaskedWithARegionalIndicatorIsRefusedAtEveryLength) {
    auto& app = *desktop.gtk4;
    AccessibilityCalls calls(app.pid());
    ASSERT_TRUE(calls.ready()) << "no monitor of the accessibility bus";
    for (int length = 1; length <= 8; ++length) {
        SCOPED_TRACE(length);
        ASSERT_TRUE(
            app.command(QStringLiteral("text flagged ") + QString(length, QLatin1Char('p'))));
        ASSERT_TRUE(focus(app, QStringLiteral("flagged")));
        // (the last one's heads-up gone: this one's is news)
        ASSERT_TRUE(
            waitUntil([&] { return unmanagedWindowsOf(program.pid()).empty(); }, 2 * kSettle));
        ASSERT_TRUE(keyboard.chord("Super_L+e"));
        EXPECT_TRUE(waitUntil([&] { return !unmanagedWindowsOf(program.pid()).empty(); }, kSettle))
            << "no heads-up on screen";
        EXPECT_FALSE(desktop.focusedOf(programPid())) << "the Composer opened";
    }
    for (const auto& call : calls.calls()) {
        for (const char* reading :
             {"Text.GetText", "Text.GetCharacterAtOffset", "Text.GetAttributeRun",
              "Text.GetBoundedRanges", "EditableText."}) {
            EXPECT_EQ(call.find(reading), std::string::npos) << call;
        }
    }
}

}  // namespace
}  // namespace ravlin::testing
