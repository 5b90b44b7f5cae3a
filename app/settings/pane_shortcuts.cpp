#include "app/settings/pane_shortcuts.h"

#include <algorithm>
#include <initializer_list>

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/settings/settings_form.h"
#include "app/settings/settings_view.h"
#include "app/shell/coordinator.h"
#include "app/shell/permissions.h"
#include "app/shell/recorders/double_tap_recorder.h"
#include "app/shell/recorders/hot_key_recorder.h"
#include "app/shell/recorders/local_key_monitor.h"
#include "app/shell/recorders/recorder_symbols.h"

namespace ravlin {
namespace {

const char* const kUnavailable =
    "That shortcut is unavailable. It may already be used by macOS or another app.";

QColor styleColor(QNSettingsTextStyle style) {
    QLabel probe;
    applyTextStyle(probe, style);
    return probe.palette().color(QPalette::WindowText);
}

QLabel* symbolLabel(std::string_view symbol, QNSettingsTextStyle style, int size) {
    auto* label = new QLabel;
    label->setPixmap(symbolIcon(symbol, styleColor(style), size).pixmap(size, size));
    label->setFixedSize(size, size);
    return label;
}

// Named for the shortcut it resets: "Reset Composer shortcut".
QToolButton* makeResetButton(const char* name) {
    auto* button = new QToolButton;
    button->setAutoRaise(true);
    button->setIcon(symbolIcon("arrow.counterclockwise",
                               button->palette().color(QPalette::ButtonText),
                               QNPaneShortcuts::resetButtonSize));
    button->setIconSize(QSize(QNPaneShortcuts::resetButtonSize, QNPaneShortcuts::resetButtonSize));
    button->setFixedSize(QNPaneShortcuts::resetButtonSize, QNPaneShortcuts::resetButtonSize);
    button->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 0; }"));
    button->setToolTip(desktopText(name));
    button->setAccessibleName(desktopText(name));
    return button;
}

bool isFunctionKeyAlone(const QNConfigHotKey& config) {
    return config.keyCode == QNConfigHotKey::functionKeyCode &&
           config.modifiers == QNConfigHotKey::functionMask;
}

}  // namespace

// --- Grant row

QNGrantRow::QNGrantRow(QNViewSettings& view, QWidget* parent) : QWidget(parent), view_(view) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    auto* layout = new QHBoxLayout;
    layout->setSpacing(12);
    column->addLayout(layout);
    layout->addWidget(new QLabel(desktopText("Correct text in any app")));
    layout->addStretch(1);
    badge_ = new QWidget;
    auto* badge = new QHBoxLayout(badge_);
    badge->setContentsMargins(0, 0, 0, 0);
    badge->setSpacing(4);
    auto* granted = new QLabel(desktopText("Granted"));
    QFont medium = granted->font();
    medium.setWeight(QFont::Medium);
    granted->setFont(medium);
    applyTextStyle(*granted, QNSettingsTextStyle::green);
    badge->addWidget(granted);
    badge->addWidget(symbolLabel("checkmark.circle.fill", QNSettingsTextStyle::green, 14));
    layout->addWidget(badge_);
    button_ = new QPushButton(desktopButtonText("Grant Access"));
    button_->setAutoDefault(false);
    // Prominent: the accent colour behind the label.
    QPalette prominent = button_->palette();
    prominent.setColor(QPalette::Button, prominent.color(QPalette::Highlight));
    prominent.setColor(QPalette::ButtonText, prominent.color(QPalette::HighlightedText));
    button_->setPalette(prominent);
    layout->addWidget(button_);
    note_ = makeFootnote({}, QNSettingsTextStyle::secondary);
    note_->setObjectName(QStringLiteral("settings.general.accessibilityNote"));
    column->addWidget(note_);
    if (view.isPreview()) {
        button_->setEnabled(false);
    } else {
        button_->setObjectName(QStringLiteral("settings.general.grantAccessButton"));
        connect(button_, &QPushButton::clicked, this, [this] { grantAccess(); });
        if (const auto& deps = view.dependencies(); deps && deps->permissions) {
            subscriptions_.push_back(
                deps->permissions->isTrusted().observe([this](const bool&) { refresh(); }));
        }
    }
    refresh();
}

QNGrantRow::~QNGrantRow() = default;

bool QNGrantRow::isTrusted() const {
    if (const auto& snapshot = view_.previewSnapshot()) {
        return snapshot->isAccessibilityTrusted;
    }
    const auto& deps = view_.dependencies();
    return deps && deps->permissions && deps->permissions->isTrusted().get();
}

void QNGrantRow::refresh() {
    const bool trusted = isTrusted();
    badge_->setVisible(trusted);
    button_->setVisible(!trusted);
    // Without the session's bus nothing can be granted: the row says why, whatever was asked.
    const auto& deps = view_.dependencies();
    const bool noBus = !view_.isPreview() && deps && !deps->seams.desktopSession->hasSessionBus();
    // Asked for: granted (now, or by the time trust was seen), or no bus answered.
    const bool asked = requested_.has_value();
    const bool noAnswer = asked && !trusted;
    const char* note = noBus      ? kAccessibilityNoSessionBus
                       : noAnswer ? kAccessibilityNoBusAnswers
                       : asked    ? kAccessibilityRestartHint
                                  : nullptr;
    note_->setText(note != nullptr ? desktopText(note) : QString());
    note_->setVisible(note != nullptr);
    applyTextStyle(*note_, noBus || noAnswer ? QNSettingsTextStyle::orange
                                             : QNSettingsTextStyle::secondary);
}

void QNGrantRow::grantAccess() {
    const auto& deps = view_.dependencies();
    if (!deps) {
        return;
    }
    // The row changes to "Granted" as soon as the monitor hears of trust (at once when the bus
    // answered now); the note stays, for the applications that were running before.
    requested_ = requestAccessibility(deps->seams);
    if (deps->permissions && *requested_ == QNAccessibilityRequest::switchedOn) {
        deps->permissions->update(true);
    }
    refresh();
}

// --- Shortcuts pane

QNPaneShortcuts::QNPaneShortcuts(QNViewSettings& view, QNSettingsForm& form)
    : QObject(&form), view_(view) {
    const bool live = !view.isPreview();
    const auto& deps = view.dependencies();
    QNRecorderContext context;
    if (live) {
        context.seams = deps->seams;
        context.executor = deps->executor;
        context.localMonitor =
            deps->localKeyMonitor
                ? deps->localKeyMonitor
                : std::make_shared<QNQtLocalKeyMonitor>(
                      [layout = deps->seams.keyboardLayout](std::uint32_t scanCode) {
                          return layout ? layout->keyCodeForNativeScanCode(scanCode)
                                        : QNConfigHotKey::noKeyCode;
                      });
    }
    // (The recorders share one width, set by refresh() to fit the widest of them.)
    const auto previewText = [](QWidget*& slot) {
        auto* label = new QLabel;
        label->setFont(monospacedBodyFont());
        applyTextStyle(*label, QNSettingsTextStyle::secondary);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        slot = label;
        return label;
    };

    // Composer shortcut
    auto* composer = form.addSection();
    auto* row = composer->addHBoxRow();
    row->addWidget(new QLabel(desktopText("Open Composer")));
    row->addStretch(1);
    if (live) {
        hotKeyRecorder_ = new QNViewHotKeyRecorder(
            deps->hotKeyStore ? deps->hotKeyStore->config().get() : QNConfigHotKey{}, false,
            [this](bool recording) { hotKeyRecordingChanged(recording); },
            [this](std::uint32_t keyCode, std::uint32_t modifiers) {
                captureHotKey(keyCode, modifiers);
            },
            [this] { clearHotKey(); }, context);
        hotKeyRecorder_->setObjectName(QStringLiteral("settings.hotkeys.recorder"));
        hotKeyRecorder_->setName(desktopText("Composer shortcut"));
        row->addWidget(hotKeyRecorder_);
    } else {
        QWidget* slot = nullptr;
        row->addWidget(previewText(slot));
        hotKeyText_ = static_cast<QLabel*>(slot);
    }
    hotKeyReset_ = makeResetButton("Reset Composer shortcut");
    row->addWidget(hotKeyReset_);
    hotKeyError_ = makeFootnote({}, QNSettingsTextStyle::red);
    composer->addRow(hotKeyError_);
    composer->setFooter(makeFootnote(desktopText("Click the field, then press a key combination. ") +
                                         QString::fromStdString(shortcutRecorderHint()),
                                     QNSettingsTextStyle::secondary));

    // Fn guidance
    fnSection_ = form.addSection();
    auto* guidance = fnSection_->addVBoxRow(10);
    auto* title = new QHBoxLayout;
    title->setSpacing(6);
    title->addWidget(symbolLabel("exclamationmark.triangle.fill", QNSettingsTextStyle::orange, 16));
    auto* titleText = new QLabel(desktopText("Using the Fn key"));
    QFont semibold = titleText->font();
    semibold.setWeight(QFont::DemiBold);
    titleText->setFont(semibold);
    title->addWidget(titleText);
    title->addStretch(1);
    guidance->addLayout(title);
    auto* lines = new QVBoxLayout;
    lines->setSpacing(4);
    for (const char* line : {"To use the Fn key alone:", "•  Open System Settings → Keyboard",
                             "•  Click \"Press Globe key to\" dropdown", "•  Select \"Do Nothing\"",
                             "•  This allows Ravlin to detect the Fn key press"}) {
        lines->addWidget(makeBodyLabel(desktopText(line)));
    }
    guidance->addLayout(lines);

    // Double tap
    auto* doubleTap = form.addSection(desktopText("Double-Tap Shortcut"));
    doubleTapSwitch_ = new QCheckBox(desktopButtonText("Enable double-tap"));
    if (live) {
        doubleTapSwitch_->setObjectName(QStringLiteral("settings.hotkeys.enableDoubleTap"));
    }
    doubleTap->addRow(doubleTapSwitch_);
    auto* doubleTapRow = doubleTap->addHBoxRow();
    doubleTapRow->addWidget(new QLabel(desktopText("Double-tap key")));
    doubleTapRow->addStretch(1);
    if (live) {
        doubleTapRecorder_ = new QNViewDoubleTapKeyRecorder(
            deps->doubleTapStore ? deps->doubleTapStore->config().get().keyCode
                                 : defaultDoubleTapKeyCode,
            false, false, [this](bool recording) { doubleTapRecordingChanged(recording); },
            [this](std::uint32_t keyCode) { captureDoubleTapKey(keyCode); }, context);
        doubleTapRecorder_->setObjectName(QStringLiteral("settings.hotkeys.doubleTapRecorder"));
        doubleTapRecorder_->setName(desktopText("Double-tap key"));
        doubleTapRow->addWidget(doubleTapRecorder_);
    } else {
        QWidget* slot = nullptr;
        doubleTapRow->addWidget(previewText(slot));
        doubleTapText_ = static_cast<QLabel*>(slot);
    }
    doubleTapReset_ = makeResetButton("Reset double-tap key");
    doubleTapRow->addWidget(doubleTapReset_);
    doubleTap->setFooter(makeFootnote(
        desktopText("Type the key twice in a row at the start of a line or after a space. Avoids "
                    "needing a modifier combo."),
        QNSettingsTextStyle::secondary));

    // Quick Fix (not drawn in the preview)
    quickFixSection_ = form.addSection(desktopText("Quick Fix"));
    quickFixSwitch_ = new QCheckBox(desktopButtonText("Enable Quick Fix"));
    quickFixSection_->addRow(quickFixSwitch_);
    auto* quickFixRow = quickFixSection_->addHBoxRow();
    quickFixRow->addWidget(new QLabel(desktopText("Quick Fix key")));
    quickFixRow->addStretch(1);
    quickFixReset_ = makeResetButton("Reset Quick Fix key");
    if (live) {
        quickFixSwitch_->setObjectName(QStringLiteral("settings.hotkeys.enableQuickFix"));
        quickFixRecorder_ = new QNViewDoubleTapKeyRecorder(
            deps->quickFixStore ? deps->quickFixStore->config().get().keyCode
                                : defaultQuickFixKeyCode,
            false, true, [this](bool recording) { quickFixRecordingChanged(recording); },
            [this](std::uint32_t keyCode) { captureQuickFixKey(keyCode); }, context);
        quickFixRecorder_->setObjectName(QStringLiteral("settings.hotkeys.quickFixRecorder"));
        quickFixRecorder_->setName(desktopText("Quick Fix key"));
        quickFixRow->addWidget(quickFixRecorder_);
    }
    quickFixRow->addWidget(quickFixReset_);
    quickFixSection_->setFooter(makeFootnote(
        desktopText("Fix selected text in the current app and paste the corrected text back "
                    "inline."),
        QNSettingsTextStyle::secondary));

    if (live) {
        hotKeyReset_->setObjectName(QStringLiteral("settings.hotkeys.resetButton"));
        doubleTapReset_->setObjectName(QStringLiteral("settings.hotkeys.doubleTapResetButton"));
        quickFixReset_->setObjectName(QStringLiteral("settings.hotkeys.quickFixResetButton"));
        connect(hotKeyReset_, &QToolButton::clicked, this, [this] { resetHotKey(); });
        connect(doubleTapReset_, &QToolButton::clicked, this, [this] { resetDoubleTap(); });
        connect(quickFixReset_, &QToolButton::clicked, this, [this] { resetQuickFix(); });
    }
    connect(doubleTapSwitch_, &QCheckBox::toggled, this, [this](bool on) {
        if (!refreshing_) {
            setDoubleTapEnabled(on);
        }
    });
    connect(quickFixSwitch_, &QCheckBox::toggled, this, [this](bool on) {
        if (!refreshing_) {
            setQuickFixEnabled(on);
        }
    });

    const auto changed = [this](const auto&) { refresh(); };
    subscriptions_.push_back(view.hotKeyError.observe(changed));
    subscriptions_.push_back(view.activeKeyCapture.observe(changed));
    if (live) {
        if (deps->hotKeyStore) {
            subscriptions_.push_back(deps->hotKeyStore->config().observe(changed));
        }
        if (deps->doubleTapStore) {
            subscriptions_.push_back(deps->doubleTapStore->config().observe(changed));
        }
        if (deps->quickFixStore) {
            subscriptions_.push_back(deps->quickFixStore->config().observe(changed));
        }
    }
    refresh();
}

QNPaneShortcuts::~QNPaneShortcuts() = default;

void QNPaneShortcuts::refresh() {
    refreshing_ = true;
    const auto capture = view_.activeKeyCapture.get();
    const auto& error = view_.hotKeyError.get();
    hotKeyError_->setText(QString::fromStdString(error.value_or("")));
    hotKeyError_->setVisible(error.has_value());
    if (const auto& snapshot = view_.previewSnapshot()) {
        hotKeyText_->setText(QString::fromStdString(snapshot->hotKeyDisplay));
        doubleTapText_->setText(QString::fromStdString(snapshot->doubleTapKeyDisplay));
        doubleTapText_->setEnabled(snapshot->doubleTapEnabled);
        doubleTapSwitch_->setChecked(snapshot->doubleTapEnabled);
        fnSection_->setVisible(snapshot->isHotKeyFunctionOnly);
        quickFixSection_->setVisible(false);
        for (auto* reset : {hotKeyReset_, doubleTapReset_, quickFixReset_}) {
            reset->setEnabled(false);
        }
        refreshing_ = false;
        return;
    }
    const auto& deps = *view_.dependencies();
    const QNConfigHotKey hotKey =
        deps.hotKeyStore ? deps.hotKeyStore->config().get() : QNConfigHotKey{};
    const QNConfigDoubleTap doubleTap =
        deps.doubleTapStore ? deps.doubleTapStore->config().get() : QNConfigDoubleTap{};
    const QNConfigQuickFix quickFix =
        deps.quickFixStore ? deps.quickFixStore->config().get() : QNConfigQuickFix{};
    hotKeyRecorder_->setConfig(hotKey);
    hotKeyRecorder_->setRecording(capture == QNModeKeyCapture::hotKey);
    hotKeyReset_->setEnabled(
        !(hotKey.keyCode == defaultHotKey.keyCode && hotKey.modifiers == defaultHotKey.modifiers));
    fnSection_->setVisible(isFunctionKeyAlone(hotKey));

    doubleTapSwitch_->setChecked(doubleTap.isEnabled);
    doubleTapRecorder_->setKeyCode(doubleTap.keyCode);
    doubleTapRecorder_->setEnabled(doubleTap.isEnabled);
    doubleTapRecorder_->setRecording(capture == QNModeKeyCapture::doubleTap);
    doubleTapReset_->setEnabled(
        !(doubleTap.keyCode == defaultDoubleTapKeyCode && doubleTap.isEnabled));

    quickFixSwitch_->setChecked(quickFix.isEnabled);
    quickFixRecorder_->setKeyCode(quickFix.keyCode);
    quickFixRecorder_->setEnabled(quickFix.isEnabled);
    quickFixRecorder_->setRecording(capture == QNModeKeyCapture::quickFix);
    quickFixReset_->setEnabled(!(quickFix.keyCode == defaultQuickFixKeyCode && quickFix.isEnabled));
    // One column of recorders, as wide as the widest needs: no key name or prompt is cut.
    const std::initializer_list<QWidget*> recorders{hotKeyRecorder_, doubleTapRecorder_,
                                                    quickFixRecorder_};
    int width = recorderWidth;
    for (QWidget* recorder : recorders) {
        width = std::max(width, recorder->minimumSizeHint().width());
    }
    for (QWidget* recorder : recorders) {
        recorder->setFixedWidth(width);
    }
    refreshing_ = false;
}

void QNPaneShortcuts::endCapture() {
    view_.activeKeyCapture.set(std::nullopt);
}

void QNPaneShortcuts::hotKeyRecordingChanged(bool recording) {
    if (recording) {
        view_.activeKeyCapture.set(QNModeKeyCapture::hotKey);
    } else if (view_.activeKeyCapture.get() == QNModeKeyCapture::hotKey) {
        endCapture();
    }
}

void QNPaneShortcuts::captureHotKey(std::uint32_t keyCode, std::uint32_t modifiers) {
    const auto& deps = view_.dependencies();
    if (!deps || !deps->coordinator) {
        return;
    }
    view_.hotKeyError.set(std::nullopt);
    if (!deps->coordinator->updateHotKey(QNConfigHotKey{keyCode, modifiers})) {
        view_.hotKeyError.set(desktopText(kUnavailable).toStdString());
    }
}

void QNPaneShortcuts::clearHotKey() {
    const auto& deps = view_.dependencies();
    if (!deps || !deps->coordinator) {
        return;
    }
    endCapture();
    view_.hotKeyError.set(std::nullopt);
    (void)deps->coordinator->updateHotKey(QNConfigHotKey{QNConfigHotKey::noKeyCode, 0});
}

void QNPaneShortcuts::resetHotKey() {
    const auto& deps = view_.dependencies();
    if (!deps || !deps->coordinator) {
        return;
    }
    endCapture();
    view_.hotKeyError.set(std::nullopt);
    (void)deps->coordinator->updateHotKey(defaultHotKey);
}

void QNPaneShortcuts::doubleTapRecordingChanged(bool recording) {
    if (recording) {
        view_.activeKeyCapture.set(QNModeKeyCapture::doubleTap);
    } else if (view_.activeKeyCapture.get() == QNModeKeyCapture::doubleTap) {
        endCapture();
    }
}

void QNPaneShortcuts::setDoubleTapEnabled(bool enabled) {
    const auto& deps = view_.dependencies();
    if (deps && deps->coordinator) {
        if (!enabled && view_.activeKeyCapture.get() == QNModeKeyCapture::doubleTap) {
            endCapture();
        }
        deps->coordinator->setDoubleTapEnabled(std::nullopt, enabled);
    }
    refresh();
}

void QNPaneShortcuts::captureDoubleTapKey(std::uint32_t keyCode) {
    if (const auto& deps = view_.dependencies(); deps && deps->coordinator) {
        deps->coordinator->setDoubleTapEnabled(keyCode, std::nullopt);
    }
}

void QNPaneShortcuts::resetDoubleTap() {
    if (const auto& deps = view_.dependencies(); deps && deps->coordinator) {
        endCapture();
        deps->coordinator->setDoubleTapEnabled(defaultDoubleTapKeyCode, true);
    }
}

void QNPaneShortcuts::quickFixRecordingChanged(bool recording) {
    if (recording) {
        view_.activeKeyCapture.set(QNModeKeyCapture::quickFix);
    } else if (view_.activeKeyCapture.get() == QNModeKeyCapture::quickFix) {
        endCapture();
    }
}

void QNPaneShortcuts::setQuickFixEnabled(bool enabled) {
    const auto& deps = view_.dependencies();
    if (deps && deps->coordinator) {
        if (!enabled && view_.activeKeyCapture.get() == QNModeKeyCapture::quickFix) {
            endCapture();
        }
        deps->coordinator->setQuickFixEnabled(std::nullopt, enabled);
    }
    refresh();
}

void QNPaneShortcuts::captureQuickFixKey(std::uint32_t keyCode) {
    if (const auto& deps = view_.dependencies(); deps && deps->coordinator) {
        deps->coordinator->setQuickFixEnabled(keyCode, std::nullopt);
    }
}

void QNPaneShortcuts::resetQuickFix() {
    if (const auto& deps = view_.dependencies(); deps && deps->coordinator) {
        endCapture();
        deps->coordinator->setQuickFixEnabled(defaultQuickFixKeyCode, true);
    }
}

}  // namespace ravlin
