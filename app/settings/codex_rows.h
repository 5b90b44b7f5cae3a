#pragma once

// The Codex command-line tool's rows, shown in place of the key rows while it is the own
// provider: the missing-tool warning, the path, version, support and login rows, and the
// "Open Terminal" and "Verify" buttons with the status badge.

#include <memory>
#include <string>

#include "core/providers/codex-cli/detection.h"

class QFormLayout;

namespace ravlin {

class QNControllerCorrectionSettings;

// The support row's text: "Supported", "Not found", "Unsupported. Install Codex CLI 0.116.0 or
// newer." and so on.
[[nodiscard]] std::string codexSupportText(const QNCodexCLIDetection& detection);
[[nodiscard]] std::string codexLoginText(QNCodexCLILoginState state);

void addCodexRows(QFormLayout& form,
                  const std::shared_ptr<QNControllerCorrectionSettings>& controller);

}  // namespace ravlin
