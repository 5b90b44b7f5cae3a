#include "app/settings/pane_correction.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/settings/correction_rows.h"
#include "app/settings/settings_form.h"
#include "app/settings/correction_settings.h"
#include "app/support/desktop_wording.h"

namespace ravlin {
namespace {

using namespace settings_rows;
using Slot = QNStoreCustomCorrectionPrompt::Slot;

// Local mode as it is here: no on-device model, Ravlin's rules on this computer.
constexpr const char* kLocalRulesLabel = "Local correction";
constexpr const char* kLocalRulesTitle = "Ravlin's rules";
constexpr const char* kPrivacyText =
    "Ravlin does not collect any data at all. In local mode, Ravlin corrects with its own rules "
    "on this computer; there is no on-device model here. When online mode is enabled, Ravlin "
    "uses OpenRouter for hosted correction, and none of your data is used for training.";

QFormLayout* newSection(QVBoxLayout& content, const QString& title) {
    auto* group = new QGroupBox(title);
    auto* form = new QFormLayout(group);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->setLabelAlignment(Qt::AlignLeft);
    content.addWidget(group);
    return form;
}

// A footer: lines in the footnote font and the secondary style, 6 apart.
void addFooter(QVBoxLayout& content, std::initializer_list<std::string> lines) {
    auto* footer = new QWidget;
    auto* layout = new QVBoxLayout(footer);
    layout->setContentsMargins(4, 0, 4, 6);
    layout->setSpacing(6);
    for (const auto& line : lines) {
        if (!line.empty()) {
            layout->addWidget(textLabel(shown(line), secondary(), true));
        }
    }
    content.addWidget(footer);
}

void addLocalModelSection(QVBoxLayout& content, const QNControllerCorrectionSettings& controller) {
    auto* form = newSection(content, {});
    const auto summary = controller.availability();
    // This desktop has no on-device model: without one, local mode is Ravlin's own rules, which
    // work, and the row names them instead of why the model is missing.
    const bool rulesOnly = !summary.isAvailable;
    const QString label = rulesOnly ? shown(kLocalRulesLabel) : shown("Apple Intelligence");
    const QString title = rulesOnly ? shown(kLocalRulesTitle) : qs(summary.title);
    // A filled dot, 8 pixels across.
    QPixmap dot(8, 8);
    dot.fill(Qt::transparent);
    QPainter painter(&dot);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(summary.isAvailable || rulesOnly ? green() : orange());
    painter.drawEllipse(QRectF(0, 0, 8, 8));
    painter.end();
    auto* mark = new QLabel;
    mark->setPixmap(dot);
    mark->setFixedSize(8, 8);
    auto* value = hstack({mark, textLabel(title, secondary())}, 6);
    value->setObjectName(QStringLiteral("settings.correction.localModelStatus"));
    value->setAccessibleName(label + QStringLiteral(": ") + title);
    form->addRow(label, value);
    if (!rulesOnly && !summary.detail.empty()) {
        form->addRow(textLabel(qs(summary.detail), secondary(), true));
    }
    // The composer's warning that the on-device model is unavailable is what the row answers.
    auto warning = controller.unavailableWarning();
    if (rulesOnly && warning == summary.title) {
        warning.reset();
    }
    if (warning) {
        auto* label = textLabel(shown(*warning), orange(), true);
        label->setObjectName(QStringLiteral("settings.correction.unavailableWarning"));
        form->addRow(label);
    }
}

void addCloudSection(QVBoxLayout& content,
                     const std::shared_ptr<QNControllerCorrectionSettings>& controller) {
    auto* form = newSection(content, {});
    auto* toggle = new QCheckBox(desktopButtonText("Use Cloud AI Model for better corrections"));
    toggle->setObjectName(QStringLiteral("settings.correction.cloudToggle"));
    toggle->setChecked(controller->mode() == QNCorrectionModelMode::online);
    // Toggled however it is: a click, Space, or a screen reader's action (which emits no click).
    QObject::connect(toggle, &QCheckBox::toggled, toggle,
                     [controller](bool on) { controller->setCloudEnabled(on); });
    form->addRow(toggle);
    addFooter(content,
              {kPrivacyText,
               controller->showsCodexSetupWarning(controller->onlineStatus())
                   ? "Finish Codex CLI setup under Advanced below, or switch the BYOK provider "
                     "back to OpenAI."
                   : ""});
}

void addPromptRow(QFormLayout& form,
                  const std::shared_ptr<QNControllerCorrectionSettings>& controller, Slot slot) {
    const bool local = slot == Slot::local;
    const QString name = local ? QStringLiteral("local") : QStringLiteral("online");
    auto* toggle = new QCheckBox(desktopButtonText(local ? "Custom local correction prompt"
                                                         : "Custom online correction prompt"));
    toggle->setObjectName(QStringLiteral("settings.correction.customPrompt.%1.toggle").arg(name));
    toggle->setChecked(
        controller->environment().stores->customCorrectionPrompt->isEnabled(slot).get());
    QObject::connect(toggle, &QCheckBox::toggled, toggle,
                     [controller, slot](bool on) { controller->setCustomPromptEnabled(on, slot); });
    auto* edit = new QPushButton(desktopButtonText("Edit…"));
    edit->setObjectName(QStringLiteral("settings.correction.customPrompt.%1.edit").arg(name));
    edit->setAccessibleName(desktopText(local ? "Edit local prompt…" : "Edit online prompt…"));
    QFont small = edit->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    edit->setFont(small);
    QObject::connect(edit, &QPushButton::clicked, edit,
                     [controller, slot] { controller->editCustomPrompt(slot); });
    // The two rows' buttons line up at the trailing edge.
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    layout->addWidget(toggle, 1, Qt::AlignVCenter);
    layout->addWidget(edit, 0, Qt::AlignVCenter);
    form.addRow(row);
}

}  // namespace

QNViewCorrectionPane::QNViewCorrectionPane(
    std::shared_ptr<QNControllerCorrectionSettings> controller, QWidget* parent)
    : QWidget(parent), controller_(std::move(controller)) {
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(0, 0, 0, 0);
    const auto& stores = *controller_->environment().stores;
    const auto& state = controller_->state();
    auto changed = [this](const auto&) { rebuild(); };
    subscriptions_.push_back(stores.correctionModelMode->mode().observe(changed));
    const auto& byok = *stores.bringYourOwnKey;
    subscriptions_.push_back(byok.isEnabled().observe(changed));
    subscriptions_.push_back(byok.providerKind().observe(changed));
    subscriptions_.push_back(byok.model().observe(changed));
    subscriptions_.push_back(byok.hasAPIKey().observe(changed));
    subscriptions_.push_back(byok.codexDetection().observe(changed));
    subscriptions_.push_back(stores.customCorrectionPrompt->localIsEnabled().observe(changed));
    subscriptions_.push_back(stores.customCorrectionPrompt->onlineIsEnabled().observe(changed));
    subscriptions_.push_back(state.byokSaveStatus.observe(changed));
    subscriptions_.push_back(
        state.byokKeyInput.observe([this](const auto&) { keyInputChanged(); }));
    if (const auto& observeIssues = controller_->environment().observeIssues) {
        for (auto& subscription : observeIssues([this] { rebuild(); })) {
            subscriptions_.push_back(std::move(subscription));
        }
    }
    rebuild();
}

QNViewCorrectionPane::~QNViewCorrectionPane() = default;

void QNViewCorrectionPane::rebuild() {
    // The focused field keeps the focus (and its cursor) across the rebuild.
    QString focusName;
    int cursor = -1;
    if (QWidget* focused = focusWidget(); focused != nullptr && isAncestorOf(focused)) {
        focusName = focused->objectName();
        if (auto* field = qobject_cast<QLineEdit*>(focused)) {
            cursor = field->cursorPosition();
        }
    }
    if (content_ != nullptr) {
        // Later: the old rows may be inside the signal that asked for this rebuild.
        content_->hide();
        content_->deleteLater();
    }
    content_ = new QWidget(this);
    auto* content = new QVBoxLayout(content_);
    content->setContentsMargins(12, 12, 12, 12);
    content->setSpacing(4);

    addLocalModelSection(*content, *controller_);
    addCloudSection(*content, controller_);

    auto* advanced = newSection(*content, shown("Advanced"));
    addPromptRow(*advanced, controller_, Slot::local);
    addPromptRow(*advanced, controller_, Slot::online);
    const bool online = controller_->mode() == QNCorrectionModelMode::online;
    keyRow_ = online ? addBYOKRows(*advanced, controller_) : QNBYOKKeyRowWidgets{};
    keyStoredShown_ = controller_->isKeyStoredAndFieldEmpty();
    addFooter(*content, {"When enabled, your custom prompt replaces Ravlin's built-in prompt for "
                         "that route. Each prompt is stored on this Mac only.",
                         online ? controller_->ownKeyExplanation() : std::string()});
    content->addStretch(1);
    layout_->addWidget(content_);
    content_->show();

    if (!focusName.isEmpty()) {
        if (auto* again = content_->findChild<QWidget*>(focusName)) {
            again->setFocus();
            if (auto* field = qobject_cast<QLineEdit*>(again); field != nullptr && cursor >= 0) {
                field->setCursorPosition(cursor);
            }
        }
    }
}

void QNViewCorrectionPane::keyInputChanged() {
    if (controller_->isKeyStoredAndFieldEmpty() != keyStoredShown_) {
        rebuild();
        return;
    }
    const QString typed = QString::fromStdString(controller_->state().byokKeyInput.get());
    if (keyRow_.field != nullptr && keyRow_.field->text() != typed) {
        keyRow_.field->setText(typed);
    }
    if (keyRow_.saveButton != nullptr) {
        keyRow_.saveButton->setEnabled(controller_->canSaveAndVerify());
    }
}

void QNViewCorrectionPane::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (!event->spontaneous()) {
        // Another pane was chosen or the window closed: a key typed but not saved is dropped.
        controller_->advancedSectionDisappeared();
    }
}

}  // namespace ravlin
