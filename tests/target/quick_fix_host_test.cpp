// Quick Fix routes, capture and commit, on the simulated desktop's virtual time.

#include <gtest/gtest.h>

#include "app/target/quick_fix_host.h"
#include "tests/target/target_fixture.h"

namespace ravlin::testing {
namespace {

using platform::makeRect;
using platform::fake::ElementDescription;
using platform::fake::PostedKey;
using platform::fake::WriteBehaviour;
using Host = QNServiceQuickFixHost;
using Method = QNQuickFixCaptureMethod;
using Route = QNQuickFixRoute;
using Result = QNQuickFixCommitResult;
using Snapshot = QNModelFocusSnapshot;
using Strategy = QNQuickFixReplacementStrategy;
namespace keycode = platform::keycode;

TEST(QuickFixRoute, EveryRuleInOrderMacIdentitiesExactLinuxOnesInAnyCase) {
    struct Case {
        std::optional<std::string> bundleID, role;
        Route expected;
    };
    for (const Case& c : {
             Case{"com.google.Chrome", "AXSecureTextField", Route::secureInput},
             Case{"konsole", "AXSecureTextField", Route::secureInput},
             Case{"code", "AXTerminal", Route::terminal},
             Case{{}, "AXTerminal", Route::terminal},
             Case{{}, "AXWebArea", Route::unknown},
             Case{"com.apple.Terminal", {}, Route::terminal},
             Case{"com.apple.terminal", {}, Route::unknown},
             Case{"GNOME-Terminal", "AXTextArea", Route::terminal},
             Case{"XTerm", {}, Route::terminal},
             Case{"com.microsoft.VSCode", "AXTextArea", Route::electron},
             Case{"com.microsoft.vscode", "AXTextArea", Route::nativeAppKit},
             Case{"Code", "AXWebArea", Route::electron},
             Case{"com.google.Chrome", "AXTextField", Route::webArea},
             Case{"com.apple.Safari", {}, Route::webArea},
             Case{"Firefox", "AXTextField", Route::webArea},
             Case{"org.example.Unknown", "AXWebArea", Route::webArea},
             Case{"com.apple.TextEdit", "AXGroup", Route::nativeAppKit},
             Case{"org.gnome.texteditor", "AXGroup", Route::nativeAppKit},
             Case{"org.example.Unknown", {}, Route::unknown},
             Case{"org.example.Unknown", "AXComboBox", Route::nativeAppKit},
             Case{"org.example.Unknown", "AXGroup", Route::unknown},
         }) {
        EXPECT_EQ(Host::route(c.bundleID, c.role), c.expected)
            << c.bundleID.value_or("-") << " " << c.role.value_or("-");
    }
    for (const auto route : {Route::nativeAppKit, Route::webArea, Route::electron, Route::terminal,
                             Route::secureInput, Route::unknown}) {
        EXPECT_EQ(quickFixRouteFromString(toString(route)), route);
    }
    EXPECT_EQ(toString(Result::failed(QNQuickFixCommitFailure::driverRejected)),
              "failed driver-rejected");
}

struct HostTest : ::testing::Test, TargetFixture {
    std::shared_ptr<QNQuickFixPasteboardManager> manager =
        QNQuickFixPasteboardManager::create(fakeSeams.pasteboard, executor);
    std::shared_ptr<QNQuickFixHostLiveDriver> driver =
        std::make_shared<QNQuickFixHostLiveDriver>(seams(manager));

    std::optional<QNQuickFixHostSession> begin(const Snapshot& snapshot,
                                               std::stop_token stop = {}) {
        return finish(start(Host::beginSession(snapshot, driver, std::move(stop))));
    }
    std::optional<QNQuickFixHostSession> beginNow() {
        return begin(Snapshot::captureNow(seams(manager)));
    }
    Result commit(const QNQuickFixHostSession& session, std::u16string corrected,
                  std::stop_token stop = {}) {
        return finish(start(Host::commit(session, std::move(corrected), driver, nullptr, stop)));
    }
};

TEST_F(HostTest, BeginSessionTakesTheFirstMethodThatWorksAndPutsThePasteboardBack) {
    struct Case {
        const char* name;
        std::string identity;
        ElementDescription spec;
        std::function<void(Snapshot&)> adjust;
        std::optional<Method> method;
        std::u16string text;
        Strategy strategy;
        Route route;
        int selectAlls, copies;
    };
    const auto noSnapshotText = [](Snapshot& s) {
        s.selectionText.reset();
        s.selectionSource = QNSelectionSource::none;
    };
    for (const Case& c : {
             Case{"selected text",
                  "gedit",
                  {.value = u"teh cat", .selection = {0, 3}},
                  {},
                  Method::selectedText,
                  u"teh",
                  Strategy::currentSelection(text::Utf16Range{0, 3}),
                  Route::nativeAppKit,
                  0,
                  0},
             Case{"blank selection: the snapshot's text by its source",
                  "org.example.Notes",
                  {.value = u"a   b", .selection = {1, 3}},
                  [](Snapshot& s) {
                      s.selectionText = u"x y";
                      s.selectionSource = QNSelectionSource::accessibilityValueRange;
                  },
                  Method::selectedRange,
                  u"x y",
                  Strategy::currentSelection(text::Utf16Range{1, 3}),
                  Route::nativeAppKit,
                  0,
                  0},
             Case{"web area with a selected range: copied",
                  "firefox",
                  {.role = "AXWebArea", .value = u"web text", .selection = {0, 3}},
                  noSnapshotText,
                  Method::copy,
                  u"web",
                  Strategy::currentSelection(text::Utf16Range{0, 3}),
                  Route::webArea,
                  0,
                  1},
             Case{"web area without a selection: all selected and copied",
                  "firefox",
                  {.role = "AXWebArea", .value = u"web text", .selection = {2, 0}},
                  {},
                  Method::selectAllAndCopy,
                  u"web text",
                  Strategy::focusedValue(),
                  Route::webArea,
                  1,
                  1},
             Case{"caret in a native field: its value",
                  "gedit",
                  {.value = u"teh cat", .selection = {2, 0}},
                  {},
                  Method::focusedValue,
                  u"teh cat",
                  Strategy::focusedValue(),
                  Route::nativeAppKit,
                  0,
                  0},
             Case{"blank field: select all and copy gives nothing",
                  "gedit",
                  {.value = u"   ", .selection = {1, 0}},
                  {},
                  {},
                  u"",
                  {},
                  {},
                  1,
                  1},
             Case{"terminal prompt",
                  "konsole",
                  {.value = u"$ ls", .selection = {0, 4}},
                  {},
                  {},
                  u"",
                  {},
                  {},
                  0,
                  0},
         }) {
        SCOPED_TRACE(c.name);
        open({.identity = c.identity}, c.spec);
        auto snapshot = Snapshot::captureNow(seams(manager));
        if (c.adjust) {
            c.adjust(snapshot);
        }
        accessibility->reads.clear();
        const auto session = begin(snapshot);
        ASSERT_EQ(session.has_value(), c.method.has_value());
        if (session) {
            EXPECT_EQ(session->captureMethod, c.method);
            EXPECT_EQ(session->originalText, c.text);
            EXPECT_EQ(session->strategy, c.strategy);
            EXPECT_EQ(session->route, c.route);
            EXPECT_EQ(session->role, c.spec.role);
            EXPECT_EQ(session->snapshot, snapshot);
        }
        if (c.route == Route::webArea) {
            EXPECT_EQ(std::ranges::count(accessibility->reads, "AXSelectedText"), 0);
            EXPECT_EQ(std::ranges::count(accessibility->reads, "AXStringForRange"), 0);
        }
        EXPECT_EQ(count(PostedKey::Kind::down, keycode::a), c.selectAlls);
        EXPECT_EQ(count(PostedKey::Kind::down, keycode::c), c.copies);
        EXPECT_EQ(clipboard(), u"user's secret");
    }
}

// Only the first qualifying descendant is tried; where it is blank, the group's whole text is
// copied only when its caret can be put back afterwards (a group without one gets no key).
TEST_F(HostTest, DescendantsOnlyTheFirstQualifyingOneIsTried) {
    for (const bool firstBlank : {false, true}) {
        SCOPED_TRACE(firstBlank ? "first blank" : "first with text");
        const auto group = open({.identity = "gedit"}, {.role = "AXGroup", .value = {}}).field;
        desktop.addElement(group,
                           {.role = "AXTextField", .subrole = "AXSecureTextField", .value = u"pw"});
        desktop.addElement(group, {.value = firstBlank ? u" " : u"first"});
        desktop.addElement(group, {.value = u"second"});
        desktop.scriptShortcut(desktop.frontmostPid().value(), keycode::c,
                               [&] { desktop.copyToPasteboard(u"all copied"); });
        const auto session = beginNow();
        EXPECT_EQ(session.has_value(), !firstBlank);
        if (session) {
            EXPECT_EQ(session->captureMethod, Method::descendantValue);
            EXPECT_EQ(session->originalText, u"first");
            EXPECT_EQ(session->role, "AXTextField");
        }
        EXPECT_EQ(desktop.postedKeys().size(), keysBefore);
        EXPECT_EQ(clipboard(), u"user's secret");
    }
}

TEST_F(HostTest, SecureElementsAndFocusLostToNothingAreHandled) {
    // A secure element behind an accepted snapshot route: no session.
    const auto target = open({.identity = "gedit"}, {.value = u"teh", .selection = {0, 3}});
    const auto snapshot = Snapshot::captureNow(seams(manager));
    desktop.focus(desktop.addElement(desktop.addWindow(target.app.pid, {}),
                                     {.role = "AXSecureTextField", .value = u"pw"}));
    EXPECT_FALSE(begin(snapshot));

    // No focused element: the snapshot's copied selection, under a token no driver knows.
    auto copied = snapshot;
    copied.selectionText = u"teh";
    copied.selectionSource = QNSelectionSource::copyFallback;
    accessibility->hidden = {"AXFocusedUIElement"};
    const auto session = begin(copied);
    ASSERT_TRUE(session);
    EXPECT_EQ(session->captureMethod, Method::copy);
    EXPECT_EQ(session->strategy, Strategy::currentSelection(std::nullopt));
    EXPECT_FALSE(driver->value(session->elementToken));
    EXPECT_EQ(session->route, Route::nativeAppKit);

    // Cancelled during the copy: nothing, the pasteboard back.
    accessibility->hidden.clear();
    open({.identity = "firefox"}, {.role = "AXWebArea", .value = u"web", .selection = {0, 0}});
    desktop.scriptShortcut(desktop.frontmostPid().value(), keycode::c, [] {});
    std::stop_source stop;
    executor->postAfter(100ms, [&] { stop.request_stop(); });
    EXPECT_FALSE(begin(Snapshot::captureNow(seams(manager)), stop.get_token()));
    EXPECT_EQ(clipboard(), u"user's secret");
}

TEST_F(HostTest, RefusalsTouchNeitherTheTargetNorThePasteboard) {
    const auto target = open({.identity = "gedit"}, {.value = u"teh cat", .selection = {0, 3}});
    const auto session = beginNow().value();
    struct Case {
        const char* name;
        Route route;
        std::u16string corrected;
        bool refuseActivation;
        Result expected;
    };
    using Failure = QNQuickFixCommitFailure;
    for (const Case& c : {
             Case{"empty", Route::nativeAppKit, u"", false, Result::failed(Failure::unchangedText)},
             Case{"unchanged", Route::nativeAppKit, u"teh", false,
                  Result::failed(Failure::unchangedText)},
             Case{"terminal", Route::terminal, u"the", false,
                  Result::failed(Failure::terminalNotSupported)},
             Case{"secure", Route::secureInput, u"the", false,
                  Result::failed(Failure::secureInput)},
             Case{"activation refused", Route::nativeAppKit, u"the", true,
                  Result::failed(Failure::activateTarget)},
         }) {
        SCOPED_TRACE(c.name);
        if (c.refuseActivation) {
            desktop.setActivation(target.app.pid, platform::fake::Activation::refuse());
            desktop.setFrontmost(editorPid);
        }
        auto adjusted = session;
        adjusted.route = c.route;
        EXPECT_EQ(commit(adjusted, c.corrected), c.expected);
        EXPECT_EQ(desktop.activationRequests(target.app.pid), c.refuseActivation ? 1 : 0);
        EXPECT_EQ(fakeSeams.pasteboard->changeCount(), countBefore);
        EXPECT_EQ(desktop.value(target.field), u"teh cat");
    }
}

TEST_F(HostTest, CommitWritesVerifiedElsePastesConfirmedTextElseLeavesItOnTheClipboard) {
    enum class Before {
        nothing,
        changeSelection,
        changeValue,
        focusTerminal,
        hideFocus,
        busyBrowser,
        busyBrowserUntold
    };
    struct Case {
        const char* name;
        std::string identity;
        ElementDescription spec;
        Before before;
        std::optional<std::chrono::milliseconds> loseFrontAt, stopAt;
        Result expected;
        std::u16string valueAfter;
        int pastes;
    };
    const auto accessibilityWrite = Result::committed(QNQuickFixReplacementMethod::accessibility);
    const auto pasted = Result::committed(QNQuickFixReplacementMethod::paste);
    const auto onClipboard =
        Result::pasteOnClipboard(QNQuickFixClipboardReason::pasteAfterAXFailure);
    const auto uncertain = Result::failed(QNQuickFixCommitFailure::restoreTargetSelection);
    const ElementDescription tehCat{.value = u"teh cat", .selection = {0, 3}};
    const auto with = [&](WriteBehaviour writes) {
        auto spec = tehCat;
        spec.writes = writes;
        return spec;
    };
    for (const Case& c : {
             Case{"native: written and verified",
                  "gedit",
                  tehCat,
                  Before::nothing,
                  {},
                  {},
                  accessibilityWrite,
                  u"the cat",
                  0},
             Case{"browser: pasted over the confirmed selection",
                  "firefox",
                  tehCat,
                  Before::nothing,
                  {},
                  {},
                  pasted,
                  u"the cat",
                  1},
             Case{"write refused: pasted",
                  "gedit",
                  with(WriteBehaviour::fail),
                  Before::nothing,
                  {},
                  {},
                  pasted,
                  u"the cat",
                  1},
             Case{"write ignored by a text already holding the correction: pasted",
                  "gedit",
                  {.value = u"the teh", .selection = {4, 3}, .writes = WriteBehaviour::ignore},
                  Before::nothing,
                  {},
                  {},
                  pasted,
                  u"the the",
                  1},
             Case{"write ignored, user switched away before the paste",
                  "gedit",
                  with(WriteBehaviour::ignore),
                  Before::nothing,
                  120ms,
                  {},
                  onClipboard,
                  u"teh cat",
                  0},
             // Selected by Ctrl+A, the field is not the text captured: what the person added is
             // not pasted over.
             Case{"whole value changed since capture: not pasted over",
                  "gedit",
                  {.value = u"teh cat", .selection = {2, 0}},
                  Before::changeValue,
                  {},
                  {},
                  uncertain,
                  u"teh cat!",
                  0},
             Case{"whole value unchanged: selected by range and written",
                  "gedit",
                  {.value = u"teh cat", .selection = {2, 0}},
                  Before::nothing,
                  {},
                  {},
                  accessibilityWrite,
                  u"the cat",
                  0},
             Case{"selection moved to other text: not pasted over",
                  "gedit",
                  tehCat,
                  Before::changeSelection,
                  {},
                  {},
                  uncertain,
                  u"tex cat",
                  0},
             // No selection to be seen: no copy to check it with, no paste.
             Case{"no element known: left as it was",
                  "gedit",
                  tehCat,
                  Before::hideFocus,
                  {},
                  {},
                  uncertain,
                  u"teh cat",
                  0},
             Case{"focus moved into a terminal: no chord at all",
                  "code",
                  tehCat,
                  Before::focusTerminal,
                  {},
                  {},
                  uncertain,
                  u"teh cat",
                  0},
             // Under load a browser shows Ctrl+A's select-all and lands the copy that checks it
             // (where its selected text goes untold) well over a second late.
             Case{"busy browser: select-all shown 1.5 s late, pasted over it",
                  "firefox",
                  {.value = u"teh cat", .selection = {2, 0}},
                  Before::busyBrowser,
                  {},
                  {},
                  pasted,
                  u"the cat",
                  1},
             Case{"busy browser: its copy 0.6 s late too, pasted over it",
                  "firefox",
                  {.value = u"teh cat",
                  .selection = {2, 0},
                  .selectedTextReadable = false,
                  .parameterizedReads = false},
                  Before::busyBrowserUntold,
                  {},
                  {},
                  pasted,
                  u"the cat",
                  1},
             // A paste reported as done while the field kept its text lost the correction.
             Case{"paste ignored by the field: left on the clipboard",
                  "firefox",
                  {.value = u"teh cat", .selection = {0, 3}, .readOnly = true},
                  Before::nothing,
                  {},
                  {},
                  Result::pasteOnClipboard(QNQuickFixClipboardReason::pasteNotSeen),
                  u"teh cat",
                  1},
             Case{"stopped before the paste chord",
                  "firefox",
                  tehCat,
                  Before::nothing,
                  {},
                  20ms,
                  onClipboard,
                  u"teh cat",
                  0},
             Case{"stopped after the paste chord",
                  "firefox",
                  tehCat,
                  Before::nothing,
                  {},
                  10ms,
                  pasted,
                  u"the cat",
                  1},
         }) {
        SCOPED_TRACE(c.name);
        const auto target = open({.identity = c.identity}, c.spec);
        auto session = beginNow().value();
        std::u16string corrected = u"the";
        switch (c.before) {
            case Before::nothing:
                break;
            case Before::changeValue:
                desktop.setValue(target.field, u"teh cat!", {8, 0});
                break;
            case Before::changeSelection:
                desktop.setValue(target.field, u"tex cat", {4, 3});
                break;
            case Before::hideFocus:
                accessibility->hidden = {"AXFocusedUIElement"};
                session.elementToken = QNQuickFixElementToken::make();
                break;
            case Before::focusTerminal:
                desktop.focus(desktop.addElement(desktop.addWindow(target.app.pid, {}),
                                                 {.role = "AXTerminal", .value = u"$ "}));
                break;
            case Before::busyBrowserUntold:
                accessibility->hidden = {"AXValue"};
                desktop.scriptShortcut(target.app.pid, keycode::c, [&, field = target.field] {
                    executor->postAfter(600ms, [&, field] {
                        const auto range = desktop.selection(field);
                        desktop.copyToPasteboard(
                            desktop.value(field)->substr(static_cast<std::size_t>(range.location),
                                                         static_cast<std::size_t>(range.length)));
                    });
                });
                [[fallthrough]];
            case Before::busyBrowser:
                desktop.scriptShortcut(target.app.pid, keycode::a, [&, field = target.field] {
                    executor->postAfter(1500ms, [&, field] {
                        desktop.setSelection(field, {0, std::ssize(*desktop.value(field))});
                    });
                });
                break;
        }
        if (session.strategy.kind == Strategy::Kind::focusedValue) {
            corrected = u"the cat";
        }
        if (c.loseFrontAt) {
            desktop.setFrontmostAfter(*c.loseFrontAt, editorPid);
        }
        // What happens "before the paste" happens while the chord waits for the person to let
        // go of their keys.
        if (c.expected == onClipboard && (c.loseFrontAt || c.stopAt)) {
            desktop.setGrabHidesFocus(false);
            (void)desktop.holdHotKey({keycode::e, platform::modifier::command});
            executor->postAfter(200ms, [this] { desktop.releaseHotKey(); });
        }
        std::stop_source stop;
        if (c.stopAt) {
            executor->postAfter(*c.stopAt, [&] { stop.request_stop(); });
        }
        const auto selectionBefore = desktop.selection(target.field);
        EXPECT_EQ(commit(session, corrected, stop.get_token()), c.expected);
        if (c.expected.kind == Result::Kind::failed) {
            EXPECT_EQ(desktop.selection(target.field), selectionBefore)
                << "caret and selection as they were";
        }
        executor->advance(1s);  // late reads by the target
        EXPECT_EQ(desktop.value(target.field), c.valueAfter);
        EXPECT_EQ(count(PostedKey::Kind::down, keycode::v), c.pastes);
        if (c.before == Before::focusTerminal) {
            EXPECT_EQ(
                count(PostedKey::Kind::down, keycode::c) + count(PostedKey::Kind::down, keycode::a),
                0);
        }
        const bool deferred = c.expected.kind == Result::Kind::pasteOnClipboard;
        EXPECT_EQ(clipboard(), deferred ? corrected : u"user's secret");
        EXPECT_EQ(manager->hasPendingRestore(), deferred);
        executor->advance(61s);
        EXPECT_EQ(clipboard(), u"user's secret");
        accessibility->hidden.clear();
    }
}

// A password field has the keyboard by the time the text would go in (the person moved to one,
// or the page hid the field meanwhile): nothing is written into it, neither over accessibility
// nor by a paste, and the person's clipboard is theirs again.
TEST_F(HostTest, NothingIsWrittenWhereAPasswordFieldNowHasTheKeyboard) {
    struct Case {
        const char* name;
        std::optional<std::chrono::milliseconds> turnsAt;  // none: before the commit
    };
    for (const Case& c : {Case{"before the commit", std::nullopt},
                          Case{"while the selection is made again", 30ms}}) {
        SCOPED_TRACE(c.name);
        // (the selection shows 60 ms after it is written: the commit waits for it)
        const auto target = open({.identity = "gedit"}, {.value = u"teh cat",
                                                         .selection = {0, 3},
                                                         .rangeWriteDelay = 60ms});
        const auto session = beginNow().value();
        desktop.setSelection(target.field, {7, 0});
        const auto passwordField = [this, pid = target.app.pid] {
            desktop.focus(desktop.addElement(desktop.addWindow(pid, {}),
                                             {.role = "AXSecureTextField", .value = u"pw"}));
        };
        if (c.turnsAt) {
            executor->postAfter(*c.turnsAt, passwordField);
        } else {
            passwordField();
        }
        EXPECT_EQ(commit(session, u"the cat"),
                  Result::failed(QNQuickFixCommitFailure::secureInput));
        executor->advance(1s);
        EXPECT_EQ(desktop.value(target.field), u"teh cat");
        EXPECT_EQ(count(PostedKey::Kind::down, keycode::v), 0);
        EXPECT_EQ(clipboard(), u"user's secret");
        EXPECT_FALSE(manager->hasPendingRestore());
    }
}

// The user copies something of their own while the correction is on the clipboard: their copy
// stands (nothing is put back over it, now or a minute later) and the session keeps the
// correction. Copied before the chord, no chord goes out and the clipboard changed is said;
// copied after it, before the target read, the target pastes the copy and the paste not
// arriving is said (never that the clipboard changed before it).
TEST_F(HostTest, TheUsersOwnCopyDuringThePasteStandsAndIsNeverPasted) {
    struct Case {
        std::chrono::milliseconds copyAt;  // after the commit began
        Result expected;
        std::u16string valueAfter;
    };
    for (const Case& c : {
             // While the chord waits for the person to let go of their keys (until 50 ms).
             Case{20ms, Result::failed(QNQuickFixCommitFailure::clipboardChanged), u"teh cat"},
             // The chord goes out at 50 ms, the target reads 20 ms later.
             Case{60ms, Result::failed(QNQuickFixCommitFailure::notPasted, "paste-not-fetched"),
                  u"mine cat"},
             Case{500ms, Result::committed(QNQuickFixReplacementMethod::paste), u"the cat"},
         }) {
        SCOPED_TRACE(c.copyAt.count());
        const auto target = open({.identity = "firefox"}, {.value = u"teh cat", .selection = {0, 3}});
        const auto session = beginNow().value();
        desktop.setGrabHidesFocus(false);
        (void)desktop.holdHotKey({keycode::e, platform::modifier::command});
        executor->postAfter(50ms, [this] { desktop.releaseHotKey(); });
        executor->postAfter(c.copyAt, [this] { desktop.copyToPasteboard(u"mine"); });
        EXPECT_EQ(commit(session, u"the"), c.expected);
        executor->advance(61s);
        EXPECT_EQ(desktop.value(target.field), c.valueAfter);
        EXPECT_EQ(clipboard(), u"mine");
        EXPECT_FALSE(manager->hasPendingRestore());
    }
}

// An editor whose text accessibility does not give, and which copies the caret's whole line when
// nothing is selected (KWrite, code editors): the capture selects everything first and copies
// only once that is seen selected, puts the caret back, and the write-back replaces exactly what
// was captured, once. Where the selection cannot be seen, or the caret not put back, no copy is
// made at all.
TEST_F(HostTest, AWholeLineCopyingEditorIsCapturedWholeAndWrittenOnceOrLeftAlone) {
    enum class Editor { selectsAll, ctrlAMovesTheCaret, caretCannotBePutBack, notATextElement };
    struct Case {
        const char* name;
        Editor editor;
        bool captured;
        int selectAlls, copies;
    };
    const std::u16string document = u"line one\nteh two\nline three";
    for (const Case& c : {
             Case{"Ctrl+A selects all", Editor::selectsAll, true, 2, 1},
             Case{"Ctrl+A moves to the line's start", Editor::ctrlAMovesTheCaret, false, 1, 0},
             Case{"a caret that cannot be put back", Editor::caretCannotBePutBack, false, 0, 0},
             // Its range says nothing of where the application's caret is.
             Case{"not a text element", Editor::notATextElement, false, 0, 0},
         }) {
        SCOPED_TRACE(c.name);
        const auto target = open(
            {.identity = "kwrite"},
            {.role = c.editor == Editor::notATextElement ? "AXGroup" : "AXTextArea",
             .value = document,
             .selection = {12, 0},
             .refusesRangeWrites = c.editor == Editor::caretCannotBePutBack});
        accessibility->hidden = {"AXValue"};
        const auto copyLineOrSelection = [&, field = target.field] {
            const auto selection = desktop.selection(field);
            const auto value = desktop.value(field).value_or(u"");
            if (selection.length > 0) {
                desktop.copyToPasteboard(value.substr(static_cast<std::size_t>(selection.location),
                                                      static_cast<std::size_t>(selection.length)));
            } else {
                desktop.copyToPasteboard(u"teh two\n");  // the caret's line
            }
        };
        desktop.scriptShortcut(target.app.pid, keycode::c, copyLineOrSelection);
        if (c.editor == Editor::ctrlAMovesTheCaret) {
            desktop.scriptShortcut(target.app.pid, keycode::a,
                                   [&, field = target.field] { desktop.setSelection(field, {9, 0}); });
        }
        const auto session = beginNow();
        ASSERT_EQ(session.has_value(), c.captured);
        EXPECT_EQ(desktop.selection(target.field), (text::Utf16Range{12, 0}))
            << "the caret is back where it was";
        EXPECT_EQ(clipboard(), u"user's secret");
        if (session) {
            EXPECT_EQ(session->captureMethod, Method::selectAllAndCopy);
            EXPECT_EQ(session->originalText, document);
            EXPECT_EQ(commit(*session, u"line one\nthe two\nline three"),
                      Result::committed(QNQuickFixReplacementMethod::paste));
            executor->advance(1s);
        }
        EXPECT_EQ(desktop.value(target.field),
                  c.captured ? u"line one\nthe two\nline three" : document);
        EXPECT_EQ(count(PostedKey::Kind::down, keycode::a), c.selectAlls);
        EXPECT_EQ(count(PostedKey::Kind::down, keycode::c), c.copies);
        EXPECT_EQ(clipboard(), u"user's secret");
        accessibility->hidden.clear();
    }
}

// A browser's page applies a caret written through accessibility a moment after the write is
// answered, and under load shows Ctrl+A's select-all late too, even after the capture has given
// up on it. Whatever the Quick Fix selects to capture, or to replace and then does not write
// over, is seen back in place before the flow ends: the person's next key lands at their caret
// instead of replacing the whole text.
TEST_F(HostTest, ASelectionMadeAndNotWrittenOverIsSeenPutBackBeforeTheFlowEnds) {
    struct Case {
        const char* name;
        std::chrono::milliseconds selectAllShownAfter;
        bool commit;  // the person types before it: it finds another text and writes nothing
        bool captured;
        std::u16string valueAfterNextKey;
    };
    for (const Case& c : {
             Case{"capture, the caret applied late", 0ms, false, true, u"all xgood"},
             Case{"capture, the select-all shown late too", 150ms, false, true, u"all xgood"},
             Case{"capture, the select-all shown after it was given up", 1200ms, false, false,
                  u"all xgood"},
             Case{"commit over a text changed since", 150ms, true, true, u"all !xgood"},
         }) {
        SCOPED_TRACE(c.name);
        const auto target =
            open({.identity = "firefox"},
                 {.value = u"all good", .selection = {4, 0}, .rangeWriteDelay = 100ms});
        const auto selectAllLate = [&, field = target.field] {
            desktop.scriptShortcut(target.app.pid, keycode::a, [&, field] {
                executor->postAfter(c.selectAllShownAfter, [&, field] {
                    const auto size = static_cast<std::int64_t>(desktop.value(field)->size());
                    desktop.setSelection(field, {0, size});
                });
            });
        };
        if (!c.commit && c.selectAllShownAfter > 0ms) {
            selectAllLate();
        }
        const auto session = beginNow();
        ASSERT_EQ(session.has_value(), c.captured);
        if (session) {
            EXPECT_EQ(session->captureMethod, Method::selectAllAndCopy);
        }
        if (c.commit) {
            selectAllLate();
            ASSERT_TRUE(fakeSeams.keySynthesis->postText(u"!").ok());
            EXPECT_EQ(commit(*session, u"all good."),
                      Result::failed(QNQuickFixCommitFailure::restoreTargetSelection));
        }
        ASSERT_TRUE(fakeSeams.keySynthesis->postText(u"x").ok());
        executor->advance(1s);
        EXPECT_EQ(desktop.value(target.field), c.valueAfterNextKey);
        EXPECT_EQ(desktop.selection(target.field).length, 0) << "nothing left selected";
        EXPECT_EQ(clipboard(), u"user's secret");
    }
}

// Once the text is written (through accessibility, or pasted over Ctrl+A's selection), the caret
// and the selection stand where they were, mapped through the change: at the end of the first of
// three lines the caret stays there (the next key goes there, not after the last line); a
// selection of the captured text covers the corrected text.
TEST_F(HostTest, AfterTheWriteTheCaretAndSelectionStandWhereTheyWere) {
    const std::u16string lines = u"teh first\nsecond\nthird realy";
    const auto fix = [](std::u16string text) {
        for (const auto& [from, to] : {std::pair<std::u16string, std::u16string>{u"teh", u"the"},
                                       {u"realy", u"really"},
                                       {u"has", u"have"}}) {
            if (const auto at = text.find(from); at != std::u16string::npos) {
                text.replace(at, from.size(), to);
            }
        }
        return text;
    };
    struct Case {
        const char* name;
        std::u16string value;
        text::Utf16Range selection;
        text::Utf16Range expected;
    };
    for (const std::string identity : {"gedit", "code"}) {
        for (const Case& c : {
                 Case{"end of line 1 of 3", lines, {9, 0}, {9, 0}},
                 Case{"inside the last line", lines, {23, 0}, {23, 0}},
                 Case{"end of the text", lines, {28, 0}, {29, 0}},
                 Case{"the captured text selected", u"I has a cat", {0, 5}, {0, 6}},
             }) {
            SCOPED_TRACE(identity + ", " + c.name);
            const auto target =
                open({.identity = identity}, {.value = c.value, .selection = c.selection});
            const auto session = beginNow();
            ASSERT_TRUE(session);
            const auto result = commit(*session, fix(session->originalText));
            EXPECT_EQ(result.kind, Result::Kind::committed) << toString(result);
            executor->advance(2s);
            EXPECT_EQ(desktop.value(target.field), fix(c.value));
            EXPECT_EQ(desktop.selection(target.field), c.expected);
        }
    }
}

TEST_F(HostTest, EndToEndThroughAccessibilityAndThroughAPaste) {
    for (const std::string identity : {"gedit", "code"}) {
        SCOPED_TRACE(identity);
        const auto target = open(
            {.identity = identity},
            {.value = u"I has a cat", .selection = {0, 5}, .frame = makeRect(10, 10, 400, 20)});
        const auto snapshot = finish(start(Snapshot::capture(seams(manager), {})));
        const auto session = begin(snapshot).value();
        EXPECT_EQ(session.originalText, u"I has");
        EXPECT_EQ(commit(session, u"I have"),
                  Result::committed(identity == "gedit" ? QNQuickFixReplacementMethod::accessibility
                                                        : QNQuickFixReplacementMethod::paste));
        executor->advance(1s);
        EXPECT_EQ(desktop.value(target.field), u"I have a cat");
        EXPECT_EQ(clipboard(), u"user's secret");
        EXPECT_FALSE(manager->hasPendingRestore());
    }
}

}  // namespace
}  // namespace ravlin::testing
