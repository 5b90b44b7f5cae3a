#include "app/editor/controller_auto_correcting_text.h"

#include <QAbstractTextDocumentLayout>
#include <QCursor>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <cassert>
#include <utility>

#include "app/editor/edit_reporting.h"
#include "app/support/flag_scope.h"
#include "core/records/note.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;

constexpr double kVerticalInsets = 2.0 * QNTextViewCommitAware::kInsetHeight;

QString toQString(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()),
                   static_cast<qsizetype>(text.size()));
}

// Block and line separators read as "\n", one unit each, so offsets stay document positions.
void appendReadingSeparators(std::u16string& out, const QString& raw) {
    const std::size_t start = out.size();
    out.append(reinterpret_cast<const char16_t*>(raw.utf16()),
               static_cast<std::size_t>(raw.size()));
    for (std::size_t i = start; i < out.size(); ++i) {
        if (out[i] == u'\u2029' || out[i] == u'\u2028') {
            out[i] = u'\n';
        }
    }
}

// The height of one laid-out line of `font`, laid out as the editor lays out its document.
double oneLineHeight(const QFont& font, QPaintDevice* device) {
    QTextDocument probe;
    probe.setDocumentMargin(0);
    probe.setDefaultFont(font);
    if (device != nullptr) {
        probe.documentLayout()->setPaintDevice(device);
    }
    return probe.documentLayout()->documentSize().height();
}

}  // namespace

QNControllerAutoCorrectingText::QNControllerAutoCorrectingText(
    QNModelTextEditorInteractionMode interactionMode, std::shared_ptr<Executor> executor)
    : interactionMode(interactionMode),
      executor_(std::move(executor)),
      textView_(new QNTextViewCommitAware()) {
    configureView();
}

QNControllerAutoCorrectingText::~QNControllerAutoCorrectingText() {
    if (pendingContentHeightNotificationTask_ != 0) {
        executor_->cancel(std::exchange(pendingContentHeightNotificationTask_, 0));
    }
    resetPrefixWave();
    clearFadePulses(std::nullopt);
    alive_.reset();
    if (QNTextViewCommitAware* view = textView_.data()) {
        QObject::disconnect(view->document(), nullptr, view, nullptr);
        view->handleKeyDown = nullptr;
        view->handleCommand = nullptr;
        view->handleMarginDrag = nullptr;
        view->markedTextDidChange = nullptr;
        view->typeText = nullptr;
        view->pasteText = nullptr;
        delete view;
    }
}

void QNControllerAutoCorrectingText::configureView() {
    QNTextViewCommitAware* view = textView_.data();
    QFont font = view->font();
    font.setPixelSize(static_cast<int>(kFontSize));
    view->setFont(font);
    view->document()->setDefaultFont(font);

    QTextDocument* document = view->document();
    QObject::connect(document, &QTextDocument::contentsChange, view,
                     [this](int position, int removed, int added) {
                         documentContentsChange(position, removed, added);
                     });
    QObject::connect(document, &QTextDocument::contentsChanged, view,
                     [this] { documentContentsChanged(); });
    view->handleKeyDown = [this](QKeyEvent* event) { return handleKeyDown(event); };
    view->handleCommand = [this](QNTextViewCommand command) { return textViewDoCommand(command); };
    view->markedTextDidChange = [this] { markedTextDidChange(); };
    view->typeText = [this](const QString& typed) { return typeText(typed); };
    view->pasteText = [this](const std::function<void()>& paste) {
        return followInOneEdit(paste);
    };
    view->setUnderlaySource([this](text::Utf16Range range) {
        std::vector<QNTextViewCommitAware::Underlay> runs;
        for (const QNDecorationLayer::Run& run :
             decorations_.runs(QNDecorationKey::background, range)) {
            runs.push_back({run.range, run.color});
        }
        return runs;
    });
    if (interactionMode == QNModelTextEditorInteractionMode::composer) {
        view->handleMarginDrag = [this](QNWindowDragPhase phase) { handleWindowDrag(phase); };
    }
    resyncShadow();
}

// --- The text

std::u16string QNControllerAutoCorrectingText::string() const {
    return shadow_;
}

std::u16string QNControllerAutoCorrectingText::readDocument(std::int64_t from,
                                                            std::int64_t to) const {
    std::u16string out;
    const QTextDocument* document = textView_->document();
    if (to - from <= 64) {
        out.reserve(static_cast<std::size_t>(std::max<std::int64_t>(to - from, 0)));
        for (std::int64_t i = from; i < to; ++i) {
            const char16_t unit = document->characterAt(static_cast<int>(i)).unicode();
            out.push_back(unit == u'\u2029' || unit == u'\u2028' ? u'\n' : unit);
        }
        return out;
    }
    appendReadingSeparators(out, document->toRawText().mid(from, to - from));
    return out;
}

void QNControllerAutoCorrectingText::resyncShadow() {
    shadow_.clear();
    if (textView_) {
        appendReadingSeparators(shadow_, textView_->document()->toRawText());
    }
}

void QNControllerAutoCorrectingText::setSelection(text::Utf16Range range) {
    if (textView_) {
        textView_->setSelectedRange(editor::clampRange(range, textView_->textLength()));
    }
}

text::Utf16Range QNControllerAutoCorrectingText::clampSelection() {
    if (!textView_) {
        return {};
    }
    const text::Utf16Range clamped =
        editor::clampRange(textView_->selectedRange(), textView_->textLength());
    textView_->setSelectedRange(clamped);
    return clamped;
}

std::u16string QNControllerAutoCorrectingText::textBeforeCaret() {
    const text::Utf16Range selection = clampSelection();
    return shadow_.substr(0, std::min<std::size_t>(selection.location, shadow_.size()));
}

std::int64_t QNControllerAutoCorrectingText::caretOffset() {
    return std::min<std::int64_t>(clampSelection().location,
                                  static_cast<std::int64_t>(shadow_.size()));
}

void QNControllerAutoCorrectingText::replaceText(text::Utf16Range range,
                                                 std::u16string_view replacement,
                                                 std::int64_t caret) {
    if (!textView_ || isReportingEdit_ || !shouldChangeText()) {
        return;
    }
    ++fadePulseGeneration_;
    clearFadePulses(std::nullopt);
    writeProgrammatically(range, replacement);
    setSelection({caret, 0});
    scheduleHeightNotification();
}

void QNControllerAutoCorrectingText::setText(std::u16string text, QNPlacementCaret caretPlacement) {
    assert(!isReportingEdit_ && "the editor takes no write from inside an edit report");
    if (!textView_ || isReportingEdit_) {
        return;
    }
    resetPrefixWave();
    ++fadePulseGeneration_;
    clearFadePulses(std::nullopt);

    isApplyingCorrection_ = true;
    QTextDocument* document = textView_->document();
    const bool switchedOff = suspendUndoRegistration();
    // Only what differs is written: a text the view already holds (a kept draft opened again)
    // is neither inserted again nor laid out again, which would cost its whole length.
    const auto [head, tail] = editor::commonEnds(shadow_, text, text.size());
    const auto removed = static_cast<int>(shadow_.size() - head - tail);
    const std::u16string_view inserted =
        std::u16string_view(text).substr(head, text.size() - head - tail);
    if (removed > 0 || !inserted.empty()) {
        QTextCursor cursor(document);
        cursor.beginEditBlock();
        cursor.setPosition(static_cast<int>(head));
        cursor.setPosition(static_cast<int>(head) + removed, QTextCursor::KeepAnchor);
        cursor.insertText(
            QString::fromUtf16(inserted.data(), static_cast<qsizetype>(inserted.size())));
        cursor.endEditBlock();
    }
    // The document may store a text differently ("\r\n" is one block separator): the caret is
    // placed in the text as stored.
    resyncShadow();
    const auto offset = caretPlacement == QNPlacementCaret::end
                            ? static_cast<std::int64_t>(shadow_.size())
                            : editor::visibleEndOffset(shadow_);
    setSelection({offset, 0});
    scheduleHeightNotification();
    clampSelection();
    if (switchedOff && !document->isUndoRedoEnabled()) {
        document->setUndoRedoEnabled(true);
    }
    document->clearUndoRedoStacks();
    isApplyingCorrection_ = false;
}

// --- Edit reporting

void QNControllerAutoCorrectingText::documentContentsChange(int position, int removed, int added) {
    QNTextViewCommitAware* view = textView_.data();
    if (view == nullptr) {
        return;
    }
    if (deferringChanges_) {
        // The changes of a typed key's edit, reported and followed as they were made.
        if (static_cast<std::int64_t>(shadow_.size()) != view->textLength()) {
            resyncShadow();
        }
        return;
    }
    // An input method marks its whole block changed while its preedit changes; only a change of
    // the text counts.
    auto change = editor::deriveChange(
        shadow_, position, removed, added, view->textLength(),
        [this](std::int64_t from, std::int64_t to) { return readDocument(from, to); },
        view->isHandlingInputMethodEvent);
    if (!change) {
        return;
    }
    if (!isApplyingCorrection_) {
        reportUserEdit(change->range, change->replacement);
    }
    shadow_.replace(static_cast<std::size_t>(change->range.location),
                    static_cast<std::size_t>(change->range.length), change->replacement);
}

void QNControllerAutoCorrectingText::reportUserEdit(text::Utf16Range range,
                                                    std::u16string replacement, bool followUpNow) {
    if (range.length <= 0 && replacement.empty()) {
        return;
    }
    ++fadePulseGeneration_;
    clearFadePulses(std::nullopt);
    textChangedByUser_ = true;

    const QNTextViewCommitAware* view = textView_.data();
    const QNUserEditKind kind = editor::classifyEdit({
        .range = range,
        .replacement = replacement,
        .isCommittingMarkedText = view->isCommittingMarkedText,
        .isPerformingPaste = view->isPerformingPaste,
        .pendingMarkedTextRange = pendingMarkedTextRange_,
    });
    pendingMarkedTextRange_.reset();
    if (onUserEdit) {
        FlagScope reporting(isReportingEdit_);
        onUserEdit(QNUserEdit{range, std::move(replacement), kind, executor_->now()});
    }
    if (followUpNow) {
        return;
    }
    executor_->post([this, alive = std::weak_ptr<const int>(alive_)] {
        if (!alive.expired() && onUserType) {
            onUserType();
        }
    });
}

bool QNControllerAutoCorrectingText::typeText(const QString& typed) {
    QNTextViewCommitAware* view = textView_.data();
    const auto endsWord = [&] {
        return std::any_of(typed.begin(), typed.end(), [](QChar c) {
            return text::isWhitespaceOrNewline(c.unicode());
        });
    };
    // Only a key that may end a word can be followed by a fix; the rest keep the editor's own
    // typing, which merges runs of typed characters into one step of undo. A tab that moves the
    // focus stays the editor's.
    if (view == nullptr || (view->tabChangesFocus() && typed.contains(u'\t')) || !endsWord()) {
        return false;
    }
    return followInOneEdit([view, &typed] { view->textCursor().insertText(typed); });
}

bool QNControllerAutoCorrectingText::followInOneEdit(const std::function<void()>& insert) {
    QNTextViewCommitAware* view = textView_.data();
    if (view == nullptr || !onUserType || isApplyingCorrection_ || isReportingEdit_ ||
        deferringChanges_ || view->hasMarkedText() || view->isReadOnly() ||
        view->overwriteMode()) {
        return false;
    }
    const text::Utf16Range selection = view->selectedRange();
    const std::int64_t before = view->textLength();
    if (static_cast<std::int64_t>(shadow_.size()) != before) {
        return false;
    }

    // The edit is made as the editor makes it, over the selection, but inside one document edit
    // that stays open until the edit has been followed up: the document reports nothing, and
    // nothing is laid out, until it closes.
    QTextCursor block(view->document());
    block.beginEditBlock();
    insert();
    const text::Utf16Range caret = view->selectedRange();
    const std::int64_t inserted = caret.location - selection.location;
    if (caret.length == 0 && inserted >= 0 &&
        view->textLength() == before - selection.length + inserted) {
        // What the editor stored (a pasted "\r\n" is one line break), reported as written.
        const std::u16string text = readDocument(selection.location, caret.location);
        deferringChanges_ = true;
        reportUserEdit(selection, text, true);
        shadow_.replace(static_cast<std::size_t>(selection.location),
                        static_cast<std::size_t>(selection.length), text);
        if (onUserType) {
            onUserType();
        }
    }
    // Otherwise the document reports the edit as it closes, as any other.
    block.endEditBlock();
    deferringChanges_ = false;
    if (std::exchange(decorationsPending_, false) || underlayPending_) {
        redrawDecorations();
    }
    if (textView_) {
        // Shows the caret at once and brings the view to it, as the editor does after a key.
        textView_->setTextCursor(textView_->textCursor());
    }
    return true;
}

void QNControllerAutoCorrectingText::markedTextDidChange() {
    const QNTextViewCommitAware* view = textView_.data();
    if (view != nullptr && view->hasMarkedText()) {
        pendingMarkedTextRange_ = view->markedRange();
    } else {
        // The preedit was committed (the edit report cleared the range already) or the input
        // method removed it.
        pendingMarkedTextRange_.reset();
    }
}

void QNControllerAutoCorrectingText::documentContentsChanged() {
    scheduleHeightNotification();
    if (!isApplyingCorrection_ && std::exchange(textChangedByUser_, false) && onTextChange) {
        onTextChange(shadow_);
    }
}

// --- Height

void QNControllerAutoCorrectingText::scheduleHeightNotification() {
    if (suppressHeightNotifications_ || pendingContentHeightNotificationTask_ != 0) {
        return;
    }
    pendingContentHeightNotificationTask_ =
        executor_->post([this, alive = std::weak_ptr<const int>(alive_)] {
            if (alive.expired()) {
                return;
            }
            pendingContentHeightNotificationTask_ = 0;
            if (!suppressHeightNotifications_ && onContentHeightChange) {
                onContentHeightChange(contentHeight());
            }
        });
}

double QNControllerAutoCorrectingText::contentHeight() const {
    const QNTextViewCommitAware* view = textView_.data();
    if (view == nullptr) {
        return 0;
    }
    double height = view->document()->documentLayout()->documentSize().height();
    if (height <= 0) {
        // Not laid out yet (a view never shown): at least one line.
        height = oneLineHeight(view->document()->defaultFont(), view->viewport());
    }
    return height + kVerticalInsets;
}

double QNControllerAutoCorrectingText::lineHeight(double fontSize) const {
    QFont font = textView_ ? textView_->font() : QFont();
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(fontSize))));
    if (!textView_) {
        const QFontMetricsF metrics(font);
        return metrics.ascent() + metrics.descent() + metrics.leading() + kVerticalInsets;
    }
    return oneLineHeight(font, textView_->viewport()) + kVerticalInsets;
}

void QNControllerAutoCorrectingText::applyFontSize(double fontSize) {
    QNTextViewCommitAware* view = textView_.data();
    if (view == nullptr) {
        return;
    }
    QFont font = view->font();
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(fontSize))));
    {
        // A change of format only: nothing the document reports meanwhile is the user's.
        FlagScope applying(isApplyingCorrection_);
        view->setFont(font);
        view->document()->setDefaultFont(font);
    }
    scheduleHeightNotification();
}

// --- Keys and commands

bool QNControllerAutoCorrectingText::handleKeyDown(QKeyEvent* event) {
    QNTextViewCommitAware* view = textView_.data();
    if (interactionMode != QNModelTextEditorInteractionMode::composer || view == nullptr) {
        return false;
    }
    const bool shift = event->modifiers().testFlag(Qt::ShiftModifier);
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (view->hasMarkedText()) {
                return false;
            }
            if (shift) {
                if (!typeText(QStringLiteral("\n"))) {
                    view->insertNewline();
                }
            } else if (onCommit) {
                onCommit();
            }
            return true;
        case Qt::Key_Escape:
            if (onCancel) {
                onCancel();
            }
            return true;
        default:
            return false;
    }
}

bool QNControllerAutoCorrectingText::textViewDoCommand(QNTextViewCommand command) {
    if (interactionMode != QNModelTextEditorInteractionMode::composer) {
        return false;
    }
    switch (command) {
        case QNTextViewCommand::insertNewline:
            return commitFromCommand();
        case QNTextViewCommand::cancelOperation:
            if (onCancel) {
                onCancel();
            }
            return true;
        case QNTextViewCommand::other:
            return false;
    }
    return false;
}

bool QNControllerAutoCorrectingText::commitFromCommand() {
    const QNTextViewCommitAware* view = textView_.data();
    if (view != nullptr && view->hasMarkedText()) {
        return false;
    }
    const Qt::KeyboardModifiers flags = view != nullptr && view->activeKeyDownModifierFlags
                                            ? *view->activeKeyDownModifierFlags
                                            : QGuiApplication::queryKeyboardModifiers();
    if (flags.testFlag(Qt::ShiftModifier)) {
        return false;
    }
    if (onCommit) {
        onCommit();
    }
    return true;
}

void QNControllerAutoCorrectingText::handleWindowDrag(QNWindowDragPhase phase) {
    QNTextViewCommitAware* view = textView_.data();
    if (interactionMode != QNModelTextEditorInteractionMode::composer || view == nullptr) {
        return;
    }
    QWidget* window = view->window();
    switch (phase) {
        case QNWindowDragPhase::began:
            if (windowDragActive_) {
                return;
            }
            windowDragActive_ = true;
            windowDragStartMouseLocation_ = QCursor::pos();
            windowDragStartWindowOrigin_ = window->pos();
            return;
        case QNWindowDragPhase::changed:
            if (windowDragActive_ && windowDragStartMouseLocation_ &&
                windowDragStartWindowOrigin_) {
                window->move(*windowDragStartWindowOrigin_ +
                             (QCursor::pos() - *windowDragStartMouseLocation_));
            }
            return;
        case QNWindowDragPhase::ended:
            if (windowDragActive_) {
                windowDragActive_ = false;
                windowDragStartMouseLocation_.reset();
                windowDragStartWindowOrigin_.reset();
            }
            return;
    }
}

// --- Decorations

void QNControllerAutoCorrectingText::redrawUnderlay(text::Utf16Range range) {
    QNTextViewCommitAware* view = textView_.data();
    if (view == nullptr) {
        return;
    }
    if (deferringChanges_) {
        // Not laid out yet: painted once the typed key's edit closes.
        underlayPending_ = true;
        return;
    }
    view->underlayChanged(range);
}

void QNControllerAutoCorrectingText::redrawDecorations() {
    QNTextViewCommitAware* view = textView_.data();
    if (view == nullptr) {
        return;
    }
    if (deferringChanges_) {
        // Not laid out yet: drawn once the typed key's edit closes.
        decorationsPending_ = true;
        return;
    }
    if (std::exchange(underlayPending_, false)) {
        view->viewport()->update();
    }
    // Colours of the text itself (the wave) are extra selections, set only when they change;
    // the backgrounds (the pulses) are painted under the text from the layer as it stands.
    QList<QTextEdit::ExtraSelection> selections;
    const std::int64_t length = view->textLength();
    for (const QNDecorationLayer::Run& run :
         decorations_.runs(QNDecorationKey::foreground, {0, length})) {
        const text::Utf16Range range = editor::clampRange(run.range, length);
        if (range.length == 0) {
            continue;
        }
        QTextEdit::ExtraSelection selection;
        selection.cursor = QTextCursor(view->document());
        selection.cursor.setPosition(static_cast<int>(range.location));
        selection.cursor.setPosition(static_cast<int>(range.end()), QTextCursor::KeepAnchor);
        selection.format.setForeground(run.color);
        // Qt skips a text-only selection whose area touches one drawn before it, leaving the
        // text's own colour there; a transparent background keeps every run drawn.
        selection.format.setBackground(Qt::transparent);
        selections.push_back(selection);
    }
    if (!selections.isEmpty() || foregroundShown_) {
        foregroundShown_ = !selections.isEmpty();
        view->setExtraSelections(selections);
    }
}

// --- The view's update rule

QWidget* QNViewAutoCorrectingText::makeView() const {
    return controller ? controller->scrollView() : nullptr;
}

void QNViewAutoCorrectingText::updateView() const {
    if (controller && text && *text != controller->string()) {
        controller->setText(*text, caretPlacement);
    }
}

}  // namespace ravlin
