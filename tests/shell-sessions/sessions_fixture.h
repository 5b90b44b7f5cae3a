#pragma once

// A started coordinator over the simulated desktop: the on-device model is a scripted provider
// that writes "teh" as "the"; the work runner and virtual time move only when the test drives
// them; an application with a text field can be put in front.

#include <gtest/gtest.h>

#include <QApplication>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/composer/composer_service.h"
#include "app/editor/controller_auto_correcting_text.h"
#include "app/editor/panel_composition.h"
#include "app/shell/triggers/double_tap_trigger.h"
#include "app/shell/triggers/quick_fix_double_tap_trigger.h"
#include "app/target/quick_fix_hud.h"
#include "tests/support/coordinator_fixture.h"
#include "tests/support/scripted_provider.h"

namespace ravlin::testing {

using namespace std::chrono_literals;

class SessionsFixture : public CoordinatorFixture {
  public:
    SessionsFixture() {
        onDevice->setGenerateHandler([](const QNModelCorrectionRequest& request, std::stop_token) {
            std::u16string text = request.text;
            for (auto at = text.find(u"teh"); at != std::u16string::npos; at = text.find(u"teh")) {
                text.replace(at, 3, u"the");
            }
            return ScriptedProvider::success(request.text, text);
        });
    }
    ~SessionsFixture() override {
        app.reset();
        drive(2s);
    }

    [[nodiscard]] std::shared_ptr<QNCoordinatorApp> make() {
        auto env = environment();
        env.foundationModels = [provider = onDevice](const std::string&) { return provider; };
        env.isDocumentWindow = [focused = documentWindowFocused] { return *focused; };
        auto coordinator = QNCoordinatorApp::create(std::move(env));
        coordinator->logger->startCapturing();
        return coordinator;
    }
    void startApp() {
        app = make();
        app->start();
        drive(50ms);
    }
    // Queued work and virtual time, in 5 ms steps.
    void drive(std::chrono::milliseconds total) {
        for (auto passed = 0ms; passed <= total; passed += 5ms) {
            while (workRunner->runNext() || executor->runUntilIdle() > 0) {
            }
            executor->advance(5ms);
        }
    }

    struct Target {
        platform::RunningApplication app;
        platform::ElementRef field;
    };
    Target openTarget(std::u16string value, text::Utf16Range selection = {},
                      std::string identity = "gedit", std::string role = "AXTextField",
                      bool settable = true, std::optional<std::int64_t> maxLength = std::nullopt) {
        const auto pid = desktop.addApplication({.identity = identity, .name = identity});
        const auto field = desktop.addElement(desktop.addWindow(pid, {100, 100, 600, 400}),
                                              {.role = std::move(role),
                                               .value = std::move(value),
                                               .selection = selection,
                                               .settable = settable,
                                               .maxLength = maxLength,
                                               .frame = platform::Rect{120, 140, 400, 24}});
        desktop.focus(field);
        desktop.setFrontmost(pid);
        return {{pid, identity, identity}, field};
    }

    [[nodiscard]] std::vector<std::string> lines() const { return sessionLines(*app); }
    [[nodiscard]] long written(const std::string& line) const {
        const auto all = lines();
        return std::count(all.begin(), all.end(), line);
    }
    // The lines from index `from` on that contain `part`.
    [[nodiscard]] std::vector<std::string> linesWith(const std::string& part,
                                                     std::size_t from = 0) const {
        std::vector<std::string> found;
        const auto all = lines();
        std::copy_if(all.begin() + static_cast<std::ptrdiff_t>(std::min(from, all.size())),
                     all.end(), std::back_inserter(found),
                     [&](const std::string& line) { return line.find(part) != std::string::npos; });
        return found;
    }
    [[nodiscard]] std::u16string panelText() const { return app->textController->string(); }
    // The title of the heads-up on screen, if one is.
    [[nodiscard]] static std::optional<std::string> headsUpTitle() {
        for (auto* widget : QApplication::topLevelWidgets()) {
            if (auto* hud = dynamic_cast<QNQuickFixHUDPanel*>(widget); hud && hud->isVisible()) {
                return hud->hostingView()->title().toStdString();
            }
        }
        return std::nullopt;
    }
    [[nodiscard]] std::u16string fieldValue(platform::ElementRef field) const {
        return desktop.value(field).value_or(u"<none>");
    }

    std::shared_ptr<ScriptedProvider> onDevice = ScriptedProvider::make("on-device");
    std::shared_ptr<bool> documentWindowFocused = std::make_shared<bool>(false);
    std::shared_ptr<QNCoordinatorApp> app;
};

}  // namespace ravlin::testing
