#pragma once

// A coordinator over the simulated desktop, on virtual time, for the application shell's suites:
// in-memory defaults, a ManualExecutor, a work runner the test drives, an activation the test
// triggers, recorded settings-window requests, and readers of both logs. The suite makes the
// QApplication (addQtApplication); nothing here starts the coordinator.
//
//   class StartUp : public ravlin::testing::CoordinatorFixture {};
//   TEST_F(StartUp, ...) {
//       desktop.setTrusted(false);
//       auto coordinator = makeCoordinator();
//       coordinator->start();
//       EXPECT_EQ(settingsRequests.size(), 1u);
//   }

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/preferences/defaults.h"
#include "app/shell/coordinator.h"
#include "core/support/clock.h"
#include "core/support/executor.h"
#include "platform/fake/fake_desktop.h"
#include "tests/support/coordinator_environment.h"
#include "tests/support/manual_work_runner.h"

namespace ravlin::testing {

// The executor's virtual time as a clock.
class ExecutorClock final : public Clock {
  public:
    explicit ExecutorClock(std::shared_ptr<const Executor> executor)
        : executor_(std::move(executor)) {}
    [[nodiscard]] Instant now() const override { return executor_->now(); }

  private:
    std::shared_ptr<const Executor> executor_;
};

// The program becoming active, when the test says.
class ManualActivation {
  public:
    [[nodiscard]] QNServiceAccessibilityPermissions::ActivationSource source() {
        return [list = list_](std::function<void()> onActive) {
            return list->add(std::move(onActive));
        };
    }
    void activate() const { list_->notify(); }

  private:
    std::shared_ptr<CallbackList<>> list_ = std::make_shared<CallbackList<>>();
};

class CoordinatorFixture : public ::testing::Test {
  public:
    CoordinatorFixture() { desktop.setTrusted(true); }
    ~CoordinatorFixture() override { executor->runUntilIdle(); }

    // The environment over this fixture's desktop; the Codex tool is never found.
    [[nodiscard]] QNCoordinatorEnvironment environment() {
        QNCoordinatorEnvironment env = simulatedDesktopEnvironment(
            desktop, defaults, executor, workRunner, std::make_shared<ExecutorClock>(executor));
        env.processEnvironment = processEnvironment;
        env.activation = activation.source();
        env.showSettingsWindow = [requests =
                                      settingsRequests](std::optional<QNModelSettingsPane> pane) {
            requests->push_back(pane);
        };
        env.quit = [quits = quits] { ++*quits; };
        return env;
    }

    // With `capture`, the session log keeps every line (as while its window is open), not only
    // the recent issues.
    [[nodiscard]] std::shared_ptr<QNCoordinatorApp> makeCoordinator(bool capture = true) {
        auto coordinator = QNCoordinatorApp::create(environment());
        if (capture) {
            coordinator->logger->startCapturing();
        }
        return coordinator;
    }
    [[nodiscard]] std::shared_ptr<QNCoordinatorApp> startCoordinator(bool capture = true) {
        auto coordinator = makeCoordinator(capture);
        coordinator->start();
        return coordinator;
    }

    // The session log's messages, oldest first.
    [[nodiscard]] static std::vector<std::string> sessionLines(const QNCoordinatorApp& app) {
        std::vector<std::string> lines;
        for (const auto& entry : app.logger->entries()) {
            lines.push_back(entry.message);
        }
        return lines;
    }
    // The system log's messages of one category, oldest first.
    [[nodiscard]] std::vector<std::string> systemLines(
        std::string_view category = QNCoordinatorApp::logCategory) const {
        std::vector<std::string> lines;
        for (const auto& record : desktop.logRecords()) {
            if (record.category == category) {
                lines.push_back(record.message);
            }
        }
        return lines;
    }
    [[nodiscard]] std::vector<platform::LogRecord> systemRecords() const {
        return desktop.logRecords();
    }

    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    platform::fake::FakeDesktop desktop{executor};
    std::shared_ptr<MemoryDefaults> defaults = std::make_shared<MemoryDefaults>();
    EnvironmentSnapshot processEnvironment;
    // Without a tray, start-up also shows the settings window.
    std::shared_ptr<ManualWorkRunner> workRunner = std::make_shared<ManualWorkRunner>();
    ManualActivation activation;
    std::shared_ptr<std::vector<std::optional<QNModelSettingsPane>>> settingsRequests =
        std::make_shared<std::vector<std::optional<QNModelSettingsPane>>>();
    std::shared_ptr<int> quits = std::make_shared<int>(0);
};

}  // namespace ravlin::testing
