#pragma once

// The settings window over a started coordinator on the simulated desktop, its animations off,
// the program's activation counted. The Correction pane gets content of the test's own height.

#include <QApplication>
#include <QWidget>

#include <memory>

#include "app/settings/settings_view.h"
#include "app/settings/settings_window.h"
#include "app/shell/permissions.h"
#include "tests/support/coordinator_fixture.h"

namespace ravlin::testing {

class SettingsFixture : public CoordinatorFixture {
  public:
    // Height of the Correction content; changing it re-lays the pane out.
    int correctionHeight = 300;

    std::shared_ptr<QNCoordinatorApp> coordinator = startCoordinator();
    int activations = 0;
    QPointer<QWidget> correctionContent;
    QNControllerSettingsWindow controller{
        [this](std::shared_ptr<QNStoreSettingsWindow> state, std::function<void(QSize)> onSize) {
            return new QNViewSettings(std::move(state),
                                      QNModelSettingsDependencies::live(coordinator), std::nullopt,
                                      std::move(onSize), [this](QNViewSettings&) {
                                          correctionContent = new QWidget;
                                          correctionContent->setMinimumHeight(correctionHeight);
                                          return correctionContent.data();
                                      });
        },
        [this] { ++activations; }};

    SettingsFixture() { controller.setAnimationsEnabled(false); }
    ~SettingsFixture() override {
        delete controller.window();
        // Detections still queued hold the runner itself.
        drainWork();
    }

    QNWindowSettings& show(std::optional<QNModelSettingsPane> pane = std::nullopt) {
        controller.show(pane);
        settle();
        return *controller.window();
    }
    void settle() {
        QApplication::processEvents();
        executor->runUntilIdle();
        QApplication::processEvents();
    }
    // Runs queued work and what it posts until nothing is left.
    void drainWork() {
        do {
            settle();
        } while (workRunner->runAll() > 0);
    }
    [[nodiscard]] QNViewSettings& view() const { return *controller.content(); }
    template <class T>
    [[nodiscard]] T* find(const char* identifier) const {
        return controller.window()->findChild<T*>(QString::fromLatin1(identifier));
    }
    [[nodiscard]] QNStoreHotKey& hotKeyStore() const { return *coordinator->stores->hotKey; }
    [[nodiscard]] QNStoreDoubleTap& doubleTapStore() const {
        return *coordinator->stores->doubleTap;
    }
};

}  // namespace ravlin::testing
