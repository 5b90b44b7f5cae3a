#pragma once

// Other applications' accessibility over AT-SPI (libatspi), on the main thread: libatspi's
// replies and events arrive through the GLib main context that Qt's event loop runs.
//
// Every call has a short time limit, so a hung application cannot freeze us; a call that fails
// or times out is an absent value. Our own accessibles are never asked anything: this process
// cannot answer its own calls while it waits for them, so each would cost the full time limit.
//
// The focused element is looked for only in the window that has the keyboard (the window
// system's active window, with the dialogs over it), told on the bus by its title: an
// application may leave elements of its other windows claiming the focus (LibreOffice's
// document behind its Set Password dialog). Where several elements there claim it, the one with
// a caret is taken (see focus_choice.h). The element last found focused in an application is
// asked first whether it still has the focus there: a call or two, where looking for it costs a
// call or two per element of the window; one search answers every read of one turn of the event
// loop. (No event listener tells us where the focus went: while anyone listens for events,
// every Qt program sends each of its key presses through the accessibility registry first.)
//
// A reading (the attribute reads one synchronous pass makes) fetches only what it needs: a
// selection's text by its range, counts from the count call; what it fetched is kept until the
// event loop turns or the element is written to, so the reads of one pass ask once.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/accessibility.h"
#include "platform/linux/accessibility/call_record.h"
#include "platform/linux/accessibility/element_states.h"
#include "platform/linux/taps/typed_run.h"
#include "platform/linux/window_place.h"
#include "platform/secure_input.h"

// The backend is spread over files by what they read (one class):
//   atspi_accessibility.cpp  trust, tokens, and the attribute calls' dispatch
//   atspi_focus.cpp          applications, the focused element, secure input
//   atspi_elements.cpp       an element's role, name, place and neighbours
//   atspi_text.cpp           text, selection and offsets, fetched once per reading
//   atspi_rich_text.cpp      the same for an element that holds its parts as objects
//   atspi_writes.cpp         text, selection and focus written
// What differs between toolkits is in toolkit_<name>.cpp (see toolkit.h).

// libatspi's and GDBus's types, without their headers in ours.
struct _AtspiAccessible;
struct _AtspiEventListener;
struct _GDBusConnection;

namespace ravlin::platform {
namespace atspi {
class KeptTree;
class Toolkit;
}  // namespace atspi

class AtspiAccessibility final : public Accessibility {
  public:
    // Time limit of one call to another application.
    static constexpr auto callTimeout = std::chrono::milliseconds(300);
    // Bounds on the walks through an application's tree and on what we hold.
    static constexpr int maxDepth = 64;
    static constexpr int maxVisited = 4000;
    static constexpr int maxChildren = 1000;
    static constexpr std::size_t maxTokens = 4096;
    static constexpr std::size_t maxTextBytes = 16u << 20;

    // `activeWindow` answers the window that has the keyboard, if any; `windowOf` where a
    // process's window stands (for toolkits that give positions inside their windows only).
    explicit AtspiAccessibility(
        std::function<std::optional<ActiveWindow>()> activeWindow,
        std::function<std::optional<WindowPlace>(ProcessID)> windowOf = {});
    ~AtspiAccessibility() override;
    AtspiAccessibility(const AtspiAccessibility&) = delete;
    AtspiAccessibility& operator=(const AtspiAccessibility&) = delete;

    bool isTrusted(bool prompt) override;
    Subscription observeTrust(std::function<void(bool)> onChange) override;
    ElementRef systemWideElement() override { return systemWide; }
    Expected<ElementRef> applicationElement(ProcessID pid) override;
    Expected<ProcessID> processID(ElementRef element) override;
    Subscription observeFocus(std::function<void(ElementRef)> onFocus) override;
    Expected<AttributeValue> attribute(ElementRef element, std::string_view name) override;
    Expected<AttributeValue> parameterizedAttribute(ElementRef element, std::string_view name,
                                                    const AttributeValue& parameter) override;
    Expected<bool> isAttributeSettable(ElementRef element, std::string_view name) override;
    Status setAttribute(ElementRef element, std::string_view name,
                        const AttributeValue& value) override;
    void release(ElementRef element) override;

    // Secure input: on while the active application's focused element is a password field,
    // off while it is another element. When no focused element can be found (a key grab hides
    // it, the application does not say): on when the element the bus last reported focused in
    // the active application is a password field, else unknown.
    [[nodiscard]] SecureInput::State secureInputState();
    // The longest single call to another application so far.
    [[nodiscard]] std::chrono::microseconds worstCall() const { return calls_.worst; }
    // How many calls to other applications were made so far.
    [[nodiscard]] std::uint64_t callCount() const { return calls_.count; }
    // Calls to other applications that failed so far (each told to `log` once per element and
    // call, when a log is given).
    [[nodiscard]] std::size_t failedCalls() const { return calls_.failures(); }
    void setLog(std::shared_ptr<SystemLog> log) { calls_.setLog(std::move(log)); }
    // What the person's keys last typed in one go (the key taps keep it): a GTK 4 entry showing
    // exactly that, having taken each key of it, shows no mask (see noteTypedKey).
    void setTypedRun(std::function<TypedRun::View()> typedRun) { typedRun_ = std::move(typedRun); }
    // A key the run kept or took back, as the taps see it (before any tap acts on it): where the
    // keyboard is in a field whose toolkit shows hidden entries as plain text (GTK 4), the field
    // is asked how many characters it holds now, which must be no more than the run's length
    // (with the keys pressed since that the taps have not heard of yet, `keysWaiting`: the field
    // may have had them), in that one field; an entry that held something before the run's
    // first key, and did not take it, holds more. What it holds at the action must then be the
    // run (see showsWhatWasTyped). False where the run cannot stand for the field's line:
    // another toolkit, another field, one holding more, or a password field (the run then keeps
    // nothing).
    [[nodiscard]] bool noteTypedKey(const TypedRun::View& run,
                                    const std::function<std::size_t()>& keysWaiting);

    // Applications whose last focused element is remembered, at most.
    static constexpr std::size_t maxRememberedFocus = 64;
    // Elements claiming the focus kept for the choice among them, at most.
    static constexpr std::size_t maxFocusCandidates = 32;
    // Windows whose tree is kept between readings (those asked a level at a time), at most.
    static constexpr std::size_t maxKeptTrees = 8;
    // Fields remembered as once seen with a password role, at most (the oldest go first).
    static constexpr std::size_t maxSeenPasswords = 64;

  private:
    static constexpr ElementRef systemWide{1};
    // The text of an element that holds its parts as objects (a web page's editor), read through
    // its parts (see rich_text.h), with the references to the parts it holds.
    struct RichReading;
    // What the current reading fetched of one element (see above). Offsets in the toolkit's
    // units.
    struct Reading {
        std::uint64_t turn = 0;
        std::optional<int> role;
        std::optional<std::pair<int, int>> selection;  // start <= end; equal: the caret
        std::optional<int> count;
        // The text from its start, in UTF-16, as far as fetched (`prefixEnd` toolkit units, or
        // all of it).
        std::u16string prefix;
        int prefixEnd = 0;
        bool prefixWhole = false;
        std::optional<Rect> extents;
        std::optional<atspi::States> states;
        std::optional<bool> password;
        std::optional<bool> selectionCrosses;
        // Where its window's content starts on the screen (toolkits in window coordinates).
        std::optional<Point> windowOrigin;
        // Whether its text holds parts as objects, read through them (null: it does not, or
        // they cannot be read).
        std::optional<std::shared_ptr<const RichReading>> rich;
    };
    // A toolkit rule's calls on one element (see toolkit.h).
    class Calls;
    struct Entry {
        _AtspiAccessible* object = nullptr;
        ProcessID pid = 0;
        // Its application's toolkit, once asked.
        const atspi::Toolkit* toolkit = nullptr;
        Reading reading;
    };
    struct RichPart {
        Entry part;
        int start = 0;  // the part's own toolkit offsets
        int end = 0;
    };

    ElementRef remember(_AtspiAccessible* object, ProcessID pid);
    [[nodiscard]] Expected<Entry*> lookup(ElementRef element);
    // The focused element of the active application (held) and its process.
    [[nodiscard]] Expected<std::pair<_AtspiAccessible*, ProcessID>> focused();
    [[nodiscard]] Expected<std::pair<_AtspiAccessible*, ProcessID>> searchFocus();
    // A process's application element (held), if it is on the bus.
    [[nodiscard]] _AtspiAccessible* application(ProcessID pid);
    // The applications on the bus now in `applications_`, each process asked once for the
    // application's life.
    void refreshApplications();
    // The element that has the keyboard in an application (held), looked for in its windows in
    // the order windowsToSearch() gives; `active` is the window system's active window when it
    // is this application's.
    [[nodiscard]] _AtspiAccessible* focusIn(_AtspiAccessible* application, ProcessID pid,
                                            const ActiveWindow* active);
    // One step down from an ancestor: the element it holds at a place among its children (both
    // held).
    struct Link {
        _AtspiAccessible* parent = nullptr;
        int index = -1;
        _AtspiAccessible* child = nullptr;
    };
    // The element taken among those of `windows` that claim the focus (held), the window it is
    // in, and the places that tell it still stands where it was found (see Remembered).
    [[nodiscard]] _AtspiAccessible* focusAmong(const atspi::Toolkit& rules,
                                               std::span<_AtspiAccessible* const> windows,
                                               ProcessID pid, _AtspiAccessible** window,
                                               std::vector<Link>* links);
    // The tree kept for a window (asked a level at a time), the newest last.
    atspi::KeptTree& keptTree(_AtspiAccessible* window);
    // The window an element is in: the ancestor just below its application (held); with the
    // places that tell the element still stands there (see Remembered).
    [[nodiscard]] _AtspiAccessible* windowOf(_AtspiAccessible* element, std::vector<Link>* links);
    // Of the way down from a window to an element (each step's element and its place, held by
    // the caller): the places that tell the element still stands there.
    [[nodiscard]] std::vector<Link> linksOf(
        _AtspiAccessible* window, std::span<const std::pair<_AtspiAccessible*, int>> way);
    // The states of an object; none when it does not answer.
    [[nodiscard]] std::optional<atspi::States> states(_AtspiAccessible* object);
    // The rules of the toolkit an application element names.
    [[nodiscard]] const atspi::Toolkit& toolkitOf(_AtspiAccessible* application);
    // The rules of the toolkit of an element's application.
    [[nodiscard]] const atspi::Toolkit& toolkit(Entry& entry);
    // An element's application (held); none when it cannot be told.
    [[nodiscard]] _AtspiAccessible* applicationOf(Entry& entry);
    [[nodiscard]] Expected<AttributeValue> read(Entry& entry, std::string_view name);
    [[nodiscard]] Expected<AttributeValue> readRole(Entry& entry, int role);
    [[nodiscard]] Expected<AttributeValue> readTitle(Entry& entry);
    [[nodiscard]] Expected<AttributeValue> readGeometry(Entry& entry, std::string_view name);
    [[nodiscard]] Expected<AttributeValue> readChildren(Entry& entry, std::string_view name,
                                                        int role);
    [[nodiscard]] Expected<AttributeValue> readParent(Entry& entry);
    [[nodiscard]] Expected<AttributeValue> readWindow(Entry& entry);
    // "AXFocusedUIElement" and "AXFocusedWindow" of an application element.
    [[nodiscard]] Expected<AttributeValue> readApplication(Entry& entry, std::string_view name);
    [[nodiscard]] Expected<AttributeValue> readText(Entry& entry, std::string_view name);
    [[nodiscard]] bool usesUtf16(Entry& entry);
    // The reading of an element in this turn of the event loop.
    Reading& reading(Entry& entry);
    // Marks this turn's end, when the loop turns next.
    void endTurnSoon();
    void forgetReadings();
    [[nodiscard]] std::optional<int> role(Entry& entry);
    [[nodiscard]] std::optional<atspi::States> stateSet(Entry& entry);
    [[nodiscard]] std::optional<std::pair<int, int>> toolkitSelection(Entry& entry);
    // An object's first selection (start <= end), else its caret as it tells it (-1: it holds
    // none); none when it does not answer.
    [[nodiscard]] std::optional<std::pair<int, int>> selectionOrCaret(_AtspiAccessible* object);
    // Whether the object's selection (or its caret, for an empty one) is [start, end) now.
    [[nodiscard]] bool selects(_AtspiAccessible* object, int start, int end);
    [[nodiscard]] std::optional<int> characterCount(Entry& entry);
    // The text's start at least `toolkitEnd` units long (or all of it); false when unreadable.
    [[nodiscard]] bool fetchPrefix(Entry& entry, int toolkitEnd);
    [[nodiscard]] std::optional<std::u16string> wholeText(Entry& entry);
    // Whether a selection (toolkit offsets) goes on in the element the text flows to or comes
    // from (a paragraph's in a document of paragraphs): only part of it is here.
    [[nodiscard]] bool selectionFlowsOn(Entry& entry, std::pair<int, int> selection);
    // Whether the element's selection does. Then its range is told (what is selected of it) but
    // none of its text, which would be taken for all that is selected or all there is; nor is
    // any written over it.
    [[nodiscard]] bool selectionCrosses(Entry& entry);
    [[nodiscard]] std::optional<std::int64_t> utf16Offset(Entry& entry, int toolkitOffset);
    // None when the offset lies beyond the text.
    [[nodiscard]] std::optional<int> toolkitOffset(Entry& entry, std::int64_t utf16Offset);
    [[nodiscard]] std::optional<std::u16string> textBetween(Entry& entry, int start, int end);
    // The screen rectangle (y down) of [start, end) in toolkit units; of the character at
    // `start` when the range is empty. As the toolkit gives it, empty rectangles included.
    [[nodiscard]] std::optional<Rect> boundsOf(Entry& entry, int start, int end);
    // A rectangle in the toolkit's coordinates on the screen (y down); none when its window's
    // place cannot be told.
    [[nodiscard]] std::optional<Rect> onScreen(Entry& entry, const Rect& rect);
    // Where the content of the element's window starts on the screen, for toolkits that give
    // window coordinates: the application's active window's, else its topmost one's.
    [[nodiscard]] std::optional<Point> windowOrigin(Entry& entry);
    // The size an application gives its active window (else its first one), in its own (window)
    // coordinates.
    [[nodiscard]] std::optional<Size> activeWindowSize(_AtspiAccessible* application);
    // One fetch of [start, end) in toolkit units (end -1: to the end); none when unreadable or
    // too long.
    [[nodiscard]] std::optional<std::u16string> fetchText(Entry& entry, int start, int end);
    // The element last found focused in an application, or last named by a focus event.
    struct Remembered {
        ProcessID pid = 0;
        _AtspiAccessible* element = nullptr;  // held
        _AtspiAccessible* window = nullptr;   // held; none until known
        bool fromEvent = false;
        // Where it was found, as far as that can change under it: its own place among its
        // parent's children, and the place of each web page it is in among its container's
        // children. A page the browser left, or loaded anew, keeps its elements alive a while,
        // each still saying it has the focus; the page shown now stands in its place. (None
        // where the walk asks a level at a time: those toolkits show no pages.)
        std::vector<Link> links;
    };
    [[nodiscard]] Remembered* remembered(ProcessID pid);
    // Whether the element remembered still has the keyboard in one of `windows`: it still
    // claims the focus, is in sight, stands where it was found (a call for each of its links),
    // and it is a field with its caret there.
    [[nodiscard]] bool stillHasFocus(Remembered& known, std::span<_AtspiAccessible* const> windows,
                                     const atspi::Toolkit& rules);
    // Takes over the references given.
    void rememberFocus(_AtspiAccessible* object, ProcessID pid, _AtspiAccessible* window,
                       bool fromEvent, std::vector<Link> links = {});
    void forgetLinks(std::vector<Link>& links);
    void forget(Remembered& known);
    // Whether it is a password field by its toolkit's rule, or one that was seen with a password
    // role (see SeenPassword); none when it does not answer.
    [[nodiscard]] std::optional<bool> isPasswordField(Entry& entry);
    // A field seen with a password role, remembered while its application is on the bus: a
    // page's "show password" makes it a text field holding the password in clear. Chromium keeps
    // the field's object through the change; Firefox puts a new one in its place, told by its
    // parent and its index there.
    struct SeenPassword {
        ProcessID pid = 0;
        _AtspiAccessible* element = nullptr;  // held
        _AtspiAccessible* parent = nullptr;   // held; none when it did not say
        int index = -1;
    };
    void notePassword(Entry& entry);
    // Where an element stands: its parent (held; none when it does not say) and its index there
    // (-1 when it does not say).
    [[nodiscard]] std::pair<_AtspiAccessible*, int> placeOf(_AtspiAccessible* object);
    [[nodiscard]] bool wasPassword(Entry& entry);
    void forgetPasswords(const std::function<bool(const SeenPassword&)>& gone);
    // Whether the element displays `line`, exactly what the person's own keys typed into it in
    // the run now, each key of it taken (see noteTypedKey). Nothing of it outlasts the run.
    [[nodiscard]] bool showsWhatWasTyped(Entry& entry, std::u16string_view line);
    // Whether its text can be written over AT-SPI: editable by the toolkit's rule and offering
    // the editable-text interface.
    [[nodiscard]] bool takesWrites(Entry& entry);
    Status writeSelectedText(Entry& entry, const std::u16string& text);
    Status writeValue(Entry& entry, const std::u16string& text);
    Status writeSelection(Entry& entry, text::Utf16Range range);
    // The same in the toolkit's offsets.
    Status writeToolkitSelection(Entry& entry, int start, int end);
    // --- An element that holds its parts as objects (atspi_rich_text.cpp)
    [[nodiscard]] std::shared_ptr<const RichReading> richText(Entry& entry);
    [[nodiscard]] Expected<AttributeValue> readRichText(Entry& entry, const RichReading& rich,
                                                        std::string_view name);
    // "AXStringForRange" and "AXBoundsForRange" of its whole text.
    [[nodiscard]] Expected<AttributeValue> readRichRange(Entry& entry, const RichReading& rich,
                                                         std::string_view name,
                                                         text::Utf16Range range);
    // Its selection (or caret) in its whole text: told by the part that holds it.
    [[nodiscard]] std::optional<text::Utf16Range> richSelection(Entry& entry,
                                                                const RichReading& rich);
    // A range of its whole text as the part that holds it: an entry of that part (valid while
    // the reading is kept) and the range in its own offsets; none for a range over two parts.
    [[nodiscard]] std::optional<RichPart> richPart(const Entry& entry, const RichReading& rich,
                                                   text::Utf16Range range);
    // Whether a plain text written over the whole of it would lose its formatting: it holds
    // parts as objects, or it is a web page's editor (of any tag but a form field's), or its
    // toolkit tells formatting by attribute runs and they vary (formatVaries).
    [[nodiscard]] bool holdsFormattedText(Entry& entry);
    // Whether the attribute runs of its text say a part of it looks otherwise than the rest (a
    // bold word), or emphasised; bounded to a few hundred runs.
    [[nodiscard]] bool formatVaries(Entry& entry);
    // Whether accessibility is on and its registry answers; none where the bus gave no answer
    // in time.
    [[nodiscard]] std::optional<bool> readTrust();
    void onFocusEvent(_AtspiAccessible* source);

    std::function<std::optional<ActiveWindow>()> activeWindow_;
    std::function<std::optional<WindowPlace>(ProcessID)> windowOf_;
    ProcessID self_;
    std::unordered_map<std::uint64_t, Entry> entries_;
    std::unordered_map<_AtspiAccessible*, std::uint64_t> ids_;
    std::deque<std::uint64_t> order_;
    std::uint64_t nextId_ = 2;

    _GDBusConnection* session_ = nullptr;
    unsigned trustSignal_ = 0;
    // The last trust told; whether it came from an answer (a read that had none is made again).
    std::optional<bool> trusted_;
    bool trustAnswered_ = false;
    CallbackList<bool> trustObservers_;

    _AtspiEventListener* focusListener_ = nullptr;
    CallbackList<ElementRef> focusObservers_;
    // The applications on the bus when last looked at, with what does not change while they
    // live: their process and, once asked, their toolkit's rules.
    struct KnownApplication {
        _AtspiAccessible* application = nullptr;  // held
        ProcessID pid = 0;
        const atspi::Toolkit* toolkit = nullptr;
    };
    std::vector<KnownApplication> applications_;
    // The element last found focused in each application, newest last.
    std::vector<Remembered> lastFocus_;
    // Fields seen with a password role, newest last.
    std::vector<SeenPassword> seenPasswords_;
    std::function<TypedRun::View()> typedRun_;
    // The field the keys of a run went into (held; none before its first key), and how many of
    // them it was seen to take.
    struct TypedInto {
        std::uint64_t run = 0;
        _AtspiAccessible* field = nullptr;
        std::size_t times = 0;
    };
    TypedInto typedInto_;
    // While a key is noted: how many keys the taps have not heard of yet.
    const std::function<std::size_t()>* typedAhead_ = nullptr;
    // The trees of the windows last searched a level at a time, newest last.
    std::vector<std::unique_ptr<atspi::KeptTree>> keptTrees_;
    // The answer of this turn's focus search, for the reads that follow it in the same turn.
    struct FocusAnswer {
        std::uint64_t turn = 0;
        _AtspiAccessible* element = nullptr;  // held
        ProcessID pid = 0;
        Error error;
    };
    FocusAnswer focusAnswer_;
    // Readings belong to one turn of the event loop; its end is marked by an idle callback.
    std::uint64_t turn_ = 1;
    unsigned turnEnd_ = 0;
    atspi::CallRecord calls_;
};

// Secure input is on while the active application's focused element is a password field.
class AtspiSecureInput final : public SecureInput {
  public:
    explicit AtspiSecureInput(std::shared_ptr<AtspiAccessibility> accessibility)
        : accessibility_(std::move(accessibility)) {}
    State state() override { return accessibility_->secureInputState(); }

  private:
    std::shared_ptr<AtspiAccessibility> accessibility_;
};

}  // namespace ravlin::platform
