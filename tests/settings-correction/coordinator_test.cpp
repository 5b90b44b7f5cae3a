// The Correction pane over a real coordinator: its switches reroute both engines once each, and
// choosing the Codex tool starts one forced detection after the action.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>

#include "app/settings/correction_settings.h"
#include "app/settings/pane_correction.h"
#include "tests/support/coordinator_fixture.h"

namespace ravlin::testing {
namespace {

class PaneOverCoordinator : public CoordinatorFixture {};

TEST_F(PaneOverCoordinator, EverySwitchWritesTwoRouteLines) {
    auto coordinator = makeCoordinator();
    coordinator->stores->bringYourOwnKey->setCodexDetection(
        {"/usr/local/bin/codex", "codex-cli 0.120.0", QNCodexCLISupportStatus::supported,
         QNCodexCLILoginState::notLoggedIn});
    auto controller = std::make_shared<QNControllerCorrectionSettings>(
        correctionSettingsEnvironment(coordinator), std::make_shared<QNModelBYOKViewState>());
    QNViewCorrectionPane pane(controller);
    pane.show();
    auto visible = [&pane]<class W>(W*, const char* id) -> W* {
        for (W* widget : pane.findChildren<W*>(QString::fromUtf8(id))) {
            if (widget->isVisibleTo(&pane)) {
                return widget;
            }
        }
        return nullptr;
    };
    for (const char* id :
         {"settings.correction.cloudToggle", "settings.correction.customPrompt.local.toggle",
          "settings.correction.customPrompt.online.toggle", "settings.byok.enableToggle"}) {
        SCOPED_TRACE(id);
        const auto before = sessionLines(*coordinator).size();
        auto* toggle = visible(static_cast<QCheckBox*>(nullptr), id);
        ASSERT_NE(toggle, nullptr);
        toggle->click();
        const auto lines = sessionLines(*coordinator);
        ASSERT_EQ(lines.size(), before + 2);
        EXPECT_NE(lines[before].find("route"), std::string::npos) << lines[before];
    }

    const auto before = sessionLines(*coordinator).size();
    visible(static_cast<QComboBox*>(nullptr), "settings.byok.providerPicker")->activated(1);
    EXPECT_EQ(sessionLines(*coordinator).size(), before + 2);
    const auto jobs = workRunner->pendingCount();
    executor->runUntilIdle();
    EXPECT_EQ(workRunner->pendingCount(), jobs + 1);  // the detection, forced
    workRunner->runAll();
    executor->runUntilIdle();
}

}  // namespace
}  // namespace ravlin::testing
