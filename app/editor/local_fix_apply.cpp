// The program's own writes into the editor, and the instant local fixes before the caret.
//
// Every program write goes through one edit block with the document's undo switched off and its
// stacks emptied before and after: a correction is never undoable, and Undo cannot reach back
// past one; only the user's later typing can be undone.

#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
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
    writeProgrammatically({editor::TextChange{range, std::u16string(replacement)}});
}

void QNControllerAutoCorrectingText::writeProgrammatically(
    const std::vector<editor::TextChange>& changes) {
    QTextDocument* document = textView_->document();
    const bool wasApplying = std::exchange(isApplyingCorrection_, true);
    const bool switchedOff = suspendUndoRegistration();
    suppressHeightNotifications_ = true;

    QTextCursor cursor(document);
    cursor.beginEditBlock();
    // From the last to the first, so that each range still means what it meant.
    for (auto change = changes.rbegin(); change != changes.rend(); ++change) {
        const std::int64_t before = textView_->textLength();
        const text::Utf16Range target = editor::clampRange(change->range, before);
        cursor.setPosition(static_cast<int>(target.location));
        cursor.setPosition(static_cast<int>(target.end()), QTextCursor::KeepAnchor);
        cursor.insertText(QString(reinterpret_cast<const QChar*>(change->replacement.data()),
                                  static_cast<qsizetype>(change->replacement.size())));
        if (deferringChanges_) {
            // The document reports nothing until the typed key's edit closes: the shadow takes
            // the text as the document stored it.
            const std::int64_t written = textView_->textLength() - before + target.length;
            shadow_.replace(static_cast<std::size_t>(target.location),
                            static_cast<std::size_t>(target.length),
                            readDocument(target.location, target.location + written));
        }
    }
    cursor.endEditBlock();

    suppressHeightNotifications_ = false;
    clampSelection();
    if (switchedOff && !document->isUndoRedoEnabled()) {
        document->setUndoRedoEnabled(true);
    }
    document->clearUndoRedoStacks();
    isApplyingCorrection_ = wasApplying;
}

namespace {

// The parts of `fixed` that differ from `text`, as changes of `text` at `offset`: the changed
// span between their common ends, split at its line breaks when both have the same number there
// (each line changed on its own, so no paragraph is taken apart), else whole.
std::vector<editor::TextChange> changedParts(std::u16string_view text, std::u16string_view fixed,
                                             std::int64_t offset) {
    const auto [head, tail] = editor::commonEnds(text, fixed, text.size());
    const std::u16string_view from = text.substr(head, text.size() - head - tail);
    const std::u16string_view to = fixed.substr(head, fixed.size() - head - tail);
    const auto at = offset + static_cast<std::int64_t>(head);
    std::vector<editor::TextChange> parts;
    if (std::ranges::count(from, u'\n') == 0 ||
        std::ranges::count(from, u'\n') != std::ranges::count(to, u'\n')) {
        parts.push_back({{at, static_cast<std::int64_t>(from.size())}, std::u16string(to)});
        return parts;
    }
    std::size_t oldStart = 0;
    std::size_t newStart = 0;
    while (oldStart <= from.size()) {
        const auto oldEnd = std::min(from.find(u'\n', oldStart), from.size());
        const auto newEnd = std::min(to.find(u'\n', newStart), to.size());
        const auto oldLine = from.substr(oldStart, oldEnd - oldStart);
        const auto newLine = to.substr(newStart, newEnd - newStart);
        if (oldLine != newLine) {
            const auto [lineHead, lineTail] = editor::commonEnds(oldLine, newLine, oldLine.size());
            parts.push_back(
                {{at + static_cast<std::int64_t>(oldStart + lineHead),
                  static_cast<std::int64_t>(oldLine.size() - lineHead - lineTail)},
                 std::u16string(newLine.substr(lineHead, newLine.size() - lineHead - lineTail))});
        }
        oldStart = oldEnd + 1;
        newStart = newEnd + 1;
    }
    return parts;
}

}  // namespace

QNModelLocalFixResult QNControllerAutoCorrectingText::applyLocalFixesBeforeCaret(
    std::u16string settledPrefix, QNModelLocalFixRules enabledRules, const TierPolicy& tierPolicy,
    std::optional<LocalRuleEvaluation>* evaluation, bool wordFinished) {
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
    const std::u16string stable =
        wordFinished ? std::u16string(typed) : stablePrefixBoundary(typed);
    const std::u16string settled = settledPrefix + stable;
    if (settled.empty()) {
        return unchanged();
    }
    // The settled text's end tells whether the words after it begin a sentence.
    const std::optional<std::u16string> textBefore = endOfTextBefore(settledPrefix);

    // Words the rules left as they were a keystroke ago are left so again without a run (a
    // letter typed inside the next word changes nothing before it).
    if (!wordFinished && quietRun_ && quietRun_->rules == enabledRules &&
        quietRun_->policy == &tierPolicy && quietRun_->text == stable &&
        quietRun_->before == textBefore) {
        return quietRun_->result;
    }
    // The rules' run, kept for the caller; the pass's result as the local pass gives it.
    LocalRuleEvaluation run =
        wordFinished
            ? evaluateLocalFixesOfFinishedText(stable, enabledRules, QNCorrectionStageID::unknown,
                                               tierPolicy, textBefore)
            : evaluateLocalFixes(stable, enabledRules, QNCorrectionStageID::unknown, tierPolicy,
                                 textBefore);
    std::vector<QNCorrectionNote> notes =
        legacyNotes(run.structuredDetails(), QNCorrectionStageID::unknown);
    const bool changed = run.didChange();
    QNModelLocalFixResult pass(changed ? run.text : stable,
                               changed ? run.changedRanges() : std::vector<text::Utf16Range>{},
                               changed, std::move(notes));
    if (evaluation != nullptr) {
        *evaluation = std::move(run);
    }
    quietRun_.reset();
    if (!pass.didChange) {
        // Kept only for the shared policy, which lives as long as the program: another policy
        // may be gone, or another one in its place, by the next keystroke.
        if (&tierPolicy == &TierPolicy::defaultPolicy() && !wordFinished) {
            quietRun_ = QuietRun{stable, textBefore, enabledRules, &tierPolicy, pass};
        }
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
    writeProgrammatically(changedParts(stable, fixed, p));

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
