#pragma once

// A started coordinator over the simulated desktop for the routing and session suites: the
// on-device model is a scripted provider that writes "teh" as "the", the work runner and virtual
// time move only when the test runs them, and an editor application can be put in front with a
// text field.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/composer/composer_service.h"
#include "app/editor/controller_auto_correcting_text.h"
#include "app/editor/panel_composition.h"
#include "app/shell/coordinator.h"
#include "app/shell/triggers/double_tap_trigger.h"
#include "app/shell/triggers/quick_fix_double_tap_trigger.h"
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

    // Starts the coordinator and lets everything start-up posted run.
    void startApp() {
        auto env = environment();
        env.foundationModels = [provider = onDevice](const std::string&) { return provider; };
        env.isDocumentWindow = [focused = documentWindowFocused] { return *focused; };
        app = QNCoordinatorApp::create(std::move(env));
        app->logger->startCapturing();
        app->start();
        drive(50ms);
    }

    // Runs queued work and virtual time, in 5 ms steps, for `total`.
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
    // An application in front with a focused text field holding `value` and `selection`.
    Target openTarget(std::u16string value, text::Utf16Range selection = {},
                      std::string identity = "gedit", std::string role = "AXTextField") {
        const auto pid = desktop.addApplication({.identity = identity, .name = identity});
        const auto window = desktop.addWindow(pid, {100, 100, 600, 400});
        const auto field = desktop.addElement(window, {.role = role,
                                                       .value = std::move(value),
                                                       .selection = selection,
                                                       .frame = platform::Rect{120, 140, 400, 24}});
        desktop.focus(field);
        desktop.setFrontmost(pid);
        return {{pid, identity, identity}, field};
    }

    [[nodiscard]] std::vector<std::string> lines() const { return sessionLines(*app); }
    // How often `line` was written, exactly.
    [[nodiscard]] long written(const std::string& line) const {
        const auto all = lines();
        return std::count(all.begin(), all.end(), line);
    }
    // The session-log lines from `from` on that contain `part`.
    [[nodiscard]] std::vector<std::string> linesWith(const std::string& part,
                                                     std::size_t from = 0) const {
        std::vector<std::string> found;
        const auto all = lines();
        for (std::size_t i = from; i < all.size(); ++i) {
            if (all[i].find(part) != std::string::npos) {
                found.push_back(all[i]);
            }
        }
        return found;
    }
    [[nodiscard]] std::u16string panelText() const { return app->textController->string(); }
    [[nodiscard]] std::u16string fieldValue(platform::ElementRef field) const {
        return desktop.value(field).value_or(u"<none>");
    }

    std::shared_ptr<ScriptedProvider> onDevice = ScriptedProvider::make("on-device");
    std::shared_ptr<QNCoordinatorApp> app;
    std::shared_ptr<bool> documentWindowFocused = std::make_shared<bool>(false);
};

}  // namespace ravlin::testing
