#pragma once

// The whole program's coordinator started over the simulated desktop, trusted, with defaults in
// memory: for benchmarks that open its windows and panels off screen.

#include <memory>
#include <optional>

#include "app/preferences/defaults.h"
#include "app/shell/coordinator.h"
#include "core/support/clock.h"
#include "platform/fake/fake_desktop.h"
#include "tests/support/coordinator_environment.h"

namespace ravlin::bench {

inline std::shared_ptr<QNCoordinatorApp> startedCoordinator(
    platform::fake::FakeDesktop& desktop, const std::shared_ptr<ManualExecutor>& executor) {
    desktop.setTrusted(true);
    QNCoordinatorEnvironment env = testing::simulatedDesktopEnvironment(
        desktop, std::make_shared<MemoryDefaults>(), executor,
        std::make_shared<ThreadWorkRunner>(), std::make_shared<SteadyClock>());
    env.showSettingsWindow = [](std::optional<QNModelSettingsPane>) {};
    env.quit = [] {};
    auto app = QNCoordinatorApp::create(std::move(env));
    app->start();
    return app;
}

}  // namespace ravlin::bench
