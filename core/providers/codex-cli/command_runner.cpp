#include "core/providers/codex-cli/command_runner.h"

#include <cstdio>

#include "core/process/child_run.h"
#include "core/process/output_capture.h"

namespace ravlin {

namespace {

std::string timeoutMessage(const std::string& executablePath,
                           const std::vector<std::string>& arguments, double timeoutSeconds) {
    char seconds[64];
    std::snprintf(seconds, sizeof seconds, "%.2f", timeoutSeconds);
    std::string message =
        std::string("Command timed out after ") + seconds + "s: " + executablePath;
    for (const auto& argument : arguments) {
        message += " ";
        message += argument;
    }
    return message;
}

}  // namespace

QNCodexCLICommandResult runCodexCLICommand(const std::string& executablePath,
                                           const std::vector<std::string>& arguments,
                                           const std::optional<process::Environment>& environment,
                                           double timeoutSeconds, std::int64_t maxOutputBytes) {
    process::ChildRunOptions options;
    options.spawn = {executablePath, arguments, environment};
    options.timeout = process::durationFromSeconds(timeoutSeconds);
    options.terminationGrace = process::kTerminationGrace;
    options.drainGrace = process::kTerminationGrace;

    process::PrefixCapture output(maxOutputBytes);
    process::PrefixCapture error(maxOutputBytes);
    const process::ChildRunOutcome outcome = process::runChild(options, output, error);
    if (outcome.spawnError) {
        return {-1, "", outcome.spawnError->description()};
    }

    QNCodexCLICommandResult result{outcome.status, output.text(), error.text()};
    if (outcome.timedOut) {
        result.terminationStatus = 124;
        const std::string message = timeoutMessage(executablePath, arguments, timeoutSeconds);
        result.stderr = result.stderr.empty() ? message : result.stderr + "\n" + message;
    }
    return result;
}

}  // namespace ravlin
