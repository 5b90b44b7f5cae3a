#pragma once

// The Shortcuts pane: the Composer shortcut, the typed double tap and the Quick Fix double tap,
// each with its recorder and a reset to the default, at most one recorder capturing at a time
// (the view's `activeKeyCapture`). Every change goes to the coordinator's trigger operations; the
// pane writes no store. Also the Accessibility grant row the General pane shows.

#include <cstdint>
#include <optional>
#include <vector>

#include <QObject>
#include <QWidget>

#include "app/preferences/hot_key.h"
#include "app/shell/permissions.h"
#include "core/support/subscription.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QToolButton;

namespace ravlin {

class QNSettingsForm;
class QNSettingsSection;
class QNViewDoubleTapKeyRecorder;
class QNViewHotKeyRecorder;
class QNViewSettings;

// "Correct text in any app", then "Granted" or the "Grant Access" button; under it, once access
// was asked for and granted, that applications started before may need a restart; once asked
// for where no accessibility bus answered, that and what to do; and without the session's bus,
// that Ravlin must be started inside the desktop session.
class QNGrantRow final : public QWidget {
  public:
    explicit QNGrantRow(QNViewSettings& view, QWidget* parent = nullptr);
    ~QNGrantRow() override;

    void refresh();
    // The button's action: asks the desktop for accessibility (requestAccessibility).
    void grantAccess();

    [[nodiscard]] QWidget* grantedBadge() const { return badge_; }
    [[nodiscard]] QPushButton* grantButton() const { return button_; }
    [[nodiscard]] QLabel* note() const { return note_; }

  private:
    [[nodiscard]] bool isTrusted() const;

    QNViewSettings& view_;
    QWidget* badge_ = nullptr;
    QPushButton* button_ = nullptr;
    QLabel* note_ = nullptr;
    // What the last "Grant Access" came to; none before one.
    std::optional<QNAccessibilityRequest> requested_;
    std::vector<Subscription> subscriptions_;
};

class QNPaneShortcuts final : public QObject {
  public:
    static constexpr QNConfigHotKey defaultHotKey{14, 0x100};
    static constexpr std::uint32_t defaultDoubleTapKeyCode = 14;
    static constexpr std::uint32_t defaultQuickFixKeyCode = 60;
    static constexpr int recorderWidth = 160;
    static constexpr int resetButtonSize = 16;

    QNPaneShortcuts(QNViewSettings& view, QNSettingsForm& form);
    ~QNPaneShortcuts() override;

    void refresh();

    // --- Handlers (the recorders' callbacks and the controls' actions)
    void hotKeyRecordingChanged(bool recording);
    void captureHotKey(std::uint32_t keyCode, std::uint32_t modifiers);
    void clearHotKey();
    void resetHotKey();
    void doubleTapRecordingChanged(bool recording);
    void setDoubleTapEnabled(bool enabled);
    void captureDoubleTapKey(std::uint32_t keyCode);
    void resetDoubleTap();
    void quickFixRecordingChanged(bool recording);
    void setQuickFixEnabled(bool enabled);
    void captureQuickFixKey(std::uint32_t keyCode);
    void resetQuickFix();

    // Live rendering only (the preview shows text in their place).
    [[nodiscard]] QNViewHotKeyRecorder* hotKeyRecorder() const { return hotKeyRecorder_; }
    [[nodiscard]] QNViewDoubleTapKeyRecorder* doubleTapRecorder() const {
        return doubleTapRecorder_;
    }
    [[nodiscard]] QNViewDoubleTapKeyRecorder* quickFixRecorder() const { return quickFixRecorder_; }
    [[nodiscard]] QToolButton* hotKeyResetButton() const { return hotKeyReset_; }
    [[nodiscard]] QToolButton* doubleTapResetButton() const { return doubleTapReset_; }
    [[nodiscard]] QToolButton* quickFixResetButton() const { return quickFixReset_; }
    [[nodiscard]] QLabel* hotKeyErrorLabel() const { return hotKeyError_; }
    [[nodiscard]] QNSettingsSection* fnSection() const { return fnSection_; }
    [[nodiscard]] QNSettingsSection* quickFixSection() const { return quickFixSection_; }
    [[nodiscard]] QCheckBox* doubleTapSwitch() const { return doubleTapSwitch_; }
    [[nodiscard]] QCheckBox* quickFixSwitch() const { return quickFixSwitch_; }

  private:
    void endCapture();

    QNViewSettings& view_;
    QNViewHotKeyRecorder* hotKeyRecorder_ = nullptr;
    QNViewDoubleTapKeyRecorder* doubleTapRecorder_ = nullptr;
    QNViewDoubleTapKeyRecorder* quickFixRecorder_ = nullptr;
    QLabel* hotKeyText_ = nullptr;
    QLabel* doubleTapText_ = nullptr;
    QToolButton* hotKeyReset_ = nullptr;
    QToolButton* doubleTapReset_ = nullptr;
    QToolButton* quickFixReset_ = nullptr;
    QLabel* hotKeyError_ = nullptr;
    QNSettingsSection* fnSection_ = nullptr;
    QNSettingsSection* quickFixSection_ = nullptr;
    QCheckBox* doubleTapSwitch_ = nullptr;
    QCheckBox* quickFixSwitch_ = nullptr;
    bool refreshing_ = false;
    std::vector<Subscription> subscriptions_;
};

}  // namespace ravlin
