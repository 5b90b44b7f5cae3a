#pragma once

// The double-tap key recorder: a button that, while recording, takes the next key addressed to
// this application through the local monitor and hands its key code to `onCapture`; the key
// display and its tokens, each key by its name.
//
// Recording the typed double-tap key (`allowsOnlyModifierKeys` false) takes key presses only: a
// modifier change (Shift held for a capital) is consumed and recording goes on, since that
// trigger sees key presses alone and could never fire on a modifier. Recording the Quick Fix key
// (`allowsOnlyModifierKeys` true) takes one of the eight modifier keys, at its press or release.
// A key refused while recording (with the beep; a modifier key pressed for the typed double tap,
// without one) is said under the field: which key, and what to press instead.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include <QLabel>
#include <QWidget>

#include "app/shell/recorders/hot_key_recorder.h"

namespace ravlin {

// One key of a double tap, by the name a person reads ("E", "Right Shift").
class QNViewDoubleTapKeyToken final : public QLabel {
    Q_OBJECT
  public:
    QNViewDoubleTapKeyToken(std::uint32_t keyCode, platform::KeyboardLayout& layout,
                            QWidget* parent = nullptr);
};

// The key pressed twice, on one line: "E, E", "Right Shift, Right Shift".
class QNViewDoubleTapKeyDisplay final : public QWidget {
    Q_OBJECT
  public:
    QNViewDoubleTapKeyDisplay(std::uint32_t keyCode, platform::KeyboardLayout& layout,
                              QWidget* parent = nullptr);
    [[nodiscard]] QList<QNViewDoubleTapKeyToken*> tokens() const;
    // The line as read: "E, E".
    [[nodiscard]] QString text() const;
};

class QNViewDoubleTapKeyRecorder final : public QWidget {
    Q_OBJECT
  public:
    static constexpr std::uint32_t escapeKeyCode = 53;

    QNViewDoubleTapKeyRecorder(std::uint32_t keyCode, bool isRecording, bool allowsOnlyModifierKeys,
                               std::function<void(bool)> onRecordingChange,
                               std::function<void(std::uint32_t)> onCapture,
                               QNRecorderContext context, QWidget* parent = nullptr);
    ~QNViewDoubleTapKeyRecorder() override;

    // What the field records, as a screen reader names it ("Quick Fix key"); the keys, or the
    // prompt while recording, are its description.
    void setName(const QString& name);
    void setKeyCode(std::uint32_t keyCode);
    void setRecording(bool recording);
    [[nodiscard]] bool isRecording() const { return isRecording_; }

    void installMonitor();
    void removeMonitor();
    [[nodiscard]] bool hasMonitor() const { return monitor_.active(); }
    // One event from the monitor; always consumed.
    void handle(const platform::InputEvent& event);

    [[nodiscard]] QNViewDoubleTapKeyDisplay* display() const { return display_; }
    // The field: what the keyboard and a screen reader press.
    [[nodiscard]] QAbstractButton* field() const { return row_; }
    // Why the last key pressed while recording was refused; none once recording ends.
    [[nodiscard]] std::optional<std::string> refusalMessage() const { return refusal_; }

    [[nodiscard]] static bool isModifierKeyCode(std::uint32_t keyCode);
    [[nodiscard]] static bool isExcludedKeyCode(std::uint32_t keyCode);

    QSize minimumSizeHint() const override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void capture(std::uint32_t keyCode);
    void beep();
    void refuse(std::string message, bool withBeep);
    void refresh();
    [[nodiscard]] QString keyName(std::uint32_t keyCode) const;

    std::uint32_t keyCode_;
    bool isRecording_;
    bool allowsOnlyModifierKeys_;
    std::function<void(bool)> onRecordingChange_;
    std::function<void(std::uint32_t)> onCapture_;
    QNRecorderContext context_;
    Subscription monitor_;
    bool hoverEffect_ = false;
    bool appeared_ = false;
    std::optional<std::string> refusal_;
    QString name_;
    // The field (painted, clicked) and the refusal under it.
    QNRecorderField* row_ = nullptr;
    QLabel* message_ = nullptr;
    QNViewDoubleTapKeyDisplay* display_ = nullptr;
    QWidget* prompt_ = nullptr;
};

}  // namespace ravlin
