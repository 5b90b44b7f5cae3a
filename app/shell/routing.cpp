// Engine routing, availability and correction issues.

#include <qcoro/qcorotask.h>

#include <algorithm>

#include "app/composer/composer_service.h"
#include "app/composer/provider_routing.h"
#include "app/editor/controller_auto_correcting_text.h"
#include "app/editor/panel_composition.h"
#include "app/shell/coordinator.h"
#include "app/shell/session_flows.h"
#include "app/target/quick_fix_hud.h"
#include "core/engine/correction_engine.h"
#include "core/support/async.h"

namespace ravlin {
namespace {

constexpr int kLiveIntent = 0;
constexpr int kPolishIntent = 1;
constexpr double kPanelMinHeightFloor = 40;

// The detector's probe blocks: it runs on the work runner, and its answer comes back on the main
// sequence to a coordinator that may be gone by then.
QCoro::Task<> detectCodexCLI(std::weak_ptr<QNCoordinatorApp> weak,
                             std::weak_ptr<QNCodexCLIDetector> weakDetector, bool force,
                             std::shared_ptr<Executor> executor,
                             std::shared_ptr<WorkRunner> workRunner) {
    auto detector = weakDetector.lock();
    if (!detector) {
        co_return;
    }
    const QNCodexCLIDetection detection = co_await runBlocking(
        *workRunner, *executor,
        [detector = std::move(detector), force](const std::stop_token&) {
            return detector->refresh(force);
        },
        std::stop_token{});
    if (const auto self = weak.lock()) {
        self->reportCodexCLIDetection(detection);
    }
}

}  // namespace

void QNCoordinatorApp::reconfigureCorrectionEngines() {
    const auto& selector = *correctionEngineFactory().selector;

    const auto live = selector.liveConfiguration();
    liveEngine->setModelProviders(live.primary, live.fallback);
    const std::string liveLine = live.routeLogLine(kLiveIntent);

    const auto polish = selector.polishConfiguration(std::nullopt);
    polishEngine->setModelProviders(polish.primary, polish.fallback);
    const std::string polishLine = polish.routeLogLine(kPolishIntent);

    // A prewarm may load a model or open a connection: never on the main sequence.
    env_.workRunner->run([live = liveEngine, polish = polishEngine] {
        live->prewarm();
        polish->prewarm();
    });

    logSession(QNKindLog::system, liveLine);
    logSession(QNKindLog::system, polishLine);

    // What was said of the routes before holds no longer: the composer's warning came from a
    // route that may be gone (switched off, set up), and the heads-up may be due again.
    if (composer) {
        composer->correctionUnavailableWarning.set(std::nullopt);
    }
    saidCloudNotSetUp_ = false;
}

std::string QNCoordinatorApp::reroutePolishEngine(std::int64_t chunkCharCount) {
    const auto polish = correctionEngineFactory().selector->polishConfiguration(chunkCharCount);
    polishEngine->setModelProviders(polish.primary, polish.fallback);
    return polish.routeLogLine(kPolishIntent);
}

void QNCoordinatorApp::refreshCodexCLIDetection(bool force) {
    std::weak_ptr<QNCoordinatorApp> weak = weak_from_this();
    std::weak_ptr<QNCodexCLIDetector> detector = codexCLIDetector;
    // Never answered before this returns, not even from the detector's cache.
    env_.executor->post(
        [weak, detector, force, executor = env_.executor, workRunner = env_.workRunner] {
            detectCodexCLI(weak, detector, force, executor, workRunner);
        });
}

void QNCoordinatorApp::reportCodexCLIDetection(const QNCodexCLIDetection& detection) {
    const auto& byok = *stores->bringYourOwnKey;
    const QNCodexCLIDetection stored = byok.codexDetection().get();
    const bool wasConfigured = stored.isConfigured();
    if (!(detection == stored)) {
        stores->bringYourOwnKey->setCodexDetection(detection);
    }
    const bool isConfigured = detection.isConfigured();
    if (isConfigured == wasConfigured) {
        return;
    }
    logSystem(platform::LogLevel::info,
              std::string("Codex CLI configured state changed: configured=") +
                  (isConfigured ? "true" : "false"));
    logSession(QNKindLog::system, std::string("Codex CLI configured state changed: ") +
                                      (isConfigured ? "configured" : "not configured"));
    reconfigureCorrectionEngines();
}

std::optional<QNModelCorrectionIssue> QNCoordinatorApp::currentCorrectionIssue() {
    const bool online = stores->correctionModelMode->mode().get() == QNCorrectionModelMode::online;
    auto issue = composer ? composer->correctionIssue.get() : std::nullopt;
    // An issue of the online route means nothing while the user works locally.
    if (issue && (online || !issue->requiresOnlineMode)) {
        return issue;
    }
    // Cloud correction on with no route to it: said from the moment it is switched on, not only
    // once a sentence has been tried.
    if (online && !isCloudRouteConfigured()) {
        return cloudNotSetUpIssue();
    }
    return std::nullopt;
}

QNModelCorrectionIssue QNCoordinatorApp::cloudNotSetUpIssue() {
    return QNServiceComposer::cloudIssue("not configured", true);
}

void QNCoordinatorApp::sayCloudNotSetUpOnce() {
    if (saidCloudNotSetUp_ ||
        stores->correctionModelMode->mode().get() != QNCorrectionModelMode::online ||
        isCloudRouteConfigured()) {
        return;
    }
    saidCloudNotSetUp_ = true;
    SessionFlows::showHeadsUp(
        *this, QNHeadsUp{QNQuickFixHUDKind::activationFailed, "Cloud correction is not set up",
                         "Ravlin corrects with its local rules meanwhile. Set up a cloud route "
                         "in Settings, Correction."});
}

void QNCoordinatorApp::logEngineAvailability() {
    const auto summary = liveEngine->availabilitySummary();
    logSession(QNKindLog::system, std::string("Engine availability: local_model=") +
                                      (summary.isAvailable ? "available" : "unavailable") + " (" +
                                      summary.title + ")");
}

void QNCoordinatorApp::applyComposerFontSize(QNComposerFontSize size) {
    stores->fontSize->setSize(size);
    const double points = composerPointSize(stores->fontSize->size().get());
    const double minHeight = std::max(kPanelMinHeightFloor, textController->lineHeight(points));
    // Sets the minimum size (360 wide) with it.
    panel->setPanelMinHeight(minHeight);
    textController->applyFontSize(points);
}

}  // namespace ravlin
