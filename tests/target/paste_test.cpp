// The pasteboard snapshot and the paste into the target application, on the simulated desktop.

#include <gtest/gtest.h>

#include <set>

#include "app/target/focus_snapshot.h"
#include "app/target/pasteboard_snapshot.h"
#include "app/target/quick_fix_pasteboard_manager.h"
#include "tests/target/target_fixture.h"

namespace ravlin::testing {
namespace {

using platform::fake::Activation;

struct PasteTest : ::testing::Test, TargetFixture {
    ElementRef field = desktop.addElement(window, {.value = u"Hi "});
    ProcessID other = desktop.addApplication({.identity = "other"});
    std::int64_t countBefore = 0;
    std::size_t keysBefore = 0;

    // Resets the field and the user's clipboard, puts `front` in front.
    void prepare(std::optional<ProcessID> front) {
        desktop.focus(field);
        desktop.setValue(field, u"Hi ", {3, 0});
        desktop.setFrontmost(front);
        desktop.copyToPasteboard(u"user's secret");
        workspace->frontmostTests = 0;
        countBefore = fakeSeams.pasteboard->changeCount();
        keysBefore = desktop.postedKeys().size();
    }
    // Pastes; the result and the time until it returned. Late reads by the target follow.
    std::pair<std::optional<QNPasteResult>, std::chrono::nanoseconds> paste(
        TargetSeams seams, RunningApplication target, std::stop_token stop = {},
        std::u16string text = u"corrected", std::optional<QNPasteSelection> replacing = {}) {
        auto result = start(QNModelPasteboardSnapshot::paste(seams, std::move(text), target, stop,
                                                             std::move(replacing)));
        const auto took = runUntil([&] { return result->has_value(); });
        executor->advance(5s);
        outcome = result->value_or(QNPasteOutcome{});
        return {result->has_value() ? std::optional(outcome.result) : std::nullopt, took};
    }
    QNPasteOutcome outcome;  // of the last paste
    std::int64_t changeCountMoves() { return fakeSeams.pasteboard->changeCount() - countBefore; }
};

// The paste goes on the moment the target is in front (the desktop tells; nothing is polled) and
// ends once the target has fetched the text (20 ms after the chord here) and nobody has asked for
// it again for 200 ms, or gives up when the target is not in front within 1.2 s of an accepted
// request, 0.3 s otherwise.
TEST_F(PasteTest, UnderEachActivationPolicyWaitsForTheFrontAsLongAsAllowedAndRestoresOnce) {
    struct Case {
        const char* name;
        Activation activation;
        bool targetIsSelf;
        ProcessID front;
        std::chrono::milliseconds took;
        int activationRequests;
        QNPasteResult expected;
    };
    const ProcessID own = desktop.ownPid();
    for (const Case& c : {
             Case{"accepted at once", Activation::immediately(), false, other, 220ms, 1,
                  QNPasteResult::pasted},
             Case{"in front after 300 ms", Activation::after(300ms), false, other, 520ms, 1,
                  QNPasteResult::pasted},
             Case{"in front after 1.5 s", Activation::after(1500ms), false, other, 1200ms, 1,
                  QNPasteResult::activationFailed},
             Case{"accepted, never in front", Activation::acceptButNeverFront(), false, other,
                  1200ms, 1, QNPasteResult::activationFailed},
             Case{"refused", Activation::refuse(), false, other, 300ms, 1,
                  QNPasteResult::activationFailed},
             Case{"this application, in front", {}, true, own, 220ms, 0, QNPasteResult::pasted},
             Case{"this application, another in front",
                  {},
                  true,
                  other,
                  300ms,
                  0,
                  QNPasteResult::activationFailed},
         }) {
        SCOPED_TRACE(c.name);
        desktop.setActivation(editorPid, c.activation);
        prepare(c.front);
        const int requestsBefore = desktop.activationRequests(editorPid);
        EXPECT_EQ(paste(seams(), c.targetIsSelf ? self : editor),
                  std::pair(std::optional(c.expected), std::chrono::nanoseconds(c.took)));
        EXPECT_EQ(desktop.activationRequests(editorPid) - requestsBefore, c.activationRequests);
        const bool pasted = c.expected == QNPasteResult::pasted;
        // Our write, then exactly one restore; nothing at all when nothing was written (the
        // user's own application keeps serving its clipboard).
        EXPECT_EQ(changeCountMoves(), pasted ? 2 : 0);
        EXPECT_EQ(clipboard(), u"user's secret");
        EXPECT_EQ(desktop.value(field), pasted && !c.targetIsSelf ? u"Hi corrected" : u"Hi ");
    }
}

TEST_F(PasteTest, EmptyTextTouchesNothing) {
    prepare(other);
    EXPECT_EQ(paste(seams(), editor, {}, u""),
              std::pair(std::optional(QNPasteResult::pasted), 0ns));
    EXPECT_EQ(changeCountMoves(), 0);
    EXPECT_EQ(desktop.activationRequests(editorPid), 0);
    EXPECT_EQ(workspace->frontmostTests, 0);
}

// Refuses plain text; everything else goes to the simulated desktop's pasteboard.
struct RefusingString final : ForwardingPasteboard {
    using ForwardingPasteboard::ForwardingPasteboard;
    platform::Status setString(std::u16string_view) override {
        return platform::Status::failure(platform::ErrorCode::failed);
    }
    platform::Status setTransientString(std::u16string_view text) override {
        return setString(text);
    }
    Subscription observeChanges(std::function<void(std::int64_t)>) override { return {}; }
};

TEST_F(PasteTest, ARefusedWriteOrAKeystrokeThatCannotBeMadeFailsAndRestores) {
    for (const bool writeRefused : {true, false}) {
        SCOPED_TRACE(writeRefused ? "write refused" : "keystroke cannot be made");
        prepare(editorPid);
        auto targetSeams = seams();
        if (writeRefused) {
            targetSeams.pasteboard = std::make_shared<RefusingString>(fakeSeams.pasteboard);
        }
        desktop.setKeySynthesisFails(!writeRefused);
        EXPECT_EQ(paste(targetSeams, editor).first, QNPasteResult::pasteFailed);
        EXPECT_EQ(desktop.postedKeys().size(), keysBefore);
        EXPECT_EQ(changeCountMoves(), 2);
        EXPECT_EQ(clipboard(), u"user's secret");
        EXPECT_EQ(desktop.value(field), u"Hi ");
    }
}

// Reads as the simulated desktop's pasteboard, but its owner never answers in full.
struct UnansweredOwner final : ForwardingPasteboard {
    using ForwardingPasteboard::ForwardingPasteboard;
    void readContents(std::function<void(platform::PasteboardContents)> done) override {
        done({{}, {}, platform::PasteboardSaveFailure::ownerNotAnswering});
    }
    Subscription observeChanges(std::function<void(std::int64_t)>) override { return {}; }
};

TEST_F(PasteTest, ContentsThatCouldNotBeSavedAreNeitherBorrowedNorCleared) {
    prepare(editorPid);
    desktop.setValue(field, u"Hi there", {3, 5});
    auto targetSeams = seams();
    targetSeams.pasteboard = std::make_shared<UnansweredOwner>(fakeSeams.pasteboard);
    EXPECT_EQ(paste(targetSeams, editor).first, QNPasteResult::clipboardUnsaved);
    EXPECT_EQ(outcome.reason, "owner-not-answering");
    const auto copied = start(
        QNModelFocusSnapshot::copySelectionViaPasteboard(targetSeams, editor, "AXTextField", {}));
    runUntil([&] { return copied->has_value(); });
    EXPECT_EQ(copied->value(), std::nullopt);
    captured(targetSeams).restore(*targetSeams.pasteboard);
    EXPECT_EQ(changeCountMoves(), 0);
    EXPECT_EQ(desktop.postedKeys().size(), keysBefore);
    EXPECT_EQ(clipboard(), u"user's secret");
    EXPECT_EQ(desktop.value(field), u"Hi there");
}

// The chord waits for the person's keys to be up (the shortcut's modifier, held here until
// 50 ms), as a suspension: the program's other work runs meanwhile.
TEST_F(PasteTest, AStopBeforeTheChordFailsAndAfterItThePasteRunsInFull) {
    struct Case {
        const char* name;
        std::chrono::milliseconds stopAt;  // after the paste began; negative: before, none: never
        ProcessID front;
        QNPasteResult expected;
        std::chrono::milliseconds took;
        std::int64_t changeCountMoves;  // 0: the text never went on the clipboard
    };
    for (const Case& c : {
             Case{"before the call", -1ms, editorPid, QNPasteResult::pasteFailed, 0ms, 0},
             // The stopped wait tests once more; the target is not there yet.
             Case{"waiting for the front", 100ms, other, QNPasteResult::activationFailed, 100ms, 0},
             Case{"waiting for the keys", 20ms, editorPid, QNPasteResult::pasteFailed, 20ms, 2},
             Case{"never", 1h, editorPid, QNPasteResult::pasted, 270ms, 2},
             Case{"after the chord", 60ms, editorPid, QNPasteResult::pasted, 270ms, 2},
         }) {
        SCOPED_TRACE(c.name);
        desktop.setActivation(editorPid, Activation::acceptButNeverFront());
        prepare(c.front);
        desktop.setGrabHidesFocus(false);
        (void)desktop.holdHotKey({platform::keycode::e, platform::modifier::command});
        executor->postAfter(50ms, [this] { desktop.releaseHotKey(); });
        std::stop_source stop;
        if (c.stopAt < 0ms) {
            stop.request_stop();
        } else {
            executor->postAfter(c.stopAt, [&stop] { stop.request_stop(); });
        }
        int otherWork = 0;
        executor->postAfter(10ms, [&otherWork] { ++otherWork; });
        const bool pasted = c.expected == QNPasteResult::pasted;
        EXPECT_EQ(paste(seams(), editor, stop.get_token()),
                  std::pair(std::optional(c.expected), std::chrono::nanoseconds(c.took)));
        EXPECT_EQ(otherWork, 1);
        EXPECT_EQ(changeCountMoves(), c.changeCountMoves);
        EXPECT_EQ(desktop.postedKeys().size() - keysBefore, pasted ? 2u : 0u);
        EXPECT_EQ(desktop.value(field), pasted ? u"Hi corrected" : u"Hi ");
        EXPECT_EQ(clipboard(), u"user's secret");
    }
}

// The user moves to another window while the chord waits for their keys: nothing is pasted
// there, the text is kept (the keyboard was in another application) and the user's clipboard is
// back.
TEST_F(PasteTest, AWindowTheUserMovedToBeforeTheChordGetsNothing) {
    const ElementRef elsewhere = desktop.addElement(desktop.addWindow(other, {}), {.value = u"mine"});
    desktop.focus(elsewhere);
    prepare(editorPid);
    desktop.setGrabHidesFocus(false);
    (void)desktop.holdHotKey({platform::keycode::e, platform::modifier::command});
    executor->postAfter(50ms, [this] { desktop.releaseHotKey(); });
    desktop.setFrontmostAfter(20ms, other);
    EXPECT_EQ(paste(seams(), editor).first, QNPasteResult::keyboardElsewhere);
    EXPECT_EQ(desktop.postedKeys().size(), keysBefore);
    EXPECT_EQ(changeCountMoves(), 2);  // our write, then the restore
    EXPECT_EQ(clipboard(), u"user's secret");
    EXPECT_EQ(desktop.value(elsewhere), u"mine");
    EXPECT_EQ(desktop.value(field), u"Hi ");
}

// The user copies something of their own while the text is on the clipboard: their copy stands
// (nothing is put back over it, now or a minute later): copied before the chord, no chord goes
// out and the paste says the clipboard changed; copied after it, before the target read, the
// paste is not reported as done, and says what the target did (the chord went out: never that
// the clipboard changed before it).
TEST_F(PasteTest, TheUsersOwnCopyDuringTheBorrowStandsAndIsNeverPasted) {
    struct Case {
        std::chrono::milliseconds copyAt;  // after the paste began
        QNPasteResult expected;
        std::u16string field;
    };
    for (const Case& c : {
             // Before our write, while the target comes to the front.
             Case{-100ms, QNPasteResult::clipboardChanged, u"Hi "},
             // Between our write and the chord (which waits for the person's keys until 50 ms).
             Case{20ms, QNPasteResult::clipboardChanged, u"Hi "},
             // After the chord, before the target read the clipboard (20 ms after the chord):
             // it was given the copy, and the paste did not arrive.
             Case{60ms, QNPasteResult::notPasted, u"Hi mine"},
             // Once the paste arrived.
             Case{300ms, QNPasteResult::pasted, u"Hi corrected"},
         }) {
        SCOPED_TRACE(c.copyAt.count());
        // (Negative: the target comes to the front 200 ms after the paste began, and the copy is
        // made at half that.)
        const bool early = c.copyAt < 0ms;
        desktop.setActivation(editorPid, early ? Activation::after(200ms) : Activation::immediately());
        prepare(other);
        desktop.setGrabHidesFocus(false);
        (void)desktop.holdHotKey({platform::keycode::e, platform::modifier::command});
        executor->postAfter(50ms, [this] { desktop.releaseHotKey(); });
        auto manager = QNQuickFixPasteboardManager::create(fakeSeams.pasteboard, executor);
        executor->postAfter(early ? -c.copyAt : c.copyAt,
                            [this] { desktop.copyToPasteboard(u"mine"); });
        EXPECT_EQ(paste(seams(manager), editor).first, c.expected);
        executor->advance(61s);
        EXPECT_EQ(clipboard(), u"mine");
        EXPECT_EQ(desktop.value(field), c.field);
        EXPECT_FALSE(manager->hasPendingRestore());
        EXPECT_EQ(manager->openLoans(), 0u);
    }
}

// The text is on the clipboard for the paste only: marked so that clipboard managers keep it out
// of their history. Left there for the user to paste by hand, it is an ordinary copy.
TEST_F(PasteTest, ThePastesTextIsMarkedForTheMomentAndALeftOneIsAnOrdinaryCopy) {
    struct Case {
        std::string identity, role;
        QNPasteResult result;
    };
    for (const Case& c : {
             Case{"gedit", "AXTextField", QNPasteResult::pasted},
             Case{"code", "AXTerminal", QNPasteResult::leftOnClipboard},
         }) {
        SCOPED_TRACE(c.identity);
        const ProcessID pid = desktop.addApplication({.identity = c.identity});
        field = desktop.addElement(desktop.addWindow(pid, {}), {.role = c.role});
        prepare(pid);
        auto manager = QNQuickFixPasteboardManager::create(fakeSeams.pasteboard, executor);
        bool markedWhileWritten = false;
        executor->postAfter(20ms, [&] { markedWhileWritten = desktop.clipboardMarkedTransient(); });
        EXPECT_EQ(paste(seams(manager), {pid, c.identity, ""}).first, c.result);
        EXPECT_EQ(markedWhileWritten, c.result == QNPasteResult::pasted);
        if (c.result == QNPasteResult::leftOnClipboard) {
            EXPECT_EQ(clipboard(), u"corrected");
            EXPECT_FALSE(desktop.clipboardMarkedTransient());
            executor->advance(61s);
        }
        EXPECT_EQ(clipboard(), u"user's secret");
    }
}

// A session seeded from "end" in "start end": its paste replaces that text, selected again when
// the field dropped its selection meanwhile, and never lands anywhere else. A copy checks the
// selection only while the field shows one; a field that cannot be seen, or a password field,
// gets no key at all.
TEST_F(PasteTest, OverASeededSelectionSelectsItAgainOrPastesNothing) {
    using Names = std::set<std::string, std::less<>>;
    const Names textUnread{"AXSelectedText", "AXValue"};
    const Names nothingRead{"AXSelectedText", "AXSelectedTextRange", "AXValue"};
    enum class Focus { field, none, password };
    struct Case {
        const char* name;
        std::u16string value;
        text::Utf16Range selection;  // the field's when the paste begins
        Names hidden;
        bool refusesRangeWrites;
        Focus focus;
        QNPasteResult expected;
        std::u16string after;
        int copies;
    };
    const auto pasted = QNPasteResult::pasted;
    const auto lost = QNPasteResult::selectionLost;
    for (const Case& c : {
             Case{"still selected", u"start end", {6, 3}, {}, false, Focus::field, pasted,
                  u"start corrected", 0},
             Case{"dropped", u"start end", {9, 0}, {}, false, Focus::field, pasted,
                  u"start corrected", 0},
             Case{"moved", u"the end, start", {0, 0}, {}, false, Focus::field, pasted,
                  u"the corrected, start", 0},
             Case{"not selectable", u"start end", {9, 0}, {}, true, Focus::field, lost,
                  u"start end", 0},
             Case{"gone", u"start", {5, 0}, {}, false, Focus::field, lost, u"start", 0},
             Case{"text unread, copied", u"start end", {6, 3}, textUnread, false, Focus::field,
                  pasted, u"start corrected", 1},
             Case{"text unread, a caret only", u"start end", {9, 0}, textUnread, false,
                  Focus::field, lost, u"start end", 0},
             Case{"nothing readable", u"start end", {6, 3}, nothingRead, false, Focus::field, lost,
                  u"start end", 0},
             Case{"no focused field to be seen", u"start end", {6, 3}, {}, false, Focus::none,
                  lost, u"start end", 0},
             Case{"a password field", u"start end", {6, 3}, {}, false, Focus::password, lost,
                  u"start end", 0},
         }) {
        SCOPED_TRACE(c.name);
        field = desktop.addElement(window, {.role = c.focus == Focus::password ? "AXSecureTextField"
                                                                               : "AXTextField",
                                            .parameterizedReads = c.hidden.empty(),
                                            .refusesRangeWrites = c.refusesRangeWrites});
        prepare(editorPid);
        desktop.setValue(field, c.value, c.selection);
        if (c.focus == Focus::none) {
            desktop.focus(desktop.addElement(window, {.role = "AXGroup", .value = std::nullopt}));
            desktop.removeElement(desktop.addElement(window, {}));
        }
        accessibility->hidden = c.hidden;
        if (c.focus == Focus::none) {
            accessibility->hidden.insert("AXFocusedUIElement");
        }
        EXPECT_EQ(paste(seams(), editor, {}, u"corrected",
                        QNPasteSelection{u"end", text::Utf16Range{6, 3}})
                      .first,
                  c.expected);
        EXPECT_EQ(desktop.value(field), c.after);
        EXPECT_EQ(clipboard(), u"user's secret");
        int copies = 0;
        for (auto key = desktop.postedKeys().begin() + static_cast<std::ptrdiff_t>(keysBefore);
             key != desktop.postedKeys().end(); ++key) {
            copies += key->kind == platform::fake::PostedKey::Kind::down &&
                      key->chord.keyCode == platform::keycode::c;
        }
        EXPECT_EQ(copies, c.copies);
    }
}

// A copy the person makes right after a paste over a seeded selection stands, even one holding
// the selection's text: the put-back watches for a copy of ours landing late only where the
// selection was checked by a copy.
TEST_F(PasteTest, OnlyAPasteThatCopiedWatchesForItsCopyLandingLate) {
    for (const bool copied : {false, true}) {
        SCOPED_TRACE(copied ? "checked by a copy" : "checked over accessibility");
        field = desktop.addElement(window, {.parameterizedReads = !copied});
        prepare(editorPid);
        desktop.setValue(field, u"start end", {6, 3});
        accessibility->hidden = copied ? std::set<std::string, std::less<>>{"AXSelectedText",
                                                                            "AXValue"}
                                       : std::set<std::string, std::less<>>{};
        auto manager = QNQuickFixPasteboardManager::create(fakeSeams.pasteboard, executor);
        auto result =
            start(QNModelPasteboardSnapshot::paste(seams(manager), u"corrected", editor, {},
                                                   QNPasteSelection{u"end", text::Utf16Range{6, 3}}));
        runUntil([&] { return result->has_value(); });
        ASSERT_EQ(result->value_or(QNPasteOutcome{}).result, QNPasteResult::pasted);
        EXPECT_EQ(manager->isWatching(), copied);
        // The person copies the replaced word from elsewhere within the second.
        executor->advance(200ms);
        desktop.copyToPasteboard(u"end");
        executor->advance(2s);
        // (where a copy of ours went out, one with its text is taken for it)
        EXPECT_EQ(clipboard(), copied ? u"user's secret" : u"end");
    }
}

// The paste is done 200 ms after the target has fetched the text and shows it (the desktop tells
// of the fetch; nothing is polled), up to 1.8 s after the chord.
TEST_F(PasteTest, ATargetThatFetchesLateIsWaitedForUpTo1Point8Seconds) {
    struct Case {
        std::chrono::milliseconds readDelay, took;
        QNPasteResult result;
    };
    const auto pasted = QNPasteResult::pasted;
    for (const Case& c : {
             Case{20ms, 220ms, pasted}, Case{1200ms, 1400ms, pasted}, Case{1800ms, 1800ms, pasted},
             // Beyond the limit: the text stays on the clipboard, so that the late paste still
             // finds it (never the user's contents), and the user's come back later.
             Case{1900ms, 1800ms, QNPasteResult::leftOnClipboard},
         }) {
        SCOPED_TRACE(c.readDelay.count());
        const ProcessID slow =
            desktop.addApplication({.identity = "slow", .pasteDelay = c.readDelay});
        field = desktop.addElement(desktop.addWindow(slow, {}), {});
        prepare(slow);
        auto manager = QNQuickFixPasteboardManager::create(fakeSeams.pasteboard, executor);
        EXPECT_EQ(paste(seams(manager), {slow, "slow", ""}),
                  std::pair(std::optional(c.result), std::chrono::nanoseconds(c.took)));
        EXPECT_EQ(desktop.value(field), u"Hi corrected");
        if (c.result != pasted) {
            EXPECT_EQ(outcome.reason, "paste-not-fetched");
            EXPECT_EQ(clipboard(), u"corrected");
            executor->advance(60s);
        }
        EXPECT_EQ(clipboard(), u"user's secret");
    }
}

// A target that watches the clipboard (GNOME Terminal) takes a chord for nothing until it has
// heard what our text offers: the chord waits for that, 40 ms at most, 500 ms for a target seen
// to do so for an earlier paste. Beyond, the chord goes anyway, and the outcome says the text was
// not fetched.
TEST_F(PasteTest, TheChordWaitsForATargetThatWatchesTheClipboardToLookAtTheText) {
    const ProcessID watcher = desktop.addApplication({.identity = "watcher"});
    const ProcessID newcomer = desktop.addApplication({.identity = "newcomer"});
    struct Case {
        const char* name;
        ProcessID target;
        std::chrono::milliseconds looksAfter;
        QNPasteResult result;
    };
    for (const Case& c : {
             Case{"looks at once", watcher, 1ms, QNPasteResult::pasted},
             Case{"looks after 30 ms", watcher, 30ms, QNPasteResult::pasted},
             Case{"first paste, looks after 60 ms", newcomer, 60ms,
                  QNPasteResult::leftOnClipboard},
             Case{"seen to watch, looks after 300 ms", watcher, 300ms, QNPasteResult::pasted},
         }) {
        SCOPED_TRACE(c.name);
        desktop.setLooksAtChangesAfter(c.target, c.looksAfter);
        field = desktop.addElement(desktop.addWindow(c.target, {}), {});
        prepare(c.target);
        auto manager = QNQuickFixPasteboardManager::create(fakeSeams.pasteboard, executor);
        EXPECT_EQ(paste(seams(manager), {c.target, "terminal", ""}).first, c.result);
        if (c.result == QNPasteResult::pasted) {
            EXPECT_EQ(desktop.value(field), u"Hi corrected");
        } else {
            EXPECT_EQ(outcome.reason, "paste-not-fetched");
            EXPECT_EQ(desktop.value(field), u"Hi ");
            executor->advance(60s);
        }
        EXPECT_EQ(clipboard(), u"user's secret");
    }
}

// The chord waits for a look only where the target is seen to need one, remembered for the run:
// an application not seen yet waits 40 ms at most, which tells whether it looks; one that never
// looked gets its chord at once afterwards; one that looks waits for its look each time; one
// that took a chord sent before its look for nothing waits for its look the next time. (The
// target fetches 20 ms after the chord; the paste ends once nobody has asked for 200 ms.)
TEST_F(PasteTest, TheChordWaitsForALookOnlyWhereTheTargetIsSeenToNeedOne) {
    using Paste = std::pair<std::optional<QNPasteResult>, std::chrono::nanoseconds>;
    constexpr auto pasted = QNPasteResult::pasted;
    struct Case {
        const char* name;
        platform::fake::ApplicationDescription target;
        std::vector<Paste> pastes;
    };
    for (const Case& c : {
             Case{"never looks",
                  {.identity = "never", .neverLooksAtChanges = true},
                  {{pasted, 260ms}, {pasted, 220ms}, {pasted, 220ms}}},
             Case{"looks after 10 ms",
                  {.identity = "looker", .looksAtChangesAfter = 10ms},
                  {{pasted, 230ms}, {pasted, 230ms}}},
             Case{"looks after 60 ms",
                  {.identity = "late", .looksAtChangesAfter = 60ms},
                  {{QNPasteResult::leftOnClipboard, 1840ms}, {pasted, 280ms}, {pasted, 280ms}}},
         }) {
        SCOPED_TRACE(c.name);
        const ProcessID pid = desktop.addApplication(c.target);
        field = desktop.addElement(desktop.addWindow(pid, {}), {});
        auto manager = QNQuickFixPasteboardManager::create(fakeSeams.pasteboard, executor);
        for (const auto& expected : c.pastes) {
            prepare(pid);
            EXPECT_EQ(paste(seams(manager), {pid, c.target.identity, ""}), expected);
            executor->advance(61s);
            EXPECT_EQ(clipboard(), u"user's secret");
        }
    }
}

// Each terminal family takes the paste with its own chord, from the clipboard or from the text
// last selected (which is the user's too, and theirs again afterwards); a terminal whose chord is
// not known gets none and finds the text left on the clipboard.
TEST_F(PasteTest, EachTerminalFamilyIsPastedWithItsChordAndAnUnknownOneGetsNone) {
    using platform::modifier::command;
    using platform::modifier::shift;
    namespace key = platform::keycode;
    struct Case {
        std::string identity;
        std::string role;
        QNPasteRoute route;
        QNPasteResult result;
    };
    const QNPasteRoute ctrlShiftV{platform::KeyChord{key::v, command | shift}, "Ctrl+Shift+V"};
    const QNPasteRoute shiftInsert{platform::KeyChord{key::insert, shift}, "Shift+Insert", true};
    const QNPasteRoute none{std::nullopt, ""};
    const auto pasted = QNPasteResult::pasted;
    const auto left = QNPasteResult::leftOnClipboard;
    for (const Case& c : {
             Case{"Gnome-terminal", "AXTerminal", ctrlShiftV, pasted},
             Case{"Xfce4-terminal", "AXTerminal", ctrlShiftV, pasted},
             Case{"sakura", "AXTerminal", ctrlShiftV, pasted},
             Case{"konsole", "AXTerminal", ctrlShiftV, pasted},
             Case{"kitty", "AXTextArea", ctrlShiftV, pasted},
             Case{"Alacritty", "AXTextArea", ctrlShiftV, pasted},
             Case{"org.wezfurlong.wezterm", "AXTextArea", ctrlShiftV, pasted},
             Case{"XTerm", "AXTerminal", shiftInsert, pasted},
             Case{"UXTerm", "AXTerminal", shiftInsert, pasted},
             Case{"URxvt", "AXTerminal", shiftInsert, pasted},
             // Debian's st and mlterm, whose classes are not their programs' names.
             Case{"st-256color", "AXTextArea", ctrlShiftV, pasted},
             Case{"mlterm", "AXTextArea", shiftInsert, pasted},
             // A terminal element in an application not in the table; a terminal of another
             // desktop.
             Case{"code", "AXTerminal", none, left},
             Case{"com.apple.Terminal", "AXTextArea", none, left},
             Case{"gedit", "AXTextArea", {platform::KeyChord{key::v, command}, "Ctrl+V"}, pasted},
         }) {
        SCOPED_TRACE(c.identity);
        const ProcessID pid = desktop.addApplication({.identity = c.identity});
        field = desktop.addElement(desktop.addWindow(pid, {}), {.role = c.role});
        const RunningApplication terminal{pid, c.identity, ""};
        EXPECT_EQ(pasteRoute(terminal, c.role), c.route);
        prepare(pid);
        desktop.selectText(u"user's selection");
        auto manager = QNQuickFixPasteboardManager::create(fakeSeams.pasteboard, executor);
        EXPECT_EQ(paste(seams(manager), terminal).first, c.result);
        std::vector<platform::KeyChord> sent;
        for (auto key = desktop.postedKeys().begin() + static_cast<std::ptrdiff_t>(keysBefore);
             key != desktop.postedKeys().end(); ++key) {
            sent.push_back(key->chord);
        }
        const auto expected = c.route.chord ? std::vector{*c.route.chord, *c.route.chord}
                                            : std::vector<platform::KeyChord>{};
        EXPECT_EQ(sent, expected);
        EXPECT_EQ(desktop.value(field), c.result == pasted ? u"Hi corrected" : u"Hi ");
        EXPECT_EQ(desktop.primarySelection(), u"user's selection");
        if (c.result == left) {
            EXPECT_EQ(outcome, (QNPasteOutcome{left, "no-paste-chord", ""}));
            EXPECT_EQ(clipboard(), u"corrected");
            executor->advance(61s);
        }
        EXPECT_EQ(clipboard(), u"user's secret");
    }
}

TEST(PasteboardSnapshot, RoundTripsEveryItemWithItsTypesAndLeavesAnEmptyOneEmpty) {
    using Item = platform::PasteboardItem;
    const Item rich{{"text/html", {'<', 'b', '>'}}, {"text/plain;charset=utf-8", {'b'}}};
    for (const auto& saved : {std::vector<Item>{rich, Item{}}, std::vector<Item>{}}) {
        TargetFixture f;
        f.desktop.copyToPasteboard(saved);
        const auto snapshot = f.captured(f.seams());
        f.fakeSeams.pasteboard->clear();
        ASSERT_TRUE(f.fakeSeams.pasteboard->setString(u"corrected"));
        const auto before = f.fakeSeams.pasteboard->changeCount();
        snapshot.restore(*f.fakeSeams.pasteboard);
        EXPECT_EQ(f.desktop.pasteboardItems(), saved);
        EXPECT_EQ(f.fakeSeams.pasteboard->changeCount(), before + 1);
    }
}

// A target that reads the clipboard twice for one paste (a terminal looks at the text, then
// pastes it) gets our text both times: it stays until nobody has asked for it for 200 ms, and
// the user's contents come back only then.
TEST_F(PasteTest, ATargetThatReadsTwicePastesTheTextNeverTheUsersContents) {
    for (const auto gap : {11ms, 150ms, 199ms}) {
        SCOPED_TRACE(gap.count());
        const ProcessID twice = desktop.addApplication(
            {.identity = "twice", .pasteDelay = 20ms, .pasteReadAgainAfter = gap});
        field = desktop.addElement(desktop.addWindow(twice, {}), {});
        prepare(twice);
        auto manager = QNQuickFixPasteboardManager::create(fakeSeams.pasteboard, executor);
        EXPECT_EQ(paste(seams(manager), {twice, "twice", ""}),
                  std::pair(std::optional(QNPasteResult::pasted),
                            std::chrono::nanoseconds(20ms + gap + 200ms)));
        EXPECT_EQ(desktop.value(field), u"Hi corrected");
        EXPECT_EQ(clipboard(), u"user's secret");
    }
}

// A copy by another program between a target's two reads of one paste (a terminal looks at the
// text, then pastes it): the target's client took our text, yet may have pasted the copy. Where
// the field cannot be read that is not told as arrived: the arrival is unconfirmed, the text is
// in the target's hands (never offered again), and the copy stands.
TEST_F(PasteTest, ACopyBetweenATargetsTwoReadsLeavesTheArrivalUnconfirmed) {
    const ProcessID twice = desktop.addApplication({.identity = "twice",
                                                    .pasteDelay = 20ms,
                                                    .pasteReadAgainAfter = 50ms,
                                                    .accessible = false});
    (void)desktop.addWindow(twice, {});
    prepare(twice);
    auto manager = QNQuickFixPasteboardManager::create(fakeSeams.pasteboard, executor);
    executor->postAfter(40ms, [this] { desktop.copyToPasteboard(u"mine"); });
    EXPECT_EQ(paste(seams(manager), {twice, "twice", ""}).first, QNPasteResult::sentUnconfirmed);
    EXPECT_EQ(outcome.reason, "arrival-unconfirmed");
    EXPECT_TRUE(outcome.takenByTarget);
    executor->advance(61s);
    EXPECT_EQ(clipboard(), u"mine");
}

// Only what the target asks for after the chord is the paste's: a target that read the text as
// it went on the clipboard (a clipboard manager of its own process) and then ignores the chord
// has not pasted it, and the text is left for the person.
TEST_F(PasteTest, AFetchBeforeTheChordIsNoPaste) {
    const ProcessID deaf =
        desktop.addApplication({.identity = "deaf", .handlesKeys = false, .accessible = false});
    (void)desktop.addWindow(deaf, {});
    prepare(deaf);
    desktop.setClipboardManager(deaf, 1ms);
    desktop.setGrabHidesFocus(false);
    (void)desktop.holdHotKey({platform::keycode::e, platform::modifier::command});
    executor->postAfter(50ms, [this] { desktop.releaseHotKey(); });
    auto manager = QNQuickFixPasteboardManager::create(fakeSeams.pasteboard, executor);
    EXPECT_EQ(paste(seams(manager), {deaf, "deaf", ""}).first, QNPasteResult::leftOnClipboard);
    EXPECT_EQ(outcome.reason, "paste-not-fetched");
    EXPECT_EQ(desktop.postedKeys().size() - keysBefore, 2u);
    desktop.setClipboardManager(std::nullopt);
    executor->advance(61s);
    EXPECT_EQ(clipboard(), u"user's secret");
}

// A copy by another program at any moment around the chord (it goes out at 50 ms, once the
// person's key is up; the target reads 20 ms later): the copy stands, and the outcome says what
// happened to the chord. No chord once the copy is there; a chord sent is never told as the
// clipboard having changed before it.
TEST_F(PasteTest, ACopyAroundTheChordStandsAndTheOutcomeTellsWhetherTheChordWent) {
    for (auto copyAt = 30ms; copyAt <= 90ms; copyAt += 2ms) {
        SCOPED_TRACE(copyAt.count());
        desktop.setActivation(editorPid, Activation::immediately());
        prepare(editorPid);
        desktop.setGrabHidesFocus(false);
        (void)desktop.holdHotKey({platform::keycode::e, platform::modifier::command});
        executor->postAfter(50ms, [this] { desktop.releaseHotKey(); });
        auto manager = QNQuickFixPasteboardManager::create(fakeSeams.pasteboard, executor);
        executor->postAfter(copyAt, [this] { desktop.copyToPasteboard(u"mine"); });
        const auto result = paste(seams(manager), editor).first;
        const bool chord = desktop.postedKeys().size() > keysBefore;
        EXPECT_EQ(result == QNPasteResult::clipboardChanged, !chord);
        if (chord) {
            EXPECT_TRUE(result == QNPasteResult::pasted || result == QNPasteResult::notPasted);
            EXPECT_EQ(desktop.value(field) == u"Hi corrected", result == QNPasteResult::pasted);
        } else {
            EXPECT_EQ(desktop.value(field), u"Hi ");
        }
        executor->advance(61s);
        EXPECT_EQ(clipboard(), u"mine");
        EXPECT_EQ(manager->openLoans(), 0u);
    }
}

// The program ending while the chord waits for the person's keys: the user's contents go back,
// and no chord follows (it would paste the user's own clipboard into the field).
TEST_F(PasteTest, NoChordOnceThePutBackAtExitHasBegun) {
    prepare(editorPid);
    desktop.setGrabHidesFocus(false);
    (void)desktop.holdHotKey({platform::keycode::e, platform::modifier::command});
    executor->postAfter(50ms, [this] { desktop.releaseHotKey(); });
    auto manager = QNQuickFixPasteboardManager::create(fakeSeams.pasteboard, executor);
    executor->postAfter(20ms, [&manager] { manager->restoreBeforeExit(); });
    EXPECT_EQ(paste(seams(manager), editor).first, QNPasteResult::pasteFailed);
    EXPECT_EQ(desktop.postedKeys().size(), keysBefore);
    EXPECT_EQ(desktop.value(field), u"Hi ");
    EXPECT_EQ(clipboard(), u"user's secret");
}

}  // namespace
}  // namespace ravlin::testing
