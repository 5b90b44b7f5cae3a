#pragma once

// The General pane: the Accessibility grant row, launching at login and the Composer's font
// size. Launch at login goes to its store; the font size only to the coordinator.

#include <vector>

#include <QObject>

#include "app/preferences/preference_stores.h"
#include "core/support/subscription.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QSlider;

namespace ravlin {

class QNGrantRow;
class QNSettingsForm;
class QNSettingsSection;
class QNViewSettings;

class QNPaneGeneral final : public QObject {
  public:
    QNPaneGeneral(QNViewSettings& view, QNSettingsForm& form);
    ~QNPaneGeneral() override;

    // Shows what the stores (or the preview snapshot) hold now.
    void refresh();
    // The slider's setter: rounds half away from zero, clamps to the sizes and asks the
    // coordinator only for a size different from the stored one.
    void setFontSizeValue(double value);

    [[nodiscard]] QNGrantRow* grantRow() const { return grantRow_; }
    [[nodiscard]] QLabel* revokedLabel() const { return revoked_; }
    [[nodiscard]] QCheckBox* launchToggle() const { return launchToggle_; }
    [[nodiscard]] QLabel* launchErrorLabel() const { return launchError_; }
    [[nodiscard]] QNSettingsSection* launchSection() const { return launchSection_; }
    [[nodiscard]] QLabel* launchStatusLabel() const { return launchStatus_; }
    // Shown only while approval is required.
    [[nodiscard]] QPushButton* openLoginItemsButton() const { return openLoginItems_; }
    [[nodiscard]] QSlider* fontSizeSlider() const { return slider_; }

  private:
    void setLaunchAtLogin(bool enabled);

    QNViewSettings& view_;
    QNGrantRow* grantRow_ = nullptr;
    QLabel* revoked_ = nullptr;
    QCheckBox* launchToggle_ = nullptr;
    QLabel* launchError_ = nullptr;
    QNSettingsSection* launchSection_ = nullptr;
    QWidget* launchFooter_ = nullptr;
    QLabel* launchStatus_ = nullptr;
    QPushButton* openLoginItems_ = nullptr;
    QSlider* slider_ = nullptr;
    bool refreshing_ = false;
    std::vector<Subscription> subscriptions_;
};

}  // namespace ravlin
