#pragma once

// The About pane: the program's icon, name and version, a button that starts an update check and
// the automatic-check box. It talks only to the update service and the build settings.

#include <string>
#include <vector>

#include <QObject>

#include "app/preferences/build_config.h"
#include "core/support/subscription.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QWidget;

namespace ravlin {

class QNViewSettings;

// "CFBundleDisplayName", else "CFBundleName", else "Ravlin" (in this desktop's words).
[[nodiscard]] std::string appDisplayName(const QNConfigBuild& build);
// "CFBundleVersion", else "0".
[[nodiscard]] std::string appBuildVersion(const QNConfigBuild& build);

class QNPaneAbout final : public QObject {
  public:
    static constexpr int iconSize = 56;

    QNPaneAbout(QNViewSettings& view, QWidget& content);
    ~QNPaneAbout() override;

    void refresh();
    // The checkbox's setter: asks the update service, then shows what the updater holds.
    void setAutomaticallyChecks(bool value);

    [[nodiscard]] QLabel* iconLabel() const { return icon_; }
    [[nodiscard]] QLabel* nameLabel() const { return name_; }
    [[nodiscard]] QLabel* versionLabel() const { return version_; }
    [[nodiscard]] QPushButton* checkButton() const { return check_; }
    [[nodiscard]] QCheckBox* automaticToggle() const { return automatic_; }

  private:
    QNViewSettings& view_;
    QLabel* icon_ = nullptr;
    QLabel* name_ = nullptr;
    QLabel* version_ = nullptr;
    QPushButton* check_ = nullptr;
    QCheckBox* automatic_ = nullptr;
    bool refreshing_ = false;
    std::vector<Subscription> subscriptions_;
};

}  // namespace ravlin
