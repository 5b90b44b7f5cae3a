// The real `ravlin` on a headless desktop, driven only from outside as a person would drive it:
// keys through XTest, results read from the target applications over AT-SPI, from the
// clipboard, from the X server (the heads-up, popups) and from what the program says (stderr and
// its session-log window). A scenario registered DISABLED_ says what it waits for; run it with
// --gtest_also_run_disabled_tests.

#include <gtest/gtest.h>

#include <QClipboard>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>

#include "core/providers/remote/remote_provider.h"
#include "core/text/unicode.h"
#include "correction_service.h"
#include "e2e_harness.h"
#include "scenarios.h"
#include "tests/desktop/desktop_fixture.h"
#include "tests/support/clipboard_tool.h"

namespace ravlin::testing {
namespace {

// --- What runs today: the program in the session, the harness's own senses

struct Configuration {
    const char* name;
    std::map<std::string, std::string> settings;
    bool service;  // the online settings in the environment
};

TEST_F(EndToEnd, TheProgramRunsAndStopsCleanlyUnderEachConfiguration) {
    CorrectionService service;
    const std::vector<Configuration> configurations = {
        {"a first start, nothing stored", {}, false},
        {"local mode with stored shortcuts",
         {{"correctionModelMode", "local"},
          {"HotKey.keyCode", "14"},
          {"HotKey.modifiers", "256"},
          {"QuickFix.enabled", "true"},
          {"QuickFix.keyCode", "60"}},
         false},
        {"online mode, the endpoint from the environment",
         {{"correctionModelMode", "online"}},
         true},
        {"online mode, the endpoint stored",
         {{"correctionModelMode", "online"},
          {"OnlineCorrection.endpoint", service.url()},
          {"OnlineCorrection.model", "stand-in-model"}},
         false},
    };
    for (const auto& configuration : configurations) {
        SCOPED_TRACE(configuration.name);
        RavlinProgram program;
        program.writeSettings(configuration.settings);
        if (configuration.service) {
            service.configure(program);
        }
        ASSERT_TRUE(program.start()) << program.errors().toStdString();
        EXPECT_EQ(program.stop(), 0) << program.errors().toStdString();
        EXPECT_TRUE(program.errors().contains("ravlin: stopping (signal 15)"));
        expectNoSanitizerReport(program);
        // What the user stored is still there, unchanged, after the program ran.
        QSettings stored(program.home() + "/.config/ravlin/ravlin.ini", QSettings::IniFormat);
        for (const auto& [key, value] : configuration.settings) {
            EXPECT_EQ(stored.value(QString::fromStdString(key)).toString().toStdString(), value)
                << key;
        }
    }
    // Nothing of the user's was sent without a correction to make: at most the hosted
    // service's connection warm-up, which carries no body.
    for (const auto& request : service.requests()) {
        EXPECT_EQ(request.method, "OPTIONS") << request.target;
        EXPECT_EQ(request.body, "") << request.target;
    }
}

TEST_F(EndToEnd, TheRunningWindowsQuitButtonClickedEndsTheProgram) {
    RavlinProgram program;
    ASSERT_TRUE(program.start()) << program.errors().toStdString();
    const auto quit = findInProgram(program.pid(), "push button", u"Quit");
    ASSERT_TRUE(quit) << "the running window (no tray here) offers no Quit button";
    screenshot(QStringLiteral("running-window"));
    ASSERT_TRUE(clickElement(quit));
    EXPECT_TRUE(waitUntil([&] { return !program.running(); }, 10s));
    EXPECT_EQ(program.stop(), 0) << program.errors().toStdString();
    expectNoSanitizerReport(program);
}

TEST_F(EndToEnd, TheClipboardIsReadByteForByteInEveryFormat) {
    const auto copied = copyElsewhere(QStringLiteral("copied élsewhere"));
    ASSERT_TRUE(copied.contains(QStringLiteral("image/png")));
    const QImage image = QImage::fromData(copied.at(QStringLiteral("image/png")), "PNG");
    EXPECT_EQ(image.size(), QSize(4, 3));
    EXPECT_EQ(image.pixel(1, 1), qRgb(10, 220, 40));
    EXPECT_EQ(clipboardDifference(copied, readClipboard()), "") << "a second read differs";

    const auto other = copyElsewhere(QStringLiteral("copied elsewhere"));
    EXPECT_NE(clipboardDifference(copied, other).find("text/plain:"), std::string::npos)
        << clipboardDifference(copied, other);
}

// What the program does around a paste: it reads every format of the user's clipboard and
// offers them again afterwards. The offer must be the one the user's application made, no more.
TEST_F(EndToEnd, TheClipboardPutBackOffersWhatItsOwnerOffered) {
    const auto copied = copyElsewhere(QStringLiteral("copied with an image"));
    const QStringList offered = clipboardTargets();
    ASSERT_TRUE(offered.contains(QStringLiteral("image/png"))) << offered.join(' ').toStdString();
    auto& pasteboard = *desktop.seams.pasteboard;
    const auto contents = readContents(pasteboard);
    const auto& items = contents.items;
    ASSERT_EQ(items.size(), 1u);
    ASSERT_TRUE(pasteboard.writeContents(contents).ok());
    EXPECT_EQ(clipboardTargets().join(' ').toStdString(), offered.join(' ').toStdString());
    for (const auto& [format, bytes] : copied) {
        if (format == QLatin1String("application/x-qt-image")) {
            continue;  // Qt's own name for the image/png above, not something the owner offered
        }
        ASSERT_TRUE(items.front().contains(format.toStdString())) << format.toStdString();
        EXPECT_EQ(
            QByteArray(reinterpret_cast<const char*>(items.front().at(format.toStdString()).data()),
                       static_cast<qsizetype>(items.front().at(format.toStdString()).size())),
            bytes)
            << format.toStdString();
    }
}

TEST_F(EndToEnd, StartingAndStoppingTheProgramLeavesTheClipboardAsItWas) {
    const auto before = copyElsewhere(QStringLiteral("the user's clipboard"));
    RavlinProgram program;
    ASSERT_TRUE(program.start()) << program.errors().toStdString();
    EXPECT_EQ(clipboardDifference(before, readClipboard()), "");
    EXPECT_EQ(program.stop(), 0) << program.errors().toStdString();
    EXPECT_EQ(clipboardDifference(before, readClipboard()), "");
}

TEST_F(EndToEnd, TheTargetsExposeTheirFieldsAndTakeTypedKeys) {
    ASSERT_TRUE(keyboard.ready());
    for (TargetApp* app : {desktop.gtk.get(), desktop.qt.get()}) {
        for (const QString& field : {QStringLiteral("line"), QStringLiteral("area")}) {
            SCOPED_TRACE(app->name() + "/" + field.toStdString());
            ASSERT_TRUE(app->command(QStringLiteral("text ") + field + QStringLiteral(" héllo")));
            ASSERT_TRUE(focus(*app, field));
            ASSERT_TRUE(keyboard.tap("End"));
            ASSERT_TRUE(keyboard.type(u" wörld ✓"));
            EXPECT_TRUE(focusedValueBecomes(app->pid(), u"h\u00e9llo w\u00f6rld \u2713"))
                << text::toUtf8(desktop.value(desktop.focusedOf(app->pid())));
        }
        // The password field says what it is and never gives its text away.
        const auto password = focus(*app, QStringLiteral("password"));
        ASSERT_TRUE(password) << app->name();
        EXPECT_NE(desktop.value(password), u"secret") << app->name();
    }
    ASSERT_TRUE(keyboard.waitForRelease());
}

TEST_F(EndToEnd, TheStockEditorExposesItsDocumentAndTakesTypedKeys) {
    StockEditor editor(QStringLiteral("a note with teh typo\n"));
    ASSERT_TRUE(editor.ready());
    platform::ElementRef document;
    ASSERT_TRUE(waitUntil([&] {
        document = desktop.focusedOf(editor.pid());
        return document && desktop.value(document) == u"a note with teh typo\n";
    }));
    EXPECT_EQ(platform::textAttribute(*desktop.seams.accessibility, document, ax::role),
              std::u16string(u"AXTextArea"));
    ASSERT_TRUE(keyboard.chord("Control_L+End"));
    ASSERT_TRUE(keyboard.type(u"more"));
    EXPECT_TRUE(focusedValueBecomes(editor.pid(), u"a note with teh typo\nmore"));
}

TEST_F(EndToEnd, AScreenshotOfTheWholeScreenIsWritten) {
    const QString path = screenshot(QStringLiteral("desktop-with-targets"));
    ASSERT_FALSE(path.isEmpty());
    const QImage image(path);
    EXPECT_EQ(image.size(), QSize(1280, 1024));
}

// The stand-in speaks the generic endpoint's wire as the program's provider reads it.
TEST_F(EndToEnd, TheStandInServiceCorrectsFailsAndStallsAsTold) {
    using Kind = QNModelCorrectionProviderResult::Kind;
    CorrectionService service;
    service.replace("teh", "the");
    QNProviderRemoteCorrection provider(
        QNProviderRemoteCorrection::Configuration(service.url(), "stand-in-model", 1.0, "remote"),
        "Correct the text.", std::nullopt, [] { return std::optional<std::string>("key"); });
    const struct {
        CorrectionService::Behaviour behaviour;
        Kind kind;
        std::string message;
    } cases[] = {
        {CorrectionService::Behaviour::correct, Kind::success, ""},
        {CorrectionService::Behaviour::fail, Kind::failed, "Online correction HTTP 500"},
        {CorrectionService::Behaviour::stall, Kind::failed, ""},
    };
    for (const auto& each : cases) {
        service.setBehaviour(each.behaviour);
        const auto result =
            provider.generateCorrection(QNModelCorrectionRequest(u"fix teh text", 200), {});
        ASSERT_EQ(result.kind(), each.kind) << (result.message() ? *result.message() : "");
        if (result.response()) {
            EXPECT_EQ(result.response()->output, u"fix the text");
        }
        if (!each.message.empty()) {
            EXPECT_EQ(*result.message(), each.message);
        }
    }
}

// --- The program at work (the fixtures are in scenarios.h)

TEST_F(ComposerScenarios, ComposerByTheShortcutWritesOverTheSelectionInQtFields) {
    for (const QString& field : {QStringLiteral("line"), QStringLiteral("area")}) {
        SCOPED_TRACE(field.toStdString());
        composerRoundWithSelection(*desktop.qt, field);
    }
}

TEST_F(ComposerScenarios, ComposerByTheShortcutWritesOverTheSelectionInGtkFields) {
    for (const QString& field : {QStringLiteral("line"), QStringLiteral("area")}) {
        SCOPED_TRACE(field.toStdString());
        composerRoundWithSelection(*desktop.gtk, field);
    }
}

TEST_F(ComposerScenarios, ComposerByTheShortcutWritesIntoTheStockEditor) {
    const auto before = copyElsewhere(QStringLiteral("kept clipboard"));
    StockEditor editor(QStringLiteral("stock "));
    ASSERT_TRUE(editor.ready());
    ASSERT_TRUE(keyboard.chord("Control_L+End"));
    ASSERT_TRUE(openComposer());
    ASSERT_TRUE(keyboard.type(u"teh end"));
    ASSERT_TRUE(keyboard.waitForRelease());
    ASSERT_TRUE(keyboard.tap("Return"));
    EXPECT_TRUE(focusedValueBecomes(editor.pid(), u"stock The end"))
        << text::toUtf8(desktop.value(desktop.focusedOf(editor.pid()))) << "\n"
        << program.errors().toStdString();
    EXPECT_TRUE(waitUntil([&] { return clipboardDifference(before, readClipboard()).empty(); }))
        << clipboardDifference(before, readClipboard());
}

// Super+E held as long as people hold it, over a selection in the stock editor and in a GTK
// entry: the panel opens beside the selection (not by the pointer, which is far away), holds the
// selected text, and the clipboard does not change hands once (no copy was needed).
TEST_F(ComposerScenarios, SuperEHeldAsPeopleHoldItOpensBesideTheSelectionWithItsText) {
    copyElsewhere(QStringLiteral("kept clipboard"));
    StockEditor editor(QStringLiteral("Harbour stands here.\nLantern stands here.\n"));
    ASSERT_TRUE(editor.ready());
    auto& accessibility = *desktop.seams.accessibility;
    struct Target {
        const char* name;
        platform::ProcessID pid;
        std::function<platform::ElementRef()> select;  // the field, its word selected
        std::u16string word;
    };
    const std::vector<Target> targets = {
        {"mousepad", editor.pid(),
         [&]() -> platform::ElementRef {
             platform::ElementRef document;
             if (!desktop.bringToFrontPersistently(editor.pid()) ||
                 !waitUntil([&] { return bool(document = desktop.focusedOf(editor.pid())); })) {
                 return {};
             }
             const auto range = platform::AttributeValue(text::Utf16Range{21, 7});
             return accessibility.setAttribute(document, ax::selectedTextRange, range).ok()
                        ? document
                        : platform::ElementRef{};
         },
         u"Lantern"},
        {"GTK entry", desktop.gtk->pid(),
         [&]() -> platform::ElementRef {
             if (!desktop.gtk->command(QStringLiteral("text line start end"))) {
                 return {};
             }
             const auto field = focus(*desktop.gtk, QStringLiteral("line"));
             return field && desktop.gtk->command(QStringLiteral("select 6 9"))
                        ? field
                        : platform::ElementRef{};
         },
         u"end"},
    };
    for (const auto& target : targets) {
        for (const auto hold : {20ms, 80ms, 150ms, 300ms}) {
            SCOPED_TRACE(std::string(target.name) + ", E held " + std::to_string(hold.count()) +
                         " ms");
            const auto field = target.select();
            ASSERT_TRUE(field);
            const auto selection = selectionBounds(field);
            ASSERT_TRUE(selection);
            ASSERT_TRUE(movePointerTo(1270, 1010));  // far from every selection
            const ClipboardWatch clipboard;
            ASSERT_TRUE(openComposer(hold));
            EXPECT_TRUE(focusedValueBecomes(programPid(), target.word))
                << text::toUtf8(desktop.value(desktop.focusedOf(programPid())));
            const auto panel = composerWindow();
            ASSERT_TRUE(panel);
            EXPECT_TRUE(besideSelection(*panel, *selection))
                << "panel " << describe(*panel) << ", selection " << describe(*selection);
            EXPECT_EQ(clipboard.changes(), 0) << "the clipboard changed hands";
            ASSERT_TRUE(keyboard.tap("Escape"));
            ASSERT_TRUE(composerClosedInto(target.pid));
        }
    }
}

// The typed double tap as a person types it (each E held 40-70 ms, pressed 60-110 ms after the
// one before): after a typed space, and on a boundary only the field can tell (an empty field
// just focused, the start of a line reached by Ctrl+End). The Composer opens, and once it is
// gone again neither E is left in the field.
TEST_F(ComposerScenarios, TheTypedDoubleTapOpensTheComposerAndLeavesNeitherTap) {
    StockEditor editor(QStringLiteral("Harbour stands here.\n"));
    ASSERT_TRUE(editor.ready());
    struct Field {
        const char* name;
        platform::ProcessID pid;
        std::function<platform::ElementRef()> ready;  // focused, the caret where the taps go
    };
    const auto targetField = [&](TargetApp& app, const char* field, const char* text,
                                 const char* caret) {
        return [&app, field, text, caret, this]() -> platform::ElementRef {
            if (!app.command(QStringLiteral("text %1 %2").arg(field, text).trimmed())) {
                return {};
            }
            const auto found = focus(app, QString::fromLatin1(field));
            return found && app.command(QStringLiteral("select %1 %1").arg(caret))
                       ? found
                       : platform::ElementRef{};
        };
    };
    const auto editorEnd = [&]() -> platform::ElementRef {
        platform::ElementRef document;
        if (!desktop.bringToFrontPersistently(editor.pid()) ||
            !waitUntil([&] { return bool(document = desktop.focusedOf(editor.pid())); }) ||
            !keyboard.chord("Control_L+End", 60ms)) {
            return {};
        }
        return document;
    };
    const std::vector<std::pair<Field, bool>> cases = {
        // (the field, whether a space is typed first)
        {{"mousepad, start of a line", editor.pid(), editorEnd}, false},
        {{"mousepad, after a space", editor.pid(), editorEnd}, true},
        {{"GTK entry, empty", desktop.gtk->pid(), targetField(*desktop.gtk, "line", "", "0")},
         false},
        {{"GTK entry, after a space", desktop.gtk->pid(),
          targetField(*desktop.gtk, "line", "start", "5")},
         true},
        {{"GTK text view, empty", desktop.gtk->pid(), targetField(*desktop.gtk, "area", "", "0")},
         false},
        {{"Qt field, empty", desktop.qt->pid(), targetField(*desktop.qt, "line", "", "0")}, false},
        {{"Qt field, after a space", desktop.qt->pid(),
          targetField(*desktop.qt, "line", "start", "5")},
         true},
    };
    for (const auto& [field, space] : cases) {
        SCOPED_TRACE(field.name);
        const auto element = field.ready();
        ASSERT_TRUE(element);
        if (space) {
            ASSERT_TRUE(keyboard.tap("space"));
        }
        ASSERT_TRUE(waitUntil([&] { return !desktop.value(element).starts_with(u"<"); }));
        doubleTapOpensTheComposer(field.pid, [&] { return desktop.value(element); });
    }
}

// "an eel" typed fast in the stock editor, the L rolled over from the second E: pressed 0-50 ms
// after that E's press, or after its release (each E held as typed). However each try comes out,
// no character is lost or split: the word stays as typed and no Composer opens, or both E's are
// gone and the Composer holds the L (the local rules may capitalize it). Nor does a key pressed
// between the take-back's look for keys that followed and the keyboard's hold reach the field
// after the BackSpaces ("an l", the Composer empty).
TEST_F(ComposerScenarios, ALetterRolledOverFromTheDoubleTapIsNeverLostOrSplit) {
    StockEditor editor(QStringLiteral(""));
    ASSERT_TRUE(editor.ready());
    ASSERT_TRUE(desktop.bringToFrontPersistently(editor.pid()));
    platform::ElementRef document;
    ASSERT_TRUE(waitUntil([&] { return bool(document = desktop.focusedOf(editor.pid())); }));
    constexpr auto held = 60ms;
    std::map<std::string, int> outcomes;
    for (const bool fromRelease : {false, true}) {
        for (const auto offset : {0ms, 10ms, 20ms, 30ms, 50ms}) {
            const std::string name = std::to_string(offset.count()) + " ms after the second E's " +
                                     (fromRelease ? "release" : "press");
            SCOPED_TRACE(name);
            ASSERT_TRUE(keyboard.chord("Control_L+a", 60ms) && keyboard.tap("BackSpace"));
            ASSERT_TRUE(waitUntil([&] { return desktop.value(document).empty(); }));
            ASSERT_TRUE(keyboard.type(u"an e"));
            const auto fired = program.errorLines("DOUBLE-TAP fired").size();
            const auto letGo = program.errorLines("DOUBLE-TAP not acted on").size();
            // The second E and the L as a fast typist rolls them, timed from the E's press.
            const auto lDown = offset + (fromRelease ? held : 0ms);
            std::vector<std::tuple<std::chrono::milliseconds, const char*, bool>> keys = {
                {0ms, "e", true}, {held, "e", false}, {lDown, "l", true}, {lDown + 50ms, "l", false}};
            std::stable_sort(keys.begin(), keys.end(),
                             [](const auto& a, const auto& b) { return std::get<0>(a) < std::get<0>(b); });
            QElapsedTimer clock;
            clock.start();
            for (const auto& [at, key, down] : keys) {
                pause(std::max(0ms, at - std::chrono::milliseconds(clock.elapsed())));
                ASSERT_TRUE(keyboard.key(key, down));
            }
            // The decision: a pair the program let go unfired says nothing, and is let go at its
            // first look at the keys, within the field's wait (150 ms) of the second E. A fired
            // one is followed by the look for a key after it, which says when it lets the pair
            // go; otherwise the taps are taken back and the Composer opens. Then, on a loaded
            // machine, the BackSpaces and the held L may still be on their way (the Composer
            // open, the L not yet in it): the outcome is what the desktop settles on, not what
            // one look at a fixed moment catches.
            const bool pairFired =
                waitUntil([&] { return program.errorLines("DOUBLE-TAP fired").size() > fired; },
                          1200ms);
            platform::ElementRef composer;
            std::u16string field;
            std::u16string typedThere;
            std::string outcome;
            waitUntil([&] {
                composer = desktop.focusedOf(programPid());
                field = desktop.value(document);
                typedThere = composer ? text::lowercased(desktop.value(composer)) : u"";
                outcome = !composer && field == u"an eel" ? "kept"
                          : composer && field == u"an " && typedThere == u"l" ? "taken"
                                                                               : "wrong";
                // (a fired pair is kept only once the program has said it let it go)
                return outcome == "taken" ||
                       (outcome == "kept" &&
                        (!pairFired ||
                         program.errorLines("DOUBLE-TAP not acted on").size() > letGo));
            }, kSettle);
            ++outcomes[outcome];
            EXPECT_NE(outcome, "wrong") << "the document holds \"" << text::toUtf8(field)
                                        << "\", the Composer "
                                        << (composer ? "\"" + text::toUtf8(typedThere) + "\""
                                                     : "none")
                                        << "\n" << program.errors().toStdString();
            std::printf("note: rollover %s: %s\n", name.c_str(), outcome.c_str());
            if (composer) {
                ASSERT_TRUE(keyboard.chord("Control_L+a", 60ms) && keyboard.tap("BackSpace") &&
                            keyboard.tap("Escape"));
                ASSERT_TRUE(composerClosedInto(editor.pid())) << program.errors().toStdString();
            }
        }
    }
    std::printf("note: rollover kept=%d taken=%d wrong=%d\n", outcomes["kept"], outcomes["taken"],
                outcomes["wrong"]);
}

// Super+E pressed 200, 400 and 700 ms after Return, while the commit still pastes and checks its
// paste: the Composer opens once the commit has ended, each time after the committed text has
// reached the stock editor, and every committed text is there in the end.
TEST_F(ComposerScenarios, SuperEDuringACommitOpensTheComposerOnceItHasEnded) {
    StockEditor editor(QStringLiteral(""));
    ASSERT_TRUE(editor.ready());
    ASSERT_TRUE(desktop.bringToFrontPersistently(editor.pid()));
    platform::ElementRef document;
    ASSERT_TRUE(waitUntil([&] { return bool(document = desktop.focusedOf(editor.pid())); }));
    ASSERT_TRUE(openComposer());
    std::u16string committed;
    for (const auto delay : {200ms, 400ms, 700ms}) {
        SCOPED_TRACE(std::to_string(delay.count()) + " ms after Return");
        const std::u16string words = u"cycle " + text::toUtf16(std::to_string(delay.count())) + u" done ";
        ASSERT_TRUE(keyboard.type(words));
        ASSERT_TRUE(keyboard.waitForRelease());
        pause(200ms);
        committed += words;
        QElapsedTimer clock;
        clock.start();
        ASSERT_TRUE(keyboard.key("Return", true));
        pause(60ms);
        ASSERT_TRUE(keyboard.key("Return", false));
        pause(delay - std::chrono::milliseconds(clock.elapsed()));
        ASSERT_TRUE(keyboard.chord("Super_L+e"));
        // Which comes first: the text in the editor, or the Composer taking the keyboard.
        bool arrived = false;
        bool opened = false;
        bool openedFirst = false;
        waitUntil(
            [&] {
                arrived = arrived || text::lowercased(desktop.value(document)) == committed;
                opened = bool(desktop.focusedOf(programPid()));
                openedFirst = openedFirst || (opened && !arrived);
                return arrived && opened;
            },
            kSettle);
        EXPECT_TRUE(opened) << "the press during the commit opened nothing\n"
                            << program.errors().toStdString();
        EXPECT_TRUE(arrived) << text::toUtf8(desktop.value(document)) << "\n"
                             << shownLog(program);
        EXPECT_FALSE(openedFirst) << "the Composer opened before the commit had ended\n"
                                  << program.errors().toStdString();
        pause(300ms);  // a person looks before typing
    }
    ASSERT_TRUE(keyboard.tap("Escape"));
    ASSERT_TRUE(composerClosedInto(editor.pid()));
    EXPECT_EQ(text::lowercased(desktop.value(document)), committed);
}

// The typed double tap right after the committed text has reached the stock editor, while the
// commit still checks its paste: it waits for the commit, as Super+E does, then takes its letters
// back and opens the Composer; no key of the person's is blamed in the session log.
TEST_F(ComposerScenarios, ATypedDoubleTapDuringACommitOpensTheComposerOnceItHasEnded) {
    StockEditor editor(QStringLiteral(""));
    ASSERT_TRUE(editor.ready());
    ASSERT_TRUE(desktop.bringToFrontPersistently(editor.pid()));
    platform::ElementRef document;
    ASSERT_TRUE(waitUntil([&] { return bool(document = desktop.focusedOf(editor.pid())); }));
    ASSERT_TRUE(openComposer());
    ASSERT_TRUE(keyboard.type(u"some words"));
    ASSERT_TRUE(keyboard.waitForRelease());
    pause(200ms);
    ASSERT_TRUE(keyboard.tap("Return"));
    ASSERT_TRUE(waitUntil([&] {
        return text::lowercased(desktop.value(document)) == u"some words";
    }, kSettle)) << text::toUtf8(desktop.value(document));
    const auto committed = desktop.value(document);
    ASSERT_TRUE(keyboard.type(u" ee"));
    EXPECT_TRUE(waitUntil([&] { return bool(desktop.focusedOf(programPid())); }, kSettle))
        << "no Composer after the double tap; the editor holds \""
        << text::toUtf8(desktop.value(document)) << "\"";
    EXPECT_TRUE(waitUntil([&] { return desktop.value(document) == committed + u" "; }))
        << text::toUtf8(desktop.value(document));
    ASSERT_TRUE(keyboard.tap("Escape"));
    ASSERT_TRUE(composerClosedInto(editor.pid()));
    const std::string log = sessionLog(program);
    EXPECT_EQ(occurrences(log, "reason=key-followed"), 0u) << log;
}

// Quick Fix by two taps of right Shift, each held as people hold it.
TEST_F(ComposerScenarios, QuickFixByHeldShiftTaps) {
    for (const auto hold : {80ms, 200ms}) {
        SCOPED_TRACE(std::to_string(hold.count()) + " ms");
        ASSERT_TRUE(desktop.gtk->command(QStringLiteral("text line I recieve teh mail")));
        ASSERT_TRUE(focus(*desktop.gtk, QStringLiteral("line")));
        const ManagedWindowsWatch panels(program.pid());
        ASSERT_TRUE(keyboard.doubleTap("Shift_R", 150ms, hold));
        EXPECT_TRUE(focusedValueBecomes(desktop.gtk->pid(), u"I receive the mail"))
            << text::toUtf8(desktop.value(desktop.focusedOf(desktop.gtk->pid())));
        // The Quick Fix runs on a moment after the text shows (its checks, the caret put back);
        // a person's next trigger comes after it (one meanwhile starts nothing).
        quickFixEnded(panels);
    }
}

TEST_F(ComposerScenarios, EscapeKeepsTheDraftAndTheNextOpeningShowsIt) {
    ASSERT_TRUE(desktop.gtk->command(QStringLiteral("text line untouched")));
    ASSERT_TRUE(focus(*desktop.gtk, QStringLiteral("line")));
    ASSERT_TRUE(openComposer());
    ASSERT_TRUE(keyboard.chord("Control_L+a"));
    ASSERT_TRUE(keyboard.type(u"a draft kept"));
    ASSERT_TRUE(keyboard.waitForRelease());
    ASSERT_TRUE(keyboard.tap("Escape"));
    ASSERT_TRUE(composerClosedInto(*desktop.gtk));
    EXPECT_TRUE(focusedValueBecomes(desktop.gtk->pid(), u"untouched"));
    ASSERT_TRUE(openComposer());
    // (the local rules capitalise the first word)
    EXPECT_TRUE(focusedValueBecomes(programPid(), u"A draft kept"))
        << text::toUtf8(desktop.value(desktop.focusedOf(programPid())));
    ASSERT_TRUE(keyboard.tap("Escape"));
}

// Ctrl+comma in the Composer: the settings window comes to the front (the running window stays
// behind it) and keeps the keyboard, though the Composer opened only a moment ago.
TEST_F(ComposerScenarios, CtrlCommaInTheComposerBringsTheSettingsForward) {
    ASSERT_TRUE(focus(*desktop.gtk, QStringLiteral("line")));
    ASSERT_TRUE(openComposer());
    const auto editor = desktop.focusedOf(programPid());
    const auto dismissed = program.errorLines("dismissPanel:").size();
    ASSERT_TRUE(keyboard.chord("Control_L+comma"));
    EXPECT_TRUE(findInProgram(program.pid(), "filler", u"Settings", kSettle));
    EXPECT_TRUE(programInFront(program));
    // The Composer, its window no longer the active one, decides then: it is put away (a line on
    // stderr says so), after which nothing more is to come of it.
    moreLinesSay(program, "dismissPanel:", dismissed);
    EXPECT_NE(desktop.focusedOf(programPid()), editor) << "the Composer took the keyboard back";
    // The window manager stacks it (for the screenshot alone).
    waitUntil([] { return false; }, 400ms);
    screenshot(QStringLiteral("settings-from-the-composer"));
}

TEST_F(ComposerScenarios, ReturnOnAnEmptyComposerCommitsNothing) {
    const auto before = copyElsewhere(QStringLiteral("kept clipboard"));
    ASSERT_TRUE(desktop.qt->command(QStringLiteral("text line untouched")));
    ASSERT_TRUE(focus(*desktop.qt, QStringLiteral("line")));
    ASSERT_TRUE(openComposer());
    ASSERT_TRUE(keyboard.chord("Control_L+a"));
    ASSERT_TRUE(keyboard.tap("BackSpace"));
    ASSERT_TRUE(keyboard.tap("Return"));
    EXPECT_TRUE(focusedValueBecomes(desktop.qt->pid(), u"untouched"));
    EXPECT_EQ(clipboardDifference(before, readClipboard()), "");
}

// Return ends the last word as a space would: the local rules fix it (and a word before the full
// stop the text ends with) before the text is pasted.
TEST_F(ComposerScenarios, ReturnFinishesTheLastWordBeforeThePaste) {
    const auto before = copyElsewhere(QStringLiteral("kept clipboard"));
    for (const auto& [typed, expected] : std::vector<std::pair<std::u16string, std::u16string>>{
             {u"i dont know teh answer realy", u"I don't know the answer really"},
             {u"it was realy teh.", u"It was really the."},
         }) {
        SCOPED_TRACE(text::toUtf8(typed));
        ASSERT_TRUE(desktop.gtk->command(QStringLiteral("text line")));
        ASSERT_TRUE(focus(*desktop.gtk, QStringLiteral("line")));
        ASSERT_TRUE(openComposer());
        ASSERT_TRUE(keyboard.type(typed));
        ASSERT_TRUE(keyboard.waitForRelease());
        pause(200ms);
        ASSERT_TRUE(keyboard.tap("Return"));
        EXPECT_TRUE(focusedValueBecomes(desktop.gtk->pid(), expected))
            << text::toUtf8(desktop.value(desktop.focusedOf(desktop.gtk->pid())));
        ASSERT_TRUE(composerClosedInto(*desktop.gtk));
        // The commit's end: its last step gives the user's clipboard back.
        waitUntil([&] { return clipboardDifference(before, readClipboard()).empty(); });
    }
}

// The session log is read in its window, opened from the running window's menu ("Open Log"):
// it records every entry while it is open.
TEST_F(ComposerScenarios, TheSessionLogRecordsEachCommit) {
    ASSERT_TRUE(openLog(program));
    ASSERT_TRUE(desktop.qt->command(QStringLiteral("text line I recieve teh mail")));
    ASSERT_TRUE(focus(*desktop.qt, QStringLiteral("line")));
    ASSERT_TRUE(keyboard.doubleTap("Shift_R"));
    ASSERT_TRUE(focusedValueBecomes(desktop.qt->pid(), u"I receive the mail"));
    // The field shows the fix before the Quick Fix has ended (its put-back, the caret): the
    // Composer is asked for once the window says it has.
    ASSERT_TRUE(programShows(program, u"state=quick_fix_committed"));
    ASSERT_TRUE(focus(*desktop.qt, QStringLiteral("line")));
    ASSERT_TRUE(openComposer());
    ASSERT_TRUE(keyboard.chord("Control_L+a"));
    ASSERT_TRUE(keyboard.tap("BackSpace"));
    ASSERT_TRUE(keyboard.tap("Return"));
    ASSERT_TRUE(composerClosedInto(*desktop.qt));
    ASSERT_TRUE(desktop.qt->command(QStringLiteral("text area")));
    ASSERT_TRUE(focus(*desktop.qt, QStringLiteral("area")));
    ASSERT_TRUE(openComposer());
    ASSERT_TRUE(keyboard.type(u"words"));
    ASSERT_TRUE(keyboard.waitForRelease());
    ASSERT_TRUE(keyboard.tap("Return"));
    // (Return ends the word: the local rules begin the text with a capital)
    ASSERT_TRUE(focusedValueBecomes(desktop.qt->pid(), u"Words"))
        << text::toUtf8(desktop.value(desktop.focusedOf(desktop.qt->pid())));
    // The clipboard put back, then the commit's line: the window shows it once written.
    EXPECT_TRUE(programShows(program, u"state=committed method=paste"));
    const std::string log = sessionLog(program);
    for (const auto* line : {"state=quick_fix_committed method=accessibility",
                             "state=commit_skipped reason=empty-text",
                             "state=committed method=paste pasteboard_restore=success"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    }
}

// A finished sentence goes to the hosted service; its streamed answer replaces the sentence in
// the Composer before Return.
TEST_F(OnlineScenarios, ASentenceIsPolishedByTheStreamedAnswerBeforeCommit) {
    // A change only the service makes: the local rules know nothing of it.
    service.replace("parcel", "package");
    const auto before = copyElsewhere(QStringLiteral("kept clipboard"));
    ASSERT_TRUE(desktop.qt->command(QStringLiteral("text area")));
    ASSERT_TRUE(focus(*desktop.qt, QStringLiteral("area")));
    ASSERT_TRUE(openComposer());
    ASSERT_TRUE(keyboard.type(u"I will recieve the parcel. "));
    ASSERT_TRUE(keyboard.waitForRelease());
    ASSERT_TRUE(waitUntil([&] { return hostedPosts() > 0; }, kSettle))
        << program.errors().toStdString();
    EXPECT_TRUE(waitUntil([&] {
        return desktop.value(desktop.focusedOf(programPid()))
            .starts_with(u"I will receive the package.");
    })) << text::toUtf8(desktop.value(desktop.focusedOf(programPid())));
    ASSERT_TRUE(keyboard.tap("Return"));
    EXPECT_TRUE(waitUntil([&] {
        return desktop.value(desktop.focusedOf(desktop.qt->pid()))
            .starts_with(u"I will receive the package.");
    })) << text::toUtf8(desktop.value(desktop.focusedOf(desktop.qt->pid())));
    EXPECT_TRUE(waitUntil([&] { return clipboardDifference(before, readClipboard()).empty(); }))
        << clipboardDifference(before, readClipboard());
}

TEST_F(ComposerScenarios, QuickFixCorrectsAFieldInPlaceThroughAccessibility) {
    const auto before = copyElsewhere(QStringLiteral("kept clipboard"));
    ASSERT_TRUE(desktop.qt->command(QStringLiteral("text line I recieve teh mail")));
    ASSERT_TRUE(focus(*desktop.qt, QStringLiteral("line")));
    ASSERT_TRUE(keyboard.doubleTap("Shift_R"));
    EXPECT_TRUE(focusedValueBecomes(desktop.qt->pid(), u"I receive the mail"))
        << text::toUtf8(desktop.value(desktop.focusedOf(desktop.qt->pid())));
    EXPECT_TRUE(waitUntil([&] { return clipboardDifference(before, readClipboard()).empty(); }))
        << clipboardDifference(before, readClipboard());
}

// Quick Fix in the stock editor with the caret at the end of the first of three lines: once the
// document is corrected, the words typed next go where the caret was, not after the last line.
TEST_F(ComposerScenarios, AfterAQuickFixTheCaretStandsWhereItWas) {
    StockEditor editor(QStringLiteral("teh first line\nsecond line\nthird realy line"));
    ASSERT_TRUE(editor.ready());
    ASSERT_TRUE(desktop.bringToFrontPersistently(editor.pid()));
    platform::ElementRef document;
    ASSERT_TRUE(waitUntil([&] { return bool(document = desktop.focusedOf(editor.pid())); }));
    ASSERT_TRUE(keyboard.chord("Control_L+Home", 60ms) && keyboard.tap("End"));
    // The caret at the end of the first line ("teh first line") before the Quick Fix.
    waitUntil([&] {
        const auto caret =
            platform::rangeAttribute(*desktop.seams.accessibility, document, ax::selectedTextRange);
        return caret && caret->location == 14 && caret->length == 0;
    });
    ASSERT_TRUE(keyboard.doubleTap("Shift_R"));
    // The three lines without their typos (a replacement written as a deletion and an insertion
    // shows the document empty for a moment).
    const auto correctedNow = [&] {
        const auto value = desktop.value(document);
        return std::ranges::count(value, u'\n') == 2 && value.find(u"teh") == std::u16string::npos &&
               value.find(u"realy") == std::u16string::npos;
    };
    ASSERT_TRUE(waitUntil(correctedNow, kSettle)) << text::toUtf8(desktop.value(document));
    // The person reads the correction before typing on.
    pause(500ms);
    ASSERT_TRUE(correctedNow()) << text::toUtf8(desktop.value(document));
    const std::u16string corrected = desktop.value(document);
    ASSERT_TRUE(keyboard.type(u" NEXT"));
    std::u16string expected = corrected;
    expected.insert(expected.find(u'\n'), u" NEXT");
    EXPECT_TRUE(waitUntil([&] { return desktop.value(document) == expected; }))
        << text::toUtf8(desktop.value(document));
}

// Quick Fix over a field with nothing to correct: the Composer stays open on the field's text;
// closed with Escape it keeps nothing, so the next Super+E opens empty and what is typed there
// and committed goes in beside the field's text, which the field holds once.
TEST_F(ComposerScenarios, QuickFixWithNothingToFixKeepsNoCopyOfTheField) {
    const auto before = copyElsewhere(QStringLiteral("kept clipboard"));
    ASSERT_TRUE(desktop.gtk->command(QStringLiteral("text line Nothing to fix here.")));
    const auto line = focus(*desktop.gtk, QStringLiteral("line"));
    ASSERT_TRUE(line && desktop.gtk->command(QStringLiteral("select 21 21")));
    ASSERT_TRUE(keyboard.doubleTap("Shift_R"));
    ASSERT_TRUE(programInFront(program) && focusedValueBecomes(programPid(), u"Nothing to fix here."))
        << "no Composer on the field's text";
    pause(1s);  // a person reads it
    ASSERT_TRUE(keyboard.tap("Escape"));
    ASSERT_TRUE(composerClosedInto(*desktop.gtk));
    ASSERT_TRUE(openComposer());
    EXPECT_EQ(desktop.value(desktop.focusedOf(programPid())), u"") << "the field's text came back";
    ASSERT_TRUE(keyboard.type(u" Done"));
    ASSERT_TRUE(keyboard.waitForRelease());
    ASSERT_TRUE(keyboard.tap("Return"));
    EXPECT_TRUE(focusedValueBecomes(desktop.gtk->pid(), u"Nothing to fix here. Done"))
        << text::toUtf8(desktop.value(line));
    // The commit's end: its last step gives the user's clipboard back.
    waitUntil([&] { return clipboardDifference(before, readClipboard()).empty(); });
}

// The heads-up is a tool-tip window of the program's own (no focus, no window manager): seen on
// the screen as such, and what it said read in the session log.
TEST_F(ComposerScenarios, QuickFixInATerminalIsRefusedWithTheHeadsUp) {
    Terminal terminal;
    ASSERT_TRUE(terminal.ready());
    ASSERT_TRUE(keyboard.type(u"teh"));
    ASSERT_TRUE(keyboard.waitForRelease());
    ASSERT_TRUE(keyboard.doubleTap("Shift_R"));
    EXPECT_TRUE(waitUntil([&] { return !unmanagedWindowsOf(program.pid()).empty(); }, kSettle))
        << "no heads-up on screen";
    screenshot(QStringLiteral("heads-up-terminal"));
    EXPECT_EQ(service.requestCount(), 0u);
    const std::string log = sessionLog(program);
    const auto refused = log.find("state=quick_fix_skipped");
    ASSERT_NE(refused, std::string::npos) << log;
    EXPECT_NE(log.find("reason=terminal-not-supported", refused), std::string::npos) << log;
}

TEST_F(ComposerScenarios, APasswordFieldIsRefused) {
    for (TargetApp* app : {desktop.gtk.get(), desktop.qt.get()}) {
        SCOPED_TRACE(app->name());
        ASSERT_TRUE(focus(*app, QStringLiteral("password")));
        // The heads-up of the terminal's refusal before it may still be on screen.
        waitUntil([&] { return unmanagedWindowsOf(program.pid()).empty(); }, kSettle);
        ASSERT_TRUE(keyboard.doubleTap("Shift_R"));
        EXPECT_TRUE(waitUntil([&] { return !unmanagedWindowsOf(program.pid()).empty(); }, kSettle))
            << "no heads-up on screen";
        EXPECT_EQ(service.requestCount(), 0u);
    }
    const std::string log = sessionLog(program);
    EXPECT_EQ(occurrences(log, "reason=secure-input"), 2u) << log;
}

// A passphrase typed into a password field as a person types one: keys held 40-70 ms, a pause
// before each word that starts with "ee" (one short, one past the double tap's idle time). The
// typed double tap never acts there: the field holds exactly what was typed and got no
// BackSpace (the targets say what their password fields hold and which keys they get), no
// Composer opens, and the session log keeps no trace of the pairs (nor of the kind of field they
// were typed in). The same in a GTK entry still opens the Composer and takes both taps back.
TEST_F(ComposerScenarios, TypedPairsLeaveAPasswordFieldAsTyped) {
    const auto typePassphrase = [&] {
        bool typed = keyboard.type(u"my ");
        pause(800ms);
        typed = typed && keyboard.type(u"eel is green see ");
        pause(2500ms);
        return typed && keyboard.type(u"eeyore") && keyboard.waitForRelease();
    };
    for (TargetApp* app : {desktop.gtk.get(), desktop.qt.get()}) {
        SCOPED_TRACE(app->name());
        ASSERT_TRUE(app->command(QStringLiteral("text password")));
        ASSERT_TRUE(focus(*app, QStringLiteral("password")));
        ASSERT_TRUE(typePassphrase());
        EXPECT_FALSE(waitUntil([&] { return bool(desktop.focusedOf(programPid())); }, 800ms))
            << "the Composer opened over the password field";
        EXPECT_TRUE(app->printed(QStringLiteral("password: my eel is green see eeyore")));
        EXPECT_FALSE(app->printed(QStringLiteral("password key: BackSpace")));
    }

    ASSERT_TRUE(desktop.gtk->command(QStringLiteral("text line")));
    const auto line = focus(*desktop.gtk, QStringLiteral("line"));
    ASSERT_TRUE(line);
    ASSERT_TRUE(keyboard.type(u"my "));
    pause(800ms);
    ASSERT_TRUE(keyboard.type(u"ee"));
    EXPECT_TRUE(programInFront(program) &&
                waitUntil([&] { return bool(desktop.focusedOf(programPid())); }, kSettle))
        << "no Composer after the double tap in the GTK entry";
    ASSERT_TRUE(keyboard.tap("Escape"));
    ASSERT_TRUE(composerClosedInto(*desktop.gtk));
    EXPECT_TRUE(waitUntil([&] { return desktop.value(line) == u"my "; }))
        << text::toUtf8(desktop.value(line));

    const std::string log = sessionLog(program);
    screenshot(QStringLiteral("session-log-double-tap-refusals"));
    // (Opened only now, the log holds the recent issues alone: none for the pairs.)
    EXPECT_EQ(occurrences(log, "trigger=double-tap"), 0u) << log;
    EXPECT_EQ(occurrences(log, "password"), 0u) << log;
}

// Super+E held as people hold it over a GTK and a Qt password field: refused every time with
// the blocked line; no Composer, no copy chord reaches the field, the clipboard never changes
// hands.
TEST_F(ComposerScenarios, SuperEOverAPasswordFieldIsRefusedEveryTime) {
    ClipboardWatch clipboard;
    std::size_t presses = 0;
    for (TargetApp* app : {desktop.gtk.get(), desktop.qt.get()}) {
        SCOPED_TRACE(app->name());
        ASSERT_TRUE(focus(*app, QStringLiteral("password")));
        for (const auto hold : {80ms, 150ms, 300ms}) {
            SCOPED_TRACE(std::to_string(hold.count()) + " ms");
            const auto looks = program.errorLines("openPanel: snapshot").size();
            ASSERT_TRUE(keyboard.chord("Super_L+e", hold));
            ++presses;
            // Refused or not once the program has looked at the field (a line says what it saw).
            moreLinesSay(program, "openPanel: snapshot", looks);
            EXPECT_FALSE(waitUntil([&] { return bool(desktop.focusedOf(programPid())); }, 800ms))
                << "the Composer opened over the password field";
        }
        EXPECT_FALSE(app->printed(QStringLiteral("password key: Ctrl+c")));
    }
    EXPECT_EQ(clipboard.changes(), 0) << "the clipboard changed hands";
    const std::string log = sessionLog(program);
    EXPECT_EQ(occurrences(log, "state=blocked trigger=hotkey"), presses) << log;
    EXPECT_EQ(occurrences(log, "secure_input=true reason=secure-input"), presses) << log;
    EXPECT_EQ(occurrences(log, "state=opened"), 0u) << log;
}

TEST_F(ComposerScenarios, ATargetSwitchedAwayBeforeCommitLosesNothing) {
    const auto before = copyElsewhere(QStringLiteral("kept clipboard"));
    ASSERT_TRUE(desktop.gtk->command(QStringLiteral("text line first")));
    ASSERT_TRUE(desktop.qt->command(QStringLiteral("text area second")));
    ASSERT_TRUE(focus(*desktop.gtk, QStringLiteral("line")));
    ASSERT_TRUE(openComposer());
    ASSERT_TRUE(keyboard.chord("Control_L+a"));
    ASSERT_TRUE(keyboard.type(u"words worth keeping"));
    ASSERT_TRUE(keyboard.waitForRelease());
    // Another window takes the front before Return.
    ASSERT_TRUE(focus(*desktop.qt, QStringLiteral("area")));
    ASSERT_TRUE(composerClosedInto(*desktop.qt));
    ASSERT_TRUE(openComposer());
    EXPECT_TRUE(focusedValueBecomes(programPid(), u"Words worth keeping"))
        << text::toUtf8(desktop.value(desktop.focusedOf(programPid())));
    ASSERT_TRUE(keyboard.tap("Escape"));
    ASSERT_TRUE(composerClosedInto(*desktop.qt));
    // Neither field took anything, and the clipboard is the user's.
    EXPECT_EQ(fieldValue(*desktop.qt, QStringLiteral("area")), u"second");
    EXPECT_EQ(fieldValue(*desktop.gtk, QStringLiteral("line")), u"first");
    EXPECT_EQ(clipboardDifference(before, readClipboard()), "");
}

TEST_F(OnlineScenarios, AFailingServiceFallsBackAndTheMenuShowsTheIssue) {
    service.setBehaviour(CorrectionService::Behaviour::fail);
    const auto before = copyElsewhere(QStringLiteral("kept clipboard"));
    ASSERT_TRUE(desktop.qt->command(QStringLiteral("text area")));
    ASSERT_TRUE(focus(*desktop.qt, QStringLiteral("area")));
    ASSERT_TRUE(openComposer());
    ASSERT_TRUE(keyboard.type(u"I will recieve teh letter. "));
    ASSERT_TRUE(keyboard.waitForRelease());
    ASSERT_TRUE(waitUntil([&] { return hostedPosts() > 0; }, kSettle))
        << program.errors().toStdString();
    // Local rules still fix what they can; the sentence is not lost.
    ASSERT_TRUE(keyboard.tap("Return"));
    EXPECT_TRUE(waitUntil([&] {
        return desktop.value(desktop.focusedOf(desktop.qt->pid())).find(u"the letter") !=
               std::u16string::npos;
    })) << text::toUtf8(desktop.value(desktop.focusedOf(desktop.qt->pid())));
    // The commit ends with the clipboard put back.
    EXPECT_TRUE(waitUntil([&] { return clipboardDifference(before, readClipboard()).empty(); }))
        << clipboardDifference(before, readClipboard());
    ASSERT_TRUE(composerClosedInto(*desktop.qt));
    // The menu opens with the issue on its first line.
    ASSERT_TRUE(openMenu(program));
    pause(200ms);  // the popup draws itself
    screenshot(QStringLiteral("menu-with-correction-issue"));
    // Its popup is not on the accessibility bus; the issue item, chosen from the keyboard, opens
    // the settings' Correction pane, which says the same.
    ASSERT_TRUE(keyboard.tap("Down"));
    ASSERT_TRUE(keyboard.tap("Return"));
    EXPECT_TRUE(programShows(
        program,
        u"Cloud correction did not finish. Ravlin is using local correction when available."));
}

// The repeated-open check (scripts/repeat-composer-open), with fewer openings than its hundred:
// every one beside the selection, none by way of the clipboard or the pointer, none gone by
// itself.
TEST_F(EndToEnd, RepeatedComposerOpeningsOverTheStockEditorStayBesideTheSelection) {
    constexpr int openings = 12;
    QProcess check;
    check.setProcessChannelMode(QProcess::MergedChannels);
    check.setStandardInputFile(QProcess::nullDevice());
    check.start(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral(RAVLIN_SOURCE_DIR "/scripts/repeat-composer-open"),
                 QStringLiteral("--inside"), QStringLiteral("--count"),
                 QString::number(openings), QStringLiteral("--program"),
                 QStringLiteral(RAVLIN_PROGRAM)});
    ASSERT_TRUE(check.waitForStarted(10000));
    const bool ended = waitUntil([&] { return check.state() == QProcess::NotRunning; }, 150s);
    if (!ended) {
        endChild(check);
    }
    const QByteArray output = check.readAll();
    ASSERT_TRUE(ended) << output.toStdString();
    const QByteArray expected = "opens=" + QByteArray::number(openings) +
                                " beside-selection=" + QByteArray::number(openings) +
                                " fell-back=0 self-dismissed=0 not-opened=0";
    EXPECT_TRUE(output.contains(expected)) << output.toStdString();
    EXPECT_EQ(check.exitCode(), 0);
}

// Another program holds Super+E: the registration fails, and the program says so in the
// system log (stderr here, without a journal) and in the session log's recent issues.
TEST_F(EndToEnd, AShortcutTakenByAnotherProgramIsReported) {
    // Another program grabs Super+E (with and without Caps Lock and Num Lock) first.
    QProcess holder;
    holder.start(
        QStringLiteral("/usr/bin/python3"),
        {QStringLiteral("-c"),
         QStringLiteral("import ctypes,time\n"
                        "x=ctypes.CDLL('libX11.so.6')\n"
                        "x.XOpenDisplay.restype=ctypes.c_void_p\n"
                        "d=ctypes.c_void_p(x.XOpenDisplay(None))\n"
                        "r=x.XDefaultRootWindow(d)\n"
                        "k=x.XKeysymToKeycode(d,0x65)\n"
                        "[x.XGrabKey(d,k,0x40|m,ctypes.c_ulong(r),1,1,1) for m in (0,2,16,18)]\n"
                        "x.XSync(d,0)\nprint('GRABBED',flush=True)\ntime.sleep(60)\n")});
    ASSERT_TRUE(holder.waitForStarted(5000));
    ASSERT_TRUE(waitUntil([&] { return holder.readAllStandardOutput().contains("GRABBED"); }));
    RavlinProgram program;
    ASSERT_TRUE(program.start());
    EXPECT_TRUE(program.waitForError("Hotkey registration FAILED"))
        << program.errors().toStdString();
    // The running window a tray-less start shows takes the front first.
    findInProgram(program.pid(), "push button", u"Quit", 5s);
    EXPECT_NE(sessionLog(program).find("Hotkey registration failed"), std::string::npos);
    EXPECT_EQ(program.stop(), 0);
    expectNoSanitizerReport(program);
    endChild(holder);
}

// The settings window comes from the running window's menu by its shortcut, Ctrl+comma; each
// pane is chosen from its toolbar and captured; then the menu from the running window (the
// tray's has a scenario of its own).
TEST_F(ComposerScenarios, TheSettingsPanesAndTheRunningWindowsMenuAreCaptured) {
    ASSERT_TRUE(openMenu(program));
    ASSERT_TRUE(keyboard.chord("Control_L+comma"));
    ASSERT_TRUE(findInProgram(program.pid(), "filler", u"Settings", kSettle));
    for (const auto* pane : {u"General", u"Shortcuts", u"Correction", u"About"}) {
        SCOPED_TRACE(text::toUtf8(pane));
        platform::ElementRef item;
        for (const char* role : {"toggle button", "push button", "AXButton", "AXCheckBox",
                                 "AXRadioButton", "check box", "radio button"}) {
            if ((item = findInProgram(program.pid(), role, pane, 200ms))) {
                break;
            }
        }
        ASSERT_TRUE(clickElement(item));
        pause(400ms);  // the pane's change of size settles
        EXPECT_FALSE(
            screenshot(QStringLiteral("settings-") + QString::fromStdU16String(pane)).isEmpty());
    }
    ASSERT_TRUE(openMenu(program));
    screenshot(QStringLiteral("menu-from-running-window"));
    ASSERT_TRUE(keyboard.tap("Escape"));
}

// With a tray host on the desktop (trayer, along the top left corner) the program's menu is
// the tray icon's: a click on the icon opens it.
TEST_F(EndToEnd, TheTrayMenuOpensFromTheTrayIcon) {
    QProcess trayer;
    trayer.start(QStringLiteral("trayer"),
                 {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                  QStringLiteral("left"), QStringLiteral("--widthtype"), QStringLiteral("pixel"),
                  QStringLiteral("--width"), QStringLiteral("40"), QStringLiteral("--height"),
                  QStringLiteral("32"), QStringLiteral("--SetDockType"), QStringLiteral("true"),
                  QStringLiteral("--transparent"), QStringLiteral("false")});
    ASSERT_TRUE(trayer.waitForStarted(5000));
    ASSERT_TRUE(waitUntil(trayHostPresent, kSettle)) << "trayer took no tray";
    RavlinProgram program;
    ASSERT_TRUE(program.start()) << program.errors().toStdString();
    ASSERT_TRUE(program.waitForError("ravlin: Coordinator started"));
    // The icon is the tray's only one, at its left end: clicked once it has docked there.
    EXPECT_TRUE(waitUntil([&] { return windowOwnerAt(16, 16) == program.pid(); }, kSettle))
        << "no icon of the program's in the tray";
    bool opened = false;
    for (int attempt = 0; attempt < 3 && !opened; ++attempt) {
        ASSERT_TRUE(clickAt(16, 16));
        // (a tool tip is an unmanaged window too, a line high)
        opened = waitUntil(
            [&] {
                return std::ranges::any_of(
                    unmanagedWindowsOf(program.pid()),
                    [](const ScreenWindow& window) { return window.height > 100; });
            },
            kSettle);
    }
    EXPECT_TRUE(opened) << "no menu from the tray icon";
    screenshot(QStringLiteral("tray-menu"));
    ASSERT_TRUE(keyboard.tap("Escape"));
    EXPECT_EQ(program.stop(), 0) << program.errors().toStdString();
    expectNoSanitizerReport(program);
    endChild(trayer);
}

// --- A commit that tells the truth: terminals, and a window that ignores keys

// xterm has no chord for the clipboard: it gets the text in the selection it pastes with
// Shift+Insert (PRIMARY), which is the user's too and theirs again afterwards. A VTE terminal
// (sakura, the smallest one Debian packages) takes Ctrl+Shift+V. Either way cat writes exactly the
// committed text, and the clipboard is the user's afterwards.
TEST_F(ComposerScenarios, ACommitIntoATerminalRunningCatReachesItsFileExactly) {
    ASSERT_TRUE(openLog(program));  // it records while it is open
    const auto before = copyElsewhere(QStringLiteral("kept clipboard"));
    auto* clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("the user's selection"), QClipboard::Selection);
    const auto primary = [&] { return clipboard->text(QClipboard::Selection); };
    ASSERT_EQ(primary(), QStringLiteral("the user's selection"));
    std::size_t commits = 0;
    for (const auto& [name, command, execute] :
         {std::tuple{"xterm", QStringLiteral("xterm"), QStringLiteral("-e")},
          std::tuple{"sakura", QStringLiteral("sakura"), QStringLiteral("-x")}}) {
        SCOPED_TRACE(name);
        CatTerminal terminal(command, {}, execute, true);
        ASSERT_TRUE(terminal.ready());
        ASSERT_TRUE(openComposer());
        ASSERT_TRUE(keyboard.type(u"teh end"));
        ASSERT_TRUE(keyboard.waitForRelease());
        EXPECT_TRUE(focusedValueBecomes(programPid(), u"The end"));
        int changes = 0;
        const auto counted =
            QObject::connect(clipboard, &QClipboard::changed, [&](QClipboard::Mode mode) {
                changes += mode == QClipboard::Clipboard ? 1 : 0;
            });
        ASSERT_TRUE(keyboard.chord("Return"));
        // The commit borrows the clipboard for its text, then gives it back (two changes of
        // hands): it is over once the user's clipboard and selection are back, with the
        // terminal in front.
        EXPECT_TRUE(waitUntil([&] { return changes >= 2; }, kSettle));
        QObject::disconnect(counted);
        EXPECT_TRUE(waitUntil(
            [&] {
                const auto front = desktop.seams.workspace->frontmostApplication();
                return front && front->pid == terminal.pid() &&
                       clipboardDifference(before, readClipboard()).empty() &&
                       primary() == QStringLiteral("the user's selection");
            },
            kSettle))
            << clipboardDifference(before, readClipboard()) << primary().toStdString();
        // Its end, as the log's window shows it.
        ++commits;
        waitUntil([&] { return occurrences(shownLog(program), "state=committed") >= commits; });
        ASSERT_TRUE(keyboard.chord("Control_L+d"));
        ASSERT_TRUE(keyboard.chord("Control_L+d"));
        EXPECT_TRUE(terminal.ends(kSettle));
        EXPECT_EQ(terminal.written().toStdString(), "The end");
    }
    const std::string log = sessionLog(program);
    EXPECT_EQ(occurrences(log, "state=committed method=paste"), 2u) << log;
}

// A window that takes no key at all: the paste chord goes nowhere, and nothing is reported as
// pasted. The text waits on the clipboard with the heads-up saying so, the draft is kept (the
// next Super+E reopens it). The person quits a few seconds later: the text stays on the
// clipboard for the rest of its minute all the same, and then the clipboard is the user's again,
// byte for byte.
TEST_F(ComposerScenarios, ACommitIntoAWindowThatIgnoresKeysLeavesTheTextOnTheClipboard) {
    ASSERT_TRUE(openLog(program));  // it records while it is open
    const auto before = copyElsewhere(QStringLiteral("kept clipboard"));
    auto deaf = std::make_unique<TargetApp>(
        "deaf GTK", QStringLiteral("/usr/bin/python3"),
        QStringList{QStringLiteral(RAVLIN_GTK_TARGET), QStringLiteral("--deaf")});
    ASSERT_TRUE(deaf->pid());
    ASSERT_TRUE(waitUntil(
        [&] { return desktop.seams.accessibility->applicationElement(deaf->pid()).hasValue(); },
        20s));
    ASSERT_TRUE(deaf->command(QStringLiteral("text line untouched")));
    ASSERT_TRUE(focus(*deaf, QStringLiteral("line")));
    ASSERT_TRUE(openComposer());
    ASSERT_TRUE(keyboard.chord("Control_L+a"));  // over the field's text it was seeded with
    ASSERT_TRUE(keyboard.type(u"teh words"));
    ASSERT_TRUE(keyboard.waitForRelease());
    EXPECT_TRUE(focusedValueBecomes(programPid(), u"The words"));
    ASSERT_TRUE(keyboard.chord("Return"));
    QElapsedTimer sinceCommit;
    sinceCommit.start();
    EXPECT_TRUE(waitUntil([&] { return !unmanagedWindowsOf(program.pid()).empty(); }, kSettle))
        << "no heads-up on screen";
    const auto leftOnClipboard = [&] {
        return readClipboard()[QStringLiteral("text/plain")] == QByteArray("The words");
    };
    EXPECT_TRUE(waitUntil(leftOnClipboard, kSettle));
    // The heads-up draws itself (for the screenshot alone: nothing outside shows it).
    waitUntil([] { return false; }, 300ms);
    screenshot(QStringLiteral("heads-up-text-left-on-clipboard"));
    EXPECT_EQ(desktop.value(desktop.focusedOf(deaf->pid())), u"untouched");

    ASSERT_TRUE(composerClosedInto(*deaf));
    // Nothing selected in the field (the toolkit selected all of it as it took the focus back),
    // so the Composer opens on the draft.
    ASSERT_TRUE(deaf->command(QStringLiteral("select 9 9")));
    ASSERT_TRUE(openComposer());
    EXPECT_TRUE(focusedValueBecomes(programPid(), u"The words"))
        << text::toUtf8(desktop.value(desktop.focusedOf(programPid())));
    ASSERT_TRUE(keyboard.chord("Escape"));
    ASSERT_TRUE(composerClosedInto(*deaf));
    // What the session log's window shows (read off the screen: its Export would copy).
    for (const auto* line :
         {u"state=commit_failed reason=paste-not-fetched pasteboard_restore=deferred",
          u"state=reopened"}) {
        EXPECT_TRUE(programShows(program, line)) << text::toUtf8(line);
    }
    EXPECT_TRUE(leftOnClipboard());

    // Quit, four seconds after the commit: the person closes the window that ignores keys (it
    // stands over the running window's Quit) and quits.
    waitUntil([&] { return sinceCommit.elapsed() >= 4000; }, 10s);
    deaf.reset();
    const auto quit = findInProgram(program.pid(), "push button", u"Quit");
    ASSERT_TRUE(quit) << "the running window (no tray here) offers no Quit button";
    // Clicked once the window that stood over it has gone from there.
    const auto middle = frameOf(quit);
    ASSERT_TRUE(middle);
    EXPECT_TRUE(waitUntil([&] {
        return windowOwnerAt(static_cast<int>(middle->minX() + middle->width() / 2),
                             static_cast<int>(middle->minY() + middle->height() / 2)) ==
               program.pid();
    })) << "another window over the running window's Quit";
    ASSERT_TRUE(clickElement(quit));
    ASSERT_TRUE(waitUntil([&] { return !program.running(); }, 10s));
    EXPECT_TRUE(leftOnClipboard()) << "the text went with the program";
    const qint64 keeper = clipboardOwnerPid();
    EXPECT_NE(keeper, program.pid());
    // The deferred restore, a minute after the commit: the keeper's now. (A read in the very
    // moment the keeper turns to the user's contents may see some of each: it asks for the
    // targets one by one.)
    std::string difference;
    EXPECT_TRUE(waitUntil(
        [&] {
            difference = clipboardDifference(before, readClipboard());
            return difference.empty();
        },
        70s))
        << difference << program.errors().toStdString();
    EXPECT_GE(sinceCommit.elapsed(), 59'000);
    EXPECT_EQ(clipboardOwnerPid(), keeper);
}

}  // namespace
}  // namespace ravlin::testing
