#pragma once

// What has the keyboard focus in the frontmost application when the Composer opens or a Quick Fix
// starts: the application, its focused element's role, the selection and where it came from, the
// element's frame, the caret, and the anchor the Composer panel is placed against. A plain value;
// every rectangle in it is in screen coordinates (y up from the primary screen's bottom-left).
//
// `captureNow` is the synchronous reading through accessibility; `capture` completes it where it
// came back incomplete: the copy fallback (Ctrl+C through the pasteboard, the user's contents put
// back) and the caret probe (one invisible character typed, located, and deleted again).

#include <qcoro/qcorotask.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "app/target/target_seams.h"
#include "platform/accessibility.h"
#include "platform/geometry.h"
#include "platform/key_taps.h"
#include "platform/screens.h"
#include "platform/workspace.h"

namespace ravlin {

struct QNModelPasteboardSnapshot;
class QNQuickFixHostDriver;

enum class QNSelectionSource {
    accessibilitySelectedText,  // "accessibility-selected-text"
    accessibilityValueRange,    // "accessibility-value-range"
    copyFallback,               // "copy-fallback"
    none,                       // "none"
};

[[nodiscard]] std::string_view toString(QNSelectionSource source);
[[nodiscard]] std::optional<QNSelectionSource> selectionSourceFromString(std::string_view raw);

struct QNModelFocusAnchor {
    enum class QNSourceFocusAnchor { caret, caretProbed, focusedElement, mouse };

    QNSourceFocusAnchor source = QNSourceFocusAnchor::mouse;
    platform::Rect rect;
    std::optional<std::string> role;

    // "caret", "caret (probed)", "focused element", "mouse fallback".
    [[nodiscard]] static std::string_view word(QNSourceFocusAnchor source);
    // "x:120 y:641 w:1 h:17": each value rounded to the nearest whole number, halves away from 0.
    [[nodiscard]] static std::string compactRectDescription(const platform::Rect& rect);
    // The word, " role=" and the role when there is one, " rect=" and the compact rectangle.
    [[nodiscard]] std::string logDescription() const;

    friend bool operator==(const QNModelFocusAnchor&, const QNModelFocusAnchor&) = default;
};

// The screens as one reading sees them: the list in the desktop's order and the main screen.
// Read afresh for every reading, so a display change between two captures is seen.
struct QNScreenLayout {
    std::vector<platform::Screen> screens;
    std::optional<platform::Screen> main;

    [[nodiscard]] static QNScreenLayout read(platform::Screens& screens);
};

struct QNModelFocusSnapshot {
    platform::RunningApplication app;         // the frontmost application, else this one
    // The window the keyboard is in (Workspace::frontmostWindow); none where the desktop does
    // not tell.
    std::optional<std::uint64_t> window;
    std::optional<std::string> appBundleID;   // its identity; none when unknown
    // The focused element; none where none was found, or it is a password field.
    std::optional<platform::ElementRef> focusedElement;
    std::optional<std::string> focusedRole;   // "AXRole" of the focused element
    std::optional<platform::Rect> caretRect;  // 1 point wide
    std::optional<platform::Rect> focusedElementRect;
    std::optional<QNModelFocusAnchor> anchor;     // always set by a reading
    std::optional<std::u16string> selectionText;  // exactly as read, not trimmed
    QNSelectionSource selectionSource = QNSelectionSource::none;
    std::optional<std::int64_t> selectionLength;    // of "AXSelectedTextRange"; 0 for a caret
    std::optional<std::int64_t> selectionLocation;  // of "AXSelectedTextRange"
    bool isSecureInput = false;
    // No focused element was found and the desktop could not tell secure input either (on Linux
    // it is a property of the focused field): the field may be a password field, so nothing is
    // copied from it or typed into it.
    bool isSecureInputUnknown = false;

    friend bool operator==(const QNModelFocusSnapshot&, const QNModelFocusSnapshot&) = default;

    // Told the result of every accessibility trust check of a reading or a probe, before it is
    // acted on. Installed once by the application shell; main sequence only.
    static inline std::function<void(bool)> accessibilityTrustObserver;

    // What the synthetic keys did is looked for this often: the copy landing on the pasteboard
    // (at most `copyWaitLimit`), Ctrl+A's selection showing (at most `selectAllWaitLimit`).
    static constexpr auto settlePollInterval = std::chrono::milliseconds(5);
    static constexpr auto copyWaitLimit = std::chrono::milliseconds(300);
    static constexpr auto selectAllWaitLimit = std::chrono::milliseconds(1030);
    // Where nothing tells whether Ctrl+A took, the pause before the copy.
    static constexpr auto pauseAfterSelectAllBeforeCopy = std::chrono::milliseconds(30);
    static constexpr auto probeReadInterval = std::chrono::milliseconds(30);
    static constexpr int probeReads = 5;
    // How long the probe's character (and the selection of it for the take-back) is waited for
    // in the field: the person's keys are held meanwhile, and a busy application shows it late.
    static constexpr auto probeShowLimit = std::chrono::milliseconds(1500);
    static constexpr char16_t probeCharacter = u'\u200B';
    // While the Composer shortcut's key is down, its grab may keep the frontmost application
    // from reporting its focus, and a moment after it is up the application may not have taken
    // its focus back yet: the reading is made again once the key is up (waited for this long at
    // most) and while the application takes its focus back.
    static constexpr auto focusSettleLimit = std::chrono::milliseconds(50);
    static constexpr auto keyReleaseLimit = std::chrono::milliseconds(1000);
    static constexpr auto keyReleasePollInterval = std::chrono::milliseconds(5);
    static constexpr auto focusReturnLimit = std::chrono::milliseconds(250);
    static constexpr auto focusReturnPollInterval = std::chrono::milliseconds(10);

    // --- The synchronous reading
    [[nodiscard]] static QNModelFocusSnapshot captureNow(const TargetSeams& seams);
    // Whether `element`, the focused element of role `role`, is a password field, or the desktop
    // says secure entry is on: what refuses an opening, and a commit's paste keys.
    [[nodiscard]] static bool isPasswordField(const TargetSeams& seams,
                                              platform::ElementRef element,
                                              const std::optional<std::string>& role);

    struct Selection {
        std::optional<std::u16string> text;
        QNSelectionSource source = QNSelectionSource::none;
        friend bool operator==(const Selection&, const Selection&) = default;
    };
    // "AXSelectedText", else the selected range of "AXValue".
    [[nodiscard]] static Selection selection(platform::Accessibility& accessibility,
                                             platform::ElementRef element);
    // The element's frame in accessibility coordinates: positive, finite sizes only.
    [[nodiscard]] static std::optional<platform::Rect> frame(platform::Accessibility& accessibility,
                                                             platform::ElementRef element);
    // The caret in accessibility coordinates, from the bounds of the candidate ranges around the
    // selection, else from the text-marker range.
    [[nodiscard]] static std::optional<platform::Rect> caretRectOf(
        platform::Accessibility& accessibility, platform::ElementRef element);
    // "AXBoundsForRange"; a zero rectangle or one whose size is not a number counts as none.
    [[nodiscard]] static std::optional<platform::Rect> bounds(
        platform::Accessibility& accessibility, std::int64_t location, std::int64_t length,
        platform::ElementRef element);

    // --- Geometry: pure functions over the screens of one reading
    // A rectangle in accessibility coordinates in screen coordinates: flipped against the
    // primary screen, else as it stands, whichever lies on a screen (the one nearer to `near`
    // when both do, flipped on a tie).
    [[nodiscard]] static std::optional<platform::Rect> screenRect(
        const platform::Rect& fromAccessibility, const std::optional<platform::Rect>& near,
        const QNScreenLayout& layout);
    // The first screen holding the rectangle's midpoint, else the one it overlaps most.
    [[nodiscard]] static std::optional<platform::Screen> screen(
        const platform::Rect& rect, const std::vector<platform::Screen>& screens);
    // Whether a caret an element reports can stand where its text is (both in accessibility
    // coordinates): never at the screen's origin, where toolkits put a caret they cannot place,
    // and, where the element's frame is known, within it (give or take the caret's height).
    [[nodiscard]] static bool isCaretOfElement(const platform::Rect& caret,
                                               const std::optional<platform::Rect>& elementFrame);
    // Whether the focused element's frame is small enough to place the panel against.
    [[nodiscard]] static bool isUsableElementAnchor(const platform::Rect& rect,
                                                    const std::optional<std::string>& role,
                                                    const QNScreenLayout& layout);

    // --- The capture with its fallbacks
    // The person's keys held back from every application from the moment it is called (the
    // hold is the caller's, shared while the probe types through it); none where they cannot
    // be.
    using ProbeKeys = std::function<std::shared_ptr<platform::KeyHold>()>;
    // `afterShortcut`: started by the Composer shortcut's press. `keys`: the hold the caret probe
    // types through; without one the probe types nothing (the person's keys could land between
    // its character and its take-back).
    [[nodiscard]] static QCoro::Task<QNModelFocusSnapshot> capture(TargetSeams seams,
                                                                   std::stop_token stop,
                                                                   bool afterShortcut = false,
                                                                   ProbeKeys keys = nullptr);
    // The reading once the application shows its focus again: at once, else once a held
    // shortcut key has gone up; each wait bounded, `first` when the key never does.
    [[nodiscard]] static QCoro::Task<QNModelFocusSnapshot> captureAfterKeyRelease(
        TargetSeams seams, QNModelFocusSnapshot first, std::stop_token stop);
    [[nodiscard]] bool hasFocusedElement() const { return focusedRole.has_value(); }
    [[nodiscard]] bool needsCopyFallback() const;
    // Ctrl+C into `target` and the copied text, the user's pasteboard put back on every path
    // once saved. Never into a terminal (`focusedRole` with the target's identity): Ctrl+C there
    // interrupts the running program. A stop before the chord sends nothing and gives nothing;
    // once the chord is out, its polls run out before the put-back (a copy landing after it
    // would take the user's contents), the put-back then watches for a copy landing later
    // still, and a stop gives nothing. With `saved`, the user's contents a caller already holds
    // are put back instead of saved again; the caller restores them at its own end.
    [[nodiscard]] static QCoro::Task<std::optional<std::u16string>> copySelectionViaPasteboard(
        TargetSeams seams, platform::RunningApplication target,
        std::optional<std::string> focusedRole, std::stop_token stop,
        std::shared_ptr<const QNModelPasteboardSnapshot> saved = nullptr);
    // The copy itself, for every caller (the Quick Fix host's too): Ctrl+C (after Ctrl+A with
    // `selectAll`) into `target`, which must be in front, and not this application, before the
    // save, after it (a save may take a while: the user may have moved on) and before each chord.
    // Nothing is sent after a stop. The user's contents are put back on every path once saved;
    // after the chord, restored and watched for the copy landing late, unless the target left the
    // front meanwhile (what changes the clipboard then may be the user's own copy elsewhere). A
    // blank copy gives nothing. With `saved` as above. With `selectionShown`, Ctrl+C goes out
    // only while it answers true (asked just before the chord; after Ctrl+A, waited for as
    // below): what is to be copied must be seen selected first, since without a selection some
    // editors copy the caret's whole line.
    [[nodiscard]] static QCoro::Task<std::optional<std::u16string>> copyFromFront(
        std::shared_ptr<QNQuickFixHostDriver> driver, platform::RunningApplication target,
        bool selectAll, std::stop_token stop,
        std::shared_ptr<const QNModelPasteboardSnapshot> saved = nullptr,
        std::function<bool()> selectionShown = nullptr,
        std::chrono::milliseconds copyLimit = copyWaitLimit);
    // After Ctrl+A into `target`: whether `selectionShown` answered true, asked at once, then
    // every `settlePollInterval` up to `limit` while the target stays in front and nothing
    // stops. An application slow under load shows its select-all late; a caret put back
    // before it shows is overtaken by it, and the person's next key replaces the whole text.
    [[nodiscard]] static QCoro::Task<bool> waitForSelectAll(
        std::shared_ptr<QNQuickFixHostDriver> driver, platform::RunningApplication target,
        std::function<bool()> selectionShown, std::stop_token stop,
        std::chrono::milliseconds limit = selectAllWaitLimit);
    [[nodiscard]] QNModelFocusSnapshot applyingCopiedSelection(
        const std::optional<std::u16string>& copied, bool attempted) const;
    [[nodiscard]] static QCoro::Task<std::optional<platform::Rect>> probedCaretRect(
        TargetSeams seams, QNModelFocusSnapshot snapshot, ProbeKeys keys = nullptr);
    // The caret of `element` in screen coordinates where it tells none. Nothing is typed into an
    // empty field (its caret stands at its start, where the panel placed against the field is
    // already): none. Else, only with the person's keys held (`keys`), U+200B is typed at the
    // caret through the hold (only into a field whose text can be read) and the right edge of
    // where it landed is the caret. It is taken back only once the field's
    // text shows it, by its place: selected alone, else standing right before the caret, then
    // one BackSpace through the hold; never by a Delete sent blind, which would take one of the
    // user's characters where it did not land. Not stoppable: it runs its reads to the end.
    [[nodiscard]] static QCoro::Task<std::optional<platform::Rect>> probeCaret(
        TargetSeams seams, platform::ElementRef element, platform::RunningApplication app,
        std::optional<platform::Rect> hint, ProbeKeys keys = nullptr);
    // Where `typed` (one character) stands in `after` when `before` holds it nowhere and `after`
    // once; none otherwise. Whatever else differs is the person's: keys typed before theirs were
    // held, still on their way into the field when `before` was read.
    [[nodiscard]] static std::optional<std::int64_t> insertedAt(std::u16string_view before,
                                                                std::u16string_view after,
                                                                std::u16string_view typed);
    // The probe's character, seen at `at`, taken back as said above, while the field still holds
    // it there and nothing else changed.
    [[nodiscard]] static QCoro::Task<> takeBackProbe(TargetSeams seams,
                                                     platform::ElementRef element,
                                                     platform::RunningApplication app,
                                                     std::u16string valueBefore, std::int64_t at,
                                                     platform::KeyHold& hold);
};

// A window of this application as the shell sees it: an identifier, and whether it shows a
// document (its controller has one).
struct QNWindowDescription {
    std::uintptr_t id = 0;
    bool hasDocument = false;
};

// The current document: the windows that show it.
struct QNDocumentDescription {
    std::vector<std::uintptr_t> windows;
};

// Whether one of this application's own document windows has the focus: false when the
// application is not active; else the key window, else the main window, shows a document, or is
// one of the current document's windows.
[[nodiscard]] bool isDocumentWindow(bool isActive, const std::optional<QNWindowDescription>& key,
                                    const std::optional<QNWindowDescription>& main,
                                    const std::optional<QNDocumentDescription>& document);

}  // namespace ravlin
