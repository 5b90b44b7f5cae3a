#include "app/settings/settings_form.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "app/support/desktop_wording.h"

namespace ravlin {
namespace {

// The rounded background of a group of rows.
class GroupFrame final : public QFrame {
  public:
    explicit GroupFrame(QWidget* parent) : QFrame(parent) {}

  protected:
    void paintEvent(QPaintEvent* /*event*/) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor fill = palette().color(QPalette::Base);
        QColor border = palette().color(QPalette::WindowText);
        border.setAlphaF(0.12);
        painter.setPen(QPen(border, 1));
        painter.setBrush(fill);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    }
};

QColor styleColor(const QWidget& widget, QNSettingsTextStyle style) {
    switch (style) {
        case QNSettingsTextStyle::body:
            return widget.palette().color(QPalette::WindowText);
        case QNSettingsTextStyle::secondary: {
            QColor color = widget.palette().color(QPalette::WindowText);
            color.setAlphaF(0.6);
            return color;
        }
        case QNSettingsTextStyle::red:
            return QColor(0xd7, 0x26, 0x1e);
        case QNSettingsTextStyle::green:
            return QColor(0x1e, 0x8e, 0x3e);
        case QNSettingsTextStyle::orange:
            return QColor(0xe0, 0x7b, 0x00);
    }
    return {};
}

QFont scaledFont(const QWidget& widget, double factor) {
    QFont font = widget.font();
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(font.pointSizeF() * factor);
    } else {
        font.setPixelSize(std::max(1, static_cast<int>(font.pixelSize() * factor)));
    }
    return font;
}

}  // namespace

QNSettingsSection::QNSettingsSection(const QString& header, QWidget* parent) : QWidget(parent) {
    outer_ = new QVBoxLayout(this);
    outer_->setContentsMargins(0, 0, 0, 0);
    outer_->setSpacing(6);
    header_ = new QLabel(header, this);
    QFont headerFont = header_->font();
    headerFont.setWeight(QFont::DemiBold);
    header_->setFont(headerFont);
    header_->setContentsMargins(4, 0, 0, 0);
    header_->setVisible(!header.isEmpty());
    outer_->addWidget(header_);
    group_ = new GroupFrame(this);
    rows_ = new QVBoxLayout(group_);
    rows_->setContentsMargins(12, 10, 12, 10);
    rows_->setSpacing(10);
    outer_->addWidget(group_);
}

QWidget* QNSettingsSection::addRow(QWidget* row) {
    row->setParent(group_);
    rows_->addWidget(row);
    return row;
}

QHBoxLayout* QNSettingsSection::addHBoxRow(int spacing) {
    auto* row = addRow(new QWidget);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    if (spacing >= 0) {
        layout->setSpacing(spacing);
    }
    layout->setAlignment(Qt::AlignVCenter);
    return layout;
}

QVBoxLayout* QNSettingsSection::addVBoxRow(int spacing) {
    auto* row = addRow(new QWidget);
    auto* layout = new QVBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    if (spacing >= 0) {
        layout->setSpacing(spacing);
    }
    return layout;
}

void QNSettingsSection::setFooter(QWidget* footer) {
    if (footer_ == footer) {
        return;
    }
    delete footer_;
    footer_ = footer;
    if (footer_ != nullptr) {
        footer_->setParent(this);
        footer_->setContentsMargins(4, 0, 4, 0);
        outer_->addWidget(footer_);
        footer_->show();
    }
}

QNSettingsForm::QNSettingsForm(QWidget* parent) : QWidget(parent) {
    setFixedWidth(width);
    sections_ = new QVBoxLayout(this);
    sections_->setContentsMargins(0, 0, 0, 16);
    sections_->setSpacing(18);
    sections_->setAlignment(Qt::AlignTop);
}

QNSettingsSection* QNSettingsForm::addSection(const QString& header) {
    auto* section = new QNSettingsSection(header, this);
    sections_->addWidget(section);
    return section;
}

int QNSettingsForm::measuredHeight() const {
    QLayout* layout = this->layout();
    layout->activate();
    if (layout->hasHeightForWidth()) {
        return layout->totalHeightForWidth(width);
    }
    return layout->totalSizeHint().height();
}

QLabel* makeFootnote(const QString& text, QNSettingsTextStyle style, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setFont(scaledFont(*label, 0.85));
    applyTextStyle(*label, style);
    return label;
}

QLabel* makeCaption(const QString& text, QNSettingsTextStyle style, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(scaledFont(*label, 0.8));
    applyTextStyle(*label, style);
    return label;
}

QLabel* makeBodyLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

void applyTextStyle(QWidget& widget, QNSettingsTextStyle style) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, styleColor(widget, style));
    palette.setColor(QPalette::ButtonText, styleColor(widget, style));
    widget.setPalette(palette);
}

QString desktopText(const char* text) {
    return QString::fromStdString(forThisDesktop(text));
}

}  // namespace ravlin
