#include "app/settings/byok_rows.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>

#include "app/settings/codex_rows.h"
#include "app/settings/correction_rows.h"
#include "app/settings/settings_form.h"
#include "app/settings/correction_settings.h"

namespace ravlin {
namespace {

using namespace settings_rows;
using Controller = QNControllerCorrectionSettings;

QString providerTitle(QNBYOKProviderKind kind, bool codexAvailable) {
    if (kind == QNBYOKProviderKind::openai) {
        return shown("OpenAI");
    }
    if (codexAvailable) {
        return shown("Codex CLI");
    }
    return shown("Codex CLI") + QStringLiteral(" (") + shown("Not found") + QStringLiteral(")");
}

void addProviderRow(QFormLayout& form, const std::shared_ptr<Controller>& controller) {
    auto& byok = controller->byokStore();
    const auto kinds = controller->offeredProviderKinds();
    const auto stored = byok.providerKind().get();
    if (kinds.size() == 1 && stored == QNBYOKProviderKind::openai) {
        auto* value = textLabel(shown("OpenAI"), secondary());
        value->setObjectName(QStringLiteral("settings.byok.providerLabel"));
        form.addRow(shown("Provider"), value);
        return;
    }
    auto* picker = new QComboBox;
    picker->setObjectName(QStringLiteral("settings.byok.providerPicker"));
    picker->setAccessibleName(shown("Provider"));
    const bool available = byok.codexDetection().get().isAvailable();
    for (const auto kind : kinds) {
        picker->addItem(providerTitle(kind, available), static_cast<int>(kind));
    }
    picker->setCurrentIndex(picker->findData(static_cast<int>(stored)));
    QObject::connect(picker, &QComboBox::activated, picker, [picker, controller](int index) {
        controller->chooseProviderKind(
            static_cast<QNBYOKProviderKind>(picker->itemData(index).toInt()));
        // A refused choice (a check is running) shows the stored kind again.
        const QSignalBlocker blocker(picker);
        picker->setCurrentIndex(
            picker->findData(static_cast<int>(controller->byokStore().providerKind().get())));
    });
    form.addRow(shown("Provider"), picker);
}

void addModelRow(QFormLayout& form, const std::shared_ptr<Controller>& controller) {
    auto& byok = controller->byokStore();
    const QString model = qs(byok.model().get());
    if (byok.providerKind().get() == QNBYOKProviderKind::codexCLI) {
        auto* field = new QLineEdit(model);
        field->setObjectName(QStringLiteral("settings.byok.codex.modelField"));
        field->setAccessibleName(shown("Model"));
        field->setPlaceholderText(shown("Codex account default"));
        field->setInputMethodHints(Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase);
        QObject::connect(field, &QLineEdit::textEdited, field,
                         [field, controller](const QString& text) {
                             controller->setModel(text.toStdString());
                             const QString storedModel = qs(controller->byokStore().model().get());
                             if (field->text() != storedModel) {
                                 // Refused while a check runs.
                                 field->setText(storedModel);
                             }
                         });
        form.addRow(shown("Model"), field);
        return;
    }
    auto* picker = new QComboBox;
    picker->setObjectName(QStringLiteral("settings.byok.modelPicker"));
    picker->setAccessibleName(shown("Model"));
    for (const auto name : Controller::openAIModels) {
        picker->addItem(qs(name));
    }
    // A stored model outside the list leaves the picker without a selection.
    picker->setCurrentIndex(picker->findText(model));
    QObject::connect(picker, &QComboBox::activated, picker, [picker, controller](int index) {
        controller->setModel(picker->itemText(index).toStdString());
        const QSignalBlocker blocker(picker);
        picker->setCurrentIndex(picker->findText(qs(controller->byokStore().model().get())));
    });
    form.addRow(shown("Model"), picker);
}

QNBYOKKeyRowWidgets addKeyRows(QFormLayout& form, const std::shared_ptr<Controller>& controller) {
    QNBYOKKeyRowWidgets widgets;
    const auto& status = controller->state().byokSaveStatus.get();
    if (controller->isKeyStoredAndFieldEmpty()) {
        auto* stored = textLabel(shown("Key stored"), secondary());
        stored->setWordWrap(false);
        stored->setAccessibleName(shown("Key stored"));
        auto* clear = new QPushButton(desktopButtonText("Clear"));
        clear->setObjectName(QStringLiteral("settings.byok.clearButton"));
        clear->setEnabled(status.kind != QNModeBYOKSaveStatus::Kind::validating);
        QObject::connect(clear, &QPushButton::clicked, clear,
                         [controller] { controller->clearKey(); });
        form.addRow(shown("API Key"),
                    hstack({hstack({symbolLabel("key.fill", green()), stored}, 4), clear}, 10));
        return widgets;
    }
    auto* field = new QLineEdit(qs(controller->state().byokKeyInput.get()));
    field->setObjectName(QStringLiteral("settings.byok.apiKeyField"));
    field->setAccessibleName(shown("API Key"));
    field->setEchoMode(QLineEdit::Password);
    if (controller->byokStore().providerKind().get() == QNBYOKProviderKind::openai) {
        field->setPlaceholderText(shown("sk-…"));
    }
    // The user's edits only: the program emptying the field is no edit.
    QObject::connect(field, &QLineEdit::textEdited, field, [controller](const QString& text) {
        controller->keyFieldEdited(text.toStdString());
    });
    form.addRow(shown("API Key"), field);
    widgets.field = field;

    auto* save = new QPushButton(desktopButtonText("Save & Verify"));
    save->setObjectName(QStringLiteral("settings.byok.saveAndVerifyButton"));
    save->setDefault(true);
    save->setEnabled(controller->canSaveAndVerify());
    QObject::connect(save, &QPushButton::clicked, save,
                     [controller] { controller->saveAndVerifyKey(); });
    form.addRow(hstack({save, statusBadge(status)}, 10));
    widgets.saveButton = save;
    return widgets;
}

}  // namespace

QNBYOKKeyRowWidgets addBYOKRows(QFormLayout& form, const std::shared_ptr<Controller>& controller) {
    auto& byok = controller->byokStore();
    auto* toggle = new QCheckBox(desktopButtonText("Bring Your Own Key (BYOK)"));
    toggle->setObjectName(QStringLiteral("settings.byok.enableToggle"));
    toggle->setChecked(byok.isEnabled().get());
    QObject::connect(toggle, &QCheckBox::toggled, toggle,
                     [controller](bool on) { controller->setBYOKEnabled(on); });
    form.addRow(toggle);
    if (!byok.isEnabled().get()) {
        return {};
    }
    addProviderRow(form, controller);
    addModelRow(form, controller);
    QNBYOKKeyRowWidgets widgets;
    if (byok.providerKind().get() == QNBYOKProviderKind::openai) {
        widgets = addKeyRows(form, controller);
    } else {
        addCodexRows(form, controller);
    }
    if (const auto message = controller->byokStatusMessage()) {
        const bool failed =
            controller->state().byokSaveStatus.get().kind == QNModeBYOKSaveStatus::Kind::failed;
        form.addRow(textLabel(shown(*message), failed ? red() : secondary(), true));
    }
    return widgets;
}

}  // namespace ravlin
