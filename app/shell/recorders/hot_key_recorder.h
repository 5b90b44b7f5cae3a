#pragma once

// The Composer shortcut recorder: a field showing the shortcut (or, while recording, the held
// modifiers), a clear button, and under it the message of a refused chord, or, while recording
// goes on, why a key pressed alone was not taken. Recording runs a
// key-capture session; a captured chord the desktop reserves is refused with a message, any
// other is handed to `onCapture`. The pane owns the recording flag and the stored shortcut: the
// recorder asks through `onRecordingChange` and follows setRecording().

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QAbstractButton>
#include <QWidget>

#include "app/preferences/hot_key.h"
#include "app/shell/recorders/key_capture.h"

class QLabel;
class QToolButton;

namespace ravlin {

// What a recorder needs of the desktop.
struct QNRecorderContext {
    platform::Seams seams;
    std::shared_ptr<Executor> executor;
    std::shared_ptr<QNLocalKeyMonitor> localMonitor;
    std::function<void()> beep;  // QApplication::beep when empty
};

// A recorder's field as the keyboard and assistive technology meet it: a button. Space or
// Return where it has the focus, or a screen reader's press, clicks it, and its owner starts or
// stops recording; the owner draws it and answers the mouse itself.
class QNRecorderField : public QAbstractButton {
  public:
    explicit QNRecorderField(QWidget* parent);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// The field's rounded background and border, shared by both recorders.
void paintRecorderField(QWidget& widget, bool recording, bool hover);
// A recorder's wrapped message line as tall as its lines need at `width` (none while hidden).
void fitMessageHeight(QLabel& message, int width);

class QNViewHotKeyRecorder final : public QWidget {
    Q_OBJECT
  public:
    QNViewHotKeyRecorder(QNConfigHotKey config, bool isRecording,
                         std::function<void(bool)> onRecordingChange,
                         std::function<void(std::uint32_t, std::uint32_t)> onCapture,
                         std::function<void()> onClear, QNRecorderContext context,
                         QWidget* parent = nullptr);
    ~QNViewHotKeyRecorder() override;

    // What the field records, as a screen reader names it ("Composer shortcut"); its keys, or
    // the prompt while recording, are its description.
    void setName(const QString& name);
    // The pane's values.
    void setConfig(QNConfigHotKey config);
    void setRecording(bool recording);
    [[nodiscard]] bool isRecording() const { return isRecording_; }

    void startRecording();
    void stopRecording();
    void handleCapture(std::uint32_t keyCode, std::uint32_t modifiers);
    void clearTapped();

    // The field's text: the shortcut by its key names, or while recording the held modifiers'
    // prompt ("Ctrl+Alt press key") or "Press shortcut…".
    [[nodiscard]] QString labelText() const;
    [[nodiscard]] QString labelText(bool recording) const;
    [[nodiscard]] static QString heldPrompt(std::uint32_t modifiers);
    // Why a key pressed alone was not taken: "E alone cannot be a shortcut: ...".
    [[nodiscard]] std::string bareKeyMessage(std::uint32_t keyCode) const;
    [[nodiscard]] std::optional<std::string> rejectionMessage() const { return rejectionMessage_; }
    [[nodiscard]] bool hasSession() const { return session_ != nullptr; }
    [[nodiscard]] std::uint32_t liveModifiers() const { return liveModifiers_; }
    [[nodiscard]] QToolButton* clearButton() const { return clearButton_; }
    [[nodiscard]] QWidget* field() const;

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    class Field;
    void refresh();

    QNConfigHotKey config_;
    bool isRecording_;
    std::function<void(bool)> onRecordingChange_;
    std::function<void(std::uint32_t, std::uint32_t)> onCapture_;
    std::function<void()> onClear_;
    QNRecorderContext context_;
    std::unique_ptr<QNSessionKeyCapture> session_;
    std::uint32_t liveModifiers_ = 0;
    bool hoverEffect_ = false;
    std::optional<std::string> rejectionMessage_;
    // The message says why a key pressed alone was not taken, during this recording.
    bool refusedWhileRecording_ = false;
    bool appeared_ = false;
    QString name_;

    Field* field_ = nullptr;
    QToolButton* clearButton_ = nullptr;
    QLabel* messageLabel_ = nullptr;
};

}  // namespace ravlin
