// The animated apply of a model's correction: the text's beginning is rewritten in place as a
// short run of program writes with pauses between them, so the correction shows as a quick run
// of small edits. The run only checks and edits the prefix: typing after it goes on meanwhile,
// a change inside it stops the run.

#include <algorithm>

#include "app/editor/controller_auto_correcting_text.h"
#include "app/editor/correction_animation_plan.h"
#include "app/editor/edit_reporting.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kStepPulseRise{60};
constexpr milliseconds kStepPulseHold{50};
constexpr milliseconds kStepPulseFall{220};
constexpr milliseconds kWholePulseRise{45};
constexpr milliseconds kWholePulseHold{45};
constexpr milliseconds kWholePulseFall{140};
constexpr double kPulsePeakOpacity = 0.55;

std::int64_t units(std::u16string_view text) {
    return static_cast<std::int64_t>(text.size());
}

bool beginsWith(std::u16string_view text, std::u16string_view prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

QCoro::Task<QNAnimatedApplyResult> QNControllerAutoCorrectingText::applyCorrectionAnimated(
    std::u16string from, std::u16string to, int durationMilliseconds, int maxStepMilliseconds,
    bool pulses, std::stop_token stop) {
    // Held weakly: once the controller is gone after a pause, nothing of it is read.
    const std::weak_ptr<const int> alive = alive_;
    const QNAnimatedApplyResult refused;
    if (!textView_ || !beginsWith(shadow_, from) || from == to) {
        co_return refused;
    }
    const std::int64_t n = units(from);
    const text::Utf16Range selection = clampSelection();
    const bool caretAtVisibleEnd =
        selection.length == 0 && selection.location == editor::visibleEndOffset(from);
    if (stop.stop_requested()) {
        co_return refused;
    }
    const QNAnimatedApplyResult done{true, 1,
                                     text::characterCount(to) - text::characterCount(from)};

    // Each write keeps the person's selection (or caret) on the text it stood on, also while
    // they drag it with the mouse. A caret at the text's visible end, typing on, follows the end
    // of the corrected text, unless the person moved it meanwhile.
    const auto write = [&](text::Utf16Range range, std::u16string_view replacement) {
        const editor::SelectionEnds before = textView_->selectionEnds();
        if (!replaceTextProgrammatically(range, replacement)) {
            return false;
        }
        textView_->setSelectionEnds(
            editor::mapSelection(before, range, static_cast<std::int64_t>(replacement.size())));
        return true;
    };
    const auto placeCaret = [&](bool userActed) {
        if (!userActed && caretAtVisibleEnd) {
            setSelection(
                {std::clamp<std::int64_t>(editor::visibleEndOffset(to), 0, units(shadow_)), 0});
        }
        clampSelection();
        scheduleHeightNotification();
    };

    editor::QNCorrectionApplyPlan plan = editor::planCorrectionApply(from, to);
    if (plan.wholeReplacement) {
        if (units(shadow_) < n || !shouldChangeText()) {
            co_return refused;
        }
        ++fadePulseGeneration_;
        clearFadePulses(std::nullopt);
        const std::int64_t generation = fadePulseGeneration_;
        const editor::Rewrite rewrite = editor::rewriteBetween(from, to);
        write(rewrite.range, std::u16string_view(to).substr(
                                 static_cast<std::size_t>(rewrite.range.location),
                                 static_cast<std::size_t>(rewrite.newLength)));
        if (pulses) {
            if (const auto changed = editor::changedRange(from, to)) {
                const text::Utf16Range range = editor::clampRange(*changed, units(shadow_));
                if (range.length > 0 && fadePulseGeneration_ == generation && textView_) {
                    startFadePulse(range, generation, kWholePulseRise, kPulsePeakOpacity,
                                   kWholePulseHold, kWholePulseFall);
                }
            }
        }
        placeCaret(false);
        co_return done;
    }

    const std::vector<editor::QNEditOp>& operations = plan.operations;
    if (operations.empty()) {
        co_return refused;
    }
    const milliseconds pause =
        editor::pauseBetweenSteps(operations.size(), durationMilliseconds, maxStepMilliseconds);
    std::u16string expected = from;
    std::int64_t offset = 0;
    std::optional<std::int64_t> generation;
    // What the run's own last write left: the pulse generation and the selection.
    std::int64_t ownGeneration = fadePulseGeneration_;
    text::Utf16Range ownSelection = selection;
    bool userActed = false;
    const auto abort = [&] {
        suppressHeightNotifications_ = false;
        scheduleHeightNotification();
        return refused;
    };

    for (std::size_t index = 0; index < operations.size(); ++index) {
        if (stop.stop_requested()) {
            co_return abort();
        }
        const editor::QNEditOp& op = operations[index];
        const std::int64_t position = op.at + offset;
        const std::int64_t oldLength = op.oldLen;
        if (!textView_ || !beginsWith(shadow_, expected) || position < 0 ||
            position + oldLength > units(expected) || position + oldLength > units(shadow_)) {
            co_return abort();
        }
        userActed = userActed || fadePulseGeneration_ != ownGeneration ||
                    textView_->selectedRange() != ownSelection;
        if (!shouldChangeText()) {
            co_return abort();
        }
        if (!generation) {
            ++fadePulseGeneration_;
            clearFadePulses(std::nullopt);
            generation = fadePulseGeneration_;
        }
        if (!write({position, oldLength}, op.newText)) {
            co_return abort();
        }
        ownGeneration = fadePulseGeneration_;
        ownSelection = textView_->selectedRange();
        offset += units(op.newText) - oldLength;
        expected.replace(static_cast<std::size_t>(position), static_cast<std::size_t>(oldLength),
                         op.newText);
        if (pulses && op.kind != editor::QNEditOp::Kind::delete_ && !op.newText.empty() &&
            fadePulseGeneration_ == *generation) {
            const text::Utf16Range range =
                editor::clampRange({position, units(op.newText)}, units(shadow_));
            if (range.length > 0) {
                startFadePulse(range, *generation, kStepPulseRise, kPulsePeakOpacity,
                               kStepPulseHold, kStepPulseFall);
            }
        }
        if (index + 1 < operations.size()) {
            co_await sleepFor(*executor_, pause, stop);
            if (alive.expired()) {
                co_return refused;
            }
        }
    }
    userActed = userActed || fadePulseGeneration_ != ownGeneration ||
                (textView_ && textView_->selectedRange() != ownSelection);
    placeCaret(userActed);
    co_return done;
}

}  // namespace ravlin
