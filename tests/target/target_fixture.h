#pragma once

// The simulated desktop with an editor, the target seams over it (frontmost tests counted), and a
// way to keep what a flow gives.

#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "app/target/quick_fix_pasteboard_manager.h"
#include "app/target/target_seams.h"
#include "core/support/executor.h"
#include "platform/fake/fake_desktop.h"

namespace ravlin::testing {

using namespace std::chrono_literals;
using platform::ElementRef;
using platform::ProcessID;
using platform::RunningApplication;

class CountingWorkspace final : public platform::Workspace {
  public:
    explicit CountingWorkspace(std::shared_ptr<platform::Workspace> inner)
        : inner_(std::move(inner)) {}
    int frontmostTests = 0;

    std::optional<RunningApplication> frontmostApplication() override {
        return ++frontmostTests, inner_->frontmostApplication();
    }
    RunningApplication currentApplication() override { return inner_->currentApplication(); }
    bool activate(ProcessID pid) override { return inner_->activate(pid); }
    platform::Status openURL(std::string_view url) override { return inner_->openURL(url); }
    Subscription observeFrontmost(
        std::function<void(const std::optional<RunningApplication>&)> onChange) override {
        return inner_->observeFrontmost(std::move(onChange));
    }

  private:
    std::shared_ptr<platform::Workspace> inner_;
};

struct TargetFixture {
    std::shared_ptr<ManualExecutor> executor = std::make_shared<ManualExecutor>();
    platform::fake::FakeDesktop desktop{executor};
    platform::Seams fakeSeams = desktop.seams();
    std::shared_ptr<CountingWorkspace> workspace =
        std::make_shared<CountingWorkspace>(fakeSeams.workspace);
    ProcessID editorPid = desktop.addApplication({.identity = "editor", .name = "Editor"});
    ElementRef window = desktop.addWindow(editorPid, {});
    RunningApplication editor{editorPid, "editor", "Editor"};
    RunningApplication self{desktop.ownPid(), "ravlin", "Ravlin"};

    [[nodiscard]] TargetSeams seams(std::weak_ptr<QNQuickFixPasteboardManager> manager = {}) {
        auto seams = TargetSeams::from(fakeSeams, executor, std::move(manager));
        seams.workspace = workspace;
        return seams;
    }
    [[nodiscard]] std::optional<std::u16string> clipboard() {
        return fakeSeams.pasteboard->string();
    }
    // Runs virtual time task by task until `done`; the time that took.
    template <class Done>
    std::chrono::nanoseconds runUntil(Done done) {
        const auto began = executor->now();
        while (!done() && executor->nextDueTime()) {
            executor->advance(*executor->nextDueTime() - executor->now());
        }
        return executor->now() - began;
    }
};

// Runs a task to its end, keeping what it gives. (Defined in the .cpp: clang 14 cannot emit a
// coroutine that is a template or inline.)
std::shared_ptr<std::optional<bool>> start(QCoro::Task<bool> task);
std::shared_ptr<std::optional<QNPasteResult>> start(QCoro::Task<QNPasteResult> task);

}  // namespace ravlin::testing
