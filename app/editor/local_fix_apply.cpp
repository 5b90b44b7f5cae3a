// The program's own writes into the editor, and the instant local fixes before the caret.
//
// Every program write goes through one edit block with the document's undo switched off and its
// stacks emptied before and after: a correction is never undoable, and Undo cannot reach back
// past one; only the user's later typing can be undone.

#include <QTextCursor>
#include <QTextDocument>
#include <cassert>

#include "app/editor/controller_auto_correcting_text.h"
#include "app/editor/edit_reporting.h"
#include "core/records/note.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kLocalFixRise{30};
constexpr double kLocalFixPeakOpacity = 0.55;
constexpr milliseconds kLocalFixHold{35};
constexpr milliseconds kLocalFixFall{120};

}  // namespace

bool QNControllerAutoCorrectingText::suspendUndoRegistration() {
    if (!textView_) {
        return false;
    }
    QTextDocument* document = textView_->document();
    const bool wasOn = document->isUndoRedoEnabled();
    if (wasOn) {
        document->setUndoRedoEnabled(false);
    }
    document->clearUndoRedoStacks();
    return wasOn;
}

bool QNControllerAutoCorrectingText::shouldChangeText() const {
    return textView_ && !textView_->isReadOnly();
}

bool QNControllerAutoCorrectingText::replaceTextProgrammatically(text::Utf16Range range,
                                                                 std::u16string_view replacement) {
    assert(!isReportingEdit_ && "the editor takes no write from inside an edit report");
    if (!textView_ || isReportingEdit_) {
        return false;
    }
    writeProgrammatically(range, replacement);
    return true;
}

void QNControllerAutoCorrectingText::writeProgrammatically(text::Utf16Range range,
                                                           std::u16string_view replacement) {
    QTextDocument* document = textView_->document();
    const bool wasApplying = std::exchange(isApplyingCorrection_, true);
    const bool switchedOff = suspendUndoRegistration();
    suppressHeightNotifications_ = true;

    const text::Utf16Range target = editor::clampRange(range, textView_->textLength());
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    cursor.setPosition(static_cast<int>(target.location));
    cursor.setPosition(static_cast<int>(target.end()), QTextCursor::KeepAnchor);
    cursor.insertText(QString(reinterpret_cast<const QChar*>(replacement.data()),
                              static_cast<qsizetype>(replacement.size())));
    cursor.endEditBlock();

    suppressHeightNotifications_ = false;
    clampSelection();
    if (switchedOff && !document->isUndoRedoEnabled()) {
        document->setUndoRedoEnabled(true);
    }
    document->clearUndoRedoStacks();
    isApplyingCorrection_ = wasApplying;
}

QNModelLocalFixResult QNControllerAutoCorrectingText::applyLocalFixesBeforeCaret(
    std::u16string settledPrefix, QNModelLocalFixRules enabledRules, const TierPolicy& tierPolicy) {
    const auto unchanged = [this] {
        return QNModelLocalFixResult(string(), {}, false, std::vector<QNCorrectionNote>{});
    };
    if (!textView_ || isApplyingCorrection_ || isReportingEdit_ || textView_->hasMarkedText()) {
        return unchanged();
    }
    const text::Utf16Range selection = clampSelection();
    if (selection.length > 0) {
        return unchanged();
    }
    const std::int64_t caret = selection.location;
    if (static_cast<std::int64_t>(shadow_.size()) < caret) {
        return unchanged();
    }
    const std::u16string_view before = std::u16string_view(shadow_).substr(0, caret);

    // The settled prefix is matched by code units and dropped by characters.
    std::u16string_view typed = before;
    if (!settledPrefix.empty()) {
        if (!before.starts_with(settledPrefix)) {
            return unchanged();
        }
        const auto boundaries =
            text::leadingCharacterBoundaries(before, text::characterCount(settledPrefix));
        typed = before.substr(static_cast<std::size_t>(boundaries.back()));
    }
    const std::u16string stable = stablePrefixBoundary(typed);
    const std::u16string settled = settledPrefix + stable;
    if (settled.empty()) {
        return unchanged();
    }

    QNModelLocalFixResult pass =
        applyLocalFixes(stable, enabledRules, QNCorrectionStageID::unknown, tierPolicy);
    if (!pass.didChange) {
        return pass;
    }
    const auto p = static_cast<std::int64_t>(settledPrefix.size());
    const auto w = static_cast<std::int64_t>(stable.size());
    const std::u16string& fixed = pass.text;
    if (shadow_.size() < settled.size() || shadow_.compare(0, settled.size(), settled) != 0) {
        return unchanged();
    }
    if (!shouldChangeText()) {
        return unchanged();
    }

    ++fadePulseGeneration_;
    clearFadePulses(std::nullopt);
    const std::int64_t generation = fadePulseGeneration_;
    writeProgrammatically({p, w}, fixed);

    const auto length = static_cast<std::int64_t>(shadow_.size());
    const std::int64_t newCaret =
        std::clamp<std::int64_t>(caret + static_cast<std::int64_t>(fixed.size()) - w, 0, length);
    setSelection({newCaret, 0});
    scheduleHeightNotification();

    std::vector<text::Utf16Range> shifted;
    shifted.reserve(pass.changedRanges.size());
    for (const text::Utf16Range& range : pass.changedRanges) {
        shifted.push_back({range.location + p, range.length});
    }
    for (const text::Utf16Range& range : shifted) {
        const text::Utf16Range clamped =
            editor::clampRange(range, static_cast<std::int64_t>(shadow_.size()));
        if (fadePulseGeneration_ != generation || !textView_ || clamped.length == 0) {
            continue;
        }
        startFadePulse(clamped, generation, kLocalFixRise, kLocalFixPeakOpacity, kLocalFixHold,
                       kLocalFixFall);
    }
    return QNModelLocalFixResult(string(), std::move(shifted), true,
                                 std::move(pass.structuredDetails));
}

}  // namespace ravlin
