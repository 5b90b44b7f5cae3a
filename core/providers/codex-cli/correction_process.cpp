#include "core/providers/codex-cli/correction_process.h"

#include <array>
#include <string_view>

#include "core/process/child_run.h"
#include "core/process/output_capture.h"
#include "core/text/unicode.h"

namespace ravlin {

namespace codex_cli {

std::vector<std::string> makeArguments(const std::filesystem::path& workingDirectory,
                                       const std::filesystem::path& outputFile,
                                       const std::optional<std::string>& model,
                                       bool includeExtraConfig) {
    std::vector<std::string> arguments = {
        "exec",      "--json",    "--cd",        workingDirectory.string(), "--skip-git-repo-check",
        "--sandbox", "read-only", "--ephemeral", "--output-last-message",   outputFile.string(),
        "--color",   "never",     "-c",          "approval_policy=never",
    };
    if (includeExtraConfig) {
        arguments.insert(arguments.end(), {"-c", "web_search=disabled", "-c",
                                           "suppress_unstable_features_warning=true"});
    }
    if (model) {
        std::string trimmedModel = text::trimmed(std::string_view(*model));
        if (!trimmedModel.empty()) {
            arguments.push_back("-m");
            arguments.push_back(std::move(trimmedModel));
        }
    }
    arguments.push_back("-");
    return arguments;
}

}  // namespace codex_cli

bool shouldRetryWithoutExtraConfig(const QNCodexCLICorrectionProcessResult& result) {
    const std::string haystack =
        text::lowercased(std::string_view(result.stdout + "\n" + result.stderr));
    const auto contains = [&haystack](std::string_view needle) {
        return haystack.find(needle) != std::string::npos;
    };
    if (!contains("web_search") && !contains("suppress_unstable_features_warning")) {
        return false;
    }
    static constexpr std::array<std::string_view, 9> kPhrases = {
        "unknown config",      "unknown configuration", "invalid config",
        "unrecognized config", "unsupported config",    "unknown key",
        "unexpected key",      "unrecognized option",   "unknown option",
    };
    for (const auto phrase : kPhrases) {
        if (contains(phrase)) {
            return true;
        }
    }
    return false;
}

QNCodexCLICorrectionProcessResult runCodexCLICorrectionProcess(
    const QNCodexCLICorrectionInvocation& invocation, std::stop_token stopToken) {
    process::ChildRunOptions options;
    options.spawn = {invocation.executablePath, invocation.arguments, std::nullopt};
    options.standardInput = invocation.standardInput;
    options.timeout = process::durationFromSeconds(invocation.timeoutSeconds);
    options.terminationGrace = process::kTerminationGrace;
    options.drainGrace = std::chrono::milliseconds(500);
    options.stopToken = std::move(stopToken);

    process::HeadTailCapture output(invocation.maxOutputBytes);
    process::HeadTailCapture error(invocation.maxOutputBytes);
    const process::ChildRunOutcome outcome = process::runChild(options, output, error);
    if (outcome.spawnError) {
        return {-1, "", outcome.spawnError->description(), false, false};
    }
    QNCodexCLICorrectionProcessResult result{outcome.status, output.text(), error.text(), false,
                                             false};
    if (outcome.cancelled) {
        result.terminationStatus = 130;
        result.cancelled = true;
    } else if (outcome.timedOut) {
        result.terminationStatus = 124;
        result.timedOut = true;
    }
    return result;
}

}  // namespace ravlin
