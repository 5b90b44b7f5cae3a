#pragma once

// The settings window: one window for the life of the process, made on the first show(pane:)
// and only hidden when the user closes it. A toolbar of the four panes selects what the content
// shows; the content reports the size it wants for the selected pane and the window takes it with
// its top edge fixed (animated while visible).
//
// QNStoreSettingsWindow is the selection the window, its toolbar and the content share.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QPointer>
#include <QSize>
#include <QWidget>

#include "app/settings/settings_pane.h"
#include "core/support/observable.h"
#include "core/support/subscription.h"

class QAction;
class QActionGroup;
class QToolBar;
class QVariantAnimation;

namespace ravlin {

class QNCoordinatorApp;
class QNViewSettings;

class QNStoreSettingsWindow {
  public:
    // Setting the pane already selected tells nobody.
    Observable<QNModelSettingsPane> selectedPane{QNModelSettingsPane::general};
};

// The top-level settings window: titled, a close button only, sized by the program.
class QNWindowSettings final : public QWidget {
  public:
    // Durations of the resize.
    static constexpr int resizeAnimationMs = 280;
    // Set to false to switch off every animation of the window and its content (tests).
    static constexpr const char* animationsProperty = "ravlinAnimations";

    explicit QNWindowSettings(QWidget* parent = nullptr);

    [[nodiscard]] bool animationsEnabled() const;
    void setAnimationsEnabled(bool enabled);

    // The frame for a content size: the toolbar's height added. Rounded up first.
    [[nodiscard]] QSize frameSizeForContentSize(QSizeF contentSize) const;
    // Keeps the client area's top edge where it is, unless the window would then pass the
    // screen's bottom: it moves up as far as it must, and is cut at the screen's height
    // (scrolling inside) when taller. Animated only when asked and visible. Does nothing when
    // both sides would move by 0.5 or less.
    void resizeKeepingTopEdge(QSizeF contentSize, bool animated);
    [[nodiscard]] bool isResizeAnimating() const;
    // Where the running resize ends (the current geometry when none runs).
    [[nodiscard]] QRect targetGeometry() const;

    void setToolBar(QToolBar* toolBar);
    [[nodiscard]] QToolBar* toolBar() const { return toolBar_; }
    void setContent(QWidget* content);
    [[nodiscard]] QWidget* content() const { return content_; }

  private:
    void applyGeometry(const QRect& geometry);

    QToolBar* toolBar_ = nullptr;
    QWidget* content_ = nullptr;
    QPointer<QVariantAnimation> animation_;
    QRect target_;
};

// Lets the content's size callback reach the window without keeping it alive.
class QNControllerSettingsWindowSizeReporter {
  public:
    QPointer<QNWindowSettings> window;
};

// The toolbar's items and their action: one checkable item per pane, exclusive, icon over label,
// centred between two expanding spacers.
class QNControllerSettingsToolbar {
  public:
    static constexpr const char* toolbarIdentifier = "RavlinSettingsToolbar";

    explicit QNControllerSettingsToolbar(std::function<void(QNModelSettingsPane)> onSelectPane);

    // The toolbar, its items selecting `selected`.
    [[nodiscard]] QToolBar* makeToolBar(QNModelSettingsPane selected, QWidget* parent);
    // The item of a toolbar identifier; none when it names no pane.
    [[nodiscard]] QAction* item(std::string_view identifier) const;
    void setSelectedItemIdentifier(const std::string& identifier);
    [[nodiscard]] std::optional<std::string> selectedItemIdentifier() const;
    // The action of an item: the pane it names, else nothing.
    void selectPane(const std::string& identifier);

  private:
    std::function<void(QNModelSettingsPane)> onSelectPane_;
    QPointer<QToolBar> toolBar_;
    QPointer<QActionGroup> group_;
};

class QNControllerSettingsWindow {
  public:
    // Makes the content for the window: the shared selection and the size callback in.
    using ContentFactory = std::function<QNViewSettings*(std::shared_ptr<QNStoreSettingsWindow>,
                                                         std::function<void(QSize)>)>;
    // Brings this application forward (the workspace seam); may be refused by the desktop.
    using Activation = std::function<void()>;

    static constexpr QSize initialContentSize{500, 320};

    QNControllerSettingsWindow(ContentFactory contentFactory, Activation activate);
    ~QNControllerSettingsWindow();
    QNControllerSettingsWindow(const QNControllerSettingsWindow&) = delete;
    QNControllerSettingsWindow& operator=(const QNControllerSettingsWindow&) = delete;

    // The program's one controller over the coordinator's shared instance, made on first use.
    [[nodiscard]] static QNControllerSettingsWindow& shared();

    // Switches the window's animations (resize and pane switch); tests turn them off.
    void setAnimationsEnabled(bool enabled);

    // Shows the window (made on first use), selects `pane` when given, raises and activates it.
    void show(std::optional<QNModelSettingsPane> pane = std::nullopt);
    // The toolbar's way of changing the pane; the selected pane again does nothing.
    void select(QNModelSettingsPane pane);
    // The pane `step` places after the one shown (before it when negative), round the ends.
    void selectAdjacent(int step);

    [[nodiscard]] const std::shared_ptr<QNStoreSettingsWindow>& windowState() const {
        return windowState_;
    }
    [[nodiscard]] QNWindowSettings* window() const { return window_; }
    [[nodiscard]] QNViewSettings* content() const;
    [[nodiscard]] QNControllerSettingsToolbar* toolbarDelegate() const {
        return toolbarDelegate_.get();
    }
    [[nodiscard]] const std::shared_ptr<QNControllerSettingsWindowSizeReporter>& sizeReporter()
        const {
        return sizeReporter_;
    }

  private:
    ContentFactory contentFactory_;
    Activation activate_;
    std::shared_ptr<QNStoreSettingsWindow> windowState_;
    QPointer<QNWindowSettings> window_;
    QPointer<QWidget> content_;
    std::shared_ptr<QNControllerSettingsWindowSizeReporter> sizeReporter_;
    std::unique_ptr<QNControllerSettingsToolbar> toolbarDelegate_;
    // Switches the pane keys off while a shortcut recorder records.
    Subscription captureWatch_;
    bool animationsEnabled_ = true;
};

// What the program hands the coordinator as `showSettingsWindow`: the shared controller's show.
[[nodiscard]] std::function<void(std::optional<QNModelSettingsPane>)> settingsWindowShower();

}  // namespace ravlin
