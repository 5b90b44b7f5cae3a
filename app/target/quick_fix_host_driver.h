#pragma once

// How a Quick Fix reaches into the target application: the host never holds an accessibility
// element itself. The driver registers the elements it finds under opaque tokens, answers
// questions about them (role, value, selection), writes to them, sends the Command chords the
// host needs, borrows the pasteboard and waits for the target to come to the front.
//
// One live driver per Quick Fix run: its capture and its commit use the same driver, since a
// token means something only to the driver that issued it. A token it did not issue gives the
// empty answer (none, false, nothing appended) without asking the desktop anything.

#include <qcoro/qcorotask.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app/target/paste_sequence.h"
#include "app/target/pasteboard_snapshot.h"
#include "app/target/target_seams.h"
#include "core/support/uuid.h"
#include "core/text/range.h"
#include "platform/accessibility.h"
#include "platform/workspace.h"

namespace ravlin {

struct QNQuickFixElementToken {
    Uuid id;

    [[nodiscard]] static QNQuickFixElementToken make() { return {Uuid::random()}; }
    friend bool operator==(const QNQuickFixElementToken&, const QNQuickFixElementToken&) = default;
};

}  // namespace ravlin

template <>
struct std::hash<ravlin::QNQuickFixElementToken> {
    std::size_t operator()(const ravlin::QNQuickFixElementToken& token) const noexcept;
};

namespace ravlin {

// What the driver reports about an element it has just registered.
struct QNQuickFixElementInfo {
    QNQuickFixElementToken token;
    std::optional<std::string> role;  // "AXRole"; none when missing or empty
    bool isSecure = false;            // the role or the subrole is "AXSecureTextField"
    // UTF-16 length of "AXValue" when that is a text (0 for an empty one); none otherwise.
    std::optional<std::int64_t> valueLength;

    friend bool operator==(const QNQuickFixElementInfo&, const QNQuickFixElementInfo&) = default;
};

class QNQuickFixHostDriver {
  public:
    using Token = QNQuickFixElementToken;
    using Application = platform::RunningApplication;

    virtual ~QNQuickFixHostDriver() = default;

    // --- Elements
    // The application's focused element ("AXFocusedUIElement" of the system-wide element, else
    // of the application's element), registered under a new token.
    [[nodiscard]] virtual std::optional<QNQuickFixElementInfo> focusedElement(Application app) = 0;
    // Registers each descendant of the token's element at depths `depth`+1 .. `maxDepth` whose
    // role is a text role, depth first, a parent before its children (the element itself never).
    virtual void collectTextDescendants(const Token& token, int depth, int maxDepth,
                                        std::vector<QNQuickFixElementInfo>& into) = 0;
    [[nodiscard]] virtual std::optional<std::u16string> selectedText(const Token& token) = 0;
    [[nodiscard]] virtual std::optional<text::Utf16Range> selectedTextRange(const Token& token) = 0;
    [[nodiscard]] virtual std::optional<std::u16string> string(text::Utf16Range range,
                                                               const Token& token) = 0;
    // "AXValue"; an empty text is given as such.
    [[nodiscard]] virtual std::optional<std::u16string> value(const Token& token) = 0;
    [[nodiscard]] virtual bool canSetSelectedText(const Token& token) = 0;
    virtual bool setSelectedText(std::u16string_view text, const Token& token) = 0;
    virtual bool setSelectedTextRange(text::Utf16Range range, const Token& token) = 0;
    // Whether the element holds formatted text a plain text over the whole of it would lose
    // ("AXRichText").
    [[nodiscard]] virtual bool holdsRichText(const Token& token) = 0;
    // Whether the element takes typing ("AXEditable"); none when it does not say.
    [[nodiscard]] virtual std::optional<bool> isEditable(const Token& token) = 0;

    // --- Applications
    [[nodiscard]] virtual Application currentApplication() = 0;
    // True when `app` is the frontmost application and is not this one.
    [[nodiscard]] virtual bool isFrontmostOther(Application app) = 0;
    // Asks `app` to come to the front; true when the request was accepted.
    virtual bool activate(Application app) = 0;
    // Tests `isFrontmostOther` at once, then each time the desktop tells that another
    // application came to the front, for up to `limit`. A stop ends the wait early, after one
    // more test.
    [[nodiscard]] virtual QCoro::Task<bool> waitForFrontmost(Application app,
                                                             std::chrono::milliseconds limit,
                                                             std::stop_token stop) = 0;
    // The window with the focus now, where the desktop says (Workspace::frontmostWindow).
    [[nodiscard]] virtual std::optional<std::uint64_t> frontmostWindow() = 0;

    // --- Keys (Command+C, Command+A, Command+V); false when the chord could not be sent. Sent at
    // once: a caller first waits for the person's own keys to be up (waitForKeysUp).
    [[nodiscard]] virtual QCoro::Task<> waitForKeysUp(std::stop_token stop) = 0;
    // Until the keyboard's focus is in the window in front
    // (QNModelPasteboardSnapshot::waitForKeyboardFocus).
    [[nodiscard]] virtual QCoro::Task<> waitForKeyboardFocus(std::stop_token stop) = 0;
    virtual bool postCopy() = 0;
    virtual bool postSelectAll() = 0;
    // Only while the pasteboard still holds the text written for the paste
    // (postChordOverOwnWrite).
    virtual QNChordPost postPaste() = 0;
    // Types `text` at the focus (over its selection), as the desktop's keys allow, while
    // `target` stays in front (typeText of target_seams.h): how much went out, in UTF-16 units.
    [[nodiscard]] virtual QCoro::Task<std::size_t> typeText(std::u16string text,
                                                            platform::RunningApplication target,
                                                            std::stop_token stop) = 0;
    // One BackSpace.
    virtual bool postBackSpace() = 0;

    // --- Pasteboard
    // The user's contents, to be put back on every path (QNModelPasteboardSnapshot::capture,
    // which takes over a pending deferred restore and never holds up the program).
    [[nodiscard]] virtual QCoro::Task<QNModelPasteboardSnapshot> capturePasteboard() = 0;
    // Put back in place of what `over` allows (QNModelPasteboardSnapshot::restore).
    virtual platform::PutBack restorePasteboard(const QNModelPasteboardSnapshot& snapshot,
                                                QNPutBackOver over) = 0;
    // Where a copy chord went to the target: restored, then watched for the copy landing late
    // with `copied` (QNModelPasteboardSnapshot::restoreAfterCopy).
    virtual platform::PutBack restorePasteboardAfterCopy(const QNModelPasteboardSnapshot& snapshot,
                                                         std::optional<std::u16string> copied,
                                                         QNPutBackOver over) = 0;
    // Right after a copy chord, put back over the target's copy without closing the borrow
    // (QNModelPasteboardSnapshot::putBack).
    virtual void putBackPasteboard(const QNModelPasteboardSnapshot& snapshot) = 0;
    // The borrow ends without anything written (QNModelPasteboardSnapshot::release).
    virtual void releasePasteboard(const QNModelPasteboardSnapshot& snapshot) = 0;
    // The process's deferred restore, when one is set up.
    [[nodiscard]] virtual std::shared_ptr<QNQuickFixPasteboardManager> pasteboardManager() = 0;
    // After a paste chord: waits until `target` has fetched our text
    // (QNModelPasteboardSnapshot::waitForFetch).
    [[nodiscard]] virtual QCoro::Task<> waitForPasteboardFetch(platform::FetchTarget target) = 0;
    // Before a paste chord: until `target` has been told what our text offers
    // (QNModelPasteboardSnapshot::waitForLook).
    [[nodiscard]] virtual QCoro::Task<> waitForPasteboardLook(platform::FetchTarget target,
                                                              std::stop_token stop) = 0;
    // Who has fetched what was last written to the pasteboard (Pasteboard::lastWriteFetchedBy).
    [[nodiscard]] virtual platform::WriteFetch pasteboardFetchedBy(
        platform::FetchTarget target) = 0;
    // Clears the pasteboard and puts `text` on it for the paste, kept out of clipboard managers'
    // history (Pasteboard::setTransientString): invalidArgument when another program copied
    // since the save (nothing written), another failure when the write was refused.
    virtual platform::Status writePasteboardString(std::u16string_view text) = 0;
    // That text is left for the user to paste by hand: an ordinary copy from now on, while it is
    // still there; whether it is (Pasteboard::makeTransientOrdinary).
    virtual bool makePasteboardTextOrdinary() = 0;
    // Whether our last write (or put-back) is still what the pasteboard holds
    // (Pasteboard::holdsOwnChange).
    [[nodiscard]] virtual bool pasteboardHoldsOwnChange() = 0;
    [[nodiscard]] virtual std::int64_t pasteboardChangeCount() = 0;
    // The plain text on the pasteboard, read without holding up the program.
    [[nodiscard]] virtual QCoro::Task<std::optional<std::u16string>> pasteboardString() = 0;

    // A pause of `duration` (negative counts as 0); a stop ends it early. One given no stop
    // that can be requested still ends when the program does (TargetSeams::ending).
    [[nodiscard]] virtual QCoro::Task<> sleep(std::chrono::milliseconds duration,
                                              std::stop_token stop) = 0;
    // `condition` asked at once, then every `interval` until it holds, for at most `limit` on the
    // program's clock (however long each asking takes); false when the limit passed without it
    // or a stop came.
    [[nodiscard]] virtual QCoro::Task<bool> waitUntil(std::function<bool()> condition,
                                                      std::chrono::milliseconds interval,
                                                      std::chrono::milliseconds limit,
                                                      std::stop_token stop) = 0;
};

class QNQuickFixHostLiveDriver final : public QNQuickFixHostDriver {
  public:
    // The roles the descendant walk collects.
    static constexpr std::string_view textRoles[] = {"AXTextArea", "AXTextField", "AXComboBox",
                                                     "AXWebArea"};

    explicit QNQuickFixHostLiveDriver(TargetSeams seams);

    std::optional<QNQuickFixElementInfo> focusedElement(Application app) override;
    void collectTextDescendants(const Token& token, int depth, int maxDepth,
                                std::vector<QNQuickFixElementInfo>& into) override;
    std::optional<std::u16string> selectedText(const Token& token) override;
    std::optional<text::Utf16Range> selectedTextRange(const Token& token) override;
    std::optional<std::u16string> string(text::Utf16Range range, const Token& token) override;
    std::optional<std::u16string> value(const Token& token) override;
    bool canSetSelectedText(const Token& token) override;
    bool setSelectedText(std::u16string_view text, const Token& token) override;
    bool setSelectedTextRange(text::Utf16Range range, const Token& token) override;
    bool holdsRichText(const Token& token) override;
    std::optional<bool> isEditable(const Token& token) override;

    Application currentApplication() override;
    bool isFrontmostOther(Application app) override;
    bool activate(Application app) override;
    QCoro::Task<bool> waitForFrontmost(Application app, std::chrono::milliseconds limit,
                                       std::stop_token stop) override;
    std::optional<std::uint64_t> frontmostWindow() override;
    QCoro::Task<> waitForKeysUp(std::stop_token stop) override;
    QCoro::Task<> waitForKeyboardFocus(std::stop_token stop) override;

    bool postCopy() override;
    bool postSelectAll() override;
    QNChordPost postPaste() override;
    QCoro::Task<std::size_t> typeText(std::u16string text, platform::RunningApplication target,
                                      std::stop_token stop) override;
    bool postBackSpace() override;

    QCoro::Task<QNModelPasteboardSnapshot> capturePasteboard() override;
    platform::PutBack restorePasteboard(const QNModelPasteboardSnapshot& snapshot,
                                        QNPutBackOver over) override;
    platform::PutBack restorePasteboardAfterCopy(const QNModelPasteboardSnapshot& snapshot,
                                    std::optional<std::u16string> copied,
                                    QNPutBackOver over) override;
    void putBackPasteboard(const QNModelPasteboardSnapshot& snapshot) override;
    void releasePasteboard(const QNModelPasteboardSnapshot& snapshot) override;
    std::shared_ptr<QNQuickFixPasteboardManager> pasteboardManager() override;
    QCoro::Task<> waitForPasteboardFetch(platform::FetchTarget target) override;
    QCoro::Task<> waitForPasteboardLook(platform::FetchTarget target,
                                        std::stop_token stop) override;
    platform::WriteFetch pasteboardFetchedBy(platform::FetchTarget target) override;
    platform::Status writePasteboardString(std::u16string_view text) override;
    bool makePasteboardTextOrdinary() override;
    bool pasteboardHoldsOwnChange() override;
    std::int64_t pasteboardChangeCount() override;
    QCoro::Task<std::optional<std::u16string>> pasteboardString() override;

    QCoro::Task<> sleep(std::chrono::milliseconds duration, std::stop_token stop) override;
    QCoro::Task<bool> waitUntil(std::function<bool()> condition,
                                std::chrono::milliseconds interval,
                                std::chrono::milliseconds limit, std::stop_token stop) override;

    // --- Element-level functions: no token map; used without a driver too.
    // The focused element: "AXFocusedUIElement" of the system-wide element, else of the
    // application's element.
    [[nodiscard]] static std::optional<platform::ElementRef> focusedElementRef(
        platform::Accessibility& accessibility, platform::ProcessID pid);
    // The attribute's value when it is an element.
    [[nodiscard]] static std::optional<platform::ElementRef> copyAttribute(
        platform::Accessibility& accessibility, std::string_view attribute,
        platform::ElementRef element);
    // The attribute's value when it is a text; with `nonEmpty`, an empty text counts as none.
    [[nodiscard]] static std::optional<std::u16string> stringAttribute(
        platform::Accessibility& accessibility, std::string_view attribute,
        platform::ElementRef element, bool nonEmpty);
    // `role` is "AXSecureTextField", or else the element's "AXSubrole" is.
    [[nodiscard]] static bool isSecureTextElement(platform::Accessibility& accessibility,
                                                  platform::ElementRef element,
                                                  const std::optional<std::string>& role);
    // "AXSelectedTextRange" when its location and length are both 0 or more.
    [[nodiscard]] static std::optional<text::Utf16Range> selectedTextRange(
        platform::Accessibility& accessibility, platform::ElementRef element);
    // "AXStringForRange"; none for a length below 1 or an empty answer.
    [[nodiscard]] static std::optional<std::u16string> string(
        platform::Accessibility& accessibility, text::Utf16Range range,
        platform::ElementRef element);
    // "AXSelectedText" (non-empty), else the string for a selected range of length > 0, else
    // that range of "AXValue" (non-empty).
    [[nodiscard]] static std::optional<std::u16string> selectedText(
        platform::Accessibility& accessibility, platform::ElementRef element);
    // UTF-16 units [location, location + length) when location >= 0, length >= 1 and the range
    // lies within the text.
    [[nodiscard]] static std::optional<std::u16string> substring(std::u16string_view text,
                                                                 std::int64_t location,
                                                                 std::int64_t length);
    // False for a negative location or length, or when the write fails.
    static bool setSelectedTextRange(platform::Accessibility& accessibility, text::Utf16Range range,
                                     platform::ElementRef element);
    // "AXChildren" without empty entries; an empty list when it is no element list.
    [[nodiscard]] static std::vector<platform::ElementRef> children(
        platform::Accessibility& accessibility, platform::ElementRef element);
    // The text a paste ran on into past `field`, in a document that makes each pasted line a
    // paragraph of its own: each element after `field` under the same parent, up to and with
    // the one focused in `pid` now, a line break before each. None where the focus is still
    // in `field` or elsewhere, where an element cannot be read, or past `maxLength` units.
    [[nodiscard]] static std::optional<std::u16string> textRunOnInto(
        platform::Accessibility& accessibility, platform::ElementRef field,
        platform::ProcessID pid, std::size_t maxLength);
    // Key down then key up of the virtual key with exactly Command held.
    static bool postCommandKey(platform::KeySynthesis& keySynthesis, std::uint32_t keyCode);

  private:
    QNQuickFixElementInfo registerElement(platform::ElementRef element,
                                          std::optional<std::string> role);
    void collectTextDescendants(platform::ElementRef element, int depth, int maxDepth,
                                std::vector<QNQuickFixElementInfo>& into);
    [[nodiscard]] std::optional<platform::ElementRef> element(const Token& token) const;

    TargetSeams seams_;
    // Only grows during the run.
    std::unordered_map<Token, platform::ElementRef> elements_;
};

}  // namespace ravlin
