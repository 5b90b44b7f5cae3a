#pragma once

// The session-log window: the recent issues, then the entries, growing while it is open. Opening
// it starts capturing on the logger (entries with their text details, when allowed); closing it
// stops capturing, which drops the details. "Export" puts exactly the text on screen on the
// pasteboard and says so beside the button; with nothing on screen it leaves the pasteboard as
// it is and says that instead. One controller for the whole program; the window is built on
// first use.

#include <QPointer>
#include <QWidget>
#include <memory>

#include "app/log/event_logger.h"
#include "platform/pasteboard.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace ravlin {

class QNViewLogWindow;

class QNControllerLogWindow {
  public:
    [[nodiscard]] static QNControllerLogWindow& shared();

    // Builds the window the first time, starts capturing on `logger`, shows the window and
    // brings it to the front.
    void show(std::shared_ptr<QNLoggerEvent> logger,
              std::shared_ptr<platform::Pasteboard> pasteboard);

    // The window, once built.
    [[nodiscard]] QNViewLogWindow* window() const { return window_; }

  private:
    QPointer<QNViewLogWindow> window_;
};

class QNViewLogWindow final : public QWidget {
  public:
    QNViewLogWindow();
    ~QNViewLogWindow() override;

    void attach(std::shared_ptr<QNLoggerEvent> logger,
                std::shared_ptr<platform::Pasteboard> pasteboard);
    // The text on screen.
    [[nodiscard]] QString visibleText() const;
    // What "Export" does.
    void exportVisibleText();

    [[nodiscard]] QPushButton* exportButton() const { return exportButton_; }
    // What the last export came to, beside the button; empty before one.
    [[nodiscard]] QString exportStatus() const;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void renderAll();
    void onLoggerChanged();

    QPlainTextEdit* text_ = nullptr;
    QPushButton* exportButton_ = nullptr;
    QLabel* exportStatus_ = nullptr;
    std::shared_ptr<QNLoggerEvent> logger_;
    std::shared_ptr<platform::Pasteboard> pasteboard_;
    Subscription watching_;
    // What is on screen, so that new entries are appended and dropped ones cut from the top
    // instead of drawing everything again.
    std::size_t shownIssues_ = 0;
    std::optional<Uuid> firstIssue_;
    int issueBlocks_ = 0;
    std::uint64_t shownAppended_ = 0;
    // Text blocks (lines) of each entry on screen, oldest first.
    std::deque<int> entryBlocks_;
};

}  // namespace ravlin
