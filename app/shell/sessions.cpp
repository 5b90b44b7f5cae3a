// The Composer and Quick Fix sessions.

#include "app/shell/coordinator.h"

namespace ravlin {

void QNCoordinatorApp::toggleHotkey(std::string /*trigger*/) {}

void QNCoordinatorApp::dismissPanel(std::string /*reason*/) {}

void QNCoordinatorApp::requestCommit() {}

void QNCoordinatorApp::handleQuickFixTrigger(std::string /*source*/) {}

void QNCoordinatorApp::cancelQuickFixAutoCommit() {}

}  // namespace ravlin
