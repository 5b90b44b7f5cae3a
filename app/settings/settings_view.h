#pragma once

// The settings content: shows the pane selected in the shared QNStoreSettingsWindow, switches
// panes with a short scale-and-fade, measures the height of the pane on screen, caches it under
// the pane and a layout signature (which optional rows show now) and reports the content size it
// wants to the window. On appearing it refreshes Accessibility trust and the launch-at-login
// status, starts a Codex tool detection and observes the update service; the General pane polls
// trust once a second while it is on screen.
//
// Two renderings: live, over QNModelSettingsDependencies; and the preview, drawn from a
// QNModelSettingsPreviewSnapshot at its fixed size, touching no store or service.
//
// Pane content: each pane is a widget the view builds once. The Correction pane is
// QNViewCorrectionPane (pane_correction.h) over the coordinator unless the view is given content
// of its own.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QPointer>
#include <QSize>
#include <QWidget>

#include "app/settings/byok_state.h"
#include "app/settings/dependencies.h"
#include "app/settings/preview_snapshot.h"
#include "app/settings/settings_form.h"
#include "app/settings/settings_pane.h"
#include "app/settings/settings_window.h"
#include "core/support/observable.h"
#include "core/support/subscription.h"
#include "core/support/uuid.h"

class QStackedWidget;

namespace ravlin {

class QNPaneAbout;
class QNPaneGeneral;
class QNPaneShortcuts;
class QNViewSettings;

// Which recorder of the Shortcuts pane captures keys.
enum class QNModeKeyCapture { hotKey, doubleTap, quickFix };

struct QNModelSettingsPaneMeasurementKey {
    QNModelSettingsPane pane = QNModelSettingsPane::general;
    std::string layoutSignature;

    friend bool operator==(const QNModelSettingsPaneMeasurementKey&,
                           const QNModelSettingsPaneMeasurementKey&) = default;
    friend auto operator<=>(const QNModelSettingsPaneMeasurementKey&,
                            const QNModelSettingsPaneMeasurementKey&) = default;
};

// What the signatures and default heights read, gathered from the stores (or built by tests).
struct QNSettingsLayoutInputs {
    // General
    bool launchRequiresApproval = false;
    bool launchHasError = false;
    // Correction
    bool online = false;
    bool byokEnabled = false;
    bool codexCLI = false;
    bool hasKey = false;
    std::optional<std::string> saveStatusMessage;
    QNCodexCLIDetection codexDetection;
    bool onlineConfigured = false;
    bool customLocalOn = false;
    bool customOnlineOn = false;
    // Shortcuts
    bool hasHotKeyError = false;
};

[[nodiscard]] std::string layoutSignature(QNModelSettingsPane pane,
                                          const QNSettingsLayoutInputs& inputs);
// The default content height of the pane until a measurement exists.
[[nodiscard]] int estimatedContentHeight(QNModelSettingsPane pane,
                                         const QNSettingsLayoutInputs& inputs);

using QNSettingsMeasuredHeights = std::map<QNModelSettingsPaneMeasurementKey, double>;

// Width 500; the measured height under `key` (rounded up, at least 220) when one exists, else
// `estimatedHeight`; at most 600 unless the pane is Correction.
[[nodiscard]] QSize preferredContentSize(const QNSettingsMeasuredHeights& heights,
                                         const QNModelSettingsPaneMeasurementKey& key,
                                         int estimatedHeight);
// Stores the height (rounded up) under `key` when it is finite, positive and moves the stored
// one by more than 0.5. Returns whether it stored.
bool recordMeasuredHeight(QNSettingsMeasuredHeights& heights,
                          const QNModelSettingsPaneMeasurementKey& key, double height);

// The Correction pane's content, 460 wide.
using QNSettingsCorrectionContent = std::function<QWidget*(QNViewSettings& view)>;

class QNViewSettings final : public QWidget {
  public:
    static constexpr int contentWidth = 500;
    static constexpr int minimumMeasuredHeight = 220;
    static constexpr int maximumHeight = 600;
    static constexpr int transitionMs = 240;
    static constexpr double transitionScale = 0.985;
    static constexpr std::chrono::milliseconds accessibilityPollingInterval{1000};

    using SizeCallback = std::function<void(QSize)>;

    // Live when `dependencies` is given and `previewSnapshot` is not; otherwise the preview.
    // `correctionContent` empty: the Correction pane over the coordinator (none in the preview).
    QNViewSettings(std::shared_ptr<QNStoreSettingsWindow> windowState,
                   std::optional<QNModelSettingsDependencies> dependencies,
                   std::optional<QNModelSettingsPreviewSnapshot> previewSnapshot,
                   SizeCallback onPreferredContentSizeChange,
                   QNSettingsCorrectionContent correctionContent = {}, QWidget* parent = nullptr);
    ~QNViewSettings() override;

    [[nodiscard]] QNStoreSettingsWindow& windowState() const { return *windowState_; }
    // Absent in the preview rendering.
    [[nodiscard]] const std::optional<QNModelSettingsDependencies>& dependencies() const {
        return dependencies_;
    }
    [[nodiscard]] const std::optional<QNModelSettingsPreviewSnapshot>& previewSnapshot() const {
        return previewSnapshot_;
    }
    [[nodiscard]] bool isPreview() const { return previewSnapshot_.has_value(); }

    // --- Shared view state
    Observable<bool> canCheckForUpdates{false};
    Observable<bool> automaticallyChecksForUpdates{false};
    [[nodiscard]] const std::optional<Uuid>& updateObserverID() const { return updateObserverID_; }
    // The Shortcuts pane's.
    Observable<std::optional<std::string>> hotKeyError;
    Observable<std::optional<QNModeKeyCapture>> activeKeyCapture;
    // The own-key rows'.
    [[nodiscard]] QNModelBYOKViewState& byok() const { return *byok_; }
    [[nodiscard]] const std::shared_ptr<QNModelBYOKViewState>& byokState() const { return byok_; }
    [[nodiscard]] const QNSettingsMeasuredHeights& measuredPaneHeights() const {
        return measuredPaneHeights_;
    }

    // --- Sizing
    [[nodiscard]] QNSettingsLayoutInputs layoutInputs() const;
    [[nodiscard]] std::string layoutSignature() const;
    [[nodiscard]] QSize estimatedContentSize() const;
    [[nodiscard]] QSize preferredContentSize() const;
    void recordMeasuredHeight(double height);
    // Measures the pane on screen now and records it (also runs on every layout request).
    void measureSelectedPane();
    // Reports the preferred size when it differs from the last one reported.
    void preferredSizeMayHaveChanged();

    // --- Appear work
    void handleAppear();
    void handleDisappear();
    void startObservingUpdates();
    void stopObservingUpdates();
    void startAccessibilityWatch();
    void stopAccessibilityWatch();

    // The pane widgets (the container the view shows for each pane).
    [[nodiscard]] QWidget* paneWidget(QNModelSettingsPane pane) const;
    // The Form of the General or Shortcuts pane (nullptr for the others).
    [[nodiscard]] QNSettingsForm* form(QNModelSettingsPane pane) const;
    // What the view measures for a pane: its Form (for Correction, the Correction content), or
    // the About content.
    [[nodiscard]] QWidget* measuredContent(QNModelSettingsPane pane) const;
    [[nodiscard]] QWidget* aboutContent() const;
    [[nodiscard]] QNPaneGeneral* generalPane() const;
    [[nodiscard]] QNPaneShortcuts* shortcutsPane() const;
    [[nodiscard]] QNPaneAbout* aboutPane() const;
    [[nodiscard]] bool isTransitionRunning() const;
    [[nodiscard]] bool animationsEnabled() const;

    QSize sizeHint() const override;

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Private;
    void buildPanes();
    QWidget* makeCorrectionContent();
    void observeInputs();
    void selectedPaneChanged(QNModelSettingsPane previous, QNModelSettingsPane pane);
    [[nodiscard]] int measurePane(QNModelSettingsPane pane) const;
    void readUpdaterFlags();

    std::shared_ptr<QNStoreSettingsWindow> windowState_;
    std::optional<QNModelSettingsDependencies> dependencies_;
    std::optional<QNModelSettingsPreviewSnapshot> previewSnapshot_;
    SizeCallback onPreferredContentSizeChange_;
    QNSettingsCorrectionContent correctionContent_;
    std::shared_ptr<QNModelBYOKViewState> byok_ = std::make_shared<QNModelBYOKViewState>();
    std::optional<Uuid> updateObserverID_;
    QNSettingsMeasuredHeights measuredPaneHeights_;
    std::unique_ptr<Private> d_;
};

}  // namespace ravlin
