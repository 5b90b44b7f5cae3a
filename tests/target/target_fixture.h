#pragma once

// The simulated desktop with an editor, the target seams over it (frontmost tests counted), and a
// way to keep what a flow gives.

#include <gtest/gtest.h>
#include <qcoro/qcorotask.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/target/focus_snapshot.h"
#include "app/target/quick_fix_host.h"
#include "app/target/quick_fix_pasteboard_manager.h"
#include "app/target/target_seams.h"
#include "core/support/executor.h"
#include "platform/fake/fake_desktop.h"

namespace ravlin {
inline void PrintTo(const QNQuickFixCommitResult& result, std::ostream* out) {
    *out << toString(result);
}
inline void PrintTo(const QNPasteOutcome& outcome, std::ostream* out) {
    *out << toString(outcome.result) << ' ' << outcome.reason << ' ' << outcome.chordName;
}
}  // namespace ravlin

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
    std::optional<std::uint64_t> frontmostWindow() override { return inner_->frontmostWindow(); }
    platform::Status openURL(std::string_view url) override { return inner_->openURL(url); }
    Subscription observeFrontmost(
        std::function<void(const std::optional<RunningApplication>&)> onChange) override {
        return inner_->observeFrontmost(std::move(onChange));
    }

  private:
    std::shared_ptr<platform::Workspace> inner_;
};

// Another pasteboard (the simulated desktop's), passed through: a test's double overrides what
// it changes.
struct ForwardingPasteboard : platform::Pasteboard {
    explicit ForwardingPasteboard(std::shared_ptr<platform::Pasteboard> inner)
        : inner(std::move(inner)) {}
    std::shared_ptr<platform::Pasteboard> inner;

    std::int64_t changeCount() override { return inner->changeCount(); }
    std::int64_t clear() override { return inner->clear(); }
    platform::Status setString(std::u16string_view text) override { return inner->setString(text); }
    bool holdsOwnChange() override { return inner->holdsOwnChange(); }
    platform::WriteFetch lastWriteFetchedBy(const platform::FetchTarget& target) override {
        return inner->lastWriteFetchedBy(target);
    }
    Subscription observeChanges(std::function<void(std::int64_t)> onChange) override {
        return inner->observeChanges(std::move(onChange));
    }
    void readContents(std::function<void(platform::PasteboardContents)> done) override {
        inner->readContents(std::move(done));
    }
    platform::Status writeContents(const platform::PasteboardContents& contents) override {
        return inner->writeContents(contents);
    }
    void readString(std::function<void(std::optional<std::u16string>)> done) override {
        inner->readString(std::move(done));
    }
};

// The simulated desktop's accessibility, with attributes hidden from the code under test and
// parameterized reads answered by the test; every read is logged.
class ScriptedAccessibility final : public platform::Accessibility {
  public:
    using Answer = platform::Expected<platform::AttributeValue>;
    explicit ScriptedAccessibility(std::shared_ptr<platform::Accessibility> inner)
        : inner_(std::move(inner)) {}

    // Attribute names answered notFound, for every element.
    std::set<std::string, std::less<>> hidden;
    // When they give an answer, that answer stands for the desktop's.
    std::function<std::optional<Answer>(std::string_view)> attributes;
    std::function<std::optional<Answer>(std::string_view, const platform::AttributeValue&)>
        parameterized;
    std::vector<std::string> reads;  // attribute names, parameterized ones included

    bool isTrusted(bool prompt) override { return inner_->isTrusted(prompt); }
    Subscription observeTrust(std::function<void(bool)> f) override {
        return inner_->observeTrust(std::move(f));
    }
    ElementRef systemWideElement() override { return inner_->systemWideElement(); }
    platform::Expected<ElementRef> applicationElement(ProcessID pid) override {
        return inner_->applicationElement(pid);
    }
    platform::Expected<ProcessID> processID(ElementRef e) override { return inner_->processID(e); }
    Subscription observeFocus(std::function<void(ElementRef)> f) override {
        return inner_->observeFocus(std::move(f));
    }
    Answer attribute(ElementRef element, std::string_view name) override {
        reads.emplace_back(name);
        if (hidden.contains(name)) {
            return platform::Error{platform::ErrorCode::notFound};
        }
        if (attributes) {
            if (auto answer = attributes(name)) {
                return *answer;
            }
        }
        return inner_->attribute(element, name);
    }
    Answer parameterizedAttribute(ElementRef element, std::string_view name,
                                  const platform::AttributeValue& parameter) override {
        reads.emplace_back(name);
        if (parameterized) {
            if (auto answer = parameterized(name, parameter)) {
                return *answer;
            }
        }
        return inner_->parameterizedAttribute(element, name, parameter);
    }
    platform::Expected<bool> isAttributeSettable(ElementRef e, std::string_view name) override {
        return inner_->isAttributeSettable(e, name);
    }
    platform::Status setAttribute(ElementRef e, std::string_view name,
                                  const platform::AttributeValue& value) override {
        return inner_->setAttribute(e, name, value);
    }
    void release(ElementRef e) override { inner_->release(e); }

  private:
    std::shared_ptr<platform::Accessibility> inner_;
};

// Runs a task to its end, keeping what it gives. (Defined in the .cpp: clang 14 cannot emit a
// coroutine that is a template or inline.)
std::shared_ptr<std::optional<bool>> start(QCoro::Task<bool> task);
std::shared_ptr<std::optional<QNPasteOutcome>> start(QCoro::Task<QNPasteOutcome> task);
std::shared_ptr<std::optional<QNModelPasteboardSnapshot>> start(
    QCoro::Task<QNModelPasteboardSnapshot> task);
std::shared_ptr<std::optional<QNModelFocusSnapshot>> start(QCoro::Task<QNModelFocusSnapshot> task);
std::shared_ptr<std::optional<std::optional<std::u16string>>> start(
    QCoro::Task<std::optional<std::u16string>> task);
std::shared_ptr<std::optional<std::optional<QNQuickFixHostSession>>> start(
    QCoro::Task<std::optional<QNQuickFixHostSession>> task);
std::shared_ptr<std::optional<QNQuickFixCommitResult>> start(
    QCoro::Task<QNQuickFixCommitResult> task);
std::shared_ptr<std::optional<std::size_t>> start(QCoro::Task<std::size_t> task);

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
    std::shared_ptr<ScriptedAccessibility> accessibility =
        std::make_shared<ScriptedAccessibility>(fakeSeams.accessibility);

    // Flows stopped when a test's pasteboard manager went (its watches) end on the sequence.
    ~TargetFixture() { executor->runUntilIdle(); }

    [[nodiscard]] TargetSeams seams(std::weak_ptr<QNQuickFixPasteboardManager> manager = {}) {
        auto seams = TargetSeams::from(fakeSeams, executor, std::move(manager));
        seams.workspace = workspace;
        seams.accessibility = accessibility;
        return seams;
    }
    struct Target {
        RunningApplication app;
        ElementRef field;
    };
    std::size_t keysBefore = 0;
    std::int64_t countBefore = 0;

    // A new application in front with `spec` focused, the user's text on the clipboard; the keys
    // and the change count from here on are counted.
    Target open(platform::fake::ApplicationDescription app, platform::fake::ElementDescription spec) {
        const auto pid = desktop.addApplication(app);
        const auto field = desktop.addElement(desktop.addWindow(pid, {}), std::move(spec));
        desktop.focus(field);
        desktop.setFrontmost(pid);
        desktop.copyToPasteboard(u"user's secret");
        keysBefore = desktop.postedKeys().size();
        countBefore = fakeSeams.pasteboard->changeCount();
        return {{pid, app.identity, app.name}, field};
    }
    // Synthetic keys of `kind` posted since `open` (with `keyCode`, unless text).
    [[nodiscard]] int count(platform::fake::PostedKey::Kind kind, std::uint32_t keyCode = 0) const {
        const auto& keys = desktop.postedKeys();
        return static_cast<int>(std::count_if(
            keys.begin() + static_cast<std::ptrdiff_t>(keysBefore), keys.end(),
            [&](const platform::fake::PostedKey& key) {
                return key.kind == kind && (kind == platform::fake::PostedKey::Kind::text ||
                                            key.chord.keyCode == keyCode);
            }));
    }
    // Starts a flow and runs virtual time until it has finished; what it gave.
    template <class T>
    T finish(std::shared_ptr<std::optional<T>> result) {
        runUntil([&] { return result->has_value(); });
        EXPECT_TRUE(result->has_value()) << "the flow did not finish";
        return result->has_value() ? std::move(**result) : T{};
    }
    // The user's contents as a borrower saves them (on the simulated desktop, at once).
    [[nodiscard]] QNModelPasteboardSnapshot captured(const TargetSeams& seams) {
        return finish(start(QNModelPasteboardSnapshot::capture(seams)));
    }
    [[nodiscard]] std::optional<std::u16string> clipboard() { return desktop.pasteboardString(); }
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

}  // namespace ravlin::testing
