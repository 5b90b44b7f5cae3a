// The tray menu and its actions.

#include "app/shell/coordinator.h"

namespace ravlin {

void QNCoordinatorApp::buildMenuBar() {}

void QNCoordinatorApp::startUpdater() {}

void QNCoordinatorApp::refreshMenu() {}

void QNCoordinatorApp::toggleCloudAI() {}

void QNCoordinatorApp::newTextDocument() {}

void QNCoordinatorApp::openTextFile() {}

}  // namespace ravlin
