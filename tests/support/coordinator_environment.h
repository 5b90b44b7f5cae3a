#pragma once

// The part of a coordinator's environment every suite and benchmark over the simulated desktop
// shares: its seams and this process, the defaults, the main sequence, the runner for blocking
// work and the clock, no document window, and a machine where the Codex command-line tool is not
// installed (no file exists, no command answers). The caller sets the rest.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/preferences/defaults.h"
#include "app/shell/coordinator.h"
#include "core/support/clock.h"
#include "core/support/executor.h"
#include "platform/fake/fake_desktop.h"

namespace ravlin::testing {

[[nodiscard]] inline QNCoordinatorEnvironment simulatedDesktopEnvironment(
    platform::fake::FakeDesktop& desktop, std::shared_ptr<Defaults> defaults,
    std::shared_ptr<Executor> executor, std::shared_ptr<WorkRunner> workRunner,
    std::shared_ptr<Clock> clock) {
    QNCoordinatorEnvironment env;
    env.seams = desktop.seams();
    env.defaults = std::move(defaults);
    env.executor = std::move(executor);
    env.workRunner = std::move(workRunner);
    env.clock = std::move(clock);
    env.ownPid = desktop.ownPid();
    QNCodexCLIDetector::Configuration codex;
    codex.homeDirectoryPath = "/nonexistent";
    codex.fileExists = [](const std::string&) { return false; };
    codex.isExecutableFile = [](const std::string&) { return false; };
    codex.commandRunner = [](const std::string&, const std::vector<std::string>&,
                             const std::optional<process::Environment>&) {
        return QNCodexCLICommandResult{};
    };
    env.codexDetectorConfiguration = std::move(codex);
    env.isDocumentWindow = [] { return false; };
    return env;
}

}  // namespace ravlin::testing
