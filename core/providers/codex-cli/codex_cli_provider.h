#pragma once

// The provider that corrects text with the Codex command-line tool the user installed and signed
// in to. It holds no key of its own: each correction is one non-interactive, read-only,
// ephemeral run of the tool in a private working directory, with the instructions and the text
// on the tool's standard input. The tool's final message, read back from a file, is cleaned with
// the model-output sanitizer and returned. The stream carries exactly one event, never a partial.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "core/providers/codex-cli/correction_process.h"
#include "core/providers/codex-cli/detection.h"
#include "core/providers/provider.h"
#include "core/support/clock.h"

namespace ravlin {

class QNProviderCodexCLICorrection final : public QNProviderCorrectionModel {
  public:
    static constexpr double defaultTimeoutSeconds = 30.0;

    struct Configuration {
        // The executable to run; trimmed before use, blank counts as absent.
        std::optional<std::string> executablePath;
        // The detection the path came from, when there is one. Its own path is never run.
        std::optional<QNCodexCLIDetection> detection;
        // Passed with "-m"; trimmed before use, blank counts as absent.
        std::optional<std::string> model;
        // Time one run may take; a value that is not finite and positive means the default.
        double timeoutSeconds = defaultTimeoutSeconds;
        std::string providerID;

        friend bool operator==(const Configuration&, const Configuration&) = default;
    };

    // Runs one child process; blocks until it is over. A stop request ends it as cancelled.
    using Runner = std::function<QNCodexCLICorrectionProcessResult(
        const QNCodexCLICorrectionInvocation&, std::stop_token)>;

    // What a provider runs with besides its configuration; the defaults are the real ones.
    struct Services {
        // runCodexCLICorrectionProcess.
        Runner runner;
        // Measures latency; the steady clock.
        std::shared_ptr<const Clock> clock;
        // Where the per-run working directories go; the system's temporary directory.
        std::optional<std::filesystem::path> temporaryRoot;
    };

    QNProviderCodexCLICorrection(Configuration configuration, std::string prompt,
                                 Services services = {});
    // No detection; the prompt is the text of the online prompt version in force.
    QNProviderCodexCLICorrection(std::optional<std::string> executablePath,
                                 std::optional<std::string> model, double timeoutSeconds,
                                 std::string providerID);
    // The path is the detection's; the prompt is the text of the online prompt version in force.
    QNProviderCodexCLICorrection(const QNCodexCLIDetection& detection,
                                 std::optional<std::string> model, double timeoutSeconds,
                                 std::string providerID);

    [[nodiscard]] std::string providerID() const override { return providerID_; }
    // Route remote, name "Codex CLI", the trimmed model, no host, the online prompt version in
    // force (whatever instructions the provider was given).
    [[nodiscard]] QNModelCorrectionProviderDiagnostics diagnostics() const override;
    // The detection's problem when it has one, else "Codex CLI Not Configured" without a path,
    // else "Codex CLI Ready". Runs nothing.
    [[nodiscard]] QNModelAvailabilitySummary availabilitySummary() override;
    // Nothing to warm.
    void prewarm() override {}

    // Drains the stream; a stop request makes the answer `cancelled`.
    [[nodiscard]] QNModelCorrectionProviderResult generateCorrection(
        const QNModelCorrectionRequest& request, std::stop_token stopToken) override;
    // Exactly one event: `unavailable` with the detection's title or "Codex CLI Not Configured"
    // (no process is started), else the outcome of the run (repeated once without the extra
    // settings when the tool refused them): `completed`, `failed` or `cancelled`.
    void streamCorrection(const QNModelCorrectionRequest& request, std::stop_token stopToken,
                          const QNModelCorrectionStreamSink& sink) override;

    [[nodiscard]] const Configuration& configuration() const { return configuration_; }
    [[nodiscard]] const std::string& prompt() const { return prompt_; }

    // The configured path / model trimmed of whitespace and newlines; absent when blank.
    [[nodiscard]] std::optional<std::string> executablePath() const;
    [[nodiscard]] std::optional<std::string> model() const;
    // The configured time-out when finite and positive, else the default.
    [[nodiscard]] double effectiveTimeoutSeconds() const;

    // Why the configured detection cannot be used; absent without a detection or when it is
    // supported, has a path and is signed in.
    [[nodiscard]] std::optional<QNModelAvailabilitySummary> detectionSummary() const;

    // The tool's argument list (see codex_cli::makeArguments).
    [[nodiscard]] static std::vector<std::string> makeArguments(
        const std::filesystem::path& workingDirectory, const std::filesystem::path& outputFile,
        const std::optional<std::string>& model, bool includeExtraConfig);

    // The failure the tool reported on its standard output (one JSON object per line): the
    // condensed message of the first event of type "turn.failed", or absent when there is none.
    [[nodiscard]] static std::optional<std::string> parseEvents(std::string_view standardOutput);
    // The first non-blank text in a JSON value, trimmed: a string itself; in an object first under
    // "message", "reason", "error", "details", "detail" in that order, then under every other key
    // but "type", each value searched the same way. Absent when there is none.
    [[nodiscard]] static std::optional<std::string> findEventMessage(const nlohmann::json& value);
    // A tool's failure text made fit to show: escape sequences removed, whitespace collapsed, a
    // sign-in problem named as such, at most 500 characters.
    [[nodiscard]] static std::string condenseFailureText(std::string_view text);
    // The failure text of a run that exited with a non-zero status.
    [[nodiscard]] static std::string failureMessage(
        const QNCodexCLICorrectionProcessResult& result);
    // Seconds rounded to hundredths: "30", "2.5", "0.13".
    [[nodiscard]] static std::string formatSeconds(double seconds);

  private:
    struct RunOutcome;

    [[nodiscard]] QNModelCorrectionStreamEvent runCorrection(
        const QNModelCorrectionRequest& request, const std::string& executablePath,
        std::stop_token stopToken) const;
    [[nodiscard]] RunOutcome runOnce(const QNModelCorrectionRequest& request,
                                     const std::string& executablePath,
                                     const std::string& standardInput, double timeoutSeconds,
                                     bool includeExtraConfig, bool* retry,
                                     std::stop_token stopToken) const;
    [[nodiscard]] std::filesystem::path temporaryRoot() const;

    std::string providerID_;
    Configuration configuration_;
    std::string prompt_;
    Runner runner_;
    std::shared_ptr<const Clock> clock_;
    std::optional<std::filesystem::path> temporaryRoot_;
};

}  // namespace ravlin
