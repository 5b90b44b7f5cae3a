#include "app/support/combo_box_accessibility.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QLatin1StringView>
#include <QLineEdit>
#include <QWidgetList>

#include "app/support/widget_list_accessible.h"

namespace ravlin {
namespace {

// A combo box whose children are its list, then its text field when it has one.
class ComboBoxAccessible final : public WidgetListAccessible {
  public:
    explicit ComboBoxAccessible(QComboBox* box) : WidgetListAccessible(box, QAccessible::ComboBox) {}

    [[nodiscard]] QString text(QAccessible::Text kind) const override {
        const QString shown =
            box()->isEditable() && box()->lineEdit() != nullptr ? box()->lineEdit()->text()
                                                                : box()->currentText();
        switch (kind) {
            case QAccessible::Name: {
                const QString name = box()->accessibleName();
                return name.isEmpty() ? shown : name;
            }
            case QAccessible::Value:
                return shown;
            default:
                return QAccessibleWidget::text(kind);
        }
    }
    [[nodiscard]] QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.expanded = box()->view() != nullptr && box()->view()->isVisible();
        state.editable = box()->isEditable();
        return state;
    }
    [[nodiscard]] QStringList actionNames() const override {
        return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override {
        if (action == showMenuAction() || action == pressAction()) {
            if (box()->view() != nullptr && box()->view()->isVisible()) {
                box()->hidePopup();
            } else {
                box()->showPopup();
            }
            return;
        }
        QAccessibleWidget::doAction(action);
    }

  private:
    [[nodiscard]] QComboBox* box() const { return static_cast<QComboBox*>(widget()); }
    [[nodiscard]] QWidgetList children() const override {
        QWidgetList list;
        if (QAbstractItemView* view = box()->view()) {
            list.append(view);
        }
        if (box()->isEditable() && box()->lineEdit() != nullptr) {
            list.append(box()->lineEdit());
        }
        return list;
    }
};

QAccessibleInterface* comboBoxFactory(const QString& className, QObject* object) {
    if (className != QLatin1StringView("QComboBox")) {
        return nullptr;
    }
    auto* box = qobject_cast<QComboBox*>(object);
    return box != nullptr ? new ComboBoxAccessible(box) : nullptr;
}

}  // namespace

void installComboBoxAccessibility() {
    // Asked before the factory QApplication installed for the widgets.
    QAccessible::installFactory(&comboBoxFactory);
}

}  // namespace ravlin
