#pragma once

// The tray menu: the program's permanent presence on the desktop. It shows the current
// correction problem, opens the Composer, switches cloud correction, opens the session log, the
// settings and the update check, and quits. It knows nothing of the coordinator: what it shows
// and does goes through the callbacks and stores it is handed.
//
// The items are made once, in their order, and kept; refresh() brings their titles, states,
// icons and visibility up to date in place. It runs whenever the menu is about to open, after
// the cloud item's action, and whenever the program or the update service asks. Where the
// desktop has no tray the same menu opens from the running window (StatusWindow::setMenu); a
// tray that appears later shows the icon.

#include <QColor>
#include <QIcon>
#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "app/composer/correction_issue.h"
#include "app/log/event_logger.h"
#include "app/preferences/hot_key.h"
#include "app/preferences/preference_stores.h"
#include "platform/keyboard_layout.h"
#include "platform/pasteboard.h"

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace ravlin {

class QNServiceUpdate;

// What the menu calls; every one may be empty (then it does nothing or answers its empty value).
struct QNMenuBarCallbacks {
    // Toggles the Composer with the trigger source "menu".
    std::function<void()> onTrigger;
    // Document commands that no item leads to.
    std::function<void()> onNewTextDocument;
    std::function<void()> onOpenTextFile;
    std::function<void()> onToggleCloudAI;
    std::function<std::optional<QNModelCorrectionIssue>()> correctionIssue;
    // Asks afresh (and tells the permission monitor).
    std::function<bool()> isAccessibilityTrusted;
    std::function<QNConfigHotKey()> hotKeyConfig;
    // Shows the settings window on its Correction pane, and without changing its pane.
    std::function<void()> onShowCorrectionSettings;
    std::function<void()> onShowSettings;
    // Ends the program; QCoreApplication::quit when empty.
    std::function<void()> onQuit;
};

struct QNMenuBarDependencies {
    std::shared_ptr<QNServiceUpdate> updateChecker;
    std::shared_ptr<QNStoreCorrectionModelMode> correctionModelModeStore;
    std::shared_ptr<QNLoggerEvent> logger;
    // For the log window's export and the shortcut's key name.
    std::shared_ptr<platform::Pasteboard> pasteboard;
    std::shared_ptr<platform::KeyboardLayout> keyboardLayout;
};

enum class QNMenuBarTint { none, orange, yellow };

// The symbol of the issue item's icon: "exclamationmark.triangle.fill" for a connection problem,
// "exclamationmark.circle.fill" for any other kind.
[[nodiscard]] std::string_view correctionIssueSymbol(QNModelCorrectionIssueKind kind);
// The tray icon "MenuBarIcon" (a Qt resource), plain or painted in a tint.
[[nodiscard]] QIcon menuBarIcon(QNMenuBarTint tint);
[[nodiscard]] QColor tintColor(QNMenuBarTint tint);

class QNControllerMenuBar final : public QObject {
  public:
    // Makes the tray icon and builds the menu; the icon is shown by showStatusItem().
    QNControllerMenuBar(QNMenuBarCallbacks callbacks, QNMenuBarDependencies dependencies);
    ~QNControllerMenuBar() override;

    // Shows the tray icon: now where the desktop has a tray, else as soon as one appears.
    void showStatusItem();

    void refresh();
    void applyCorrectionIssue(const std::optional<QNModelCorrectionIssue>& issue);

    // Actions.
    void triggerTapped();
    void cloudAITapped();
    void correctionIssueTapped();
    void openLogTapped();
    void settingsTapped();
    void updateTapped();
    void quitTapped();
    void newTextDocumentTapped();
    void openTextFileTapped();

    // The program sets this to false; the menu has no document items either way.
    bool documentEditorEnabled = false;

    [[nodiscard]] QMenu* menu() const { return menu_.get(); }
    [[nodiscard]] QSystemTrayIcon* statusItem() const { return statusItem_.get(); }
    [[nodiscard]] QNMenuBarTint tint() const { return tint_; }
    [[nodiscard]] QAction* correctionIssueItem() const { return correctionIssueItem_; }
    [[nodiscard]] QAction* correctionIssueSeparator() const { return correctionIssueSeparator_; }
    [[nodiscard]] QAction* triggerItem() const { return triggerItem_; }
    [[nodiscard]] QAction* cloudAIItem() const { return cloudAIItem_; }
    [[nodiscard]] QAction* openLogItem() const { return openLogItem_; }
    [[nodiscard]] QAction* settingsItem() const { return settingsItem_; }
    [[nodiscard]] QAction* updateItem() const { return updateItem_; }
    [[nodiscard]] QAction* quitItem() const { return quitItem_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildMenu();
    void setTint(QNMenuBarTint tint);

    QNMenuBarCallbacks callbacks_;
    QNMenuBarDependencies dependencies_;
    std::unique_ptr<QSystemTrayIcon> statusItem_;
    std::unique_ptr<QMenu> menu_;
    QNMenuBarTint tint_ = QNMenuBarTint::none;
    QAction* correctionIssueItem_ = nullptr;
    QAction* correctionIssueSeparator_ = nullptr;
    QAction* triggerItem_ = nullptr;
    QAction* cloudAIItem_ = nullptr;
    QAction* openLogItem_ = nullptr;
    QAction* settingsItem_ = nullptr;
    QAction* updateItem_ = nullptr;
    QAction* quitItem_ = nullptr;
};

}  // namespace ravlin
