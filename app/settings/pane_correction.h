#pragma once

// The Correction pane: the on-device model's status and any correction warning; the cloud
// switch with the privacy note and the Codex setup warning; and the "Advanced" section with the
// custom prompt switches, in online mode the own-key block, and its explanation.
//
// The pane follows its stores: any change of a value it read (also from the tray's cloud item)
// builds its rows again. The on-device model's availability and the online endpoint's status
// are taken each time it is built. Typing a key changes only the field and its button, so the
// field keeps the focus. When the pane leaves the screen the typed key is dropped.

#include <memory>
#include <vector>

#include <QWidget>

#include "app/settings/byok_rows.h"
#include "core/support/subscription.h"

class QVBoxLayout;

namespace ravlin {

class QNControllerCorrectionSettings;

class QNViewCorrectionPane final : public QWidget {
  public:
    explicit QNViewCorrectionPane(std::shared_ptr<QNControllerCorrectionSettings> controller,
                                  QWidget* parent = nullptr);
    ~QNViewCorrectionPane() override;

    // Builds every row again from the stores and the view state.
    void rebuild();
    [[nodiscard]] QNControllerCorrectionSettings& controller() const { return *controller_; }

  protected:
    void hideEvent(QHideEvent* event) override;

  private:
    void keyInputChanged();

    std::shared_ptr<QNControllerCorrectionSettings> controller_;
    QVBoxLayout* layout_ = nullptr;
    QWidget* content_ = nullptr;
    QNBYOKKeyRowWidgets keyRow_;
    bool keyStoredShown_ = false;
    std::vector<Subscription> subscriptions_;
};

}  // namespace ravlin
