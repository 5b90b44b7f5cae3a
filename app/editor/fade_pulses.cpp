// Fade pulses: a short blue highlight behind text the program has just written. Each pulse is a
// coroutine on the controller's executor that rises, holds and falls in frames; every frame
// checks that the text has not been changed since by the user or another write (the pulse
// generation) and that its entry still exists, so a stale pulse touches nothing.

#include <algorithm>

#include "app/editor/controller_auto_correcting_text.h"
#include "app/editor/edit_reporting.h"

namespace ravlin {

void QNControllerAutoCorrectingText::startFadePulse(text::Utf16Range range, std::int64_t generation,
                                                    std::chrono::milliseconds rise,
                                                    double peakOpacity,
                                                    std::chrono::milliseconds hold,
                                                    std::chrono::milliseconds fall) {
    const std::int64_t id = ++fadePulseID_;
    auto stop = std::make_shared<std::stop_source>();
    fadePulses_[id] = QNFadePulseRenderState{generation, range, std::nullopt, stop};
    // The task is not kept: it runs to its end on its own and frees itself there.
    fadePulseTask(id, generation, range, rise, peakOpacity, hold, fall, executor_,
                  FlowGuard(alive_, stop->get_token()));
}

QCoro::Task<> QNControllerAutoCorrectingText::fadePulseTask(
    std::int64_t id, std::int64_t generation, text::Utf16Range range,
    std::chrono::milliseconds rise, double peakOpacity, std::chrono::milliseconds hold,
    std::chrono::milliseconds fall, std::shared_ptr<Executor> executor, FlowGuard guard) {
    // Like any task, the pulse starts on a later turn of the sequence.
    co_await sleepFor(*executor, std::chrono::nanoseconds::zero(), guard.stop());

    // guard.ended() comes first: once the controller is gone nothing of it may be read.
    const auto current = [&] {
        if (guard.ended() || fadePulseGeneration_ != generation || !textView_) {
            return false;
        }
        const auto entry = fadePulses_.find(id);
        return entry != fadePulses_.end() && entry->second.generation == generation;
    };
    const auto frameRange = [&] {
        return editor::clampRange(range, static_cast<std::int64_t>(shadow_.size()));
    };

    const std::int64_t riseFrames = rise.count() >= 16 ? rise.count() / 16 : 1;
    for (std::int64_t k = 1; k <= riseFrames; ++k) {
        if (!current()) {
            co_return;
        }
        const text::Utf16Range frame = frameRange();
        if (frame.length == 0) {
            break;
        }
        renderFadePulse(id, static_cast<double>(k) / static_cast<double>(riseFrames), peakOpacity,
                        frame);
        co_await sleepFor(*executor, std::chrono::nanoseconds(rise) / riseFrames, guard.stop());
    }
    if (hold.count() > 0) {
        co_await sleepFor(*executor, hold, guard.stop());
    }
    const std::int64_t fallFrames = fall.count() >= 18 ? fall.count() / 18 : 1;
    for (std::int64_t k = 1; k <= fallFrames; ++k) {
        if (!current()) {
            co_return;
        }
        const text::Utf16Range frame = frameRange();
        if (frame.length == 0) {
            break;
        }
        renderFadePulse(id, 1.0 - static_cast<double>(k) / static_cast<double>(fallFrames),
                        peakOpacity, frame);
        co_await sleepFor(*executor, std::chrono::nanoseconds(fall) / fallFrames, guard.stop());
    }
    if (current()) {
        clearFadePulses(id);
    }
}

void QNControllerAutoCorrectingText::renderFadePulse(std::int64_t id, double progress,
                                                     double peakOpacity, text::Utf16Range range) {
    const auto entry = fadePulses_.find(id);
    if (entry == fadePulses_.end() || entry->second.generation != fadePulseGeneration_ ||
        !textView_) {
        return;
    }
    QNFadePulseRenderState& pulse = entry->second;
    const auto length = static_cast<std::int64_t>(shadow_.size());
    if (pulse.renderedRange) {
        const text::Utf16Range drawn = editor::clampRange(*pulse.renderedRange, length);
        if (drawn.length > 0) {
            const text::Utf16Range whole = QNDecorationLayer::widenToCodePoints(drawn, shadow_);
            decorations_.remove(QNDecorationKey::background, whole);
            redrawUnderlay(whole);
        }
    }
    const text::Utf16Range target = editor::clampRange(range, length);
    if (target.length == 0) {
        pulse.renderedRange.reset();
        return;
    }
    QColor color = kSystemBlue;
    color.setAlphaF(static_cast<float>(peakOpacity * std::clamp(progress, 0.0, 1.0)));
    const text::Utf16Range whole = QNDecorationLayer::widenToCodePoints(target, shadow_);
    decorations_.add(QNDecorationKey::background, whole, color);
    redrawUnderlay(whole);
    pulse.activeRange = target;
    pulse.renderedRange = target;
}

void QNControllerAutoCorrectingText::clearFadePulses(std::optional<std::int64_t> id) {
    std::vector<std::int64_t> ids;
    if (id) {
        ids.push_back(*id);
    } else {
        for (const auto& entry : fadePulses_) {
            ids.push_back(entry.first);
        }
    }
    const auto length = static_cast<std::int64_t>(shadow_.size());
    for (const std::int64_t key : ids) {
        const auto entry = fadePulses_.find(key);
        if (entry == fadePulses_.end()) {
            continue;
        }
        if (textView_ && entry->second.renderedRange) {
            const text::Utf16Range drawn = editor::clampRange(*entry->second.renderedRange, length);
            if (drawn.length > 0) {
                const text::Utf16Range whole =
                    QNDecorationLayer::widenToCodePoints(drawn, shadow_);
                decorations_.remove(QNDecorationKey::background, whole);
                redrawUnderlay(whole);
            }
        }
        if (entry->second.task) {
            entry->second.task->request_stop();
        }
        fadePulses_.erase(entry);
    }
}

}  // namespace ravlin
