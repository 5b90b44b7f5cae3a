#include "platform/linux/clipboard/qt_clipboard_pasteboard.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMimeData>
#include <algorithm>
#include <array>

#include "core/text/unicode.h"

namespace ravlin::platform {

// What we put on the clipboard. Qt calls retrieveData while answering another client's request
// for the data, which is how we learn that a paste target fetched it.
class OfferedData final : public QMimeData {
  public:
    [[nodiscard]] bool fetched() const { return fetched_; }
    // Reads by this process itself (a capture of our own offer) are not fetches.
    void setReadingLocally(bool reading) { readingLocally_ = reading; }

  protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override {
        if (!readingLocally_) {
            fetched_ = true;
        }
        return QMimeData::retrieveData(mimeType, type);
    }

  private:
    mutable bool fetched_ = false;
    bool readingLocally_ = false;
};

namespace {

// Selection targets that describe the selection rather than hold its contents.
constexpr std::array<std::string_view, 4> protocolTargets{"TIMESTAMP", "TARGETS", "MULTIPLE",
                                                          "SAVE_TARGETS"};

bool isProtocolTarget(const QString& format) {
    const auto name = format.toStdString();
    return std::ranges::find(protocolTargets, name) != protocolTargets.end();
}

// Qt's own name for "some image": it lists it whenever the owner offers any image type, and
// offering it back makes Qt advertise every image type it can convert to, which the owner never
// offered. The image types the owner did offer are read and put back as they are.
bool isToolkitImage(const QString& format) {
    return format == QLatin1String("application/x-qt-image");
}

}  // namespace

QtClipboardPasteboard::QtClipboardPasteboard() : clipboard_(QGuiApplication::clipboard()) {
    connect(clipboard_, &QClipboard::dataChanged, this, &QtClipboardPasteboard::onDataChanged);
}

QtClipboardPasteboard::~QtClipboardPasteboard() = default;

void QtClipboardPasteboard::bump() {
    ++changeCount_;
    observers_.notify(changeCount_);
}

void QtClipboardPasteboard::onDataChanged() {
    if (writing_) {
        return;
    }
    bump();
}

std::vector<PasteboardItem> QtClipboardPasteboard::items() {
    lastReadComplete_ = true;
    const QMimeData* data = clipboard_->mimeData(QClipboard::Clipboard);
    if (data == nullptr) {
        return {};
    }
    // Our own offer answers from memory; its reads are not a target's fetch.
    auto* own = dynamic_cast<const OfferedData*>(data);
    if (own != nullptr) {
        const_cast<OfferedData*>(own)->setReadingLocally(true);
    }
    PasteboardItem item;
    std::size_t bytes = 0;
    QElapsedTimer listing;
    listing.start();
    const QStringList formats = data->formats();
    // An owner that does not answer gives no formats, after Qt's own wait.
    lastReadComplete_ = !formats.isEmpty() || listing.elapsed() < slowFormat.count();
    for (const QString& format : formats) {
        if (isProtocolTarget(format) || isToolkitImage(format)) {
            continue;
        }
        if (item.size() >= maxFormats) {
            break;
        }
        QElapsedTimer clock;
        clock.start();
        const QByteArray content = data->data(format);
        if (content.isEmpty() && clock.elapsed() >= slowFormat.count()) {
            // The owner stopped answering: every further format would wait as long.
            lastReadComplete_ = false;
            break;
        }
        if (bytes + static_cast<std::size_t>(content.size()) > maxBytes) {
            break;
        }
        bytes += static_cast<std::size_t>(content.size());
        item.emplace(format.toStdString(),
                     std::vector<std::uint8_t>(content.begin(), content.end()));
    }
    if (own != nullptr) {
        const_cast<OfferedData*>(own)->setReadingLocally(false);
    }
    if (item.empty()) {
        return {};
    }
    return {std::move(item)};
}

std::int64_t QtClipboardPasteboard::clear() {
    writing_ = true;
    clipboard_->clear(QClipboard::Clipboard);
    writing_ = false;
    offered_.clear();
    bump();
    return changeCount_;
}

Status QtClipboardPasteboard::offer(OfferedData* data) {
    writing_ = true;
    clipboard_->setMimeData(data, QClipboard::Clipboard);  // the clipboard owns it now
    writing_ = false;
    offered_ = data;
    bump();
    if (!clipboard_->ownsClipboard()) {
        return Status::failure(ErrorCode::failed, "the clipboard was not taken");
    }
    return {};
}

Status QtClipboardPasteboard::writeItems(const std::vector<PasteboardItem>& items) {
    if (items.empty()) {
        return {};
    }
    auto* data = new OfferedData;
    // One item on X11: the first one's types, each as the raw bytes it was read as. Qt's own
    // image name never goes back: offered, it makes Qt advertise every image type it can convert
    // to besides the ones the owner offered.
    for (const auto& [type, bytes] : items.front()) {
        if (isToolkitImage(QString::fromStdString(type))) {
            continue;
        }
        data->setData(QString::fromStdString(type),
                      QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                 static_cast<qsizetype>(bytes.size())));
    }
    return offer(data);
}

Status QtClipboardPasteboard::setString(std::u16string_view text) {
    auto* data = new OfferedData;
    data->setText(
        QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size())));
    return offer(data);
}

std::optional<std::u16string> QtClipboardPasteboard::string() {
    const QMimeData* data = clipboard_->mimeData(QClipboard::Clipboard);
    if (data == nullptr || !data->hasText()) {
        return std::nullopt;
    }
    auto* own = dynamic_cast<const OfferedData*>(data);
    if (own != nullptr) {
        const_cast<OfferedData*>(own)->setReadingLocally(true);
    }
    const QString text = data->text();
    if (own != nullptr) {
        const_cast<OfferedData*>(own)->setReadingLocally(false);
    }
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()),
                          static_cast<std::size_t>(text.size()));
}

bool QtClipboardPasteboard::lastWriteUnfetched() {
    return offered_ && clipboard_->ownsClipboard() &&
           clipboard_->mimeData(QClipboard::Clipboard) == offered_.data() && !offered_->fetched();
}

Subscription QtClipboardPasteboard::observeChanges(std::function<void(std::int64_t)> onChange) {
    return observers_.add(std::move(onChange));
}

}  // namespace ravlin::platform
