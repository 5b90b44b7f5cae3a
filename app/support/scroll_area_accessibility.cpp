#include "app/support/scroll_area_accessibility.h"

#include <QAbstractScrollArea>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QLatin1StringView>
#include <QScrollBar>
#include <QWidgetList>

#include "app/support/widget_list_accessible.h"

namespace ravlin {
namespace {

// A scroll area as a client area whose children are its viewport, then each scroll bar's
// container while that bar shows, then the corner widget while it shows.
class ScrollAreaAccessible final : public WidgetListAccessible {
  public:
    explicit ScrollAreaAccessible(QAbstractScrollArea* area)
        : WidgetListAccessible(area, QAccessible::Client) {}

    [[nodiscard]] bool isValid() const override {
        return QAccessibleWidget::isValid() && area()->viewport() != nullptr;
    }
    [[nodiscard]] QAccessibleInterface* childAt(int x, int y) const override {
        // In screen coordinates, as the caller gives them.
        for (QWidget* widget : children()) {
            if (widget->isVisible() &&
                QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size()).contains(x, y)) {
                return QAccessible::queryAccessibleInterface(widget);
            }
        }
        return nullptr;
    }

  private:
    [[nodiscard]] QAbstractScrollArea* area() const {
        return static_cast<QAbstractScrollArea*>(widget());
    }
    [[nodiscard]] QWidgetList children() const override {
        QWidgetList list;
        QAbstractScrollArea* const scroll = area();
        if (QWidget* viewport = scroll->viewport()) {
            list.append(viewport);
        }
        for (QScrollBar* bar : {scroll->horizontalScrollBar(), scroll->verticalScrollBar()}) {
            if (bar != nullptr && bar->isVisible() && bar->parentWidget() != nullptr) {
                list.append(bar->parentWidget());
            }
        }
        if (QWidget* corner = scroll->cornerWidget(); corner != nullptr && corner->isVisible()) {
            list.append(corner);
        }
        return list;
    }
};

QAccessibleInterface* scrollAreaFactory(const QString& className, QObject* object) {
    // Only the class names Qt itself answers with its scroll area: every subclass with an answer
    // of its own (text fields, lists, tables) is met at its own name first and keeps it.
    if (className != QLatin1StringView("QScrollArea") &&
        className != QLatin1StringView("QAbstractScrollArea")) {
        return nullptr;
    }
    auto* area = qobject_cast<QAbstractScrollArea*>(object);
    return area != nullptr ? new ScrollAreaAccessible(area) : nullptr;
}

}  // namespace

void installScrollAreaAccessibility() {
    // Factories installed later are asked first, so ours comes before the one QApplication
    // installed for the widgets.
    QAccessible::installFactory(&scrollAreaFactory);
}

}  // namespace ravlin
