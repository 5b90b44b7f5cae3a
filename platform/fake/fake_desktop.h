#pragma once

// One simulated desktop behind every platform seam, driven on an injected Executor's virtual
// time: applications with windows and focused text elements, a pasteboard, synthetic keys that
// the frontmost application acts on (copy, select all, paste, typing, Backspace), activation
// that may be refused, delayed or never complete, accessibility trust, secure input, screens,
// hot keys and key taps the test fires, a keychain, a login item and a system log.
//
// Everything happens on the executor's sequence: the test and the code under test call in from
// it, and the desktop's delayed behaviour (an application reading the pasteboard 20 ms after
// Ctrl+V, an activation that completes after 300 ms) is posted to it. Nothing sleeps.
//
//   auto executor = std::make_shared<ManualExecutor>();
//   FakeDesktop desktop(executor);
//   auto editor = desktop.addApplication({.identity = "org.example.Editor", .name = "Editor"});
//   auto field = desktop.addElement(desktop.addWindow(editor, {}), {.value = u"helo"});
//   desktop.focus(field);
//   desktop.setFrontmost(editor);
//   Seams seams = desktop.seams();   // hand these to the code under test

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/support/executor.h"
#include "core/text/range.h"
#include "platform/seams.h"

namespace ravlin::platform::fake {

// What an element does with an accessibility write of its text or selection.
enum class WriteBehaviour {
    apply,   // the write succeeds and takes effect
    ignore,  // the write reports success and changes nothing
    fail,    // the write reports failure
};

struct ElementDescription {
    std::string role = "AXTextField";
    std::string subrole;
    std::string title;
    // The text ("AXValue"); none for an element without a text value.
    std::optional<std::u16string> value = std::u16string();
    text::Utf16Range selection{};
    // Whether "AXSelectedText" answers (some applications only give the range).
    bool selectedTextReadable = true;
    // Whether "AXStringForRange" and "AXBoundsForRange" answer.
    bool parameterizedReads = true;
    // Whether the text attributes report themselves settable.
    bool settable = true;
    // Whether "AXEditable" answers true; none: as `settable` (and not `readOnly`).
    std::optional<bool> editable;
    WriteBehaviour writes = WriteBehaviour::apply;
    // Whether typed keys and pastes leave the text as it is (a paste still reads the pasteboard).
    bool readOnly = false;
    // How the field reshapes a pasted text before inserting it (a single line making its line
    // breaks spaces, an editor typing curly quotes...); none: as it is.
    std::function<std::u16string(std::u16string_view)> pasteShape;
    // What of a text typed into it arrives (a browser dropping a key under load); none: all of
    // it. Nothing arriving leaves the field as it was.
    std::function<std::u16string(std::u16string_view)> typeShape;
    // The most UTF-16 units the field holds: typing and pastes beyond it are cut short.
    std::optional<std::int64_t> maxLength;
    // Whether a write of "AXSelectedTextRange" is refused (whatever `writes` says).
    bool refusesRangeWrites = false;
    // How long after it is answered a write of "AXSelectedTextRange" takes effect (a browser's
    // page applies it on a thread of its own; keys typed meanwhile act on the selection before).
    std::chrono::milliseconds rangeWriteDelay{0};
    // Whether "AXSelectedTextRange" follows what is typed: when not, it keeps answering the
    // selection from before the typing until the selection is set otherwise.
    bool reportsTypedCaret = true;
    // When set, "AXSelectedTextMarkerRange" answers (an opaque marker) and
    // "AXBoundsForTextMarkerRange" with it gives this rectangle.
    std::optional<Rect> textMarkerBounds;
    // Accessibility coordinates (y-down); none for an element that reports no position.
    std::optional<Rect> frame;
    // Whether it holds formatted text ("AXRichText": a web page's editor).
    bool richText = false;
};

// How an application answers a request to come to the front.
struct Activation {
    enum class Kind { accept, refuse, acceptButNeverFront };
    Kind kind = Kind::accept;
    std::chrono::milliseconds delay{0};  // accept: frontmost this long after the request

    [[nodiscard]] static Activation immediately() { return {}; }
    [[nodiscard]] static Activation after(std::chrono::milliseconds delay) {
        return {Kind::accept, delay};
    }
    [[nodiscard]] static Activation refuse() { return {Kind::refuse, {}}; }
    [[nodiscard]] static Activation acceptButNeverFront() {
        return {Kind::acceptButNeverFront, {}};
    }
};

struct ApplicationDescription {
    std::string identity;
    std::string name;
    Activation activation = Activation::immediately();
    // Whether the system-wide element reports this application's focused element (some
    // applications only answer through their own application element).
    bool reportsFocusSystemWide = true;
    // Whether it acts on keys at all (copy, select all, paste (Shift+Insert pastes the text last
    // selected), typing, Backspace).
    bool handlesKeys = true;
    // Ctrl/Command+C: the selection reaches the pasteboard this long after the key.
    std::chrono::milliseconds copyDelay{10};
    // Ctrl/Command+V: the pasteboard is read (and inserted at the selection) this long after.
    std::chrono::milliseconds pasteDelay{20};
    // Where set, a paste reads the pasteboard twice, this long apart, and inserts what the
    // second read gave (a terminal that looks at the text before it pastes it).
    std::optional<std::chrono::milliseconds> pasteReadAgainAfter;
    // Where set, it asks what the clipboard offers this long after each change of this
    // program's (it watches the clipboard), and takes a paste chord for nothing until it has
    // had that answer (GNOME Terminal).
    std::optional<std::chrono::milliseconds> looksAtChangesAfter;
    // Where set (and looksAtChangesAfter is not), the desktop tells of its looks at the
    // clipboard, and it never looks before it pastes (most programs on X11).
    bool neverLooksAtChanges = false;
    // Whether it shows itself to accessibility at all (xterm does not): without, it has no
    // application element and reports no focus.
    bool accessible = true;
};

// One synthetic keyboard event posted through the key-synthesis seam.
struct PostedKey {
    enum class Kind { down, up, text };
    Kind kind = Kind::down;
    KeyChord chord;
    std::u16string text;
    friend bool operator==(const PostedKey&, const PostedKey&) = default;
};

struct Model;

class FakeDesktop {
  public:
    // Glyph geometry of every fake text element: one line, fixed advance per UTF-16 unit.
    static constexpr double glyphWidth = 8;
    static constexpr double lineHeight = 16;

    explicit FakeDesktop(std::shared_ptr<Executor> executor);
    ~FakeDesktop();
    FakeDesktop(const FakeDesktop&) = delete;
    FakeDesktop& operator=(const FakeDesktop&) = delete;

    // The bundle over this desktop (every member set). The seams keep the model alive.
    [[nodiscard]] Seams seams() const;

    // --- Applications, windows, elements
    // This application (identity "ravlin"); it exists from the start and is not frontmost.
    [[nodiscard]] ProcessID ownPid() const;
    ProcessID addApplication(ApplicationDescription spec);
    void setActivation(ProcessID pid, Activation activation);
    void setLooksAtChangesAfter(ProcessID pid, std::optional<std::chrono::milliseconds> after);
    // The application element of a process.
    [[nodiscard]] ElementRef applicationElement(ProcessID pid) const;
    ElementRef addWindow(ProcessID pid, Rect frame, std::string title = {});
    ElementRef addElement(ElementRef parent, ElementDescription spec);
    // The element and its descendants disappear; their tokens turn stale.
    void removeElement(ElementRef element);
    // Makes the element its application's focused element.
    void focus(ElementRef element);
    // The user brings an application to the front (none: no frontmost application).
    void setFrontmost(std::optional<ProcessID> pid);
    // The same, `delay` from now on the executor's clock.
    void setFrontmostAfter(std::chrono::nanoseconds delay, std::optional<ProcessID> pid);
    [[nodiscard]] std::optional<ProcessID> frontmostPid() const;
    [[nodiscard]] int activationRequests(ProcessID pid) const;

    // --- Element state as the user sees it
    [[nodiscard]] std::optional<std::u16string> value(ElementRef element) const;
    [[nodiscard]] text::Utf16Range selection(ElementRef element) const;
    // The user edits: the text and the selection (clamped to the text).
    void setValue(ElementRef element, std::u16string value, text::Utf16Range selection);
    void setSelection(ElementRef element, text::Utf16Range selection);
    // The application stops (or starts again) taking typed keys and pastes into the element.
    void setReadOnly(ElementRef element, bool readOnly);

    // --- Trust, secure input, screens, mouse
    void setTrusted(bool trusted);
    [[nodiscard]] int trustPrompts() const;
    // Whether a trust check with the prompt grants trust (off: nothing answers the prompt).
    void setPromptGrantsTrust(bool grants);
    void setSecureInput(bool enabled);
    // Secure input as Linux tells it, where no flag says it: on while the front application's
    // focused element is a password field (also the one it last reported while a grab hides
    // it), off for another element it reports, unknown otherwise (no trust, no focused element,
    // another element hidden by a grab). The flag above still turns it on.
    void setSecureInputFromFocus(bool fromFocus);
    void setScreens(std::vector<Screen> screens, std::size_t mainIndex = 0);
    void setMouseLocation(Point location);

    // --- Pasteboard, as other programs use it
    // Another program copies: clear, then the items.
    void copyToPasteboard(std::vector<PasteboardItem> items);
    void copyToPasteboard(std::u16string_view text);
    // What the clipboard holds, as another program pastes it: its items, its plain text (nothing
    // while its owner is silent).
    [[nodiscard]] std::vector<PasteboardItem> pasteboardItems() const;
    [[nodiscard]] std::optional<std::u16string> pasteboardString() const;
    // Another program's text is selected (X11's PRIMARY), and what it holds now.
    void selectText(std::u16string_view text);
    [[nodiscard]] std::optional<std::u16string> primarySelection() const;
    void setPasteboardWritesFail(bool fail);
    // Whether what the clipboard holds carries the marks of a moment's text (what a clipboard
    // manager that honours them keeps out of its history).
    [[nodiscard]] bool clipboardMarkedTransient() const;
    // A clipboard manager (a process of its own) that fetches every copy this program writes,
    // `delay` after the write; none: no manager runs.
    void setClipboardManager(std::optional<ProcessID> pid,
                             std::chrono::milliseconds delay = std::chrono::milliseconds(5));
    // The program that copied stops answering: the pasteboard reads as incomplete and empty.
    void setPasteboardOwnerSilent(bool silent);
    // Reads of the clipboard get no answer until held is false again (then each is answered as
    // the clipboard is then); how many wait.
    void setPasteboardReadsHeld(bool held);
    [[nodiscard]] std::size_t heldPasteboardReads() const;

    // --- Keys
    [[nodiscard]] const std::vector<PostedKey>& postedKeys() const;
    // The application acts on Ctrl/Command+`keyCode` by running `action` (at once, on key down)
    // instead of its own copy, select all or paste; an empty action restores its own.
    void scriptShortcut(ProcessID pid, std::uint32_t keyCode, std::function<void()> action);
    void setKeySynthesisFails(bool fail);
    // The user's keyboard and mouse: the event goes through the taps (newest first), then, unless
    // a tap swallowed it, a key down reaches the frontmost application.
    void sendUserEvent(InputEvent event);
    // Key down then key up of `chord`; the characters default to the layout's for the key.
    void userPressKey(KeyChord chord, std::optional<std::u16string> characters = std::nullopt);
    // Each UTF-16 unit as one key press (key code 0 unless the layout names the character).
    void userTypeText(std::u16string_view text);
    // A modifier key goes down (flags include it) or up.
    void userFlagsChanged(std::uint32_t keyCode, std::uint64_t flags);
    void setKeyboardLayout(std::map<std::uint32_t, std::u16string> layout);

    // --- Hot keys and taps
    // Presses a registered hot key: true when one was registered for the chord (its callback
    // ran). In zero time: the key is up again at once.
    bool pressHotKey(KeyChord chord);
    // A person's press: the key goes down (the callback runs) and stays down until
    // releaseHotKey. Meanwhile the desktop holds the keyboard for the hot key, and no
    // application reports a focused element (as GTK and Qt answer over X11 while a key grab
    // lasts); the frontmost application reports it again `focusReturn` after the release.
    bool holdHotKey(KeyChord chord);
    void releaseHotKey();
    void setFocusReturnAfterGrab(std::chrono::milliseconds focusReturn);
    // Whether the grab hides the focus; some applications (mousepad) keep showing it.
    void setGrabHidesFocus(bool hides);
    // Another program holds the chord: registering it fails. (A chord with Fn never registers, as
    // on X11.)
    void reserveHotKey(KeyChord chord);
    [[nodiscard]] std::size_t hotKeyCount() const;
    // Starting a tap fails (taps also fail while accessibility is not trusted).
    void setTapsRefused(bool refused);
    // Whether a swallow verdict holds the event back (not on X11). Where taps cannot swallow they
    // see events a turn late, as X11's taps do (the application has the key at once; the taps on
    // the program's next turn, or at a catch-up).
    void setTapsCanSwallow(bool canSwallow);
    // Runs `then` once, right after the next catch-up the program asks the taps for: what it does
    // (a key typed) reaches the desktop in the moment after the program last looked.
    void afterNextCatchUp(std::function<void()> then);
    // Whether the program holds the keys back (KeyTaps::holdKeys) now.
    [[nodiscard]] bool keysHeld() const;
    // Whether taps see the Fn key (not on X11).
    void setTapsSeeFn(bool seeFn);
    // The desktop disables every enabled tap and tells it (tapDisabledByTimeout/ByUserInput).
    void disableTaps(InputEventType reason);
    [[nodiscard]] std::size_t tapCount() const;

    // --- Keychain, login item, workspace, log
    void setKeychainAvailable(bool available);
    // Every keychain operation fails with this code until cleared.
    void setKeychainFailure(std::optional<ErrorCode> failure);
    [[nodiscard]] std::optional<std::string> storedPassword(std::string_view service,
                                                            std::string_view account) const;
    void setLoginItemStatus(LoginItemStatus status);
    void setLoginItemFailure(std::optional<ErrorCode> failure);
    // Registering leaves the item waiting for the user's approval.
    void setLoginItemNeedsApproval(bool needsApproval);
    // How often the login items settings were opened.
    [[nodiscard]] int loginItemsSettingsOpened() const;
    void setOpenURLFails(bool fail);
    [[nodiscard]] const std::vector<std::string>& openedURLs() const;
    [[nodiscard]] const std::vector<LogRecord>& logRecords() const;

    // --- Spell checking: exactly these words (compared as written) are misspelled.
    void setMisspelledWords(std::set<std::u16string> words);

    // --- The desktop session: its message bus (on by default), the desktop's accessibility
    // switch (how often it was turned on), its reduce-animations switch, a compositor, and the
    // windows kept on every virtual desktop.
    void setSessionBus(bool available);
    [[nodiscard]] int accessibilitySwitchOns() const;
    void setReducesAnimations(bool reduces);
    void setCompositor(bool running);
    [[nodiscard]] const std::vector<std::uint64_t>& windowsOnEveryDesktop() const;

  private:
    std::shared_ptr<Model> model_;
};

}  // namespace ravlin::platform::fake
