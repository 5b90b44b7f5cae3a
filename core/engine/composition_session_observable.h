#pragma once

// The observable composition model: a draft its owner writes, a model-corrected version of it, a
// status, the last engine result and the engine's availability, each an observable value. Every
// change of the draft schedules one debounced model correction; its result is applied only if
// the draft has not moved on. The simpler sibling of the owned session: one fixed delay, no
// local fixes, no context, no per-trigger choices, no commit.
//
// Everything runs on the main sequence (`executor`): read, write and observe the model there.
// Engine calls run as jobs of the work runner and hand their results back through the executor.
// The delayed correction holds the model weakly.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/engine/composition_session.h"
#include "core/services/composition_status.h"
#include "core/engine/correction_engine.h"
#include "core/services/privacy_log.h"
#include "core/records/result.h"
#include "core/records/text_equality.h"
#include "core/support/executor.h"
#include "core/support/observable.h"

namespace ravlin {

// Text equality of the models: canonical equivalence.
struct QNCanonicalTextEqual {
    bool operator()(const std::u16string& a, const std::u16string& b) const {
        return records::sameText(a, b);
    }
};

class QNSessionComposition : public std::enable_shared_from_this<QNSessionComposition> {
  public:
    using Engine = std::shared_ptr<QNServiceCorrectionGenerating>;
    using SnapshotHandler = std::function<void(const QNModelCompositionSnapshot&)>;
    using ObservableText = Observable<std::u16string, QNCanonicalTextEqual>;

    // Without `engine` the model builds the on-device engine (makeDefaultCompositionEngine);
    // without `worker` engine calls run on threads of the model's own. Sets `availability` from
    // the engine.
    [[nodiscard]] static std::shared_ptr<QNSessionComposition> create(
        Engine engine, std::shared_ptr<QNServicePrivacyLogging> logger,
        std::chrono::nanoseconds debounceDelay, std::shared_ptr<Executor> executor,
        std::shared_ptr<WorkRunner> worker = nullptr);

    QNSessionComposition(const QNSessionComposition&) = delete;
    QNSessionComposition& operator=(const QNSessionComposition&) = delete;
    // Stops the engine call in flight, if any.
    ~QNSessionComposition();

    [[nodiscard]] const std::u16string& draftText() const { return draftText_.get(); }
    // The edit entry point: a value different from the draft schedules a correction; an equal
    // one changes nothing.
    void setDraftText(std::u16string text);
    [[nodiscard]] const std::u16string& correctedText() const { return correctedText_.get(); }
    [[nodiscard]] const QNModelCompositionStatus& status() const { return status_.get(); }
    [[nodiscard]] const std::optional<QNModelCorrectionResult>& latestResult() const {
        return latestResult_.get();
    }
    [[nodiscard]] const QNModelAvailabilitySummary& availability() const {
        return availability_.get();
    }

    // The observable values, for observers.
    [[nodiscard]] const ObservableText& draftTextObservable() const { return draftText_; }
    [[nodiscard]] const ObservableText& correctedTextObservable() const { return correctedText_; }
    [[nodiscard]] const Observable<QNModelCompositionStatus>& statusObservable() const {
        return status_;
    }
    [[nodiscard]] const Observable<std::optional<QNModelCorrectionResult>>& latestResultObservable()
        const {
        return latestResult_;
    }
    [[nodiscard]] const Observable<QNModelAvailabilitySummary>& availabilityObservable() const {
        return availability_;
    }

    // Not blank (blank: empty once trimmed of whitespace and line breaks).
    [[nodiscard]] bool hasDraft() const;
    [[nodiscard]] bool hasCorrectedText() const;
    // The corrected text when it is not blank, else the draft.
    [[nodiscard]] const std::u16string& preferredText() const;

    // Reads the engine's availability, then prewarms it.
    void start();
    void refreshAvailability();
    // Empty the model without scheduling a correction (the two are the same).
    void clear();
    void newDraft();

    // Calls `completion` with the snapshot once the pending correction has finished (applied or
    // discarded) or `maxWait` has passed, whichever is first; with nothing pending, before this
    // returns. The pending work goes on either way. The wait does not keep the model alive:
    // once its owner drops it, `completion` is not called.
    void awaitSnapshot(std::chrono::nanoseconds maxWait, SnapshotHandler completion);

  private:
    struct DebounceTask;
    struct EngineCall;
    struct Wait;

    QNSessionComposition(Engine engine, std::shared_ptr<QNServicePrivacyLogging> logger,
                         std::chrono::nanoseconds debounceDelay, std::shared_ptr<Executor> executor,
                         std::shared_ptr<WorkRunner> worker);

    void draftDidChange();
    void scheduleCorrection(std::u16string text, std::int64_t revision);
    void runCorrection(const std::shared_ptr<DebounceTask>& task);
    void applyResult(const std::shared_ptr<EngineCall>& call, QNModelCorrectionResult result);
    void finish(const std::shared_ptr<DebounceTask>& task);
    void cancelPendingCorrections();
    void setDraftProgrammatically(std::u16string text);
    void setStatus(QNModelCompositionStatus status);
    void log(QNModelPrivacyLogCategory category, std::string message, std::int64_t characters);
    [[nodiscard]] QNModelCompositionSnapshot snapshot() const;

    ObservableText draftText_;
    ObservableText correctedText_;
    Observable<QNModelCompositionStatus> status_{QNModelCompositionStatus::ready()};
    Observable<std::optional<QNModelCorrectionResult>> latestResult_;
    Observable<QNModelAvailabilitySummary> availability_;
    const Engine engine_;
    const std::shared_ptr<QNServicePrivacyLogging> logger_;
    const std::chrono::nanoseconds debounceDelay_;
    std::int64_t revision_ = 0;
    bool isProgrammaticChange_ = false;
    std::shared_ptr<DebounceTask> debounceTask_;
    std::shared_ptr<EngineCall> correctionTask_;
    std::int64_t correctionTaskGeneration_ = 0;
    std::optional<std::int64_t> activeCorrectionTaskGeneration_;
    std::optional<std::u16string> lastCorrectedSource_;
    const std::shared_ptr<Executor> executor_;
    // Declared last: destroyed first, after the destructor has stopped the call in flight.
    const std::shared_ptr<WorkRunner> worker_;
};

}  // namespace ravlin
