// Engine routing, availability and correction issues.

#include "app/shell/coordinator.h"

namespace ravlin {

void QNCoordinatorApp::reconfigureCorrectionEngines() {}

std::string QNCoordinatorApp::reroutePolishEngine(std::int64_t /*chunkCharCount*/) { return {}; }

void QNCoordinatorApp::refreshCodexCLIDetection() {}

void QNCoordinatorApp::reportCodexCLIDetection(const QNCodexCLIDetection& /*detection*/) {}

std::optional<QNModelCorrectionIssue> QNCoordinatorApp::currentCorrectionIssue() const {
    return std::nullopt;
}

void QNCoordinatorApp::logEngineAvailability() {}

void QNCoordinatorApp::applyComposerFontSize(QNComposerFontSize /*size*/) {}

}  // namespace ravlin
