#pragma once

// What the Composer service needs of its text view: the text it shows, a way to write a whole
// new text, the caret, the instant local pass and the edit reports. The editor's text controller
// implements it; tests use a small fake, which may leave the optional parts at their defaults.

#include <qcoro/qcorotask.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>

#include "app/composer/correction_buffers.h"
#include "app/editor/placement_caret.h"
#include "core/rules/local_fixes.h"
#include "core/rules/tier_policy.h"

namespace ravlin {

// What an animated correction apply did: `applied` when every step (or the whole replacement)
// was written, then `appliedCount` 1 and `characterDelta` the corrected prefix's character count
// minus the old one's; otherwise all zero.
struct QNAnimatedApplyResult {
    bool applied = false;
    std::int64_t appliedCount = 0;
    std::int64_t characterDelta = 0;

    friend bool operator==(const QNAnimatedApplyResult&, const QNAnimatedApplyResult&) = default;
};

class QNComposerTextView {
  public:
    virtual ~QNComposerTextView() = default;

    // The text the view shows.
    [[nodiscard]] virtual std::u16string string() const = 0;
    // Writes `text` as the program's own write (never reported back as a user edit).
    virtual void setText(std::u16string text, QNPlacementCaret caretPlacement) = 0;

    // Writes `replacement` over `range` as the program's own write and puts the caret at `caret`
    // of the new text; the rest of the text is not rewritten. By default through setText.
    virtual void replaceText(text::Utf16Range range, std::u16string_view replacement,
                             std::int64_t caret) {
        auto text = string();
        const auto start = static_cast<std::size_t>(
            std::clamp<std::int64_t>(range.location, 0, static_cast<std::int64_t>(text.size())));
        const auto length = static_cast<std::size_t>(std::clamp<std::int64_t>(
            range.length, 0, static_cast<std::int64_t>(text.size() - start)));
        text.replace(start, length, replacement);
        (void)caret;
        setText(std::move(text), QNPlacementCaret::visibleEnd);
    }
    // The text from the start to the caret; by default the whole text.
    [[nodiscard]] virtual std::u16string textBeforeCaret() { return string(); }
    // Where the caret is; by default at the end of textBeforeCaret().
    [[nodiscard]] virtual std::int64_t caretOffset() {
        return static_cast<std::int64_t>(textBeforeCaret().size());
    }
    // Fixes the words finished since `settledPrefix` in place before the caret; by default
    // nothing changes. When the rules ran, `evaluation` (if given) receives their run, so that
    // the caller records the applications without running them again. With `wordFinished` the
    // word at the caret counts as finished too (the text goes out as it stands).
    virtual QNModelLocalFixResult applyLocalFixesBeforeCaret(
        std::u16string /*settledPrefix*/, QNModelLocalFixRules /*enabledRules*/,
        const TierPolicy& /*tierPolicy*/,
        std::optional<LocalRuleEvaluation>* /*evaluation*/ = nullptr,
        bool /*wordFinished*/ = false) {
        return QNModelLocalFixResult(string(), {}, false, std::vector<QNCorrectionNote>{});
    }
    // Installs the receivers of the user's edits (each edit, from inside the view's change
    // report) and of the follow-up call on the next turn; empty functions remove them.
    virtual void setEditHandlers(std::function<void(const QNUserEdit&)> /*onUserEdit*/,
                                 std::function<void()> /*onUserType*/) {}

    // Rewrites the text's beginning `from` into `to`; by default in one write, refused (nothing
    // applied) when the text no longer begins with `from` or `stop` was requested.
    virtual QCoro::Task<QNAnimatedApplyResult> applyCorrectionAnimated(
        std::u16string from, std::u16string to, int /*durationMilliseconds*/,
        int /*maxStepMilliseconds*/, bool /*pulses*/, std::stop_token stop) {
        auto text = string();
        if (stop.stop_requested() || !std::u16string_view(text).starts_with(from)) {
            co_return QNAnimatedApplyResult{};
        }
        const auto delta =
            static_cast<std::int64_t>(to.size()) - static_cast<std::int64_t>(from.size());
        text.replace(0, from.size(), to);
        setText(std::move(text), QNPlacementCaret::visibleEnd);
        co_return QNAnimatedApplyResult{true, 1, delta};
    }
    // The wave over the first `snapshotLength` visible units while a correction runs; by default
    // none.
    virtual void startPrefixWave(std::int64_t /*snapshotLength*/) {}
    // Immediately: the wave goes at once; otherwise it fades out.
    virtual void stopPrefixWave(bool /*immediately*/) {}
    // Removes the fade pulse `id`, or every pulse.
    virtual void clearFadePulses(std::optional<std::int64_t> /*id*/) {}
};

}  // namespace ravlin
