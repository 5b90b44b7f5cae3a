#pragma once

// The Composer's text controller: owns the editor the user types in, reports each user edit to
// its owner as a QNUserEdit (then `onUserType` on the next turn of the sequence), takes the
// program's own writes without reporting them and without leaving anything to undo, reports the
// content height so the panel can follow it, turns Return and Escape into commit and cancel in
// the Composer, lets the window be dragged by the margins around the text, applies the instant
// local fixes before the caret, and draws fade pulses over what it changed.
//
// Qt has no notification before a change, so the controller keeps a shadow of the text: on each
// change of the document it reads the edit against the shadow, reports it, then brings the
// shadow up to date. The input method's preedit never enters the document.
//
// Everything runs on the executor's sequence (the Qt main thread); every task the controller
// starts goes through the executor and does nothing once the controller is gone.

#include <qcoro/qcorotask.h>

#include <QPointer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "app/composer/composer_text_view.h"
#include "app/composer/correction_buffers.h"
#include "app/editor/decoration_layer.h"
#include "app/editor/edit_reporting.h"
#include "app/editor/placement_caret.h"
#include "app/editor/text_view_commit_aware.h"
#include "core/rules/local_fixes.h"
#include "core/rules/tier_policy.h"
#include "core/support/async.h"
#include "core/support/executor.h"

class QTextDocument;

namespace ravlin {

enum class QNModelTextEditorInteractionMode { composer, document };

enum class QNModelDocumentCorrectionUndoOperation { undo, redo };

struct QNModelDocumentCorrectionUndoEvent {
    QNModelDocumentCorrectionUndoOperation operation = QNModelDocumentCorrectionUndoOperation::undo;
    std::u16string originalPrefix;
    std::u16string correctedPrefix;

    friend bool operator==(const QNModelDocumentCorrectionUndoEvent&,
                           const QNModelDocumentCorrectionUndoEvent&) = default;
};

// One running fade pulse.
struct QNFadePulseRenderState {
    std::int64_t generation = 0;
    text::Utf16Range activeRange;
    std::optional<text::Utf16Range> renderedRange;
    // Stops the pulse's task; none until the task has started.
    std::shared_ptr<std::stop_source> task;
};

// The fixed blue the pulses are drawn in.
inline const QColor kSystemBlue{0, 122, 255};

class QNControllerAutoCorrectingText final : public QNComposerTextView {
  public:
    static constexpr double kFontSize = 18;

    QNControllerAutoCorrectingText(QNModelTextEditorInteractionMode interactionMode,
                                   std::shared_ptr<Executor> executor);
    QNControllerAutoCorrectingText(const QNControllerAutoCorrectingText&) = delete;
    QNControllerAutoCorrectingText& operator=(const QNControllerAutoCorrectingText&) = delete;
    // Cancels the pending height notification, stops the prefix wave and clears every pulse;
    // deletes the editor when nobody else has.
    ~QNControllerAutoCorrectingText() override;

    // The editor; it is its own scroll area, so it is both. Null once something else deleted it.
    [[nodiscard]] QNTextViewCommitAware* textView() const { return textView_.data(); }
    [[nodiscard]] QWidget* scrollView() const { return textView_.data(); }

    const QNModelTextEditorInteractionMode interactionMode;

    // Called for each user edit from inside the document's change notification: it must not
    // write to the editor.
    std::function<void(const QNUserEdit&)> onUserEdit;
    // Called on the sequence's next turn after each reported edit.
    std::function<void()> onUserType;
    // The whole text after a change that is not the program's own.
    std::function<void(const std::u16string&)> onTextChange;
    // Kept for the document editor; the controller never raises it.
    std::function<void(const QNModelDocumentCorrectionUndoEvent&)> onDocumentCorrectionUndoRedo;
    std::function<void()> onCommit;
    std::function<void()> onCancel;
    std::function<void(double)> onContentHeightChange;

    // --- The text
    // The editor's text: block and line separators read as "\n", one unit each.
    [[nodiscard]] std::u16string string() const override;
    // Replaces the whole text as the program's own write: not reported, not undoable.
    void setText(std::u16string text, QNPlacementCaret caretPlacement) override;
    // The text from the start to the caret.
    [[nodiscard]] std::u16string textBeforeCaret() override;
    [[nodiscard]] std::int64_t caretOffset() override;
    // Writes `replacement` over `range` as the program's own write (not reported, not
    // undoable) and puts the caret at `caret`.
    void replaceText(text::Utf16Range range, std::u16string_view replacement,
                     std::int64_t caret) override;
    void setEditHandlers(std::function<void(const QNUserEdit&)> userEdit,
                         std::function<void()> userType) override {
        onUserEdit = std::move(userEdit);
        onUserType = std::move(userType);
    }
    // The selection clamped to the text, set back on the editor.
    text::Utf16Range clampSelection();

    // --- Geometry
    // The laid-out height of the text (one line when empty) plus the top and bottom insets.
    [[nodiscard]] double contentHeight() const;
    // The height of one line in the system font of `fontSize` pixels, plus both insets.
    [[nodiscard]] double lineHeight(double fontSize) const;
    void applyFontSize(double fontSize);

    // --- Program writes
    // Runs the local rules over the words finished since `settledPrefix` and writes the fixes in
    // place before the caret, keeping the caret and the text after it; pulses each change.
    // Only the parts the rules changed are rewritten, each changed line on its own, so the
    // paragraphs stay as they are.
    QNModelLocalFixResult applyLocalFixesBeforeCaret(
        std::u16string settledPrefix, QNModelLocalFixRules enabledRules,
        const TierPolicy& tierPolicy, std::optional<LocalRuleEvaluation>* evaluation = nullptr,
        bool wordFinished = false) override;
    // Whether the editor takes a program write now (false when read-only or gone).
    [[nodiscard]] bool shouldChangeText() const;
    // Writes `replacement` over `range` as the program's own write. False when nothing was
    // written (no editor, or called from inside an edit report).
    bool replaceTextProgrammatically(text::Utf16Range range, std::u16string_view replacement);
    // Switches the document's undo off; true when this call did it.
    bool suspendUndoRegistration();

    // Rewrites the text's beginning `from` into `to` as a short run of program writes (or one
    // whole write for a long changed run), pausing between steps on the executor. Stops, keeping
    // what it wrote, when the prefix changes under it, the editor refuses a write, `stop` is
    // requested or the controller goes. The caret keeps its place relative to the text; when the
    // user moved it or changed the text during the run, it stays where the user has it.
    QCoro::Task<QNAnimatedApplyResult> applyCorrectionAnimated(std::u16string from,
                                                               std::u16string to,
                                                               int durationMilliseconds,
                                                               int maxStepMilliseconds, bool pulses,
                                                               std::stop_token stop) override;

    // --- Keys and commands (Composer only; the document mode lets the editor act)
    bool handleKeyDown(QKeyEvent* event);
    bool textViewDoCommand(QNTextViewCommand command);
    bool commitFromCommand();
    // A press-drag in the margins moves the window by the mouse's travel.
    void handleWindowDrag(QNWindowDragPhase phase);

    // --- Animations
    // Starts the prefix wave over the first `snapshotLength` units, or gives a running wave the
    // new length; 0 or less resets it.
    void startPrefixWave(std::int64_t snapshotLength) override;
    // Immediately: resets the wave. Otherwise the wave fades out after a grace period.
    void stopPrefixWave(bool immediately) override;
    // Stops the prefix wave at once.
    void resetPrefixWave();
    // Removes every colour the wave drew.
    void clearPrefixWaveRendering();
    // The text the view shows, widened by the side insets and 48 px above and below; none for an
    // empty viewport or range.
    [[nodiscard]] std::optional<text::Utf16Range> prefixWaveVisibleCharacterRange() const;
    void startFadePulse(text::Utf16Range range, std::int64_t generation,
                        std::chrono::milliseconds rise, double peakOpacity,
                        std::chrono::milliseconds hold, std::chrono::milliseconds fall);
    void clearFadePulses(std::optional<std::int64_t> id) override;
    void renderFadePulse(std::int64_t id, double progress, double peakOpacity,
                         text::Utf16Range range);

    // --- State, for the owner and tests
    [[nodiscard]] bool isApplyingCorrection() const { return isApplyingCorrection_; }
    [[nodiscard]] const std::optional<text::Utf16Range>& pendingMarkedTextRange() const {
        return pendingMarkedTextRange_;
    }
    [[nodiscard]] std::int64_t fadePulseGeneration() const { return fadePulseGeneration_; }
    [[nodiscard]] const std::map<std::int64_t, QNFadePulseRenderState>& fadePulses() const {
        return fadePulses_;
    }
    [[nodiscard]] std::int64_t prefixWaveGeneration() const { return prefixWaveGeneration_; }
    [[nodiscard]] std::int64_t prefixWaveSnapshotLength() const {
        return prefixWaveSnapshotLength_;
    }
    [[nodiscard]] bool prefixWaveFadingOut() const { return prefixWaveFadingOut_; }
    [[nodiscard]] bool hasPrefixWaveTask() const { return prefixWaveTask_ != nullptr; }
    [[nodiscard]] bool hasPrefixWaveStopTask() const { return prefixWaveStopTask_ != nullptr; }
    [[nodiscard]] const std::optional<text::Utf16Range>& prefixWaveRenderedRange() const {
        return prefixWaveRenderedRange_;
    }
    [[nodiscard]] const QNDecorationLayer& decorations() const { return decorations_; }
    [[nodiscard]] bool hasPendingContentHeightNotification() const {
        return pendingContentHeightNotificationTask_ != 0;
    }

  private:
    void configureView();
    void documentContentsChange(int position, int removed, int added);
    void documentContentsChanged();
    // Reports the edit; `onUserType` follows on the next turn unless `followUpNow` (the caller
    // calls it).
    void reportUserEdit(text::Utf16Range range, std::u16string replacement,
                        bool followUpNow = false);
    void markedTextDidChange();
    void scheduleHeightNotification();
    // Writes through one edit block with undo suspended and emptied before and after.
    void writeProgrammatically(text::Utf16Range range, std::u16string_view replacement);
    // The same for several ranges of the current text, in ascending order and apart.
    void writeProgrammatically(const std::vector<editor::TextChange>& changes);
    // Types `typed` (a key's text, or a line break) into the editor as the user's edit when it
    // may end a word, through followInOneEdit(). False, doing nothing, when the editor should
    // handle the key itself.
    bool typeText(const QString& typed);
    // Makes `insert` (the editor's own typing or paste over the selection) the user's edit and
    // follows it up inside the same document edit: the insertion, the instant local fix and
    // anything else the owner writes then are laid out and painted in one pass. False, doing
    // nothing, when the editor should make the edit itself (a preedit showing, a write of the
    // program's own under way, read-only, overwrite mode).
    bool followInOneEdit(const std::function<void()>& insert);
    // The shadow read afresh from the document.
    void resyncShadow();
    [[nodiscard]] std::u16string readDocument(std::int64_t from, std::int64_t to) const;
    // Draws the text colours (the wave) as they stand in the layer.
    void redrawDecorations();
    // Repaints what shows of the backgrounds (the pulses) over `range`.
    void redrawUnderlay(text::Utf16Range range);
    void setSelection(text::Utf16Range range);
    QCoro::Task<> fadePulseTask(std::int64_t id, std::int64_t generation, text::Utf16Range range,
                                std::chrono::milliseconds rise, double peakOpacity,
                                std::chrono::milliseconds hold, std::chrono::milliseconds fall,
                                std::shared_ptr<Executor> executor, FlowGuard guard);
    QCoro::Task<> prefixWaveTask(std::int64_t generation, std::shared_ptr<Executor> executor,
                                 FlowGuard guard);
    QCoro::Task<> prefixWaveStopTask(std::int64_t generation, std::shared_ptr<Executor> executor,
                                     FlowGuard guard);
    // One frame of the wave: false when there is nothing to draw over (the wave finishes).
    bool drawPrefixWaveFrame(std::int64_t generation, const std::stop_token& stop, double fadeIn,
                             double fadeOut, double phase);
    void finishPrefixWave(std::int64_t generation);

    std::shared_ptr<Executor> executor_;
    QPointer<QNTextViewCommitAware> textView_;
    std::u16string shadow_;
    bool isApplyingCorrection_ = false;
    bool isReportingEdit_ = false;
    // A typed key's document edit is open and its change was reported by hand: the document
    // reports the changes made meanwhile once, when the edit closes, and the shadow follows each
    // of them as they are made; decorations are drawn once the edit closes.
    bool deferringChanges_ = false;
    bool decorationsPending_ = false;
    bool underlayPending_ = false;
    bool textChangedByUser_ = false;
    std::optional<text::Utf16Range> pendingMarkedTextRange_;
    bool suppressHeightNotifications_ = false;
    Executor::TaskID pendingContentHeightNotificationTask_ = 0;
    // The wave task and a pending delayed stop, stopped through these.
    std::shared_ptr<std::stop_source> prefixWaveTask_;
    std::shared_ptr<std::stop_source> prefixWaveStopTask_;
    bool prefixWaveFadingOut_ = false;
    std::optional<text::Utf16Range> prefixWaveRenderedRange_;
    std::int64_t prefixWaveSnapshotLength_ = 0;
    std::int64_t prefixWaveGeneration_ = 0;
    std::map<std::int64_t, QNFadePulseRenderState> fadePulses_;
    std::int64_t fadePulseGeneration_ = 0;
    std::int64_t fadePulseID_ = 0;
    bool windowDragActive_ = false;
    std::optional<QPoint> windowDragStartMouseLocation_;
    std::optional<QPoint> windowDragStartWindowOrigin_;
    QNDecorationLayer decorations_;
    // The last run of the local rules that changed nothing, and over what.
    struct QuietRun {
        std::u16string text;
        std::optional<std::u16string> before;
        QNModelLocalFixRules rules;
        const TierPolicy* policy = nullptr;
        QNModelLocalFixResult result;
    };
    std::optional<QuietRun> quietRun_;
    bool foregroundShown_ = false;
    // Tasks the controller starts hold this weakly and do nothing once it is gone.
    std::shared_ptr<const int> alive_ = std::make_shared<const int>(0);
};

// Places the controller's editor in a host layout and keeps the shown text in step with a value
// the host holds: a present text that differs from the editor's is written with the caret
// placement; an absent one never clears the editor.
struct QNViewAutoCorrectingText {
    std::shared_ptr<QNControllerAutoCorrectingText> controller;
    std::optional<std::u16string> text;
    QNPlacementCaret caretPlacement = QNPlacementCaret::end;

    // The same widget on every call.
    [[nodiscard]] QWidget* makeView() const;
    void updateView() const;
};

}  // namespace ravlin
