#pragma once

// The pasteboard over Qt's view of the X11 CLIPBOARD selection, as one item whose types are the
// owner's formats. The change count is our own counter: it moves once for every change Qt
// reports and once for every write of ours (never twice for one write, never because a target
// read what we offer). On X11 the data we offer lives in this process: it is served while the
// event loop runs and is gone when the program exits.

#include <QObject>
#include <QPointer>
#include <chrono>
#include <cstdint>

#include "platform/pasteboard.h"

class QClipboard;
class QMimeData;

namespace ravlin::platform {

class OfferedData;

class QtClipboardPasteboard final : public QObject, public Pasteboard {
  public:
    // A format whose owner takes longer than this to answer ends a capture.
    static constexpr auto slowFormat = std::chrono::milliseconds(1000);
    // Bounds on what a capture keeps: formats and bytes in all.
    static constexpr std::size_t maxFormats = 64;
    static constexpr std::size_t maxBytes = 64u << 20;

    QtClipboardPasteboard();
    ~QtClipboardPasteboard() override;

    std::int64_t changeCount() override { return changeCount_; }
    std::vector<PasteboardItem> items() override;
    std::int64_t clear() override;
    Status writeItems(const std::vector<PasteboardItem>& items) override;
    Status setString(std::u16string_view text) override;
    std::optional<std::u16string> string() override;
    bool lastWriteUnfetched() override;
    bool lastReadComplete() override { return lastReadComplete_; }
    Subscription observeChanges(std::function<void(std::int64_t)> onChange) override;

  private:
    Status offer(OfferedData* data);
    void bump();
    void onDataChanged();

    QClipboard* clipboard_;
    std::int64_t changeCount_ = 0;
    // Set while our own write is in Qt's hands: the change it reports is that write's.
    bool writing_ = false;
    bool lastReadComplete_ = true;
    QPointer<OfferedData> offered_;
    CallbackList<std::int64_t> observers_;
};

}  // namespace ravlin::platform
