#include "app/target/quick_fix_hud.h"

#include <QApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QStyle>
#include <QTextLayout>
#include <algorithm>
#include <array>

#include "app/support/app_context.h"
#include "app/support/qt_screens.h"
#include "app/support/rounded_windows.h"
#include "core/support/async.h"

namespace ravlin {

namespace {

struct KindTexts {
    std::string_view symbol;
    std::string_view title;
    std::string_view message;
};

constexpr std::array<KindTexts, 5> kTexts{{
    {"doc.on.clipboard", "Press ⌘V to paste",
     "Ravlin couldn't replace the text in this app. The corrected text is on your clipboard."},
    {"text.cursor", "Couldn't read text in this field",
     "Quick Fix needs an editable text field. Try selecting the text first, then trigger again."},
    {"exclamationmark.arrow.triangle.2.circlepath", "Couldn't reach the target app",
     "Ravlin couldn't bring the originating app to the front. Your draft is saved in the "
     "composer."},
    {"lock.fill", "Quick Fix isn't available here",
     "Ravlin won't read text from secure password fields."},
    {"terminal", "Quick Fix isn't available in terminals",
     "Use Open Composer to correct text and copy it instead."},
}};

const KindTexts& texts(QNQuickFixHUDKind kind) {
    return kTexts.at(static_cast<std::size_t>(kind));
}

// The freedesktop icon standing for each symbol, and the style's icon when the theme has none.
QIcon iconFor(QNQuickFixHUDKind kind, const QStyle& style) {
    struct Entry {
        const char* themeName;
        QStyle::StandardPixmap fallback;
    };
    static constexpr std::array<Entry, 5> kIcons{{
        {"edit-paste", QStyle::SP_FileIcon},
        {"insert-text", QStyle::SP_MessageBoxQuestion},
        {"dialog-warning", QStyle::SP_BrowserReload},
        {"changes-prevent", QStyle::SP_MessageBoxCritical},
        {"utilities-terminal", QStyle::SP_ComputerIcon},
    }};
    const auto& entry = kIcons.at(static_cast<std::size_t>(kind));
    const QString name = QString::fromLatin1(entry.themeName);
    for (const QString& candidate : {name + QLatin1String("-symbolic"), name}) {
        if (QIcon::hasThemeIcon(candidate)) {
            return QIcon::fromTheme(candidate);
        }
    }
    return style.standardIcon(entry.fallback);
}

constexpr int kPaddingX = 16;
constexpr int kPaddingY = 12;
constexpr int kIconColumn = 24;
constexpr int kSpacing = 12;
constexpr int kLineSpacing = 2;
constexpr double kCornerRadius = QNViewQuickFixHUD::kCornerRadius;

}  // namespace

std::string_view symbolName(QNQuickFixHUDKind kind) {
    return texts(kind).symbol;
}

std::string hudText(std::string_view literal) {
    // Keyed by the table's literal; only texts naming another desktop's facility differ.
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 1> kThisDesktop{{
        {"Press ⌘V to paste", "Press Ctrl+V to paste"},
    }};
    for (const auto& [key, value] : kThisDesktop) {
        if (key == literal) {
            return std::string(value);
        }
    }
    return std::string(literal);
}

std::string pasteTitle(std::string_view chordName) {
    return "Press " + std::string(chordName) + " to paste";
}

QNHeadsUp textOnClipboardHeadsUp(std::string_view chordName) {
    if (chordName.empty()) {
        return {QNQuickFixHUDKind::pasteOnClipboard, "Your text is on the clipboard",
                "Ravlin couldn't paste into this window. Paste it there with the window's own "
                "paste command."};
    }
    return {QNQuickFixHUDKind::pasteOnClipboard, pasteTitle(chordName),
            hudMessage(QNQuickFixHUDKind::pasteOnClipboard)};
}

QNHeadsUp pastedInPartHeadsUp() {
    return {QNQuickFixHUDKind::activationFailed, "Only part of the text was pasted",
            "The field took only part of it. The whole text is kept in the composer."};
}

QNHeadsUp clipboardUnsavedHeadsUp(std::string_view failure) {
    const std::string_view why =
        failure == "owner-not-answering" ? "The app holding your clipboard didn't answer"
        : failure == "too-large"         ? "Your clipboard holds too much to set aside"
        : failure == "too-many-types"    ? "Your clipboard holds too many formats to set aside"
        : failure == "owner-changed"     ? "Your clipboard kept changing while Ravlin set it aside"
                                         : "Your clipboard couldn't be set aside whole";
    return {QNQuickFixHUDKind::activationFailed, "Nothing was pasted",
            std::string(why) + ", so Ravlin left it alone. Your text is in the composer."};
}

QNHeadsUp clipboardChangedHeadsUp() {
    return {QNQuickFixHUDKind::activationFailed, "Your clipboard changed before the paste",
            "Ravlin left your new copy on the clipboard. Your text is in the composer."};
}

QNHeadsUp selectionUncertainHeadsUp() {
    return {QNQuickFixHUDKind::noTarget, "Quick Fix left the field as it was",
            "Ravlin couldn't be sure which text it would replace. The corrected text is in the "
            "composer."};
}

QNHeadsUp arrivalUnknownHeadsUp() {
    return {QNQuickFixHUDKind::activationFailed, "The text may not have been pasted",
            "Ravlin couldn't tell whether this window took it. Your text is kept in the "
            "composer."};
}

QNHeadsUp noTargetHeadsUp() {
    return {QNQuickFixHUDKind::activationFailed, "Nothing was pasted",
            "Ravlin couldn't tell which window to paste into. Your text is kept in the "
            "composer."};
}

QNHeadsUp keyboardElsewhereHeadsUp(std::string_view where) {
    const std::string_view what = where == "another-application" ? "Another app"
                                  : where == "another-field"     ? "Another field of this window"
                                  : where == "another-window"    ? "Another window of this app"
                                                                 : "Another window";
    return {QNQuickFixHUDKind::activationFailed, "Nothing was pasted",
            std::string(what) + " had the keyboard. Your text is kept in the composer."};
}

QNHeadsUp passwordFieldHeadsUp() {
    return {QNQuickFixHUDKind::secureRefused, "Nothing was pasted",
            "The keyboard was in a password field. Your text is kept in the composer."};
}

QNHeadsUp formattedFieldHeadsUp(bool part, bool activationFailed) {
    if (part) {
        return {QNQuickFixHUDKind::activationFailed, "Quick Fix changed only part of the field",
                "Ravlin couldn't finish the change or undo it. Check the field; nothing was "
                "kept in the composer."};
    }
    if (activationFailed) {
        return {QNQuickFixHUDKind::activationFailed, hudTitle(QNQuickFixHUDKind::activationFailed),
                "Ravlin couldn't bring the originating app to the front, so the field is as it "
                "was. Nothing was kept in the composer."};
    }
    return {QNQuickFixHUDKind::noTarget, "Quick Fix left the field as it was",
            "Ravlin couldn't change this field's text exactly, so it changed nothing. Nothing was "
            "kept in the composer."};
}

QNHeadsUp draftPlaceGoneHeadsUp() {
    return {QNQuickFixHUDKind::noTarget, "Nothing was pasted",
            "Ravlin couldn't find the text this correction replaces in the field. The corrected "
            "text is in the composer."};
}

QNHeadsUp noTextFieldHeadsUp() {
    return {QNQuickFixHUDKind::noTarget, "No text field",
            hudMessage(QNQuickFixHUDKind::noTarget)};
}

std::string hudTitle(QNQuickFixHUDKind kind) {
    return hudText(texts(kind).title);
}

std::string hudMessage(QNQuickFixHUDKind kind) {
    return hudText(texts(kind).message);
}

std::optional<platform::Point> hudBottomCenterOrigin(platform::Size frameSize,
                                                     const std::vector<platform::Screen>& screens,
                                                     const std::optional<platform::Screen>& main) {
    std::optional<platform::Screen> screen = main;
    if (!screen && !screens.empty()) {
        screen = screens.front();
    }
    if (!screen) {
        return std::nullopt;
    }
    const auto& v = screen->visibleFrame;
    return platform::Point{v.minX() + v.width() / 2 - frameSize.width / 2, v.minY() + 80};
}

// --- Content view

QNViewQuickFixHUD::QNViewQuickFixHUD(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void QNViewQuickFixHUD::setContent(QNQuickFixHUDKind kind, QString title, QString message) {
    kind_ = kind;
    title_ = std::move(title);
    message_ = std::move(message);
    updateGeometry();
    update();
}

QFont QNViewQuickFixHUD::titleFont() const {
    QFont font = QApplication::font();
    font.setPixelSize(13);
    font.setWeight(QFont::DemiBold);
    return font;
}

QFont QNViewQuickFixHUD::messageFont() const {
    QFont font = QApplication::font();
    font.setPixelSize(12);
    return font;
}

int QNViewQuickFixHUD::textWidth() const {
    const int titleWidth = QFontMetrics(titleFont()).horizontalAdvance(title_);
    const int messageWidth = QFontMetrics(messageFont()).horizontalAdvance(message_);
    return std::min(kMaximumTextWidth, std::max(titleWidth, messageWidth) + 1);
}

QStringList QNViewQuickFixHUD::messageLines() const {
    QStringList lines;
    const QFontMetrics metrics(messageFont());
    const int width = textWidth();
    QTextLayout layout(message_, messageFont());
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (lines.size() == 1) {
            // The second line takes the rest, cut with an ellipsis.
            lines << metrics.elidedText(message_.mid(line.textStart()), Qt::ElideRight, width);
            break;
        }
        lines << message_.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    return lines;
}

QSize QNViewQuickFixHUD::fittingSize() const {
    const int titleHeight = QFontMetrics(titleFont()).height();
    const int messageHeight =
        QFontMetrics(messageFont()).height() * std::max<int>(1, int(messageLines().size()));
    const int content = std::max(kIconColumn, titleHeight + kLineSpacing + messageHeight);
    return {kPaddingX * 2 + kIconColumn + kSpacing + textWidth(), kPaddingY * 2 + content};
}

QRectF QNViewQuickFixHUD::cardRect() const {
    const int m = kShadowMargin;
    return QRectF(rect()).adjusted(m, m, -m, -m);
}

void QNViewQuickFixHUD::setOpaque(bool opaque) {
    opaque_ = opaque;
    update();
}

void QNViewQuickFixHUD::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF card = cardRect();
    // Shadow: black at 12 %, about 12 points soft, 4 points down.
    for (int i = 12; i > 0 && !opaque_; i -= 2) {
        QColor shadow(0, 0, 0, int(255 * 0.12 * (1.0 - i / 13.0) / 4));
        painter.setPen(Qt::NoPen);
        painter.setBrush(shadow);
        painter.drawRoundedRect(
            card.translated(0, 4).adjusted(-i / 2.0, -i / 2.0, i / 2.0, i / 2.0),
            kCornerRadius + i / 2.0, kCornerRadius + i / 2.0);
    }
    QColor material = palette().color(QPalette::Window);
    material.setAlphaF(opaque_ ? 1.0f : 0.94f);
    painter.setBrush(material);
    painter.drawRoundedRect(card, kCornerRadius, kCornerRadius);
    QColor separator = palette().color(QPalette::Mid);
    separator.setAlphaF(0.4f);
    painter.setPen(QPen(separator, 0.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(card.adjusted(0.25, 0.25, -0.25, -0.25), kCornerRadius - 0.25,
                            kCornerRadius - 0.25);

    const QRectF inner = card.adjusted(kPaddingX, kPaddingY, -kPaddingX, -kPaddingY);
    const QIcon icon = iconFor(kind_, *style());
    const QRect iconRect(int(inner.left()) + (kIconColumn - 18) / 2, int(inner.center().y()) - 9,
                         18, 18);
    icon.paint(&painter, iconRect);

    const double textLeft = inner.left() + kIconColumn + kSpacing;
    const QFontMetrics titleMetrics(titleFont());
    const QFontMetrics messageMetrics(messageFont());
    const QStringList lines = messageLines();
    const double blockHeight = titleMetrics.height() + kLineSpacing +
                               messageMetrics.height() * std::max<int>(1, int(lines.size()));
    double y = inner.center().y() - blockHeight / 2;
    painter.setPen(palette().color(QPalette::WindowText));
    painter.setFont(titleFont());
    painter.drawText(QPointF(textLeft, y + titleMetrics.ascent()),
                     titleMetrics.elidedText(title_, Qt::ElideRight, textWidth()));
    y += titleMetrics.height() + kLineSpacing;
    painter.setPen(palette().color(QPalette::PlaceholderText));
    painter.setFont(messageFont());
    for (const QString& line : lines) {
        painter.drawText(QPointF(textLeft, y + messageMetrics.ascent()), line);
        y += messageMetrics.height();
    }
}

// --- Panel

QNQuickFixHUDPanel::QNQuickFixHUDPanel(std::shared_ptr<Executor> executor,
                                       std::shared_ptr<platform::Screens> screens)
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus),
      executor_(std::move(executor)),
      screens_(std::move(screens)) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    hostingView_ = new QNViewQuickFixHUD(this);
    hostingView_->setContent(
        QNQuickFixHUDKind::pasteOnClipboard,
        QString::fromStdString(hudTitle(QNQuickFixHUDKind::pasteOnClipboard)),
        QString::fromStdString(hudMessage(QNQuickFixHUDKind::pasteOnClipboard)));
    setContentSize(QSize(320, 64));
}

QNQuickFixHUDPanel::~QNQuickFixHUDPanel() {
    if (dismissTask) {
        dismissTask->request_stop();
    }
}

QSize QNQuickFixHUDPanel::contentSize() const {
    const int m = QNViewQuickFixHUD::kShadowMargin;
    return size() - QSize(2 * m, 2 * m);
}

void QNQuickFixHUDPanel::setContentSize(QSize content) {
    const int m = QNViewQuickFixHUD::kShadowMargin;
    resize(content + QSize(2 * m, 2 * m));
    hostingView_->setGeometry(rect());
}

void QNQuickFixHUDPanel::positionAtBottomCenter() {
    if (!screens_) {
        return;
    }
    const int m = QNViewQuickFixHUD::kShadowMargin;
    const QSize card = contentSize();
    const auto origin = hudBottomCenterOrigin({double(card.width()), double(card.height())},
                                              screens_->screens(), screens_->mainScreen());
    if (!origin) {
        return;
    }
    // The card, not its shadow's margin, sits at the origin.
    const platform::Rect frame =
        platform::makeRect(origin->x - m, origin->y - m, double(width()), double(height()));
    move(yDownRect(frame).topLeft());
}

void QNQuickFixHUDPanel::dismiss() {
    if (dismissTask) {
        dismissTask->request_stop();
        dismissTask.reset();
    }
    hide();
}

QCoro::Task<> QNQuickFixHUDPanel::scheduleDismiss(std::chrono::nanoseconds after,
                                                  QPointer<QNQuickFixHUDPanel> panel,
                                                  Executor& executor,
                                                  std::shared_ptr<std::stop_source> task) {
    co_await sleepFor(executor, after, task->get_token());
    if (task->stop_requested() || panel.isNull()) {
        co_return;
    }
    panel->dismiss();
}

void QNQuickFixHUDPanel::orderFrontRegardless() {
    show();
    raise();
}

void QNQuickFixHUDPanel::setCutsCornersWithMask(bool cuts) {
    cutsCorners_ = cuts;
    hostingView_->setOpaque(cuts);
    if (!cuts) {
        clearMask();
        return;
    }
    QPainterPath path;
    path.addRoundedRect(hostingView_->cardRect(), kCornerRadius, kCornerRadius);
    setMask(QRegion(path.toFillPolygon().toPolygon()));
}

QNQuickFixHUDController::QNQuickFixHUDController(std::shared_ptr<Executor> executor,
                                                 std::shared_ptr<platform::Screens> screens,
                                                 std::shared_ptr<platform::DesktopSession> desktop)
    : panel_(std::make_unique<QNQuickFixHUDPanel>(std::move(executor), std::move(screens))),
      desktop_(std::move(desktop)) {}

QNQuickFixHUDController::QNQuickFixHUDController(const AppContext& context)
    : QNQuickFixHUDController(context.executor, context.seams.screens,
                              context.seams.desktopSession) {}

void QNQuickFixHUDController::show(QNQuickFixHUDKind kind, std::optional<std::string> title) {
    show(QNHeadsUp{kind, title.value_or(hudTitle(kind)), hudMessage(kind)});
}

void QNQuickFixHUDController::show(const QNHeadsUp& headsUp) {
    auto& panel = *panel_;
    if (panel.dismissTask) {
        panel.dismissTask->request_stop();
        panel.dismissTask.reset();
    }
    panel.hostingView()->setContent(headsUp.kind, QString::fromStdString(headsUp.title),
                                    QString::fromStdString(headsUp.message));
    panel.setContentSize(panel.hostingView()->fittingSize().expandedTo(kMinimumContentSize));
    panel.setCutsCornersWithMask(cutsCornersOnThisPlatform() &&
                                 !(desktop_ && desktop_->hasCompositor()));
    panel.positionAtBottomCenter();
    panel.orderFrontRegardless();
    auto task = std::make_shared<std::stop_source>();
    panel.dismissTask = task;
    QNQuickFixHUDPanel::scheduleDismiss(kDismissAfter, QPointer<QNQuickFixHUDPanel>(&panel),
                                        *panel.executor(), task);
}

}  // namespace ravlin
