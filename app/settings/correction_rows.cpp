#include "app/settings/correction_rows.h"

#include <QHBoxLayout>
#include <QProgressBar>
#include <QResizeEvent>

#include "app/shell/recorders/recorder_symbols.h"
#include "app/support/desktop_wording.h"

namespace ravlin::settings_rows {

QColor green() {
    return {52, 168, 83};
}
QColor orange() {
    return {230, 126, 0};
}
QColor red() {
    return {214, 45, 32};
}
QColor secondary() {
    return {110, 110, 115};
}

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString shown(std::string_view text) {
    return qs(forThisDesktop(text));
}

QLabel* textLabel(const QString& text, QColor color, bool footnote) {
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    if (footnote) {
        QFont font = label->font();
        font.setPointSizeF(font.pointSizeF() * 0.85);
        label->setFont(font);
    }
    if (color.isValid()) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, color);
        label->setPalette(palette);
    }
    return label;
}

QLabel* symbolLabel(std::string_view symbol, const QColor& color, int size) {
    auto* label = new QLabel;
    label->setPixmap(symbolIcon(symbol, color, size).pixmap(size, size));
    label->setFixedSize(size, size);
    return label;
}

QWidget* hstack(std::initializer_list<QWidget*> items, int spacing) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    for (QWidget* item : items) {
        if (item != nullptr) {
            layout->addWidget(item, 0, Qt::AlignVCenter);
        }
    }
    layout->addStretch(1);
    return row;
}

QWidget* statusBadge(const QNModeBYOKSaveStatus& status) {
    using Kind = QNModeBYOKSaveStatus::Kind;
    switch (status.kind) {
        case Kind::idle:
            return nullptr;
        case Kind::validating: {
            auto* busy = new QProgressBar;
            busy->setRange(0, 0);
            busy->setTextVisible(false);
            busy->setFixedSize(36, 8);
            return hstack({busy, textLabel(shown("Verifying…"), secondary(), true)}, 6);
        }
        case Kind::succeeded:
        case Kind::failed: {
            const bool ok = status.kind == Kind::succeeded;
            auto* text = textLabel(shown(ok ? "Verified" : "Failed"), {}, true);
            QFont font = text->font();
            font.setWeight(QFont::Medium);
            text->setFont(font);
            text->setWordWrap(false);
            return hstack({symbolLabel(ok ? "checkmark.circle.fill" : "xmark.circle.fill",
                                       ok ? green() : red()),
                           text},
                          4);
        }
    }
    return nullptr;
}

ElidedLabel::ElidedLabel(QString text, QWidget* parent) : QLabel(parent), full_(std::move(text)) {
    setTextFormat(Qt::PlainText);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setToolTip(full_);
    setAccessibleName(full_);
    setText(full_);
}

QSize ElidedLabel::minimumSizeHint() const {
    return {fontMetrics().horizontalAdvance(QStringLiteral("M…M")),
            QLabel::minimumSizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    setText(fontMetrics().elidedText(full_, Qt::ElideMiddle, event->size().width()));
}

}  // namespace ravlin::settings_rows
