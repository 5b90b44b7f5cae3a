#include "app/editor/panel_composition.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

#include "app/support/qt_screens.h"
#include "app/support/rounded_windows.h"
#include "app/support/start_up_activation.h"

namespace ravlin {

QNPanelComposition::QNPanelComposition(std::shared_ptr<platform::Screens> screens)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      screens_(std::move(screens)) {
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(int(M::panelMinWidth), int(std::ceil(panelMinHeight_)));
    setMaximumHeight(int(M::panelMaxHeight));
    resize(int(M::panelWidth), int(panelMinHeight_));
    cutsCorners_ = cutsCornersByDefault();
}

bool QNPanelComposition::cutsCornersByDefault() {
    return cutsCornersOnThisPlatform();
}

QNPanelComposition::~QNPanelComposition() = default;

void QNPanelComposition::setPanelMinHeight(double height) {
    panelMinHeight_ = height;
    setMinimumSize(int(M::panelMinWidth), int(std::ceil(height)));
}

void QNPanelComposition::installContentView(QWidget* content) {
    if (container_ || content == nullptr) {
        return;
    }
    auto* container = new QWidget(this);
    container->setAttribute(Qt::WA_TranslucentBackground);
    container->setMinimumSize(int(M::panelMinWidth), int(std::ceil(panelMinHeight_)));
    auto* layout = new QVBoxLayout(container);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(container);
    container_ = container;
    updateMask();
}

void QNPanelComposition::resizeToContentHeight(double height) {
    const auto frame = panelResizedFrame(frameYUp(), height, panelMinHeight_, anchorEdge);
    if (frame) {
        setFrameYUp(*frame);
    }
}

void QNPanelComposition::positionNear(const std::optional<platform::Rect>& anchor) {
    const platform::Rect frame = frameYUp();
    std::vector<platform::Screen> screens;
    std::optional<platform::Screen> main;
    if (screens_) {
        screens = screens_->screens();
        main = screens_->mainScreen();
    }
    const auto placement = panelPlacement(anchor, frame.size, screens, main);
    anchorEdge = placement.anchorEdge;
    setFrameYUp(platform::Rect{placement.origin, frame.size});
}

void QNPanelComposition::makeKeyAndOrderFront() {
    if (!isVisible() && onWillShow) {
        onWillShow();
    }
    activate();
}

void QNPanelComposition::activate() {
    show();
    raise();
    activateWindow();
}

void QNPanelComposition::settleResign(std::uint64_t showing) {
    if (!resignHandler || showing != showings_ || !isVisible() || isActiveWindow()) {
        return;  // closed meanwhile (and perhaps shown again), or the keyboard came back
    }
    if (startUpActivation::tookTheKeyboardByItself(QApplication::activeWindow())) {
        activate();
        return;
    }
    resignHandler();
}

void QNPanelComposition::orderOut() {
    hide();
}

platform::Rect QNPanelComposition::frameYUp() const {
    return yUpRect(QRect(pos(), size()));
}

void QNPanelComposition::setFrameYUp(const platform::Rect& frame) {
    const QRect r = yDownRect(frame);
    setGeometry(r);
    // A frameless window's geometry is its frame; keep it exact even before it is shown.
    move(r.topLeft());
}

void QNPanelComposition::setCutsCornersWithMask(bool cuts) {
    cutsCorners_ = cuts;
    updateMask();
    update();
}

bool QNPanelComposition::isSettingsChord(const QKeyEvent& event) {
    const bool comma = event.key() == Qt::Key_Comma || event.text() == QLatin1String(",");
    return event.type() == QEvent::KeyPress && comma &&
           event.modifiers() == Qt::KeyboardModifiers(Qt::ControlModifier);
}

bool QNPanelComposition::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::WindowDeactivate:
            if (resignHandler) {
                QTimer::singleShot(resignSettle, this,
                                   [this, showing = showings_] { settleResign(showing); });
            }
            break;
        case QEvent::Hide:
            ++showings_;
            break;
        case QEvent::ShortcutOverride: {
            // The chord is ours before any shortcut of a child sees it.
            auto* key = static_cast<QKeyEvent*>(event);
            if (isSettingsChord(*key)) {
                key->accept();
                return true;
            }
            break;
        }
        default:
            break;
    }
    return QWidget::event(event);
}

void QNPanelComposition::keyPressEvent(QKeyEvent* event) {
    if (isSettingsChord(*event)) {
        if (onSettingsKey) {
            onSettingsKey();
        }
        event->accept();
        return;
    }
    const bool shift = event->modifiers().testFlag(Qt::ShiftModifier);
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !shift) {
        if (onCommitKey) {
            onCommitKey();
        }
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        if (onDismissKey) {
            onDismissKey();
        }
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void QNPanelComposition::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    updateMask();
}

void QNPanelComposition::paintEvent(QPaintEvent*) {
    if (cutsCorners_) {
        // What the mask keeps; outside it the window has no pixels.
        QPainter painter(this);
        painter.setClipRegion(mask());
        painter.fillRect(rect(), palette().color(QPalette::Window));
    }
}

void QNPanelComposition::updateMask() {
    if (!cutsCorners_) {
        clearMask();
        return;
    }
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), M::cornerRadius, M::cornerRadius);
    setMask(QRegion(path.toFillPolygon().toPolygon()));
}

}  // namespace ravlin
