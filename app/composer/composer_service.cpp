#include "app/composer/composer_service.h"

#include <algorithm>

#include <unicode/uchar.h>

#include "core/services/character_view.h"
#include "core/services/edit_distance.h"
#include "core/support/async.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

using EventKind = QNCorrectionEventStatus::Kind;

// Changes the observed value in place as one mutation; observers hear of it when `change` says
// it changed something. (A copy of the whole log per record made each keystroke slow.)
template <class T, class Change>
void mutate(Observable<T>& observable, Change&& change) {
    observable.modify(std::forward<Change>(change));
}

template <class T>
bool keepNewest(std::vector<T>& items, std::size_t limit) {
    if (items.size() <= limit) {
        return false;
    }
    items.erase(items.begin(), items.end() - static_cast<std::ptrdiff_t>(limit));
    return true;
}

std::int64_t utf16Length(std::u16string_view text) {
    return static_cast<std::int64_t>(text.size());
}

bool isLiveStreamed(const QNCorrectionEvent& event) {
    return event.status.kind == EventKind::live && event.tier == ConfidenceTier::streaming;
}

QNCorrectionDecisionScope decisionScope(QNModelCorrectionJob::Scope scope) {
    switch (scope) {
        case QNModelCorrectionJob::Scope::suffix:
            return QNCorrectionDecisionScope::suffix;
        case QNModelCorrectionJob::Scope::wholePrefix:
            return QNCorrectionDecisionScope::wholePrefix;
        case QNModelCorrectionJob::Scope::sentencePolish:
            break;
    }
    return QNCorrectionDecisionScope::sentencePolish;
}

// The word as it is spelled without its marks: decomposed, marks left out, "ß" as "ss", its
// first letter lower-cased (a noun's capital: "Präsentation" reads "prasentation", "Gruß"
// reads "gruss").
std::u16string plainSpelling(std::u16string_view word) {
    std::u16string bare;
    const std::u16string decomposed = text::nfd(word);
    for (std::size_t at = 0; at < decomposed.size();) {
        const char32_t c = text::codePointAt(decomposed, static_cast<std::int64_t>(at));
        const std::size_t units = c > 0xFFFF ? 2 : 1;
        if (c == U'\u00DF') {
            bare += u"ss";
        } else if ((U_GET_GC_MASK(static_cast<UChar32>(c)) & U_GC_M_MASK) == 0) {
            bare.append(decomposed, at, units);
        }
        at += units;
    }
    if (!bare.empty()) {
        const auto first = static_cast<UChar32>(text::codePointAt(bare, 0));
        if (first <= 0xFFFF) {
            bare[0] = static_cast<char16_t>(u_tolower(first));
        }
    }
    return bare;
}

bool countsTowardCoverage(const QNCorrectionDecisionSource& source) {
    using Kind = QNCorrectionDecisionSource::Kind;
    return source.kind == Kind::modelPrimary || source.kind == Kind::modelFallback ||
           source.kind == Kind::modelSuffix || source.kind == Kind::modelWhole;
}

QCoro::Task<> sleepStepOn(std::shared_ptr<Executor> clock, Instant deadline, std::stop_token stop) {
    const Instant now = clock->now();
    if (now >= deadline) {
        co_return;
    }
    const Instant wake = std::min(now + QNServiceComposer::kSleepStep, deadline);
    co_await sleepFor(*clock, wake - now, std::move(stop));
}

}  // namespace

std::u16string QNServiceComposer::viewString() const {
    return controller ? controller->string() : std::u16string();
}

// --- Stream apply and the event log

std::shared_ptr<QNStreamApplyState> QNServiceComposer::makeStreamApplyState(
    text::Utf16Range canonicalRange) {
    const auto visible = buffers.projection.visibleRange(canonicalRange);
    if (!visible) {
        return nullptr;
    }
    const auto string = viewString();
    // A range that cuts a surrogate pair would show, and later restore, half a character.
    if (!replacing(string, *visible, u"")) {
        return nullptr;
    }
    auto state = std::make_shared<QNStreamApplyState>();
    state->canonicalRange = canonicalRange;
    state->originalVisibleReplacement = string.substr(static_cast<std::size_t>(visible->location),
                                                      static_cast<std::size_t>(visible->length));
    state->visibleFullPrefix = string.substr(0, static_cast<std::size_t>(visible->end()));
    state->originalVisiblePrefixLength = utf16Length(state->visibleFullPrefix);
    state->currentReplacement = state->originalVisibleReplacement;
    return state;
}

void QNServiceComposer::syncTextView(QNStreamApplyState& state) {
    if (state.currentReplacement == state.originalVisibleReplacement) {
        return;
    }
    const auto visible = buffers.projection.visibleRange(state.canonicalRange);
    const auto string = viewString();
    // A range that cuts a surrogate pair cannot be restored in place: the canonical text is
    // written instead, as for a range that no longer maps.
    auto restored =
        visible ? replacing(string, *visible, state.originalVisibleReplacement) : std::nullopt;
    if (restored) {
        auto prefix = string.substr(0, static_cast<std::size_t>(visible->location));
        prefix += state.originalVisibleReplacement;
        if (controller) {
            controller->setText(std::move(*restored), QNPlacementCaret::visibleEnd);
        }
        state.visibleFullPrefix = std::move(prefix);
        state.currentReplacement = state.originalVisibleReplacement;
        buffers.applyReplacement(state.canonicalRange, state.originalVisibleReplacement,
                                 viewString());
        lastLocalVisibleText = viewString();
        markStreamEventsRolledBack(state.canonicalRange);
        return;
    }
    if (controller) {
        controller->setText(buffers.canonicalText, QNPlacementCaret::visibleEnd);
    }
    lastLocalVisibleText = viewString();
    buffers.rebuildProjection(utf16Length(lastLocalVisibleText));
    markStreamEventsRolledBack(state.canonicalRange);
    state.currentReplacement = state.originalVisibleReplacement;
}

void QNServiceComposer::markStreamEventsRolledBack(text::Utf16Range range) {
    mutate(events, [&](std::vector<QNCorrectionEvent>& log) {
        bool changed = false;
        for (auto& event : log) {
            if (isLiveStreamed(event) &&
                event.source ==
                    QNCorrectionEventSource::of(QNCorrectionEventSource::Kind::modelStream) &&
                nsRangesTouch(event.canonicalRange, range)) {
                event.status = QNCorrectionEventStatus::rolledBack();
                changed = true;
            }
        }
        return changed;
    });
}

std::vector<Uuid> QNServiceComposer::supersedeEvents(text::Utf16Range range, const Uuid& newEventID,
                                                     bool streamingOnly) {
    std::vector<Uuid> superseded;
    mutate(events, [&](std::vector<QNCorrectionEvent>& log) {
        for (auto& event : log) {
            const bool eligible =
                streamingOnly ? isLiveStreamed(event) : event.status.kind == EventKind::live;
            if (eligible && nsRangesTouch(event.canonicalRange, range)) {
                superseded.push_back(event.id);
                event.status = QNCorrectionEventStatus::superseded(newEventID);
            }
        }
        return !superseded.empty();
    });
    recordSupersessions(superseded, newEventID);
    return superseded;
}

void QNServiceComposer::recordSupersessions(const std::vector<Uuid>& superseded,
                                            const Uuid& newEventID) {
    if (superseded.empty()) {
        return;
    }
    // One walk over the decisions for all of them (the list is long and each entry large).
    mutate(recentDecisions, [&](std::vector<QNCorrectionDecision>& decisions) {
        bool changed = false;
        for (auto& decision : decisions) {
            const auto& applied = decision.appliedEventIDs;
            if (applied.empty() || std::ranges::none_of(superseded, [&](const Uuid& id) {
                    return std::ranges::find(applied, id) != applied.end();
                })) {
                continue;
            }
            auto& by = decision.supersededByEventIDs;
            if (std::ranges::find(by, newEventID) == by.end()) {
                by.push_back(newEventID);
                changed = true;
            }
        }
        return changed;
    });
}

std::vector<Uuid> QNServiceComposer::supersedeStreamingEvents(text::Utf16Range range,
                                                              const Uuid& newEventID) {
    return supersedeEvents(range, newEventID, true);
}

std::vector<Uuid> QNServiceComposer::supersedeLiveEvents(text::Utf16Range range,
                                                         const Uuid& newEventID) {
    return supersedeEvents(range, newEventID, false);
}

void QNServiceComposer::recordSupersession(const Uuid& superseded, const Uuid& newEventID) {
    recordSupersessions({superseded}, newEventID);
}

void QNServiceComposer::trimEvents() {
    mutate(events, [](auto& log) { return keepNewest(log, kEventLimit); });
}

QNCorrectionEvent QNServiceComposer::recordAppliedEvent(QNCorrectionEvent event,
                                                        bool streamedPartial) {
    appendAppliedEvent(std::move(event), streamedPartial);
    return events.get().back();
}

void QNServiceComposer::appendAppliedEvent(QNCorrectionEvent event, bool streamedPartial) {
    event.id = Uuid::random();
    event.supersedes = streamedPartial ? supersedeStreamingEvents(event.canonicalRange, event.id)
                                       : supersedeLiveEvents(event.canonicalRange, event.id);
    event.status = QNCorrectionEventStatus::live();
    mutate(events, [&](std::vector<QNCorrectionEvent>& log) {
        log.push_back(std::move(event));
        keepNewest(log, kEventLimit);
        return true;
    });
}

QNCorrectionEvent QNServiceComposer::recordUserAcceptedStream(QNCorrectionEvent event) {
    event.id = Uuid::random();
    event.status = QNCorrectionEventStatus::live();
    event.supersedes.clear();
    mutate(events, [&](std::vector<QNCorrectionEvent>& log) {
        for (auto& streamed : log) {
            if (event.decisionID && streamed.decisionID == event.decisionID &&
                isLiveStreamed(streamed)) {
                event.supersedes.push_back(streamed.id);
                streamed.status = QNCorrectionEventStatus::superseded(event.id);
            }
        }
        log.push_back(event);
        keepNewest(log, kEventLimit);
        return true;
    });
    recordSupersessions(event.supersedes, event.id);
    return event;
}

// --- Decisions

void QNServiceComposer::linkEvents(QNCorrectionDecision& decision) const {
    std::vector<Uuid> applied;
    std::vector<Uuid> superseded = decision.supersededEventIDs;
    for (const auto& event : events.get()) {
        if (!event.decisionID || *event.decisionID != decision.id) {
            continue;
        }
        if (event.status.kind == EventKind::live) {
            applied.push_back(event.id);
        }
        superseded.insert(superseded.end(), event.supersedes.begin(), event.supersedes.end());
    }
    // Each id stays at its first position.
    decision.supersededEventIDs.clear();
    for (const auto& id : superseded) {
        if (std::ranges::find(decision.supersededEventIDs, id) ==
            decision.supersededEventIDs.end()) {
            decision.supersededEventIDs.push_back(id);
        }
    }
    decision.appliedEventIDs = std::move(applied);
    for (auto& child : decision.children) {
        linkEvents(child);
    }
}

void QNServiceComposer::trimRecentDecisions() {
    mutate(recentDecisions, [](auto& list) { return keepNewest(list, kRecentDecisionLimit); });
}

void QNServiceComposer::recordDecision(QNCorrectionDecision decision) {
    linkEvents(decision);
    std::vector<QNCorrectionDecision> flattened;
    if (decision.children.empty()) {
        flattened.push_back(std::move(decision));  // a local decision: no copy of its texts
    } else {
        flattened = decision.flattened();
    }
    mutate(recentDecisions, [&](std::vector<QNCorrectionDecision>& list) {
        list.insert(list.end(), std::make_move_iterator(flattened.begin()),
                    std::make_move_iterator(flattened.end()));
        keepNewest(list, kRecentDecisionLimit);
        return true;
    });
}

QNDecisionDedupeKey QNServiceComposer::dedupeKey(const QNModelCorrectionJob& job) const {
    QNDecisionDedupeKey key;
    key.scope = job.targetRange.location == 0 && job.contextPrefix.empty()
                    ? QNCorrectionDecisionScope::wholePrefix
                    : decisionScope(job.scope);
    key.canonicalRange = job.targetRange;
    key.inputHash = QNCorrectionDecision::stableHash(job.targetPrefix);
    if (!job.contextPrefix.empty()) {
        key.contextHash = QNCorrectionDecision::stableHash(job.contextPrefix);
    }
    std::string policy(kPolicyVersion);
    if (polishEngine) {
        if (const auto prompt = polishEngine->diagnosticsSummary().primary.promptVersion) {
            policy += " prompt=" + *prompt;
        }
    }
    key.policyVersion = std::move(policy);
    return key;
}

bool QNServiceComposer::recentDecisionsCover(const QNModelCorrectionJob& job,
                                             const QNDecisionDedupeKey& key, Instant now) const {
    const auto range = job.targetRange;
    const auto end = nsRangeEnd(range);
    if (range.location == NSNotFound || !end || range.location >= *end) {
        return false;
    }
    struct Span {
        std::int64_t start;
        std::int64_t end;
    };
    std::vector<Span> spans;
    for (const auto& decision : recentDecisions.get()) {
        const Instant since = decision.finishedAt.value_or(decision.startedAt);
        const auto age = std::chrono::duration_cast<std::chrono::milliseconds>(now - since);
        const auto status = decision.status.kind;
        // Offsets of an earlier session's text say nothing about this one's.
        if (age > kCoverageWindow || decision.sessionID != logSessionID_ ||
            (status != QNCorrectionDecisionStatus::Kind::accepted &&
             status != QNCorrectionDecisionStatus::Kind::noChange) ||
            !countsTowardCoverage(decision.source) || decision.policyVersion != key.policyVersion) {
            continue;
        }
        const auto start = decision.contextBefore ? utf16Length(*decision.contextBefore) : 0;
        const auto length = utf16Length(decision.input);
        if (start >= range.location && length > 0 && start + length <= *end) {
            spans.push_back({start, start + length});
        }
    }
    std::ranges::stable_sort(spans, {}, &Span::start);
    std::int64_t cursor = range.location;
    for (const auto& span : spans) {
        if (span.start > cursor) {
            return false;
        }
        cursor = std::max(cursor, span.end);
        if (cursor >= *end) {
            return true;
        }
    }
    return false;
}

std::u16string QNServiceComposer::knownAppliedPrefix(std::u16string_view text) const {
    const std::u16string lastWhole = lastWholeAppliedPrefix.value_or(std::u16string());
    std::u16string best;
    std::int64_t bestCount = 0;
    for (const auto* candidate : {&sealedContextPrefix, &lastWhole}) {
        if (candidate->empty() || !engine::detail::startsWith(text, *candidate)) {
            continue;
        }
        const auto count = engine::detail::countCharacters(*candidate);
        if (count > bestCount) {
            best = *candidate;
            bestCount = count;
        }
    }
    return best;
}

std::string QNServiceComposer::correctionNotesSummary(const QNCorrectionDecision& decision) {
    const auto accepted = decision.acceptedDecision();
    const QNCorrectionDecision& handling =
        accepted ? *accepted : (decision.children.empty() ? decision : decision.children.back());
    // A route that gave no answer handled nothing: the text stands as the local rules left it.
    using Status = QNCorrectionDecisionStatus::Kind;
    const auto status = handling.status.kind;
    const bool answered = status != Status::unavailable && status != Status::failed &&
                          status != Status::rejected && status != Status::skipped &&
                          status != Status::fallback;
    static const QNModelCorrectionProviderDiagnostics localRules{
        .providerID = "local-rules",
        .route = QNModelCorrectionRoute::local,
        .providerName = "Local rules",
    };
    std::string summary =
        !answered && handling.provider ? "handled_by={" + localRules.logSummary() + "}"
        : handling.provider            ? "handled_by={" + handling.provider->logSummary() + "}"
                                       : std::string("handled_by=unknown");
    if (!decision.children.empty() && decision.provider && decision.children.front().provider) {
        // A fallback that is not there (no on-device model on this computer) took nothing
        // over: the text went to the local rules.
        const QNCorrectionDecision& child = decision.children.front();
        const auto& fallback =
            child.status.kind == Status::unavailable ? localRules : *child.provider;
        summary += " fallback_happened={" + decision.provider->readableLogDescription() + " -> " +
                   fallback.readableLogDescription() + "}";
    }
    return summary;
}

std::string QNServiceComposer::logFallbackApplied(const QNCorrectionDecision& decision) {
    const auto accepted = decision.acceptedDecision();
    if (accepted && accepted->source == QNCorrectionDecisionSource::modelFallback()) {
        return " apply_outcome=fallback-applied via=fallback";
    }
    return {};
}

// --- Checks and waits

bool QNServiceComposer::isSingleWordDegradation(std::u16string_view original,
                                                std::u16string_view corrected) {
    const auto change = QNServiceNSSpellChecker::singleWordChange(original, corrected);
    if (!change) {
        return false;
    }
    // Accents or a "ß" put on a word ("desole" -> "désolé", "gruss" -> "Gruß") correct it,
    // whatever a dictionary of another language says of both.
    if (plainSpelling(change->original) == plainSpelling(change->corrected)) {
        return false;
    }
    if (QNServiceNSSpellChecker::skipKey(change->corrected) &&
        !QNServiceNSSpellChecker::skipKey(change->original)) {
        return false;
    }
    if (!degradationSpellChecker || !degradationSpellChecker->isMisspelled(change->original)) {
        return false;
    }
    return degradationSpellChecker->isMisspelled(change->corrected);
}

QCoro::Task<> QNServiceComposer::sleepStep(Instant deadline, std::stop_token stop) const {
    return sleepStepOn(clock, deadline, std::move(stop));
}

namespace composer {

std::int64_t boundedEditDistance(std::u16string_view a, std::u16string_view b, std::int64_t limit) {
    if (limit <= 0) {
        return limit;
    }
    return std::min(limit, engine::detail::editDistance(a, b, limit - 1));
}

}  // namespace composer

}  // namespace ravlin
