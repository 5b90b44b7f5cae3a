#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "app/shell/recorders/local_key_monitor.h"
#include "core/support/executor.h"
#include "platform/fake/fake_desktop.h"

namespace ravlin::testing {

// The application-local monitor, driven by the test.
class FakeLocalMonitor final : public QNLocalKeyMonitor {
  public:
    Subscription add(std::uint64_t mask, Handler handler) override {
        if (refuse) {
            return {};
        }
        this->mask = mask;
        this->handler = std::move(handler);
        return Subscription([this] { this->handler = nullptr; });
    }
    // True when consumed; false when not monitored or passed on.
    bool send(platform::InputEvent event) {
        auto running = handler;  // the handler may remove itself
        return running && running(event);
    }

    bool refuse = false;
    std::uint64_t mask = 0;
    Handler handler;
};

// A fake desktop with one editor in front whose text field has the focus.
class TriggerDesktop : public ::testing::Test {
  public:
    TriggerDesktop() {
        editor = desktop.addApplication({.identity = "org.example.Editor", .name = "Editor"});
        window = desktop.addWindow(editor, {});
        field = desktop.addElement(window, {.value = u""});
        desktop.focus(field);
        desktop.setFrontmost(editor);
    }

    void after(int milliseconds) { executor->advance(std::chrono::milliseconds(milliseconds)); }
    void press(std::uint32_t keyCode, std::u16string characters, std::uint64_t flags = 0) {
        desktop.sendUserEvent({.type = platform::InputEventType::keyDown,
                               .keyCode = keyCode,
                               .flags = flags,
                               .characters = std::move(characters)});
    }
    void click() { desktop.sendUserEvent({.type = platform::InputEventType::leftMouseDown}); }
    [[nodiscard]] std::u16string text() const { return desktop.value(field).value_or(u"?"); }
    [[nodiscard]] bool logged(std::string_view category, std::string_view message) const {
        for (const auto& record : desktop.logRecords()) {
            if (record.category == category && record.message == message) {
                return true;
            }
        }
        return false;
    }

    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    platform::fake::FakeDesktop desktop{executor};
    platform::ProcessID editor = 0;
    platform::ElementRef window;
    platform::ElementRef field;
};

}  // namespace ravlin::testing
