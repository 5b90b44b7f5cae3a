// The focus capture's copy fallback and caret probe, on the simulated desktop's virtual time.

#include <gtest/gtest.h>

#include "app/target/focus_snapshot.h"
#include "tests/target/target_fixture.h"

namespace ravlin::testing {
namespace {

using platform::makeRect;
using platform::fake::ApplicationDescription;
using platform::fake::ElementDescription;
using platform::fake::PostedKey;
using Source = QNModelFocusAnchor::QNSourceFocusAnchor;
using Snapshot = QNModelFocusSnapshot;
namespace keycode = platform::keycode;

constexpr char16_t zwsp = u'\u200B';

struct CaptureTest : ::testing::Test, TargetFixture {
    // The person's keys, held as the Composer holds them for the probe.
    std::shared_ptr<platform::KeyHold> hold;
    Snapshot::ProbeKeys holdKeys() {
        return [this] {
            if (!hold) {
                hold = fakeSeams.keyTaps->holdKeys();
            }
            return hold;
        };
    }
    Snapshot capture(std::stop_token stop = {}) {
        auto snapshot = finish(start(Snapshot::capture(seams(), std::move(stop), false, holdKeys())));
        hold.reset();
        return snapshot;
    }
    // No bounds until the probe's character is in the text: the reading finds no caret.
    void noCaretUntilProbed(ElementRef field) {
        accessibility->parameterized =
            [this, field](std::string_view, const platform::AttributeValue&)
            -> std::optional<ScriptedAccessibility::Answer> {
            if (desktop.value(field)->find(zwsp) == std::u16string::npos) {
                return platform::Error{platform::ErrorCode::notSupported};
            }
            return std::nullopt;
        };
    }
};

// A selection of "these" whose text accessibility does not give: the copy fallback runs.
const ElementDescription hiddenSelection{
    .value = u"pick these words", .selection = {5, 5}, .frame = makeRect(100, 200, 300, 20)};

TEST_F(CaptureTest, CopyFallbackUsesOnlyNonBlankCopiedTextAndAlwaysPutsThePasteboardBack) {
    accessibility->hidden = {"AXSelectedText", "AXValue"};
    enum class Script { none, nothing, blank, image, loseFront, stop };
    struct Case {
        const char* name;
        Script script;
        std::optional<std::u16string> text;
    };
    for (const Case& c : {
             Case{"copied", Script::none, u"these"},
             Case{"blank text", Script::blank, {}},
             Case{"no change in 12 polls", Script::nothing, {}},
             Case{"front lost", Script::loseFront, {}},
             Case{"non-text contents", Script::image, {}},
             Case{"cancelled mid-poll", Script::stop, {}},
         }) {
        SCOPED_TRACE(c.name);
        const auto target = open({.identity = "notes"}, hiddenSelection);
        std::stop_source stop;
        const auto copies = [&](std::function<void()> action) {
            desktop.scriptShortcut(target.app.pid, keycode::c, std::move(action));
        };
        switch (c.script) {
            case Script::none:
                break;
            case Script::nothing:
                copies([] {});
                break;
            case Script::blank:
                copies([&] { desktop.copyToPasteboard(u" \n"); });
                break;
            case Script::image:
                copies([&] { desktop.copyToPasteboard({{{"image/png", {1, 2, 3}}}}); });
                break;
            case Script::loseFront:
                copies([] {});
                desktop.setFrontmostAfter(30ms, editorPid);
                break;
            case Script::stop:
                copies([] {});
                executor->postAfter(60ms, [&] { stop.request_stop(); });
                break;
        }
        const auto snapshot = capture(stop.get_token());
        EXPECT_EQ(snapshot.selectionText, c.text);
        EXPECT_EQ(snapshot.selectionSource,
                  c.text ? QNSelectionSource::copyFallback : QNSelectionSource::none);
        EXPECT_EQ(snapshot.selectionLength, 5) << "kept from the reading";
        EXPECT_EQ(count(PostedKey::Kind::down, keycode::c), 1);
        EXPECT_EQ(clipboard(), u"user's secret");
        EXPECT_EQ(snapshot.anchor->source, Source::caret) << "no probe";
    }
}

TEST_F(CaptureTest, WebAreaSelectionIsCopiedAnywayAndDroppedWhenTheCopyGivesNothing) {
    for (const bool copyWorks : {true, false}) {
        SCOPED_TRACE(copyWorks ? "copy works" : "copy gives nothing");
        const auto target = open({.identity = "firefox"}, {.role = "AXWebArea",
                                                           .value = u"some web text",
                                                           .selection = {5, 3},
                                                           .frame = makeRect(0, 0, 800, 600)});
        if (!copyWorks) {
            desktop.scriptShortcut(target.app.pid, keycode::c, [] {});
        }
        const auto snapshot = capture();
        EXPECT_EQ(snapshot.selectionText,
                  copyWorks ? std::optional<std::u16string>(u"web") : std::nullopt);
        EXPECT_EQ(snapshot.selectionSource,
                  copyWorks ? QNSelectionSource::copyFallback : QNSelectionSource::none);
        EXPECT_EQ(clipboard(), u"user's secret");
    }
}

TEST_F(CaptureTest, NoCopyChordEverReachesATerminal) {
    accessibility->hidden = {"AXSelectedText", "AXValue"};
    struct Case {
        std::string identity, role;
    };
    for (const Case& c : {Case{"gnome-terminal", "AXTextArea"}, Case{"XTerm", "AXTextArea"},
                          Case{"com.apple.Terminal", "AXTextArea"}, Case{"code", "AXTerminal"}}) {
        SCOPED_TRACE(c.identity + " " + c.role);
        auto spec = hiddenSelection;
        spec.role = c.role;
        open({.identity = c.identity}, spec);
        const auto snapshot = capture();
        EXPECT_EQ(snapshot.selectionSource, QNSelectionSource::none);
        EXPECT_EQ(count(PostedKey::Kind::down, keycode::c), 0);
        EXPECT_EQ(fakeSeams.pasteboard->changeCount(), countBefore) << "pasteboard untouched";
    }
}

// A copy is sent only over a selection the field shows: without trust none is seen, and an
// editor copies the caret's whole line when nothing is selected.
TEST_F(CaptureTest, SecureAndUntrustedTargetsGetNoKeys) {
    open({.identity = "notes"}, {.role = "AXSecureTextField", .value = u"pw", .selection = {2, 0}});
    EXPECT_TRUE(capture().isSecureInput);
    EXPECT_EQ(desktop.postedKeys().size(), keysBefore);

    open({.identity = "notes"}, {.value = u"abc", .selection = {1, 1}});
    desktop.setTrusted(false);
    const auto untrusted = capture();
    EXPECT_EQ(count(PostedKey::Kind::down, keycode::c), 0);
    EXPECT_EQ(count(PostedKey::Kind::text), 0) << "the probe needs trust";
    EXPECT_EQ(untrusted.anchor->source, Source::mouse);
    EXPECT_EQ(untrusted.selectionText, std::nullopt);
}

// After the Composer shortcut, with the key's grab hiding the focus: the reading waits for the
// focus to come back only where it can (trusted, no terminal, an application accessibility
// knows), and after the key's release only when the key was still down when it began.
TEST_F(CaptureTest, AfterTheShortcutTheReadingWaitsOnlyWhereTheFocusCanComeBack) {
    desktop.setSecureInputFromFocus(true);  // as on Linux: no field seen, no copy into it
    struct Case {
        const char* name;
        ApplicationDescription app;
        bool trusted;
        bool heldAtStart;
        std::chrono::milliseconds took;
        bool found;
    };
    for (const Case& c : {
             Case{"held 80 ms, focus back 10 ms after", {.identity = "gedit"}, true, true, 90ms,
                  true},
             Case{"terminal", {.identity = "xterm"}, true, true, 0ms, false},
             Case{"no accessibility", {.identity = "notes", .accessible = false}, true, true, 0ms,
                  false},
             Case{"not trusted", {.identity = "gedit"}, false, true, 0ms, false},
             // (the first reading's short settle only)
             Case{"up already, focus never back", {.identity = "gedit"}, true, false,
                  Snapshot::focusSettleLimit, false},
         }) {
        SCOPED_TRACE(c.name);
        open(c.app, {.value = u"abc", .selection = {1, 0}, .frame = makeRect(100, 200, 300, 20)});
        desktop.setTrusted(c.trusted);
        desktop.setFocusReturnAfterGrab(c.found ? 10ms : 10s);
        desktop.holdHotKey({14, platform::modifier::command});
        if (c.heldAtStart) {
            executor->postAfter(80ms, [&] { desktop.releaseHotKey(); });
        } else {
            desktop.releaseHotKey();
        }
        const auto result = start(Snapshot::capture(seams(), {}, true));
        EXPECT_EQ(runUntil([&] { return result->has_value(); }), c.took);
        ASSERT_TRUE(result->has_value());
        EXPECT_EQ((*result)->hasFocusedElement(), c.found);
        EXPECT_EQ(desktop.postedKeys().size(), keysBefore) << "nothing typed or copied";
        executor->advance(11s);  // the focus back, for the next case
        desktop.setTrusted(true);
    }
}

// A password field when the shortcut is pressed refuses the Composer whatever the field shows
// once the grab is over (a page's "show password" turning it into a text field meanwhile): told
// by the first reading, or by one while the reading waits for the focus to come back.
TEST_F(CaptureTest, APasswordFieldAtTheShortcutStaysRefusedWhateverItShowsAfter) {
    for (const auto secureUntil : {0ms, 5ms}) {
        SCOPED_TRACE(secureUntil.count());
        open({.identity = "browser"},
             {.value = u"abc", .selection = {1, 0}, .frame = makeRect(100, 200, 300, 20)});
        desktop.setFocusReturnAfterGrab(10ms);
        desktop.holdHotKey({14, platform::modifier::command});
        desktop.setSecureInput(secureUntil == 0ms);
        if (secureUntil > 0ms) {
            executor->postAfter(secureUntil, [&] { desktop.setSecureInput(true); });
        }
        executor->postAfter(secureUntil + 20ms, [&] { desktop.setSecureInput(false); });
        executor->postAfter(80ms, [&] { desktop.releaseHotKey(); });
        const auto result = start(Snapshot::capture(seams(), {}, true));
        runUntil([&] { return result->has_value(); });
        ASSERT_TRUE(result->has_value());
        EXPECT_TRUE((*result)->isSecureInput);
        EXPECT_EQ((*result)->selectionText, std::nullopt);
        executor->advance(1s);
    }
}

// The probe's character is taken back only where the field's text shows it, by its place: a
// caret said to have moved (or said to stand elsewhere) proves nothing, and a BackSpace sent on
// its word would take one of the user's characters.
TEST_F(CaptureTest, ProbeTypesOnlyIntoAReadableValueAndTakesBackOnlyItsOwnCharacter) {
    // How the field tells its caret: as it is; from before the typing until a selection is
    // written; somewhere else before the typing (told late); moved after a typing it ignored.
    enum class Caret { asTyped, lagging, staleBefore, movedWithoutText };
    struct Case {
        const char* name;
        Caret caret;
        bool handlesKeys, refusesRangeWrites, valueHidden;
        int typed, deletes;
        bool left, probed;
    };
    for (const Case& c : {
             Case{"shown, caret after it", Caret::asTyped, true, false, false, 1, 1, false, true},
             Case{"shown, caret not told: selected alone", Caret::lagging, true, false, false, 1,
                  1, false, true},
             Case{"shown where the caret was not said to be", Caret::staleBefore, true, false,
                  false, 1, 1, false, true},
             Case{"shown, caret after it, no selection writes", Caret::asTyped, true, true, false,
                  1, 1, false, true},
             Case{"shown, neither selectable nor before the caret: left", Caret::lagging, true,
                  true, false, 1, 0, true, true},
             Case{"never shown, caret said to move", Caret::movedWithoutText, false, false, false,
                  1, 0, false, false},
             Case{"value unreadable", Caret::asTyped, true, false, true, 0, 0, false, false},
         }) {
        SCOPED_TRACE(c.name);
        const auto target = open(
            {.identity = "notes", .handlesKeys = c.handlesKeys},
            {.value = u"hello",
             .refusesRangeWrites = c.refusesRangeWrites,
             .reportsTypedCaret = c.caret != Caret::lagging,
             .frame = makeRect(100, 200, 300, 20)});
        accessibility->hidden.clear();
        if (c.valueHidden) {
            accessibility->hidden = {"AXValue"};
        }
        accessibility->attributes =
            [&](std::string_view name) -> std::optional<ScriptedAccessibility::Answer> {
            const bool typed = count(PostedKey::Kind::text) > 0;
            if (name == "AXSelectedTextRange" &&
                ((c.caret == Caret::staleBefore && !typed) ||
                 (c.caret == Caret::movedWithoutText && typed))) {
                return platform::AttributeValue(text::Utf16Range{typed ? 1 : 3, 0});
            }
            return std::nullopt;
        };
        noCaretUntilProbed(target.field);
        const auto snapshot = capture();
        accessibility->attributes = nullptr;
        EXPECT_EQ(count(PostedKey::Kind::text), c.typed);
        EXPECT_EQ(count(PostedKey::Kind::down, keycode::deleteKey), c.deletes);
        EXPECT_EQ(desktop.value(target.field), c.left ? std::u16string(1, zwsp) + u"hello"
                                                      : std::u16string(u"hello"));
        const auto anchor =
            c.probed ? QNModelFocusAnchor{Source::caretProbed, makeRect(108, 684, 1, 16),
                                          "AXTextField"}
                     : QNModelFocusAnchor{Source::focusedElement, makeRect(100, 680, 300, 20),
                                          "AXTextField"};
        EXPECT_EQ(snapshot.anchor, anchor);
        EXPECT_EQ(snapshot.caretRect,
                  c.probed ? std::optional(anchor.rect) : std::optional<platform::Rect>());
    }
}

// An application that keeps showing its focus through the shortcut's grab but gives no caret
// yet (mousepad just after opening a long paragraph): the probe types only once the shortcut's
// keys are up, and waits for that without holding up the loop.
TEST_F(CaptureTest, AfterTheShortcutTheProbeTypesOnlyOnceTheKeysAreUp) {
    const auto target =
        open({.identity = "mousepad"}, {.value = u"hello", .frame = makeRect(100, 200, 300, 20)});
    noCaretUntilProbed(target.field);
    desktop.setGrabHidesFocus(false);
    desktop.holdHotKey({14, platform::modifier::command});
    int typedWhileHeld = -1;
    executor->postAfter(150ms, [&] {
        typedWhileHeld = count(PostedKey::Kind::text);
        desktop.releaseHotKey();
    });
    const auto result = start(Snapshot::capture(seams(), {}, true, holdKeys()));
    runUntil([&] { return result->has_value(); });
    ASSERT_TRUE(result->has_value());
    EXPECT_EQ(typedWhileHeld, 0);
    EXPECT_EQ(count(PostedKey::Kind::text), 1);
    EXPECT_EQ(count(PostedKey::Kind::down, keycode::deleteKey), 1);
    EXPECT_EQ(desktop.value(target.field), u"hello");
    ASSERT_TRUE((*result)->anchor);
    EXPECT_EQ((*result)->anchor->source, Source::caretProbed);
}

// The probe never types where the person's keys could reach the field: never into an empty
// field (the panel goes against the field); elsewhere only with their keys held, and a key of
// theirs typed meanwhile waits in the hold (the field keeps only their text).
TEST_F(CaptureTest, TheProbeTypesOnlyWhileThePersonsKeysAreHeld) {
    struct Case {
        const char* name;
        std::u16string value;
        bool held;
        int typed;
        std::optional<Source> anchor;
    };
    for (const Case& c : {
             Case{"an empty field", u"", true, 0, Source::focusedElement},
             Case{"text, no hold to be had", u"hello", false, 0, Source::focusedElement},
             Case{"text, the keys held", u"hello", true, 1, Source::caretProbed},
         }) {
        SCOPED_TRACE(c.name);
        const auto target = open({.identity = "notes"},
                                 {.value = c.value,
                                  .selection = {static_cast<std::int64_t>(c.value.size()), 0},
                                  .frame = makeRect(100, 200, 300, 40)});
        noCaretUntilProbed(target.field);
        const auto typedBefore = count(PostedKey::Kind::text);
        // The person types on as soon as the probe's character is out.
        bool watching = true;
        std::function<void()> typeOn = [&] {
            if (!watching) {
                return;
            }
            if (count(PostedKey::Kind::text) > typedBefore) {
                desktop.userTypeText(u"x");
            } else {
                executor->postAfter(1ms, typeOn);
            }
        };
        executor->postAfter(1ms, typeOn);
        const auto snapshot = finish(start(Snapshot::capture(
            seams(), {}, false, c.held ? holdKeys() : Snapshot::ProbeKeys())));
        watching = false;
        executor->advance(5ms);
        EXPECT_EQ(count(PostedKey::Kind::text) - typedBefore, c.typed);
        EXPECT_EQ(desktop.value(target.field), c.value);
        ASSERT_TRUE(snapshot.anchor);
        EXPECT_EQ(snapshot.anchor->source, c.anchor);
        if (c.typed > 0) {
            ASSERT_TRUE(hold);
            const auto keys = hold->release();
            EXPECT_TRUE(std::ranges::any_of(keys, [](const platform::InputEvent& key) {
                return key.characters == u"x";
            })) << "the person's key held";
        }
        hold.reset();
        executor->advance(1s);
    }
}

}  // namespace
}  // namespace ravlin::testing
