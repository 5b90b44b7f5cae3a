// The Composer's work in flight beside the user's typing: which job is going out, where its text
// stands in the view, and which edits leave it alone. A person types the next sentence while the
// last one is polished; only an edit that changes the text a job was computed for supersedes it.

#include <algorithm>

#include "app/composer/composer_service.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

std::int64_t utf16Length(std::u16string_view text) {
    return static_cast<std::int64_t>(text.size());
}

std::u16string_view part(std::u16string_view text, std::int64_t from, std::int64_t length) {
    return text.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(length));
}

}  // namespace

const QNModelCorrectionJob* QNServiceComposer::jobInFlight() const {
    if (run_ && correctionTask) {
        return &run_->job;
    }
    if (pendingDispatchTask && pendingCorrectionJob) {
        return &*pendingCorrectionJob;
    }
    return nullptr;
}

bool QNServiceComposer::isJobInFlight(const QNModelCorrectionJob& job) const {
    const auto* going = jobInFlight();
    return going && going->targetRange == job.targetRange &&
           going->targetPrefix == job.targetPrefix && going->contextPrefix == job.contextPrefix;
}

std::optional<text::Utf16Range> QNServiceComposer::visibleSpanOf(text::Utf16Range range,
                                                                 std::u16string_view view) const {
    const std::u16string_view canonical = buffers.canonicalText;
    if (range.location < 0 || range.length < 0 || range.end() > utf16Length(canonical)) {
        return std::nullopt;
    }
    const auto tail = utf16Length(canonical) - range.end();
    if (utf16Length(view) < range.location + tail ||
        part(view, 0, range.location) != part(canonical, 0, range.location) ||
        part(view, utf16Length(view) - tail, tail) != part(canonical, range.end(), tail)) {
        return std::nullopt;
    }
    return text::Utf16Range{range.location, utf16Length(view) - tail - range.location};
}

std::optional<text::Utf16Range> QNServiceComposer::shownStreamSpan(
    const QNStreamApplyState& state) const {
    const auto view = viewString();
    const auto span = visibleSpanOf(state.canonicalRange, view);
    if (!span || part(view, span->location, span->length) != state.currentReplacement) {
        return std::nullopt;
    }
    return span;
}

std::optional<QNUserEdit> QNServiceComposer::editBesideWorkInFlight(const QNUserEdit& edit) const {
    const QNModelCorrectionJob* job = jobInFlight();
    if (!job || abandonedStream_ || needsResync_) {
        return std::nullopt;
    }
    const auto view = viewString();
    const auto span = visibleSpanOf(job->targetRange, view);
    if (!span || edit.range.length < 0 || edit.range.end() > utf16Length(view)) {
        return std::nullopt;
    }
    // Whole sentences taken out before it leave its text as it was asked about (the space
    // before it may go with them, while none of its answer shows).
    const auto lead = [&] {
        std::int64_t at = span->location;
        while (at < span->end() &&
               text::isWhitespaceOrNewline(view[static_cast<std::size_t>(at)])) {
            ++at;
        }
        return at;
    };
    const auto reach = activeStreamApply ? span->location : lead();
    if (edit.range.location <= span->location && edit.range.end() <= reach &&
        composer::deletesWholeSentences(edit, view)) {
        return edit;
    }
    if (edit.range.location < span->end()) {
        return std::nullopt;
    }
    // Letters typed right after the text going out continue its last word (a full stop that
    // turns out to be an abbreviation's, a word cut at a pause): the text it was asked about is
    // no longer what stands there.
    if (edit.range.location == span->end() && span->length > 0 && !edit.replacement.empty() &&
        !text::isWhitespaceOrNewline(text::codePointBefore(view, span->end())) &&
        !text::isWhitespaceOrNewline(text::codePointAt(edit.replacement, 0))) {
        return std::nullopt;
    }
    QNUserEdit mapped = edit;
    mapped.range.location += job->targetRange.end() - span->end();
    return mapped;
}

void QNServiceComposer::projectStream(std::int64_t shownLength) {
    const auto length = utf16Length(buffers.canonicalText);
    auto projection = QNBufferProjection::linear(length, length);
    if (activeStreamApply &&
        projection.applyVisibleReplacement(activeStreamApply->canonicalRange, shownLength)) {
        buffers.projection = std::move(projection);
    }
}

bool QNServiceComposer::alignStreamProjection() {
    if (!activeStreamApply) {
        return false;
    }
    const auto view = viewString();
    const auto span = visibleSpanOf(activeStreamApply->canonicalRange, view);
    if (!span) {
        return false;
    }
    projectStream(span->length);
    return buffers.projection.visibleUTF16Length == utf16Length(view);
}

bool QNServiceComposer::takeInEditBesideWorkInFlight(const QNUserEdit& edit) {
    const auto mapped = editBesideWorkInFlight(edit);
    if (!mapped) {
        return false;
    }
    // The stream's text stays on screen: the projection keeps showing the range as it does now.
    const auto shown = activeStreamApply
                           ? visibleSpanOf(activeStreamApply->canonicalRange, viewString())
                           : std::nullopt;
    takeInEdit(*mapped);
    if (const auto* job = jobInFlight(); job && mapped->range.location <= job->targetRange.location) {
        // What went out now stands further up, after a shorter context (and maybe without the
        // space before it).
        const auto moveUp = [&](QNModelCorrectionJob& moved) {
            const auto eaten = std::clamp<std::int64_t>(
                mapped->range.end() - moved.targetRange.location, 0, moved.targetRange.length);
            const auto before = mapped->range.length - eaten;
            moved.contextPrefix.erase(
                static_cast<std::size_t>(std::min(mapped->range.location,
                                                  utf16Length(moved.contextPrefix))),
                static_cast<std::size_t>(before));
            moved.targetPrefix.erase(0, static_cast<std::size_t>(eaten));
            moved.targetRange = {moved.targetRange.location - before,
                                 moved.targetRange.length - eaten};
        };
        if (run_) {
            moveUp(run_->job);
        }
        if (pendingCorrectionJob) {
            moveUp(*pendingCorrectionJob);
        }
        if (activeStreamApply) {
            activeStreamApply->canonicalRange.location -= mapped->range.length;
        }
    }
    if (shown && !needsResync_) {
        projectStream(shown->length);
    }
    return true;
}

}  // namespace ravlin
