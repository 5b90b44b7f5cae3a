// The Linux backends against real GTK and Qt applications on the suite's own headless desktop.

#include <gtest/gtest.h>
#include <qcoro/qcorotask.h>
#include <signal.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <set>

#include "app/target/focus_snapshot.h"
#include "app/target/pasteboard_snapshot.h"
#include "app/target/target_seams.h"
#include "core/text/unicode.h"
#include "desktop_fixture.h"
#include "platform/linux/keys/xtest_key_synthesis.h"
#include "platform/linux/screens/qt_screens.h"
#include "platform/linux/x11/xlib.h"
#include "platform/unavailable.h"

namespace ravlin::testing {
namespace {

using platform::AttributeValue;
using platform::ErrorCode;
using platform::KeyChord;
using text::Utf16Range;
namespace ax = platform::ax;
namespace keycode = platform::keycode;
namespace modifier = platform::modifier;

const std::u16string lineText = u"h\u00e9llo \U0001F600 w\u00f6rld teh";
const std::u16string areaText = u"line one \U0001F600\nsecond l\u00edne teh";

struct Toolkit {
    std::string name;
    // The line field's "😀 " in the toolkit's own offsets: GTK counts code points, Qt UTF-16.
    QString selectEmoji;
    // Whether its single-line field tells where its characters are (GTK 4's entries do not: its
    // text views do).
    bool lineHasCharacterBounds = true;
    // Its password fields: GTK 4's hidden Entries are too, though their role says plain text
    // (masked with bullets, a letter, nothing, a space, an emoji), and a PasswordEntry whose peek
    // button shows its text.
    std::vector<QString> passwordFields = {QStringLiteral("password")};
};

void PrintTo(const Toolkit& toolkit, std::ostream* out) {
    *out << toolkit.name;
}

class DesktopTest : public ::testing::TestWithParam<Toolkit> {
  protected:
    Desktop& desktop = Desktop::get();
    platform::Accessibility& accessibility = *desktop.seams.accessibility;
    TargetApp& app = desktop.target(GetParam().name);

    std::optional<Utf16Range> selection(platform::ElementRef element) {
        return platform::rangeAttribute(accessibility, element, ax::selectedTextRange);
    }
    // Puts a field's text back as the suite found it.
    void restore(platform::ElementRef element, const std::u16string& text) {
        ASSERT_TRUE(accessibility.setAttribute(element, ax::value, AttributeValue(text)).ok());
    }
    // The single-line field focused, the caret after its text; none where it could not be.
    platform::ElementRef lineWithTheCaretAtItsEnd() {
        const auto field = desktop.focus(app, "line");
        const auto end = static_cast<std::int64_t>(lineText.size());
        if (!field || !accessibility
                           .setAttribute(field, ax::selectedTextRange,
                                         AttributeValue(Utf16Range{end, 0}))
                           .ok()) {
            return {};
        }
        return field;
    }
};

TEST_P(DesktopTest, ReadsTheFocusedFieldInUtf16) {
    const auto field = desktop.focus(app, "line");
    ASSERT_TRUE(field);
    ASSERT_TRUE(app.command(GetParam().selectEmoji));

    EXPECT_EQ(platform::textAttribute(accessibility, field, ax::role), u"AXTextField");
    EXPECT_EQ(desktop.value(field), lineText);
    EXPECT_EQ(accessibility.processID(field).toOptional(), app.pid());
    ASSERT_TRUE(waitUntil([&] { return selection(field) == Utf16Range{6, 3}; }));
    EXPECT_EQ(platform::textAttribute(accessibility, field, ax::selectedText), u"\U0001F600 ");
    EXPECT_EQ(std::get<double>(*accessibility.attribute(field, ax::numberOfCharacters)),
              static_cast<double>(lineText.size()));

    // The emoji's bounds lie inside the field's frame, both y-down screen coordinates.
    const auto origin = std::get<platform::Point>(*accessibility.attribute(field, ax::position));
    const auto size = std::get<platform::Size>(*accessibility.attribute(field, ax::size));
    const auto bounds = accessibility.parameterizedAttribute(field, ax::boundsForRange,
                                                             AttributeValue(Utf16Range{6, 2}));
    if (!GetParam().lineHasCharacterBounds) {
        // (its characters stand on its one line, from its start)
        ASSERT_TRUE(bounds.hasValue());
        EXPECT_EQ(std::get<platform::Rect>(*bounds),
                  (platform::Rect{origin, platform::Size{0, size.height}}));
        return;
    }
    ASSERT_TRUE(bounds.hasValue());
    const auto rect = std::get<platform::Rect>(*bounds);
    EXPECT_GT(rect.width(), 0);
    EXPECT_GE(rect.minX(), origin.x);
    EXPECT_LE(rect.maxX(), origin.x + size.width);
    EXPECT_GE(rect.minY(), origin.y);
    EXPECT_LE(rect.maxY(), origin.y + size.height);
    // The next character (UTF-16 8, past the pair) starts right of the emoji's start: the range
    // was not taken as code points in Qt, nor as UTF-16 units in GTK.
    const auto after = accessibility.parameterizedAttribute(field, ax::boundsForRange,
                                                            AttributeValue(Utf16Range{8, 1}));
    ASSERT_TRUE(after.hasValue());
    EXPECT_GT(std::get<platform::Rect>(*after).minX(), rect.minX() + rect.width() / 2);
    EXPECT_EQ(
        accessibility
            .parameterizedAttribute(field, ax::stringForRange, AttributeValue(Utf16Range{6, 2}))
            .toOptional(),
        AttributeValue(std::u16string(u"\U0001F600")));
}

TEST_P(DesktopTest, SelectsAndReplacesAroundNonBmpText) {
    const auto area = desktop.focus(app, "area");
    ASSERT_TRUE(area);
    ASSERT_EQ(desktop.value(area), areaText);

    // The emoji: UTF-16 9..11 whatever the toolkit counts.
    ASSERT_TRUE(
        accessibility.setAttribute(area, ax::selectedTextRange, AttributeValue(Utf16Range{9, 2}))
            .ok());
    EXPECT_EQ(selection(area), (Utf16Range{9, 2}));
    EXPECT_EQ(platform::textAttribute(accessibility, area, ax::selectedText), u"\U0001F600");

    EXPECT_EQ(accessibility.isAttributeSettable(area, ax::selectedText).toOptional(), true);
    ASSERT_TRUE(
        accessibility
            .setAttribute(area, ax::selectedText, AttributeValue(std::u16string(u"\U0001F642x")))
            .ok());
    EXPECT_EQ(desktop.value(area), u"line one \U0001F642x\nsecond l\u00edne teh");
    EXPECT_TRUE(waitUntil(
        [&] { return app.printed(QString::fromUtf8("area: line one 🙂x\\nsecond líne teh")); }));
    EXPECT_EQ(selection(area), (Utf16Range{12, 0}));

    // A caret alone (length 0) past the second line's non-ASCII letter.
    ASSERT_TRUE(
        accessibility.setAttribute(area, ax::selectedTextRange, AttributeValue(Utf16Range{22, 0}))
            .ok());
    EXPECT_EQ(selection(area), (Utf16Range{22, 0}));
    restore(area, areaText);
}

TEST_P(DesktopTest, RefusesWritesToAReadOnlyField) {
    const auto field = desktop.focus(app, "readonly");
    ASSERT_TRUE(field);
    EXPECT_EQ(accessibility.isAttributeSettable(field, ax::selectedText).toOptional(), false);
    const auto write =
        accessibility.setAttribute(field, ax::selectedText, AttributeValue(std::u16string(u"x")));
    EXPECT_EQ(write.code(), ErrorCode::notSupported);
    EXPECT_EQ(desktop.value(field), u"read only");
}

TEST_P(DesktopTest, PasswordFieldIsSecureAndNeverRead) {
    for (const auto& name : GetParam().passwordFields) {
        SCOPED_TRACE(name.toStdString());
        const auto field = desktop.focus(app, name);
        ASSERT_TRUE(field);
        EXPECT_EQ(platform::textAttribute(accessibility, field, ax::role), u"AXSecureTextField");
        EXPECT_EQ(desktop.seams.secureInput->state(), platform::SecureInput::State::on);
        for (const auto attribute : {ax::value, ax::selectedText, ax::selectedTextRange,
                                     ax::numberOfCharacters}) {
            EXPECT_EQ(accessibility.attribute(field, attribute).code(), ErrorCode::notPermitted)
                << attribute;
        }
        EXPECT_EQ(accessibility
                      .parameterizedAttribute(field, ax::stringForRange,
                                              AttributeValue(Utf16Range{0, 2}))
                      .code(),
                  ErrorCode::notPermitted);
        EXPECT_EQ(accessibility.isAttributeSettable(field, ax::value).toOptional(), false);
        EXPECT_EQ(accessibility.setAttribute(field, ax::value, AttributeValue(std::u16string(u"x")))
                      .code(),
                  ErrorCode::notSupported);

        ASSERT_TRUE(desktop.focus(app, "line"));
        EXPECT_EQ(desktop.seams.secureInput->state(), platform::SecureInput::State::off);
    }
}

// While another client holds the keyboard (as the shortcut's grab does), the toolkits stop
// showing their focused field: secure input is then told by the field last found focused, which
// can only prove a password field.
TEST_P(DesktopTest, SecureInputWhileAGrabHidesTheFocusedField) {
    using State = platform::SecureInput::State;
    auto& secureInput = *desktop.seams.secureInput;
    for (const auto& [field, hidden] :
         {std::pair{"password", State::on}, std::pair{"line", State::unknown}}) {
        SCOPED_TRACE(field);
        ASSERT_TRUE(desktop.focus(app, field));
        EXPECT_EQ(secureInput.state(), hidden == State::on ? State::on : State::off);
        Display* holder = XOpenDisplay(nullptr);
        ASSERT_EQ(XGrabKeyboard(holder, DefaultRootWindow(holder), False, GrabModeAsync,
                                GrabModeAsync, CurrentTime),
                  GrabSuccess);
        XSync(holder, False);
        const bool hides = waitUntil([&] { return !desktop.focusedOf(app.pid()); }, 2s);
        const auto state = secureInput.state();
        XUngrabKeyboard(holder, CurrentTime);
        XCloseDisplay(holder);
        ASSERT_TRUE(hides) << "the focused field stayed visible through the grab";
        EXPECT_EQ(state, hidden);
        EXPECT_TRUE(waitUntil([&] { return bool(desktop.focusedOf(app.pid())); }));
    }
}

TEST_P(DesktopTest, CopyChordMovesTheChangeCountAndAFetchDoesNot) {
    auto& pasteboard = *desktop.seams.pasteboard;
    auto& keys = *desktop.seams.keySynthesis;
    const auto field = desktop.focus(app, "line");
    ASSERT_TRUE(field);

    const auto before = pasteboard.changeCount();
    ASSERT_TRUE(keys.postKeyPress({keycode::a, modifier::command}).ok());
    ASSERT_TRUE(keys.postKeyPress({keycode::c, modifier::command}).ok());
    ASSERT_TRUE(waitUntil([&] { return pasteboard.changeCount() > before; }));
    EXPECT_EQ(readString(pasteboard), lineText);

    // Our own text: one step for the write, none for the target pasting it.
    const auto counted = pasteboard.changeCount();
    ASSERT_TRUE(pasteboard.setString(u"ours").ok());
    const auto written = pasteboard.changeCount();
    EXPECT_EQ(written, counted + 1);
    const platform::FetchTarget fetcher{app.pid(), std::nullopt};
    EXPECT_EQ(pasteboard.lastWriteFetchedBy(fetcher), platform::WriteFetch::none);
    ASSERT_TRUE(keys.postKeyPress({keycode::v, modifier::command}).ok());
    EXPECT_TRUE(waitUntil([&] { return desktop.value(field) == u"ours"; }));
    EXPECT_NE(pasteboard.lastWriteFetchedBy(fetcher), platform::WriteFetch::none);
    EXPECT_EQ(pasteboard.changeCount(), written);
    restore(field, lineText);
}

TEST_P(DesktopTest, PasteCycleInsertsTheTextAndPutsTheClipboardBack) {
    auto& pasteboard = *desktop.seams.pasteboard;
    auto& keys = *desktop.seams.keySynthesis;
    const auto field = desktop.focus(app, "line");
    ASSERT_TRUE(field);
    // The user's clipboard: the field's text, copied by the application itself.
    ASSERT_TRUE(pasteboard.setString(u"before").ok());
    const auto before = pasteboard.changeCount();
    ASSERT_TRUE(keys.postKeyPress({keycode::a, modifier::command}).ok());
    ASSERT_TRUE(keys.postKeyPress({keycode::c, modifier::command}).ok());
    ASSERT_TRUE(waitUntil(
        [&] { return pasteboard.changeCount() > before && readString(pasteboard) == lineText; }));
    const auto end = static_cast<std::int64_t>(lineText.size());
    ASSERT_TRUE(
        accessibility.setAttribute(field, ax::selectedTextRange, AttributeValue(Utf16Range{end, 0}))
            .ok());

    const auto seams = TargetSeams::from(desktop.seams, desktop.executor);
    const auto target = desktop.seams.workspace->frontmostApplication();
    ASSERT_TRUE(target.has_value());
    QElapsedTimer clock;
    clock.start();
    const auto result = runToEnd(QNModelPasteboardSnapshot::paste(seams, u" [p]", *target, {}));
    const auto elapsed = clock.elapsed();
    std::printf("measure: %s paste cycle %lld ms\n", app.name().c_str(),
                static_cast<long long>(elapsed));

    EXPECT_EQ(result, QNPasteResult::pasted);
    EXPECT_EQ(desktop.value(field), lineText + u" [p]");
    // (the application says so on its own output, which may come a moment after)
    EXPECT_TRUE(
        waitUntil([&] { return app.printed(QString::fromUtf8("line: héllo 😀 wörld teh [p]")); }));
    EXPECT_EQ(readString(pasteboard), lineText);
    restore(field, lineText);
}

TEST_P(DesktopTest, TypedZeroWidthSpaceArrivesAndIsRemoved) {
    auto& keys = *desktop.seams.keySynthesis;
    const auto field = lineWithTheCaretAtItsEnd();
    ASSERT_TRUE(field);

    ASSERT_TRUE(keys.postText(u"\u200B").ok());
    EXPECT_TRUE(waitUntil([&] { return desktop.value(field) == lineText + u"\u200B"; }));
    ASSERT_TRUE(keys.postKeyPress({keycode::deleteKey, 0}).ok());
    EXPECT_TRUE(waitUntil([&] { return desktop.value(field) == lineText; }));
}

// Each keycode of the server's keymap as it stands, from the first, with its keysyms.
std::vector<std::pair<KeyCode, std::vector<KeySym>>> keymap(Display* display) {
    int first = 0;
    int last = 0;
    XDisplayKeycodes(display, &first, &last);
    int perCode = 0;
    KeySym* map =
        XGetKeyboardMapping(display, static_cast<KeyCode>(first), last - first + 1, &perCode);
    std::vector<std::pair<KeyCode, std::vector<KeySym>>> rows;
    for (int code = 0; map != nullptr && perCode > 0 && code <= last - first; ++code) {
        const KeySym* symbols = map + static_cast<std::ptrdiff_t>(code) * perCode;
        rows.emplace_back(static_cast<KeyCode>(first + code),
                          std::vector<KeySym>(symbols, symbols + perCode));
    }
    XFree(map);
    return rows;
}

bool emptyRow(const std::vector<KeySym>& symbols) {
    return std::ranges::all_of(symbols, [](KeySym symbol) { return symbol == NoSymbol; });
}

// How many keycodes the server's keymap leaves empty now.
int emptyKeycodes(Display* display) {
    return static_cast<int>(std::ranges::count_if(
        keymap(display), [](const auto& row) { return emptyRow(row.second); }));
}

// The first keycode that types `symbol` (NoSymbol: an empty keycode, none of its keysyms set) in
// the server's keymap as it stands; 0 for none.
KeyCode keyHolding(Display* display, unsigned long symbol) {
    for (const auto& [code, symbols] : keymap(display)) {
        if (symbol == NoSymbol ? emptyRow(symbols) : symbols.front() == symbol) {
            return code;
        }
    }
    return 0;
}

// Whether the window manager has handled every event the server sent it so far: it handles
// them in order, and answers a request for a new window's frame extents in its turn. (Each
// change of the keymap has it take its key bindings again: after many, it may be busy for
// seconds, and a window brought forward meanwhile is not made active.)
bool windowManagerCaughtUp(Display* display) {
    const Window window =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    XSelectInput(display, window, PropertyChangeMask);
    const Atom extents = XInternAtom(display, "_NET_FRAME_EXTENTS", False);
    XEvent request{};
    request.xclient.type = ClientMessage;
    request.xclient.window = window;
    request.xclient.message_type = XInternAtom(display, "_NET_REQUEST_FRAME_EXTENTS", False);
    request.xclient.format = 32;
    XSendEvent(display, DefaultRootWindow(display), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &request);
    XFlush(display);
    const bool answered = waitUntil(
        [&] {
            while (XPending(display) > 0) {
                XEvent event{};
                XNextEvent(display, &event);
                if (event.type == PropertyNotify && event.xproperty.atom == extents) {
                    return true;
                }
            }
            return false;
        },
        30s);
    XDestroyWindow(display, window);
    XSync(display, False);
    return answered;
}

// A text longer than the keys there are to type it: the backend says how much can
// go now and when more can, refuses more than that rather than wait (on the program's main
// thread), and typed a part at a time as a flow the whole text arrives in order. (How many keys
// are free at a moment depends on when the last ones were used: only what holds whenever the
// calls come is asserted.)
TEST_P(DesktopTest, ALongTextIsTypedInPartsAsItsKeysComeFree) {
    auto& keys = *desktop.seams.keySynthesis;
    const auto field = lineWithTheCaretAtItsEnd();
    ASSERT_TRUE(field);
    Display* display = XOpenDisplay(nullptr);
    ASSERT_TRUE(display);
    const int emptyBefore = emptyKeycodes(display);
    std::u16string text;
    for (std::size_t i = 0; i < platform::XTestKeySynthesis::maxSpareKeys + 6; ++i) {
        text += i % 2 == 0 ? static_cast<char16_t>(u'a' + i / 2 % 26) : u'\u00e9';
    }
    const auto room = keys.textRoom(text);
    ASSERT_LT(room.units, text.size()) << "more keys than a text may have";
    if (room.units == 0) {
        EXPECT_GT(room.moreIn, std::chrono::nanoseconds::zero()) << "no key free, and none later";
    }
    EXPECT_LE(room.moreIn, platform::XTestKeySynthesis::bindingLifetime);
    EXPECT_FALSE(keys.postText(text).ok()) << "typed without the keys for it";

    const auto seams = TargetSeams::from(desktop.seams, desktop.executor);
    auto typed = std::make_shared<std::optional<std::size_t>>();
    [](TargetSeams seams, std::u16string text,
       std::shared_ptr<std::optional<std::size_t>> typed) -> QCoro::Task<> {
        *typed = co_await typeText(seams, std::move(text), [] { return true; }, {});
    }(seams, text, typed);
    EXPECT_TRUE(waitUntil([&] { return typed->has_value(); }, 10s));
    EXPECT_EQ(typed->value_or(0), text.size());
    EXPECT_TRUE(waitUntil([&] { return desktop.value(field) == lineText + text; }))
        << text::toUtf8(desktop.value(field));
    restore(field, lineText);
    // The next test starts once the keys are given back and the window manager has taken in
    // every change of the keymap.
    EXPECT_TRUE(waitUntil([&] { return emptyKeycodes(display) >= emptyBefore; }, 10s));
    EXPECT_TRUE(windowManagerCaughtUp(display));
    XCloseDisplay(display);
}


// A window of another X client that takes the keyboard focus and reads its key presses only
// when asked, each translated with the keymap as it stands then: an application that gets to its
// keys late (a busy browser).
class LateReader {
  public:
    LateReader() : display_(XOpenDisplay(nullptr)) {
        if (display_ == nullptr) {
            return;
        }
        window_ =
            XCreateSimpleWindow(display_, DefaultRootWindow(display_), 40, 40, 200, 100, 0, 0, 0);
        XSelectInput(display_, window_, KeyPressMask);
        XMapRaised(display_, window_);
        XSync(display_, False);
        // (round trips only: its events wait in its queue until it reads them)
        ready_ = waitUntil([&] {
            XWindowAttributes attributes{};
            return XGetWindowAttributes(display_, window_, &attributes) != 0 &&
                   attributes.map_state == IsViewable;
        });
        XSetInputFocus(display_, window_, RevertToParent, CurrentTime);
        ready_ = ready_ && waitUntil([&] {
                     Window focus = 0;
                     int revert = 0;
                     XGetInputFocus(display_, &focus, &revert);
                     return focus == window_;
                 });
    }
    ~LateReader() {
        if (display_ != nullptr) {
            XDestroyWindow(display_, window_);
            XCloseDisplay(display_);
        }
    }
    LateReader(const LateReader&) = delete;
    LateReader& operator=(const LateReader&) = delete;

    [[nodiscard]] bool ready() const { return ready_; }
    Display* display() const { return display_; }

    // The key presses that came, as the keymap translates them now.
    std::vector<unsigned long> read() {
        std::vector<unsigned long> symbols;
        XSync(display_, False);
        while (XPending(display_) > 0) {
            XEvent event{};
            XNextEvent(display_, &event);
            if (event.type == KeyPress) {
                symbols.push_back(symbolOf(static_cast<KeyCode>(event.xkey.keycode)));
            }
        }
        return symbols;
    }
    unsigned long symbolOf(KeyCode code) {
        int perCode = 0;
        KeySym* symbols = XGetKeyboardMapping(display_, code, 1, &perCode);
        const unsigned long symbol = symbols != nullptr && perCode > 0 ? symbols[0] : NoSymbol;
        XFree(symbols);
        return symbol;
    }

  private:
    Display* display_ = nullptr;
    Window window_ = 0;
    bool ready_ = false;
};

// The keymap between two texts: what happens to the first text's key before the second is typed.
enum class Meanwhile { theKeyComesFree, anotherProgramRebindsTheKey };

struct LateKeys {
    Meanwhile meanwhile;
    char16_t second;
    const char* name;
};

class DesktopKeys : public ::testing::TestWithParam<LateKeys> {};

// The characters reach a late reader as typed: a key is neither given back nor given another
// character while the application may still be reading the one before, and a key that another
// program bound anew is not typed with as if it still held ours.
TEST_P(DesktopKeys, AnApplicationThatReadsItsKeysLateGetsTheCharactersTyped) {
    auto& keys = *Desktop::get().seams.keySynthesis;
    LateReader late;
    ASSERT_TRUE(late.ready());
    const unsigned long first = *platform::keysymForCodePoint(U'\u00e9');
    const unsigned long secondSymbol = *platform::keysymForCodePoint(GetParam().second);
    const std::u16string many(platform::XTestKeySynthesis::maxTextLength, u'x');
    const auto free = keys.textRoom(many).units;
    ASSERT_TRUE(keys.postText(u"\u00e9").ok());
    std::vector<unsigned long> expected{first, secondSymbol};
    if (GetParam().meanwhile == Meanwhile::theKeyComesFree) {
        // Until the key that typed it may type another character.
        ASSERT_TRUE(waitUntil([&] { return keys.textRoom(many).units == free; }));
    }
    KeyCode taken = 0;
    if (GetParam().meanwhile == Meanwhile::anotherProgramRebindsTheKey) {
        taken = keyHolding(late.display(), first);
        ASSERT_NE(taken, 0);
        KeySym other = XK_section;
        XChangeKeyboardMapping(late.display(), taken, 1, &other, 1);
        XSync(late.display(), False);
        expected.front() = other;
    }
    EXPECT_TRUE(keys.postText(std::u16string(1, GetParam().second)).ok());
    EXPECT_EQ(late.read(), expected);
    if (taken != 0) {
        KeySym none = NoSymbol;
        XChangeKeyboardMapping(late.display(), taken, 1, &none, 1);
        XSync(late.display(), False);
    }
}

INSTANTIATE_TEST_SUITE_P(Late, DesktopKeys,
                         ::testing::Values(LateKeys{Meanwhile::theKeyComesFree, u'\u00fc',
                                                    "AnotherCharacterAfterTheKeyCameFree"},
                                           LateKeys{
                                               Meanwhile::anotherProgramRebindsTheKey, u'\u00e9',
                                               "TheSameCharacterAfterAnotherProgramTookItsKey"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A request of another user of the shared connection that failed (a window that went before its
// property was read) is not the typing's: the text is typed and said to be.
TEST(DesktopKeysShared, AnErrorLeftOnTheConnectionIsNotTheTypings) {
    const auto connection = platform::x11::Connection::open();
    ASSERT_TRUE(connection);
    // (a keycode to borrow: the suite's own typing gives its keycodes back a moment after)
    ASSERT_TRUE(waitUntil([&] { return keyHolding(connection->display(), NoSymbol) != 0; }));
    platform::XTestKeySynthesis keys(connection);
    OwnKeyboardFocus own;
    ASSERT_TRUE(own.ready());
    XDestroyWindow(connection->display(), 0x1);  // not a window of ours: BadWindow
    EXPECT_TRUE(keys.postText(u"\u00e9").ok());
    EXPECT_TRUE(waitUntil([&] { return own.field().text() == QStringLiteral("\u00e9"); }))
        << own.field().text().toStdString();
}

// A text that takes every key free to type with: no letter of it is bound below the letter's own
// key, where a look-up by character (XKeysymToKeycode, the lowest keycode) would find it instead
// and another program's shortcut would go out on a key nobody grabs.
TEST(DesktopKeysShared, NoCharacterIsBoundBelowItsOwnKey) {
    const auto connection = platform::x11::Connection::open();
    ASSERT_TRUE(connection);
    auto* display = connection->display();
    platform::XTestKeySynthesis keys(connection);
    OwnKeyboardFocus own;
    ASSERT_TRUE(own.ready());
    const std::u16string letters = u"abcdefghijklmnopqrstuvwxyz0123456789";
    const std::u16string many(platform::XTestKeySynthesis::maxTextLength, u'x');
    const auto room = std::min(keys.textRoom(many).units, letters.size());
    ASSERT_GT(room, 0u);
    const auto text = letters.substr(0, room);
    std::vector<KeyCode> before;
    for (const char16_t letter : text) {
        before.push_back(keyHolding(display, letter));
    }
    ASSERT_TRUE(keys.postText(text).ok());
    for (std::size_t i = 0; i < text.size(); ++i) {
        EXPECT_EQ(keyHolding(display, text[i]), before[i]) << static_cast<char>(text[i]);
    }
    EXPECT_TRUE(waitUntil([&] { return own.field().text().toStdU16String() == text; }))
        << own.field().text().toStdString();
}

TEST_P(DesktopTest, CaptureNowReadsTheFieldWithItsCaretInsideTheWindow) {
    // (where a single-line field tells no caret, the multi-line one)
    const bool line = GetParam().lineHasCharacterBounds;
    const auto field = desktop.focus(app, line ? "line" : "area");
    const std::u16string& text = line ? lineText : areaText;
    ASSERT_TRUE(field);
    const auto seams = TargetSeams::from(desktop.seams, desktop.executor);
    // The caret in the text and at its end (where Qt answers an empty rectangle).
    for (const std::int64_t caret : {std::int64_t{3}, static_cast<std::int64_t>(text.size())}) {
        ASSERT_TRUE(
            accessibility
                .setAttribute(field, ax::selectedTextRange, AttributeValue(Utf16Range{caret, 0}))
                .ok());
        const auto snapshot = QNModelFocusSnapshot::captureNow(seams);
        EXPECT_EQ(snapshot.app.pid, app.pid());
        EXPECT_EQ(snapshot.focusedRole, line ? "AXTextField" : "AXTextArea");
        EXPECT_EQ(snapshot.selectionLength, 0);
        EXPECT_FALSE(snapshot.isSecureInput);
        ASSERT_TRUE(snapshot.caretRect.has_value()) << caret;

        // The window's frame, y-down from the accessibility, turned y-up.
        const auto window = platform::elementAttribute(accessibility, field, ax::window);
        ASSERT_TRUE(window.has_value());
        const auto origin =
            std::get<platform::Point>(*accessibility.attribute(*window, ax::position));
        const auto size = std::get<platform::Size>(*accessibility.attribute(*window, ax::size));
        const auto frame = platform::toYUp(platform::Rect{origin, size},
                                           desktop.seams.screens->mainScreen()->frame);
        const auto& rect = *snapshot.caretRect;
        EXPECT_GE(rect.minX(), frame.minX()) << caret;
        EXPECT_LE(rect.maxX(), frame.maxX()) << caret;
        EXPECT_GE(rect.minY(), frame.minY()) << caret;
        EXPECT_LE(rect.maxY(), frame.maxY()) << caret;
    }

    // A selection is read as text.
    ASSERT_TRUE(
        accessibility.setAttribute(field, ax::selectedTextRange, AttributeValue(Utf16Range{6, 3}))
            .ok());
    const auto selected = QNModelFocusSnapshot::captureNow(seams);
    EXPECT_EQ(selected.selectionText, text.substr(6, 3));
    EXPECT_EQ(selected.selectionLength, 3);

    // Measured, not asserted: a hundred readings.
    std::vector<double> times;
    for (int i = 0; i < 100; ++i) {
        QElapsedTimer clock;
        clock.start();
        (void)QNModelFocusSnapshot::captureNow(seams);
        times.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }
    std::ranges::sort(times);
    std::printf("measure: %s captureNow median %.2f ms, worst %.2f ms\n", app.name().c_str(),
                times[50], times.back());
}

TEST_P(DesktopTest, FocusEventsNameTheNewlyFocusedField) {
    ASSERT_TRUE(desktop.focus(app, "line"));
    std::vector<platform::ElementRef> told;
    auto watching = accessibility.observeFocus([&](platform::ElementRef e) { told.push_back(e); });
    const auto area = desktop.focus(app, "area");
    ASSERT_TRUE(area);
    EXPECT_TRUE(waitUntil([&] { return std::ranges::find(told, area) != told.end(); }));
    for (const auto element : told) {
        EXPECT_EQ(accessibility.processID(element).toOptional(), app.pid());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Toolkits, DesktopTest,
    ::testing::Values(Toolkit{"GTK", "select 6 8"},
                      Toolkit{"GTK 4", "select 6 8", false,
                              {QStringLiteral("password"), QStringLiteral("peeked"),
                               QStringLiteral("hidden"), QStringLiteral("lettered"),
                               QStringLiteral("zeroed"), QStringLiteral("spaced"),
                               QStringLiteral("locked")}},
                      Toolkit{"Qt", "select 6 9"}),
    [](const auto& info) {
        std::string name = info.param.name;
        std::erase(name, ' ');
        return name;
    });

// GTK 4 tells positions inside its window only: its fields must still stand on the screen where
// GTK draws them in its X window (whatever it draws around its content).
TEST(DesktopGtk4, FieldsStandWhereGtkDrawsThem) {
    auto& desktop = Desktop::get();
    auto& app = *desktop.gtk4;
    auto& accessibility = *desktop.seams.accessibility;
    for (const QString field : {QStringLiteral("line"), QStringLiteral("area")}) {
        SCOPED_TRACE(field.toStdString());
        const auto element = desktop.focus(app, field);
        ASSERT_TRUE(element);
        ASSERT_TRUE(app.command(QStringLiteral("where ") + field));
        const auto drawn = app.printedAfter(QStringLiteral("where ") + field + QStringLiteral(": "));
        ASSERT_TRUE(drawn.has_value());
        const auto numbers = drawn->split(QLatin1Char(' '));
        ASSERT_EQ(numbers.size(), 4);

        Display* display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr);
        Window window = 0;
        int revert = 0;
        XGetInputFocus(display, &window, &revert);
        int x = 0;
        int y = 0;
        Window child = 0;
        XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y, &child);
        XCloseDisplay(display);

        const auto origin = std::get<platform::Point>(*accessibility.attribute(element, ax::position));
        const auto size = std::get<platform::Size>(*accessibility.attribute(element, ax::size));
        EXPECT_NEAR(origin.x, x + numbers[0].toDouble(), 1);
        EXPECT_NEAR(origin.y, y + numbers[1].toDouble(), 1);
        EXPECT_NEAR(size.width, numbers[2].toDouble(), 1);
        EXPECT_NEAR(size.height, numbers[3].toDouble(), 1);
    }
}

// A window's tree is kept from one reading to the next: a field added since the last reading is
// found, so is one put in the place of another (as many elements there as before), and one taken
// away no longer stands in the way of the field after it.
TEST(DesktopGtk4, TheFocusIsFoundAfterTheWindowChangedSinceTheLastReading) {
    auto& desktop = Desktop::get();
    auto& app = *desktop.gtk4;
    ASSERT_TRUE(desktop.focus(app, "line"));
    for (const std::u16string word : {u"added", u"replaced"}) {
        ASSERT_TRUE(app.command(QStringLiteral("add ") + QString::fromStdU16String(word)));
        EXPECT_TRUE(waitUntil([&] { return desktop.value(desktop.focusedOf(app.pid())) == word; }))
            << text::toUtf8(desktop.value(desktop.focusedOf(app.pid())));
    }
    ASSERT_TRUE(app.command(QStringLiteral("remove")));
    EXPECT_TRUE(desktop.focus(app, "area"));
}

TEST(DesktopWorkspace, FrontmostFollowsActivationBetweenTheTargets) {
    auto& desktop = Desktop::get();
    auto& workspace = *desktop.seams.workspace;
    for (auto* app : {desktop.gtk.get(), desktop.qt.get(), desktop.gtk.get()}) {
        ASSERT_TRUE(desktop.bringToFront(app->pid())) << app->name();
        const auto front = workspace.frontmostApplication();
        ASSERT_TRUE(front.has_value());
        EXPECT_EQ(front->pid, app->pid());
        EXPECT_FALSE(front->identity.empty());
    }
    EXPECT_EQ(workspace.currentApplication().pid, ::getpid());
    EXPECT_FALSE(workspace.activate(0x7ffffff0));
}

TEST(DesktopAccessibility, OwnWindowInFrontAnswersAtOnce) {
    auto& desktop = Desktop::get();
    QWidget window;
    window.setWindowTitle(QStringLiteral("own window"));
    window.resize(200, 100);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_TRUE(desktop.bringToFrontPersistently(::getpid()));

    auto& accessibility = *desktop.seams.accessibility;
    const auto failedBefore = desktop.accessibility->failedCalls();
    const auto focused =
        accessibility.attribute(accessibility.systemWideElement(), ax::focusedUIElement);
    EXPECT_EQ(focused.code(), ErrorCode::notFound);
    // Asking our own accessibles would have cost the whole call limit and failed: this process
    // cannot answer while it waits.
    EXPECT_EQ(desktop.accessibility->failedCalls(), failedBefore);
    // Nothing of ours is asked, so nothing tells.
    EXPECT_EQ(desktop.seams.secureInput->state(), platform::SecureInput::State::unknown);
}

// An application that stops answering leaves a trace in the log: each call that failed, once per
// element and call, and nothing of the field's text.
TEST(DesktopAccessibility, CallsToAnApplicationThatStopsAnsweringAreLoggedOncePerElementAndCall) {
    struct Recorder final : platform::SystemLog {
        std::vector<platform::LogRecord> records;
        void write(const platform::LogRecord& record) override { records.push_back(record); }
    };
    auto& desktop = Desktop::get();
    auto& app = *desktop.gtk;
    const auto field = desktop.focus(app, "line");
    ASSERT_TRUE(field);
    auto recorder = std::make_shared<Recorder>();
    desktop.accessibility->setLog(recorder);
    const auto failedBefore = desktop.accessibility->failedCalls();
    ASSERT_EQ(::kill(static_cast<pid_t>(app.pid()), SIGSTOP), 0);
    std::vector<bool> read;
    std::vector<std::size_t> failed;
    std::vector<std::size_t> told;
    for (int time = 0; time < 2; ++time) {
        QCoreApplication::processEvents();  // (a reading lasts one turn of the loop)
        read.push_back(desktop.accessibility->attribute(field, ax::value).hasValue());
        failed.push_back(desktop.accessibility->failedCalls() - failedBefore);
        told.push_back(recorder->records.size());
    }
    ::kill(static_cast<pid_t>(app.pid()), SIGCONT);
    desktop.accessibility->setLog(desktop.seams.systemLog);
    EXPECT_EQ(read, (std::vector{false, false}));
    ASSERT_GT(told[0], 0u);
    EXPECT_EQ(told[0], failed[0]) << "each call of the first reading told";
    EXPECT_GT(failed[1], failed[0]);
    EXPECT_EQ(told[1], told[0]) << "the second reading's failures told again";
    std::set<std::string> lines;
    for (const auto& record : recorder->records) {
        EXPECT_EQ(record.category, "Accessibility");
        EXPECT_TRUE(lines.insert(record.message).second) << record.message;
        EXPECT_EQ(record.message.find("llo"), std::string::npos) << record.message;
    }
    // It answers again once it runs.
    EXPECT_TRUE(waitUntil([&] { return desktop.value(field) == lineText; }));
}

TEST(DesktopAccessibility, TrustedWhileTheDesktopSwitchIsOn) {
    auto& accessibility = *Desktop::get().seams.accessibility;
    EXPECT_TRUE(accessibility.isTrusted(false));
}

TEST(DesktopScreens, OneScreenFromTheOrigin) {
    auto& screens = *Desktop::get().seams.screens;
    const auto all = screens.screens();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].frame, platform::makeRect(0, 0, 1280, 1024));
    EXPECT_EQ(screens.mainScreen(), all[0]);
}

TEST(DesktopSeams, EveryTargetSideSeamIsConnected) {
    const auto connected = platform::connectedSeamNames(Desktop::get().seams);
    for (const std::string_view name :
         {"accessibility", "pasteboard", "key synthesis", "workspace", "secure input", "screens"}) {
        EXPECT_NE(std::ranges::find(connected, name), connected.end()) << name;
    }
}

TEST(DesktopMeasure, WorstSingleAccessibilityCall) {
    auto& desktop = Desktop::get();
    std::printf("measure: worst single AT-SPI call %.2f ms\n",
                desktop.accessibility->worstCall().count() / 1000.0);
}

// A process that still runs (a zombie has ended).
bool alive(const std::string& pid) {
    QFile stat(QString::fromStdString("/proc/" + pid + "/stat"));
    if (!stat.open(QIODevice::ReadOnly)) {
        return false;
    }
    const auto fields = QString::fromUtf8(stat.readAll()).section(QLatin1Char(')'), -1);
    return !fields.trimmed().startsWith(QLatin1Char('Z'));
}

TEST(DesktopSession, StopsEverythingItStartedAndKeepsTheStatus) {
    // A session inside the session: its command lists every process the session script started
    // (its children and theirs) and ends with status 7.
    QProcess session;
    session.start(QStringLiteral(RAVLIN_SOURCE_DIR "/scripts/desktop-session"),
                  {QStringLiteral("sh"), QStringLiteral("-c"),
                   QStringLiteral("list() { for c in $(ps -o pid= --ppid \"$1\"); do "
                                  "if [ \"$c\" != $$ ]; then echo $c; list $c; fi; done; }; "
                                  "list $PPID; exit 7")});
    ASSERT_TRUE(session.waitForFinished(30000));
    EXPECT_EQ(session.exitCode(), 7) << session.readAllStandardError().toStdString();
    const auto pids = QString::fromUtf8(session.readAllStandardOutput())
                          .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    // Xvfb, two buses, the accessibility launcher and registry, the keyring, openbox.
    EXPECT_GE(pids.size(), 5);
    for (const auto& pid : pids) {
        EXPECT_TRUE(waitUntil([&] { return !alive(pid.trimmed().toStdString()); }, 3s))
            << "still running: " << pid.toStdString();
    }
}

}  // namespace
}  // namespace ravlin::testing
