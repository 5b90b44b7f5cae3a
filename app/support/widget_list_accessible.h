#pragma once

#include <QAccessible>
#include <QAccessibleWidget>
#include <QWidgetList>

namespace ravlin {

// A widget's answer to assistive technology whose children are the widgets `children()` lists,
// read again on every call, so an index is always checked against the children there are now.
class WidgetListAccessible : public QAccessibleWidget {
  public:
    using QAccessibleWidget::QAccessibleWidget;

    [[nodiscard]] int childCount() const override { return static_cast<int>(children().size()); }
    [[nodiscard]] QAccessibleInterface* child(int index) const override {
        const QWidgetList list = children();
        if (index < 0 || index >= list.size()) {
            return nullptr;
        }
        return QAccessible::queryAccessibleInterface(list.at(index));
    }
    [[nodiscard]] int indexOfChild(const QAccessibleInterface* child) const override {
        if (child == nullptr || child->object() == nullptr || !child->object()->isWidgetType()) {
            return -1;
        }
        return static_cast<int>(children().indexOf(static_cast<QWidget*>(child->object())));
    }

  protected:
    [[nodiscard]] virtual QWidgetList children() const = 0;
};

}  // namespace ravlin
