#pragma once

// The small window that tells a person the program is running and how to quit it. It is the
// program's face where the desktop has no tray, and what a tray click or a second start brings
// forward. A tool window: it takes no place in the taskbar.

#include <QIcon>
#include <QWidget>

class QLabel;
class QMenu;
class QPushButton;

namespace ravlin {

class StatusWindow final : public QWidget {
    Q_OBJECT

  public:
    // `notice` is shown under the status when not empty (e.g. the seams not connected yet).
    explicit StatusWindow(const QString& notice, QWidget* parent = nullptr);

    // Shows the window, raised and focused.
    void bringForward();
    // Offers `menu` (the tray menu, where there is no tray) from a "Menu" button.
    void setMenu(QMenu* menu);
    [[nodiscard]] QPushButton* menuButton() const { return menuButton_; }

  signals:
    void quitRequested();
    // The window was drawn for the first time: the desktop shows it.
    void firstDrawn();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void leaveQuitUnfocused();

    QPushButton* menuButton_ = nullptr;
    QPushButton* quit_ = nullptr;
    bool drawn_ = false;
};

// The program's icon, drawn rather than loaded so the binary needs no resource files.
[[nodiscard]] QIcon ravlinIcon();

}  // namespace ravlin
