#pragma once

// The state of the simulated desktop, shared by FakeDesktop (the test's controls) and the seam
// objects it hands out. Private to platform/fake.

#include <memory>
#include <set>
#include <utility>

#include "platform/fake/fake_desktop.h"

namespace ravlin::platform::fake {

struct ElementNode {
    ElementRef ref;
    ProcessID pid = 0;
    ElementDescription spec;
    ElementRef parent;
    std::vector<ElementRef> children;
    // What "AXSelectedTextRange" answers while it lags behind typing (reportsTypedCaret false).
    std::optional<text::Utf16Range> reportedSelection;
};

struct ApplicationNode {
    ProcessID pid = 0;
    ApplicationDescription spec;
    ElementRef element;
    ElementRef focused;
    int activationRequests = 0;
    Executor::TaskID pendingActivation = 0;
};

struct Tap {
    std::uint64_t mask = 0;
    KeyTaps::Handler handler;
    bool enabled = true;
    bool alive = true;
};

struct HotKeyRegistration {
    std::uint64_t serial = 0;
    KeyChord chord;
    std::uint32_t id = 0;
    std::function<void()> onPress;
};

// One of the desktop's selections: the clipboard, or the text last selected (X11's PRIMARY,
// which Shift+Insert pastes).
struct SelectionState {
    std::vector<PasteboardItem> items;
    std::int64_t changeCount = 0;
    bool writesFail = false;
    // The owner of what another program copied does not answer: nothing can be read.
    bool ownerSilent = false;
    // Reads of it wait until the desktop lets them go (an owner slow to answer, or one that
    // answers only after the program has ended): each read's answer, given when let go.
    bool readsHeld = false;
    std::vector<std::function<void()>> heldReads;
    bool notificationPending = false;
    // This program's last write is on it and no application has read it yet.
    bool ownWriteUnfetched = false;
    // The last change was this program's own (a write or a clear), no other's since.
    bool ownChange = false;
    // That write carries the marks of a moment's text (kept out of clipboard managers' history).
    bool transient = false;
    // The processes that have read this program's last write while it is on it; those that read
    // it since the mark of a paste chord (`marked`); and the reads of it in all.
    std::vector<ProcessID> fetchedBy;
    bool marked = false;
    std::vector<ProcessID> fetchedSinceMark;
    std::uint64_t requests = 0;
    // The processes that have looked at this program's last write (asked what it offers); and
    // those that looked at an earlier one before a paste chord's mark (they watch the changes).
    std::vector<ProcessID> lookedBy;
    std::vector<ProcessID> watchers;
    // Counts this program's writes: the write a paste chord may go out over.
    std::uint64_t writeSerial = 0;
    CallbackList<std::int64_t> observers;
    // Told when a process reads this program's last write while it is on it.
    CallbackList<> fetchObservers;

    void putString(std::u16string_view text);
    [[nodiscard]] std::optional<std::u16string> string() const;
};

struct Model : std::enable_shared_from_this<Model> {
    explicit Model(std::shared_ptr<Executor> executor);

    std::shared_ptr<Executor> executor;

    // Applications and elements.
    static constexpr ElementRef systemWide{1};
    std::uint64_t nextElement = 2;
    ProcessID nextPid = 1001;
    ProcessID ownPid = 1000;
    std::map<ProcessID, ApplicationNode> applications;
    std::map<ElementRef, ElementNode> elements;
    std::optional<ProcessID> frontmost;
    CallbackList<std::optional<RunningApplication>> frontmostObservers;
    CallbackList<ElementRef> focusObservers;

    bool trusted = true;
    int trustPrompts = 0;
    // Asking with the prompt makes it trusted (an accessibility bus answered and was switched on).
    bool promptGrantsTrust = false;
    CallbackList<bool> trustObservers;
    bool secureInput = false;
    bool secureInputFromFocus = false;
    std::vector<Screen> screens;
    std::size_t mainScreen = 0;
    Point mouse{720, 450};

    SelectionState clipboard;
    SelectionState primary;
    std::optional<ProcessID> clipboardManager;
    std::chrono::milliseconds clipboardManagerDelay{5};
    // This program wrote to `selection`: a clipboard manager fetches it.
    void ownWrite(SelectionState Model::*selection);
    // `pid` reads this program's write on `selection`.
    static void fetch(SelectionState& selection, ProcessID pid);

    std::vector<PostedKey> posted;
    std::map<std::pair<ProcessID, std::uint32_t>, std::function<void()>> shortcutScripts;
    bool synthesisFails = false;
    std::map<std::uint32_t, std::u16string> layout;
    std::vector<std::shared_ptr<Tap>> taps;
    bool tapsRefused = false;
    // As on X11, where taps only watch: a swallow verdict is advisory unless a test says
    // otherwise.
    bool tapsCanSwallow = false;
    // As on X11: taps never see Fn (no key event carries it).
    bool tapsSeeFn = false;
    // Where taps cannot swallow, they see events a turn late (X11's queue): what the application
    // got already and the taps not yet, handed over on the next turn of the executor or at a
    // catch-up.
    std::vector<InputEvent> tapBacklog;
    // A hold of the program's: key events wait here, then go through as typed.
    bool keysHeld = false;
    std::vector<InputEvent> heldKeys;
    // Runs once, right after the next catch-up the program asks for (a key reaching the desktop
    // in the moment after it).
    std::function<void()> afterCatchUp;
    std::vector<HotKeyRegistration> hotKeys;
    std::uint64_t nextHotKeySerial = 1;
    std::vector<KeyChord> reservedHotKeys;
    // A hot key's key is down: the desktop holds the keyboard for this program meanwhile.
    bool hotKeyHeld = false;
    // While set, no application reports a focused element (the toolkits' answer to a grab).
    bool focusHiddenByGrab = false;
    // Whether a hot key's grab hides the focus at all (some applications keep showing it).
    bool grabHidesFocus = true;
    std::chrono::milliseconds focusReturnAfterGrab{10};
    Executor::TaskID pendingFocusReturn = 0;

    bool keychainAvailable = true;
    std::optional<ErrorCode> keychainFailure;
    std::map<std::pair<std::string, std::string>, std::string> secrets;
    LoginItemStatus loginStatus = LoginItemStatus::notRegistered;
    std::optional<ErrorCode> loginFailure;
    bool loginNeedsApproval = false;
    int loginItemsSettingsOpened = 0;
    std::vector<std::string> openedURLs;
    bool openURLFails = false;
    std::vector<LogRecord> log;
    std::set<std::u16string> misspelledWords;

    bool sessionBus = true;
    int accessibilitySwitchOns = 0;
    bool reducesAnimations = false;
    bool compositor = false;
    std::vector<std::uint64_t> windowsOnEveryDesktop;

    // Lookups (nullptr when unknown).
    ElementNode* element(ElementRef ref);
    ApplicationNode* application(ProcessID pid);
    std::optional<RunningApplication> runningApplication(ProcessID pid) const;
    // The frontmost application's focused element, if any.
    ElementRef focusedElement() const;

    void setFrontmost(std::optional<ProcessID> pid);
    void focus(ElementRef ref);
    bool activate(ProcessID pid);

    // Runs `task` after `delay` unless the desktop is gone by then.
    Executor::TaskID schedule(std::chrono::nanoseconds delay, std::function<void(Model&)> task);

    // Text editing at an element's selection (elements without a text value ignore it).
    void replaceSelection(ElementRef ref, std::u16string_view text);
    void deleteBackward(ElementRef ref);

    // Empties a selection (observers hear of it on the next turn); the new change count.
    std::int64_t clear(SelectionState& selection);
    // The focused application reads `selection` `delay` from now and pastes it at its focus.
    void pasteLater(ProcessID pid, std::chrono::milliseconds delay, SelectionState Model::*selection);
    // The frontmost application's window that holds its focus (else its first window).
    [[nodiscard]] ElementRef frontmostWindow() const;

    // Input: through the taps, then to the frontmost application.
    void deliver(const InputEvent& event);
    // Hands the lagging taps what they have not seen yet.
    void catchUpTaps();
    void applicationHandlesKeyDown(const InputEvent& event);
    // A key event posted by the program (KeySynthesis).
    Status postKey(PostedKey::Kind kind, KeyChord chord);
    InputEvent keyEvent(InputEventType type, KeyChord chord, std::u16string characters,
                        bool synthetic) const;
    double timestamp() const;
};

// The seam objects over a model.
[[nodiscard]] Seams makeSeams(const std::shared_ptr<Model>& model);

}  // namespace ravlin::platform::fake
