#include "app/settings/codex_rows.h"

#include <QFormLayout>
#include <QPushButton>

#include "app/settings/correction_rows.h"
#include "app/settings/settings_form.h"
#include "app/settings/correction_settings.h"
#include "core/text/unicode.h"

namespace ravlin {
namespace {

using namespace settings_rows;
using Support = QNCodexCLISupportStatus;
using Login = QNCodexCLILoginState;

struct Mark {
    std::string_view symbol;
    QColor color;
};

Mark supportMark(const QNCodexCLIDetection& detection) {
    switch (detection.supportStatus) {
        case Support::supported:
            return {"checkmark.circle.fill", green()};
        case Support::versionCheckFailed:
        case Support::pathResolutionFailed:
            return {"exclamationmark.circle.fill", orange()};
        case Support::missing:
        case Support::unsupportedVersion:
        case Support::unparsableVersion:
        case Support::unsupportedPlatform:
            break;
    }
    return {"xmark.circle.fill", red()};
}

Mark loginMark(Login state) {
    switch (state) {
        case Login::loggedIn:
            return {"checkmark.circle.fill", green()};
        case Login::notLoggedIn:
            return {"xmark.circle.fill", red()};
        case Login::unknown:
            break;
    }
    return {"exclamationmark.circle.fill", orange()};
}

// The mark and a text of at most two lines.
QWidget* markedValue(const Mark& mark, const std::string& text) {
    auto* label = textLabel(shown(text));
    label->setMaximumHeight(label->fontMetrics().lineSpacing() * 2 + 2);
    return hstack({symbolLabel(mark.symbol, mark.color), label}, 5);
}

ElidedLabel* oneLine(const std::optional<std::string>& value, std::string_view absent) {
    const auto text = value ? text::trimmedNonEmpty(*value) : std::nullopt;
    return new ElidedLabel(text ? qs(*text) : shown(absent));
}

}  // namespace

std::string codexSupportText(const QNCodexCLIDetection& detection) {
    switch (detection.supportStatus) {
        case Support::supported:
            return text::trimmedNonEmpty(detection.executablePath.value_or(""))
                       ? "Supported"
                       : "Path unavailable";
        case Support::missing:
            return "Not found";
        case Support::unsupportedVersion:
        case Support::unparsableVersion:
            return "Unsupported. " +
                   QNControllerCorrectionSettings::codexUnavailableMessage(detection);
        case Support::versionCheckFailed:
            return "Version check failed";
        case Support::pathResolutionFailed:
            return "Path unavailable";
        case Support::unsupportedPlatform:
            return "macOS only";
    }
    return "Not found";
}

std::string codexLoginText(QNCodexCLILoginState state) {
    switch (state) {
        case Login::loggedIn:
            return "Logged in";
        case Login::notLoggedIn:
            return "Not logged in";
        case Login::unknown:
            break;
    }
    return "Unknown";
}

void addCodexRows(QFormLayout& form,
                  const std::shared_ptr<QNControllerCorrectionSettings>& controller) {
    const QNCodexCLIDetection detection = controller->byokStore().codexDetection().get();
    if (!detection.isAvailable()) {
        auto* warning = hstack(
            {symbolLabel("exclamationmark.triangle.fill", orange()),
             textLabel(shown("Codex CLI is selected, but Ravlin cannot find a supported codex "
                             "executable. Switch to OpenAI or install Codex CLI to continue."),
                       red(), true)},
            6);
        warning->setObjectName(QStringLiteral("settings.byok.codex.missingWarning"));
        form.addRow(warning);
    }

    auto* path = oneLine(detection.executablePath, "Not found");
    path->setObjectName(QStringLiteral("settings.byok.codex.pathRow"));
    QFont mono = path->font();
    mono.setStyleHint(QFont::Monospace);
    mono.setFamily(QStringLiteral("monospace"));
    path->setFont(mono);
    form.addRow(shown("Path"), path);

    auto* version = oneLine(detection.versionString, "Unknown");
    version->setObjectName(QStringLiteral("settings.byok.codex.versionRow"));
    form.addRow(shown("Version"), version);

    auto* support = markedValue(supportMark(detection), codexSupportText(detection));
    support->setObjectName(QStringLiteral("settings.byok.codex.supportRow"));
    form.addRow(shown("Support"), support);

    auto* login =
        markedValue(loginMark(detection.loginState), codexLoginText(detection.loginState));
    login->setObjectName(QStringLiteral("settings.byok.codex.loginRow"));
    form.addRow(shown("Login"), login);

    const auto& status = controller->state().byokSaveStatus.get();
    const bool idleEnough = status.kind != QNModeBYOKSaveStatus::Kind::validating;
    auto* terminal = new QPushButton(desktopButtonText("Open Terminal"));
    terminal->setObjectName(QStringLiteral("settings.byok.codex.openTerminalButton"));
    terminal->setEnabled(idleEnough);
    QObject::connect(terminal, &QPushButton::clicked, terminal,
                     [controller] { controller->openTerminalForCodexLogin(); });
    auto* verify = new QPushButton(desktopButtonText("Verify"));
    verify->setObjectName(QStringLiteral("settings.byok.codex.verifyButton"));
    verify->setDefault(true);
    verify->setEnabled(idleEnough);
    QObject::connect(verify, &QPushButton::clicked, verify,
                     [controller] { controller->verifyCodexCLI(); });
    form.addRow(hstack({terminal, verify, statusBadge(status)}, 10));
}

}  // namespace ravlin
