#include "platform/fake/fake_desktop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "core/support/executor.h"
#include "platform/unavailable.h"

namespace ravlin::platform::fake {
namespace {

using namespace std::chrono_literals;
using text::Utf16Range;

struct FakeDesktopTest : ::testing::Test {
    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    FakeDesktop desktop{executor};
    Seams seams = desktop.seams();
    ProcessID editor = desktop.addApplication({.identity = "org.example.Editor", .name = "Editor"});
    ElementRef window = desktop.addWindow(editor, makeRect(100, 100, 400, 300));

    ElementRef focusedField(ElementDescription spec) {
        const auto field = desktop.addElement(window, std::move(spec));
        desktop.focus(field);
        desktop.setFrontmost(editor);
        return field;
    }
};

TEST_F(FakeDesktopTest, PasteReadsThePasteboardAfterTheApplicationsDelayAndInsertsAtTheSelection) {
    const auto field = focusedField({.value = u"Hello wrld", .selection = {6, 4}});
    desktop.copyToPasteboard(u"world");
    ASSERT_TRUE(seams.keySynthesis->postKeyPress({keycode::v, modifier::control}));
    executor->advance(19ms);
    EXPECT_EQ(desktop.value(field), u"Hello wrld");
    executor->advance(1ms);
    EXPECT_EQ(desktop.value(field), u"Hello world");
    EXPECT_EQ(desktop.selection(field), (Utf16Range{11, 0}));
}

TEST_F(FakeDesktopTest, APasteboardRestoredBeforeTheApplicationReadsItPastesTheOldContents) {
    const auto field = focusedField({.value = u""});
    desktop.copyToPasteboard(u"user's clip");
    const PasteboardContents saved{desktop.pasteboardItems()};
    seams.pasteboard->clear();
    ASSERT_TRUE(seams.pasteboard->setString(u"corrected"));
    ASSERT_TRUE(seams.keySynthesis->postKeyPress({keycode::v, modifier::control}));
    seams.pasteboard->clear();
    ASSERT_TRUE(seams.pasteboard->writeContents(saved));
    executor->advance(1s);
    EXPECT_EQ(desktop.value(field), u"user's clip");
}

TEST_F(FakeDesktopTest, FrontmostChangesAreAnnouncedWithTheApplicationAndItsFocus) {
    const auto field = desktop.addElement(window, {});
    desktop.focus(field);
    std::vector<std::optional<RunningApplication>> fronts;
    std::vector<ElementRef> focuses;
    auto watchingFront = seams.workspace->observeFrontmost(
        [&](const std::optional<RunningApplication>& app) { fronts.push_back(app); });
    auto watchingFocus =
        seams.accessibility->observeFocus([&](ElementRef element) { focuses.push_back(element); });
    desktop.setFrontmost(editor);
    desktop.setFrontmost(editor);
    desktop.setFrontmost(std::nullopt);
    EXPECT_EQ(fronts,
              (std::vector<std::optional<RunningApplication>>{
                  RunningApplication{editor, "org.example.Editor", "Editor"}, std::nullopt}));
    EXPECT_EQ(focuses, std::vector{field});
    EXPECT_EQ(seams.workspace->currentApplication().pid, desktop.ownPid());
}

TEST_F(FakeDesktopTest, SelectAllThenCopyPutsTheWholeTextOnThePasteboardWithEitherShortcutKey) {
    for (const auto shortcut : {modifier::command, modifier::control}) {
        const auto field = focusedField({.value = u"every word", .selection = {3, 0}});
        desktop.copyToPasteboard(u"before");
        const auto count = seams.pasteboard->changeCount();
        ASSERT_TRUE(seams.keySynthesis->postKeyPress({keycode::a, shortcut}));
        ASSERT_TRUE(seams.keySynthesis->postKeyPress({keycode::c, shortcut}));
        EXPECT_EQ(desktop.pasteboardString(), u"before");
        executor->advance(10ms);
        EXPECT_EQ(desktop.selection(field), (Utf16Range{0, 10}));
        EXPECT_EQ(desktop.pasteboardString(), u"every word");
        EXPECT_EQ(seams.pasteboard->changeCount(), count + 1);
    }
}

TEST_F(FakeDesktopTest, CopyWithNothingSelectedLeavesThePasteboardAlone) {
    focusedField({.value = u"caret only", .selection = {4, 0}});
    desktop.copyToPasteboard(u"kept");
    const auto count = seams.pasteboard->changeCount();
    ASSERT_TRUE(seams.keySynthesis->postKeyPress({keycode::c, modifier::control}));
    executor->advance(1s);
    EXPECT_EQ(seams.pasteboard->changeCount(), count);
    EXPECT_EQ(desktop.pasteboardString(), u"kept");
}

TEST_F(FakeDesktopTest, TypedTextAndBackspaceEditAtTheCaret) {
    const auto field = focusedField({.value = u"ab", .selection = {1, 0}});
    ASSERT_TRUE(seams.keySynthesis->postText(u"\u200B"));
    EXPECT_EQ(desktop.value(field), u"a\u200Bb");
    ASSERT_TRUE(seams.keySynthesis->postKeyPress({keycode::deleteKey, 0}));
    desktop.userTypeText(u"xy");
    EXPECT_EQ(desktop.value(field), u"axyb");
    EXPECT_EQ(desktop.selection(field), (Utf16Range{3, 0}));
    EXPECT_EQ(seams.keySynthesis->postText(u"").code(), ErrorCode::invalidArgument);
}

TEST_F(FakeDesktopTest, ActivationFollowsTheApplicationsPolicyOnVirtualTime) {
    struct Case {
        const char* name;
        Activation policy;
        bool accepted;
        std::chrono::milliseconds frontAfter;  // negative: never
    };
    const Case cases[] = {
        {"immediately", Activation::immediately(), true, 0ms},
        {"after 300 ms", Activation::after(300ms), true, 300ms},
        {"refuse", Activation::refuse(), false, -1ms},
        {"accept but never front", Activation::acceptButNeverFront(), true, -1ms},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        desktop.setFrontmost(desktop.ownPid());
        desktop.setActivation(editor, c.policy);
        EXPECT_EQ(seams.workspace->activate(editor), c.accepted);
        if (c.frontAfter > 0ms) {
            executor->advance(c.frontAfter - 1ms);
            EXPECT_EQ(seams.workspace->frontmostApplication()->pid, desktop.ownPid());
            executor->advance(1ms);
        } else if (c.frontAfter < 0ms) {
            executor->advance(5s);
        }
        const bool front = seams.workspace->frontmostApplication()->pid == editor;
        EXPECT_EQ(front, c.frontAfter >= 0ms);
    }
    EXPECT_EQ(desktop.activationRequests(editor), 4);
    EXPECT_FALSE(seams.workspace->activate(12345));
}

TEST_F(FakeDesktopTest, TheChangeCountMovesOnEveryClearAndObserversHearOnceTheWriteIsDone) {
    std::vector<std::pair<std::int64_t, std::optional<std::u16string>>> heard;
    auto watching = seams.pasteboard->observeChanges(
        [&](std::int64_t count) { heard.emplace_back(count, desktop.pasteboardString()); });
    const auto start = seams.pasteboard->changeCount();
    EXPECT_EQ(seams.pasteboard->clear(), start + 1);
    ASSERT_TRUE(seams.pasteboard->setString(u"text"));
    ASSERT_TRUE(seams.pasteboard->writeContents({{{{"image/png", {1, 2, 3}}}}}));
    seams.pasteboard->readString([](const auto&) {});
    seams.pasteboard->readContents([](const auto&) {});
    EXPECT_EQ(seams.pasteboard->changeCount(), start + 1);
    EXPECT_EQ(seams.pasteboard->clear(), start + 2);
    EXPECT_TRUE(desktop.pasteboardItems().empty());
    ASSERT_TRUE(seams.pasteboard->setString(u"second"));
    executor->runUntilIdle();
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0], std::pair(start + 2, std::optional<std::u16string>(u"second")));

    desktop.setPasteboardWritesFail(true);
    EXPECT_EQ(seams.pasteboard->setString(u"x").code(), ErrorCode::failed);
    EXPECT_EQ(seams.pasteboard->writeContents({}).code(), ErrorCode::failed);
}

TEST_F(FakeDesktopTest, TrustChangesAreAnnouncedOnceAndGateEveryAccessibilityCall) {
    const auto field = focusedField({.value = u"text"});
    std::vector<bool> heard;
    auto watching =
        seams.accessibility->observeTrust([&](bool trusted) { heard.push_back(trusted); });
    desktop.setTrusted(false);
    desktop.setTrusted(false);
    auto& ax = *seams.accessibility;
    EXPECT_EQ(ax.attribute(field, ax::value).code(), ErrorCode::notPermitted);
    EXPECT_EQ(ax.setAttribute(field, ax::value, u"x").code(), ErrorCode::notPermitted);
    EXPECT_EQ(seams.keyTaps->startTap(eventMaskBit(InputEventType::keyDown), nullptr).code(),
              ErrorCode::notPermitted);
    EXPECT_FALSE(ax.isTrusted(false));
    EXPECT_EQ(desktop.trustPrompts(), 0);
    EXPECT_FALSE(ax.isTrusted(true));
    EXPECT_EQ(desktop.trustPrompts(), 1);
    desktop.setTrusted(true);
    watching.reset();
    desktop.setTrusted(false);
    EXPECT_EQ(heard, (std::vector<bool>{false, true}));
}

TEST_F(FakeDesktopTest, FocusIsFoundSystemWideOrOnlyThroughTheApplicationElement) {
    const auto field = focusedField({.role = "AXTextArea", .value = u"x"});
    auto& ax = *seams.accessibility;
    EXPECT_EQ(elementAttribute(ax, ax.systemWideElement(), ax::focusedUIElement), field);
    const auto quiet = desktop.addApplication({.identity = "q", .reportsFocusSystemWide = false});
    const auto quietField = desktop.addElement(desktop.addWindow(quiet, {}), {});
    desktop.focus(quietField);
    desktop.setFrontmost(quiet);
    EXPECT_EQ(ax.attribute(ax.systemWideElement(), ax::focusedUIElement).code(),
              ErrorCode::notFound);
    EXPECT_EQ(elementAttribute(ax, *ax.applicationElement(quiet), ax::focusedUIElement),
              quietField);
    EXPECT_EQ(textAttribute(ax, field, ax::role), u"AXTextArea");
    EXPECT_EQ(ax.attribute(field, ax::subrole).code(), ErrorCode::notFound);
    desktop.removeElement(window);
    EXPECT_EQ(ax.attribute(field, ax::role).code(), ErrorCode::invalidArgument);
}

TEST_F(FakeDesktopTest, AccessibilityWritesApplyAreIgnoredOrFailAsTheElementSays) {
    struct Case {
        WriteBehaviour writes;
        bool succeeds;
        std::u16string after;
    };
    const Case cases[] = {
        {WriteBehaviour::apply, true, u"a fixed text"},
        {WriteBehaviour::ignore, true, u"a fxed text"},
        {WriteBehaviour::fail, false, u"a fxed text"},
    };
    for (const auto& c : cases) {
        const auto field =
            focusedField({.value = u"a fxed text", .selection = {2, 4}, .writes = c.writes});
        auto& ax = *seams.accessibility;
        EXPECT_EQ(ax.isAttributeSettable(field, ax::selectedText).value(), true);
        EXPECT_EQ(ax.setAttribute(field, ax::selectedText, u"fixed").ok(), c.succeeds);
        EXPECT_EQ(desktop.value(field), c.after);
    }
}

TEST_F(FakeDesktopTest, RangeWritesAndParameterizedReadsCheckTheirRange) {
    const auto field = focusedField({.value = u"one two", .frame = makeRect(10, 20, 200, 24)});
    auto& ax = *seams.accessibility;
    EXPECT_TRUE(ax.setAttribute(field, ax::selectedTextRange, Utf16Range{4, 3}));
    EXPECT_EQ(textAttribute(ax, field, ax::selectedText), u"two");
    EXPECT_EQ(ax.setAttribute(field, ax::selectedTextRange, Utf16Range{5, 3}).code(),
              ErrorCode::invalidArgument);
    EXPECT_EQ(ax.parameterizedAttribute(field, ax::stringForRange, Utf16Range{0, 3}).value(),
              AttributeValue(u"one"));
    EXPECT_EQ(ax.parameterizedAttribute(field, ax::boundsForRange, Utf16Range{4, 0}).value(),
              AttributeValue(makeRect(10 + 4 * FakeDesktop::glyphWidth, 20, 0, 16)));
    EXPECT_EQ(ax.parameterizedAttribute(field, ax::stringForRange, Utf16Range{6, 2}).code(),
              ErrorCode::invalidArgument);
    const auto plain = focusedField({.value = u"one", .parameterizedReads = false});
    EXPECT_EQ(ax.parameterizedAttribute(plain, ax::stringForRange, Utf16Range{0, 1}).code(),
              ErrorCode::notSupported);
}

TEST_F(FakeDesktopTest, TapsSeeSyntheticAndUserEventsAndASwallowedKeyNeverReachesTheApplication) {
    desktop.setTapsCanSwallow(true);  // a desktop whose taps may hold keys back
    const auto field = focusedField({.value = u""});
    std::vector<InputEvent> seen;
    auto tap = seams.keyTaps->startTap(
        eventMaskBit(InputEventType::keyDown) | eventMaskBit(InputEventType::flagsChanged),
        [&](const InputEvent& event) {
            seen.push_back(event);
            return event.keyCode == keycode::e ? TapVerdict::swallow : TapVerdict::pass;
        });
    ASSERT_TRUE(tap);
    desktop.userPressKey({keycode::e, 0});
    desktop.userPressKey({keycode::space, 0});
    ASSERT_TRUE(seams.keySynthesis->postKeyPress({keycode::a, 0}));
    desktop.userFlagsChanged(keycode::rightShift, eventflag::shift);
    EXPECT_EQ(desktop.value(field), u" a");
    ASSERT_EQ(seen.size(), 4u);  // key ups are not in the mask
    EXPECT_FALSE(seen[0].isSynthetic);
    EXPECT_EQ(seen[0].characters, u"e");
    EXPECT_TRUE(seen[2].isSynthetic);
    EXPECT_EQ(seen[3].modifiers, modifier::shift);

    desktop.setTapsCanSwallow(false);  // as on X11: the verdict is advisory
    desktop.userPressKey({keycode::e, 0});
    EXPECT_EQ(desktop.value(field), u" ae");
}

TEST_F(FakeDesktopTest, ADisabledTapIsToldAndHearsNothingUntilReEnabled) {
    std::vector<InputEventType> seen;
    auto tap = seams.keyTaps->startTap(eventMaskBit(InputEventType::keyDown),
                                       [&](const InputEvent& event) {
                                           seen.push_back(event.type);
                                           return TapVerdict::pass;
                                       });
    desktop.disableTaps(InputEventType::tapDisabledByTimeout);
    desktop.userPressKey({keycode::e, 0});
    executor->runUntilIdle();
    EXPECT_FALSE(tap->isEnabled());
    tap->setEnabled(true);
    desktop.userPressKey({keycode::e, 0});
    executor->runUntilIdle();  // (taps hear keys on the program's next turn, as on X11)
    EXPECT_EQ(seen, (std::vector{InputEventType::tapDisabledByTimeout, InputEventType::keyDown}));
}

TEST_F(FakeDesktopTest, DroppingAHandleEndsItsRegistration) {
    int presses = 0;
    int taps = 0;
    int focusChanges = 0;
    {
        auto hotKey =
            seams.hotKeys->registerHotKey({keycode::e, modifier::control}, 1, [&] { ++presses; });
        auto tap =
            seams.keyTaps->startTap(eventMaskBit(InputEventType::keyDown), [&](const InputEvent&) {
                ++taps;
                return TapVerdict::pass;
            });
        auto focus = seams.accessibility->observeFocus([&](ElementRef) { ++focusChanges; });
        EXPECT_TRUE(desktop.pressHotKey({keycode::e, modifier::control}));
        desktop.userPressKey({keycode::e, 0});
        executor->runUntilIdle();  // (taps hear keys on the program's next turn, as on X11)
        focusedField({});
        EXPECT_EQ(desktop.hotKeyCount(), 1u);
        EXPECT_EQ(desktop.tapCount(), 1u);
    }
    EXPECT_FALSE(desktop.pressHotKey({keycode::e, modifier::control}));
    desktop.userPressKey({keycode::e, 0});
    executor->runUntilIdle();
    focusedField({});
    EXPECT_EQ(desktop.hotKeyCount(), 0u);
    EXPECT_EQ(desktop.tapCount(), 0u);
    EXPECT_EQ((std::vector{presses, taps, focusChanges}), (std::vector{1, 1, 1}));
}

TEST_F(FakeDesktopTest, HotKeysHeldElsewhereOrUsingFnAreRefused) {
    desktop.reserveHotKey({keycode::space, modifier::option});
    EXPECT_EQ(seams.hotKeys->registerHotKey({keycode::space, modifier::option}, 1, [] {}).code(),
              ErrorCode::failed);
    EXPECT_EQ(
        seams.hotKeys->registerHotKey({keycode::function, modifier::function}, 1, [] {}).code(),
        ErrorCode::notSupported);
    EXPECT_EQ(desktop.hotKeyCount(), 0u);
}

TEST_F(FakeDesktopTest, KeychainFailuresLeaveTheStoredSecretAlone) {
    auto& keychain = *seams.keychain;
    ASSERT_TRUE(keychain.replacePassword("svc", "acct", "s3cret"));
    struct Case {
        bool available;
        std::optional<ErrorCode> failure;
        ErrorCode expected;
    };
    const Case cases[] = {
        {false, std::nullopt, ErrorCode::unavailable},
        {true, ErrorCode::notPermitted, ErrorCode::notPermitted},
        {true, ErrorCode::failed, ErrorCode::failed},
    };
    for (const auto& c : cases) {
        desktop.setKeychainAvailable(c.available);
        desktop.setKeychainFailure(c.failure);
        EXPECT_EQ(keychain.isAvailable(), c.available);
        EXPECT_EQ(keychain.readPassword("svc", "acct").code(), c.expected);
        EXPECT_EQ(keychain.replacePassword("svc", "acct", "other").code(), c.expected);
        EXPECT_EQ(keychain.deletePassword("svc", "acct").code(), c.expected);
        EXPECT_EQ(desktop.storedPassword("svc", "acct"), "s3cret");
    }
    desktop.setKeychainAvailable(true);
    desktop.setKeychainFailure(std::nullopt);
    ASSERT_TRUE(keychain.deletePassword("svc", "acct"));
    ASSERT_TRUE(keychain.deletePassword("svc", "acct"));
    EXPECT_EQ(keychain.readPassword("svc", "acct").value(), std::nullopt);
}

TEST_F(FakeDesktopTest, LoginItemRegistrationMayNeedApprovalOrFailWithoutChange) {
    auto& item = *seams.loginItem;
    desktop.setLoginItemNeedsApproval(true);
    ASSERT_TRUE(item.registerItem());
    EXPECT_EQ(item.status(), LoginItemStatus::requiresApproval);
    desktop.setLoginItemFailure(ErrorCode::notPermitted);
    EXPECT_EQ(item.unregisterItem().code(), ErrorCode::notPermitted);
    EXPECT_EQ(item.status(), LoginItemStatus::requiresApproval);
}

TEST(Seams, UnavailableObjectsFillEveryGapAndAreListedByName) {
    const auto none = unavailableSeams();
    EXPECT_EQ(unavailableSeamNames(none).size(), 14u);
    EXPECT_TRUE(connectedSeamNames(none).empty());
    EXPECT_FALSE(none.spellChecker->isMisspelled(u"recieve"));
    EXPECT_FALSE(none.accessibility->isTrusted(true));
    EXPECT_EQ(none.keychain->readPassword("s", "a").code(), ErrorCode::unavailable);
    EXPECT_EQ(none.keyTaps->startTap(~0ull, nullptr).code(), ErrorCode::unavailable);

    auto executor = std::make_shared<ManualExecutor>();
    FakeDesktop desktop(executor);
    auto partial = desktop.seams();
    EXPECT_TRUE(unavailableSeamNames(partial).empty());
    partial.keychain = nullptr;
    partial.loginItem = std::make_shared<UnavailableLoginItem>();
    EXPECT_EQ(unavailableSeamNames(partial),
              (std::vector<std::string_view>{"keychain", "login item"}));
    EXPECT_EQ(connectedSeamNames(partial).size(), 12u);
    const auto filled = withUnavailableFilled(partial);
    ASSERT_NE(filled.keychain, nullptr);
    EXPECT_FALSE(filled.keychain->isAvailable());
    // Reached over the session's bus: only what answers there connected (the accessibility bus
    // switched on, the keyring).
    partial.keychain = desktop.seams().keychain;
    desktop.setTrusted(false);
    desktop.setKeychainAvailable(false);
    const auto unanswered = connectedSeamNames(partial);
    for (const auto name : {"accessibility", "secure input", "keychain"}) {
        EXPECT_EQ(std::ranges::count(unanswered, std::string_view(name)), 0) << name;
    }
    desktop.setTrusted(true);
    desktop.setKeychainAvailable(true);
    EXPECT_EQ(connectedSeamNames(partial).size(), 13u);
    partial.keychain = nullptr;
    // Without the session's bus, what is reached through it has not answered.
    desktop.setSessionBus(false);
    const auto connected = connectedSeamNames(partial);
    EXPECT_EQ(std::count(connected.begin(), connected.end(), "accessibility"), 0);
    EXPECT_EQ(std::count(connected.begin(), connected.end(), "secure input"), 0);
    EXPECT_EQ(unavailableSeamNames(partial),
              (std::vector<std::string_view>{"accessibility", "secure input", "keychain",
                                             "login item"}));
}

}  // namespace
}  // namespace ravlin::platform::fake
