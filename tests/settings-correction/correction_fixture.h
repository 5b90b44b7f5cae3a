#pragma once

// The Correction pane's controller over the simulated desktop: stores on memory defaults, the
// engine rebuild and the Codex detection counted, checks run on real threads and handed back
// through a manual executor.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/preferences/preferences.h"
#include "app/settings/correction_settings.h"
#include "core/support/executor.h"
#include "platform/fake/fake_desktop.h"
#include "tests/support/fake_executable.h"

namespace ravlin::testing {

class CorrectionSettingsTest : public ::testing::Test {
  public:
    using Kind = QNModeBYOKSaveStatus::Kind;

    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    std::shared_ptr<ThreadWorkRunner> runner = std::make_shared<ThreadWorkRunner>();
    platform::fake::FakeDesktop desktop{executor};
    FakeExecutableDirectory dir;
    std::shared_ptr<Preferences> stores =
        makePreferences(std::make_shared<MemoryDefaults>(), EnvironmentSnapshot{}, desktop.seams());
    std::shared_ptr<QNModelBYOKViewState> state = std::make_shared<QNModelBYOKViewState>();
    int reconfigures = 0;
    int forcedDetections = 0;
    std::optional<QNModelCorrectionIssue> issue;
    std::optional<std::string> composerWarning;
    QNModelAvailabilitySummary availability{true, "Ready", ""};
    std::shared_ptr<QNControllerCorrectionSettings> controller;

    // Called by the tests once they have set `env` up as they need.
    QNCorrectionSettingsEnvironment env = [this] {
        QNCorrectionSettingsEnvironment value;
        value.stores = stores;
        value.executor = executor;
        value.workRunner = runner;
        value.reconfigureCorrectionEngines = [this] { ++reconfigures; };
        value.refreshCodexCLIDetection = [this](bool force) { forcedDetections += force; };
        value.currentCorrectionIssue = [this] { return issue; };
        value.correctionUnavailableWarning = [this] { return composerWarning; };
        value.localModelAvailability = [this] { return availability; };
        value.keyValidationTimeoutSeconds = 0.5;
        value.codexVerificationTimeoutSeconds = 5;
        value.homeDirectoryPath = dir.path().string();
        return value;
    }();

    QNControllerCorrectionSettings& make() {
        controller = std::make_shared<QNControllerCorrectionSettings>(env, state);
        return *controller;
    }
    void TearDown() override {
        controller.reset();  // stops what still runs
        runner.reset();      // joins it
    }

    QNStoreBringYourOwnKey& byok() const { return *stores->bringYourOwnKey; }
    [[nodiscard]] const QNModeBYOKSaveStatus& status() const { return state->byokSaveStatus.get(); }
    [[nodiscard]] const std::string& typed() const { return state->byokKeyInput.get(); }
    // Waits for the check's result to come back and applies it.
    void settle() { ASSERT_TRUE(executor->waitForPostedWork()); }
    void setOnline(bool online) {
        stores->correctionModelMode->setMode(online ? QNCorrectionModelMode::online
                                                    : QNCorrectionModelMode::local);
    }
};

}  // namespace ravlin::testing
