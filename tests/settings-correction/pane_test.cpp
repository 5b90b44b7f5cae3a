// The Correction pane's rows, drawn off screen over the simulated desktop.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "app/settings/pane_correction.h"
#include "core/providers/foundation-models/foundation_models_provider.h"
#include "app/support/desktop_wording.h"
#include "tests/settings-correction/correction_fixture.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/qt_application.h"

namespace ravlin::testing {
namespace {

[[maybe_unused]] auto* const qtApplication = addQtApplication("tests_settings_correction");

const QNCodexCLIDetection kSignedIn{"/usr/local/bin/codex", "codex-cli 0.120.0",
                                    QNCodexCLISupportStatus::supported,
                                    QNCodexCLILoginState::loggedIn};

class Pane : public CorrectionSettingsTest {
  public:
    std::unique_ptr<QNViewCorrectionPane> pane;

    QNViewCorrectionPane& show() {
        if (!controller) {
            make();
        }
        pane = std::make_unique<QNViewCorrectionPane>(controller);
        pane->resize(560, 800);
        pane->show();
        QApplication::setActiveWindow(pane.get());
        return *pane;
    }
    void TearDown() override {
        pane.reset();
        CorrectionSettingsTest::TearDown();
    }
    template <class W = QWidget>
    W* find(const char* id) const {
        // The rows of earlier builds wait for deletion hidden.
        for (W* widget : pane->findChildren<W*>(QString::fromUtf8(id))) {
            if (widget->isVisibleTo(pane.get())) {
                return widget;
            }
        }
        return nullptr;
    }
    [[nodiscard]] bool shows(const char* id) const { return find(id) != nullptr; }
    // A visible label reading `text` (as shown on this desktop).
    [[nodiscard]] bool showsText(const std::string& text) const {
        for (QLabel* label : pane->findChildren<QLabel*>()) {
            if (label->isVisibleTo(pane.get()) &&
                label->text() == QString::fromStdString(forThisDesktop(text))) {
                return true;
            }
        }
        return false;
    }
};

TEST_F(Pane, ShowsTheRowsTheSettingsCallFor) {
    const struct {
        const char* name;
        std::function<void(Pane&)> setUp;
        std::vector<const char*> present;
        std::vector<const char*> absent;
    } cases[] = {
        {"local",
         [](Pane&) {},
         {"settings.correction.localModelStatus", "settings.correction.cloudToggle",
          "settings.correction.customPrompt.local.toggle",
          "settings.correction.customPrompt.online.edit"},
         {"settings.byok.enableToggle", "settings.correction.unavailableWarning"}},
        {"online, own key off",
         [](Pane& t) { t.setOnline(true); },
         {"settings.byok.enableToggle"},
         {"settings.byok.providerLabel", "settings.byok.modelPicker", "settings.byok.apiKeyField"}},
        {"OpenAI without Codex",
         [](Pane& t) {
             t.setOnline(true);
             t.byok().setEnabled(true);
         },
         {"settings.byok.providerLabel", "settings.byok.modelPicker", "settings.byok.apiKeyField",
          "settings.byok.saveAndVerifyButton"},
         {"settings.byok.providerPicker", "settings.byok.clearButton",
          "settings.byok.codex.pathRow"}},
        {"OpenAI with a key stored",
         [](Pane& t) {
             t.setOnline(true);
             t.byok().setEnabled(true);
             ASSERT_TRUE(t.byok().setAPIKey("sk-stored"));
         },
         {"settings.byok.clearButton"},
         {"settings.byok.apiKeyField", "settings.byok.saveAndVerifyButton"}},
        {"Codex detected",
         [](Pane& t) {
             t.setOnline(true);
             t.byok().setEnabled(true);
             t.byok().setCodexDetection(kSignedIn);
             t.byok().setProviderKind(QNBYOKProviderKind::codexCLI);
         },
         {"settings.byok.providerPicker", "settings.byok.codex.modelField",
          "settings.byok.codex.pathRow", "settings.byok.codex.versionRow",
          "settings.byok.codex.supportRow", "settings.byok.codex.loginRow",
          "settings.byok.codex.openTerminalButton", "settings.byok.codex.verifyButton"},
         {"settings.byok.apiKeyField", "settings.byok.codex.missingWarning",
          "settings.byok.modelPicker"}},
        {"Codex chosen, not found",
         [](Pane& t) {
             t.setOnline(true);
             t.byok().setEnabled(true);
             t.byok().setProviderKind(QNBYOKProviderKind::codexCLI);
         },
         {"settings.byok.codex.missingWarning", "settings.byok.providerPicker"},
         {"settings.byok.providerLabel"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        stores = makePreferences(std::make_shared<MemoryDefaults>(), {}, desktop.seams());
        env.stores = stores;
        controller.reset();
        c.setUp(*this);
        show();
        for (const char* id : c.present) {
            EXPECT_TRUE(shows(id)) << id;
        }
        for (const char* id : c.absent) {
            EXPECT_FALSE(shows(id)) << id;
        }
    }
}

TEST_F(Pane, FollowsItsStores) {
    show();
    EXPECT_FALSE(shows("settings.byok.enableToggle"));
    setOnline(true);  // as the tray's cloud item does
    EXPECT_TRUE(shows("settings.byok.enableToggle"));
    EXPECT_TRUE(find<QCheckBox>("settings.correction.cloudToggle")->isChecked());
    byok().setEnabled(true);
    EXPECT_TRUE(shows("settings.byok.providerLabel"));
    byok().setCodexDetection(kSignedIn);
    auto* picker = find<QComboBox>("settings.byok.providerPicker");
    ASSERT_NE(picker, nullptr);
    EXPECT_EQ(picker->count(), 2);
    EXPECT_EQ(picker->itemText(1), "Codex CLI");
    byok().setCodexDetection({});
    byok().setProviderKind(QNBYOKProviderKind::codexCLI);
    EXPECT_EQ(find<QComboBox>("settings.byok.providerPicker")->itemText(1),
              "Codex CLI (Not found)");
}

TEST_F(Pane, TheWarningPrefersTheCurrentIssue) {
    const struct {
        const char* name;
        bool issue;
        bool warning;
        const char* shown;  // none: no warning row
    } cases[] = {
        {"both", true, true, "The route failed."},
        {"composer warning only", false, true, "Model unavailable."},
        {"neither", false, false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        issue = c.issue ? std::optional(QNModelCorrectionIssue{.detail = "The route failed."})
                        : std::nullopt;
        composerWarning =
            c.warning ? std::optional<std::string>("Model unavailable.") : std::nullopt;
        show();
        auto* row = find<QLabel>("settings.correction.unavailableWarning");
        if (c.shown == nullptr) {
            EXPECT_EQ(row, nullptr);
        } else {
            ASSERT_NE(row, nullptr);
            EXPECT_EQ(row->text(), c.shown);
        }
    }
}

TEST_F(Pane, LocalModeIsRavlinsRulesWhereThereIsNoOnDeviceModel) {
    // What the on-device provider answers on this desktop, and the composer's warning after a
    // polish it could not run.
    availability = QNProviderFoundationModelsCorrection::summaryFor(
        ondevice::ModelAvailability::unavailable(ondevice::UnavailableReason::deviceNotEligible));
    composerWarning = availability.title;
    show();
    auto* status = find("settings.correction.localModelStatus");
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->accessibleName(), "Local correction: Ravlin's rules");
    EXPECT_FALSE(shows("settings.correction.unavailableWarning"));
    EXPECT_FALSE(showsText(availability.detail));
    // Said once: the privacy text, and nothing claims an on-device model is used.
    int mentions = 0;
    for (QLabel* label : pane->findChildren<QLabel*>()) {
        if (!label->isVisibleTo(pane.get())) {
            continue;
        }
        EXPECT_FALSE(label->text().contains("Not Eligible")) << label->text().toStdString();
        EXPECT_FALSE(label->text().contains("By default")) << label->text().toStdString();
        mentions += label->text().contains("its own rules on this computer");
    }
    EXPECT_EQ(mentions, 1);
    // Another warning still shows.
    composerWarning = "OpenAI request failed";
    show();
    EXPECT_TRUE(shows("settings.correction.unavailableWarning"));
}

TEST_F(Pane, TheCodexSetupWarningNeedsAllFiveConditions) {
    const std::string warning =
        "Finish Codex CLI setup under Advanced below, or switch the BYOK provider back to OpenAI.";
    const struct {
        const char* name;
        std::function<void(Pane&)> breakOne;
        bool shown;
    } cases[] = {
        {"all hold", [](Pane&) {}, true},
        {"local mode", [](Pane& t) { t.setOnline(false); }, false},
        {"online endpoint configured",
         [](Pane& t) {
             t.env.processEnvironment = {{"RAVLIN_REMOTE_CORRECTION_URL", "https://x.test/v1"},
                                         {"RAVLIN_REMOTE_CORRECTION_MODEL", "m"},
                                         {"RAVLIN_REMOTE_CORRECTION_API_KEY", "k"}};
         },
         false},
        {"own provider configured", [](Pane& t) { t.byok().setCodexDetection(kSignedIn); }, false},
        {"own provider off", [](Pane& t) { t.byok().setEnabled(false); }, false},
        {"OpenAI chosen", [](Pane& t) { t.byok().setProviderKind(QNBYOKProviderKind::openai); },
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        stores = makePreferences(std::make_shared<MemoryDefaults>(), {}, desktop.seams());
        env.stores = stores;
        env.processEnvironment = {};
        setOnline(true);
        byok().setEnabled(true);
        byok().setProviderKind(QNBYOKProviderKind::codexCLI);
        c.breakOne(*this);
        make();
        show();
        EXPECT_EQ(showsText(warning), c.shown);
    }
}

TEST_F(Pane, EveryToggleWritesItsStoreThenReconfiguresOnce) {
    const struct {
        const char* id;
        std::function<bool(Pane&)> stored;
    } cases[] = {
        {"settings.correction.cloudToggle",
         [](Pane& t) {
             return t.stores->correctionModelMode->mode().get() == QNCorrectionModelMode::online;
         }},
        {"settings.correction.customPrompt.local.toggle",
         [](Pane& t) { return t.stores->customCorrectionPrompt->localIsEnabled().get(); }},
        {"settings.correction.customPrompt.online.toggle",
         [](Pane& t) { return t.stores->customCorrectionPrompt->onlineIsEnabled().get(); }},
        {"settings.byok.enableToggle", [](Pane& t) { return t.byok().isEnabled().get(); }},
    };
    show();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        for (const bool on : {true, false}) {
            if (std::string_view(c.id) == "settings.correction.cloudToggle" && !on) {
                continue;  // the own-key switch below needs online mode
            }
            reconfigures = 0;
            auto* toggle = find<QCheckBox>(c.id);
            ASSERT_NE(toggle, nullptr);
            toggle->click();
            EXPECT_EQ(c.stored(*this), on);
            EXPECT_EQ(reconfigures, 1);
        }
    }
}

TEST_F(Pane, EditOpensThePromptEditorForItsSlot) {
    std::vector<QNStoreCustomCorrectionPrompt::Slot> opened;
    env.editCustomPrompt = [&](QNStoreCustomCorrectionPrompt::Slot slot) {
        opened.push_back(slot);
    };
    show();
    find<QPushButton>("settings.correction.customPrompt.online.edit")->click();
    find<QPushButton>("settings.correction.customPrompt.local.edit")->click();
    EXPECT_EQ(opened, (std::vector{QNStoreCustomCorrectionPrompt::Slot::online,
                                   QNStoreCustomCorrectionPrompt::Slot::local}));
    EXPECT_FALSE(stores->customCorrectionPrompt->onlineIsEnabled().get());
}

TEST_F(Pane, ProviderAndModelChanges) {
    setOnline(true);
    byok().setEnabled(true);
    byok().setCodexDetection(kSignedIn);
    show();
    // Picking the stored provider writes nothing.
    auto* picker = find<QComboBox>("settings.byok.providerPicker");
    picker->activated(0);
    EXPECT_EQ(reconfigures, 0);
    // Picking Codex reconfigures at once, and detects after the action.
    find<QComboBox>("settings.byok.providerPicker")->activated(1);
    EXPECT_EQ(byok().providerKind().get(), QNBYOKProviderKind::codexCLI);
    EXPECT_EQ(reconfigures, 1);
    EXPECT_EQ(forcedDetections, 0);
    executor->runUntilIdle();
    EXPECT_EQ(forcedDetections, 1);
    // The Codex model field writes on every edit, the empty text included.
    auto* field = find<QLineEdit>("settings.byok.codex.modelField");
    field->setFocus();
    QTest::keyClick(field, Qt::Key_O);
    // The field of the new rows has the focus; keys go there.
    field = find<QLineEdit>("settings.byok.codex.modelField");
    QTest::keyClick(field, Qt::Key_3);
    EXPECT_EQ(byok().model().get(), "o3");
    EXPECT_EQ(reconfigures, 3);
    field = find<QLineEdit>("settings.byok.codex.modelField");
    EXPECT_TRUE(field->hasFocus());
    field->clear();
    QTest::keyClick(field, Qt::Key_Space);
    QTest::keyClick(field, Qt::Key_Backspace);
    EXPECT_EQ(byok().model().get(), "");
    // While a check runs, provider and model changes are refused.
    state->byokSaveStatus.set(QNModeBYOKSaveStatus::validating());
    reconfigures = 0;
    find<QComboBox>("settings.byok.providerPicker")->activated(0);
    QTest::keyClicks(find<QLineEdit>("settings.byok.codex.modelField"), "x");
    EXPECT_EQ(byok().providerKind().get(), QNBYOKProviderKind::codexCLI);
    EXPECT_EQ(byok().model().get(), "");
    EXPECT_EQ(find<QComboBox>("settings.byok.providerPicker")->currentIndex(), 1);
    EXPECT_EQ(reconfigures, 0);
}

TEST_F(Pane, AStoredModelOutsideTheListLeavesNoSelection) {
    setOnline(true);
    byok().setEnabled(true);
    byok().setModel("gpt-custom");
    show();
    auto* picker = find<QComboBox>("settings.byok.modelPicker");
    ASSERT_EQ(picker->count(), 4);
    EXPECT_EQ(picker->currentIndex(), -1);
    picker->activated(1);
    EXPECT_EQ(byok().model().get(), "gpt-4.1-nano");
}

TEST_F(Pane, AFailedCheckStaysUntilTheUserTypes) {
    LoopbackHttpServer server;
    server.enqueue(ScriptedReply(401));
    env.openAIBaseURL = server.url("");
    setOnline(true);
    byok().setEnabled(true);
    show();
    auto* field = find<QLineEdit>("settings.byok.apiKeyField");
    field->setFocus();
    QTest::keyClicks(field, "sk-bad");
    find<QPushButton>("settings.byok.saveAndVerifyButton")->click();
    settle();
    field = find<QLineEdit>("settings.byok.apiKeyField");
    EXPECT_EQ(field->text(), "");
    EXPECT_TRUE(showsText("Failed"));
    EXPECT_TRUE(showsText("Invalid API key"));
    QTest::keyClicks(field, "s");
    EXPECT_EQ(status().kind, Kind::idle);
    EXPECT_FALSE(showsText("Invalid API key"));
    EXPECT_TRUE(find<QLineEdit>("settings.byok.apiKeyField")->hasFocus());
}

TEST_F(Pane, TheTypedKeyIsDroppedWhenThePaneLeaves) {
    setOnline(true);
    byok().setEnabled(true);
    show();
    QTest::keyClicks(find<QLineEdit>("settings.byok.apiKeyField"), "sk-half");
    EXPECT_EQ(typed(), "sk-half");
    EXPECT_TRUE(find<QPushButton>("settings.byok.saveAndVerifyButton")->isEnabled());
    pane->hide();
    EXPECT_EQ(typed(), "");
    pane->show();
    EXPECT_EQ(find<QLineEdit>("settings.byok.apiKeyField")->text(), "");
}

}  // namespace
}  // namespace ravlin::testing
