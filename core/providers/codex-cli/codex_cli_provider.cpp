#include "core/providers/codex-cli/codex_cli_provider.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <nlohmann/json.hpp>
#include <system_error>
#include <utility>

#include "core/providers/failure_text.h"
#include "core/records/prompt_catalogue.h"
#include "core/services/output_sanitizer.h"
#include "core/text/terminal_controls.h"
#include "core/support/uuid.h"
#include "core/text/unicode.h"

namespace ravlin {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kNotConfiguredTitle = "Codex CLI Not Configured";
constexpr std::string_view kNotConfiguredDetail =
    "Install Codex CLI and run codex login to use Codex correction.";
constexpr std::string_view kNotLoggedInMessage = "Codex CLI not logged in - run `codex login`";
constexpr std::string_view kEmptyResponseMessage = "Codex returned an empty response";
constexpr std::string_view kTooLargeMessage = "Codex returned an unexpected response (too large)";
constexpr std::string_view kDirectoryFailureMessage =
    "Codex CLI failed to create a temporary directory";

QNModelAvailabilitySummary unavailableSummary(std::string_view title, std::string detail) {
    return {false, std::string(title), std::move(detail)};
}

std::optional<std::string> trimmedNonEmpty(const std::optional<std::string>& value) {
    if (!value) {
        return std::nullopt;
    }
    std::string trimmed = text::trimmed(std::string_view(*value));
    if (trimmed.empty()) {
        return std::nullopt;
    }
    return trimmed;
}

std::string onlinePromptText() {
    const auto version = QNModelCorrectionPrompt::active(QNModelCorrectionPromptUseCase::online);
    return QNModelCorrectionPrompt::loadText(version.rawValue());
}

// Splits at LF, CR, CR LF, VT, FF, NEL, LS and PS; empty pieces are dropped.
std::vector<std::string_view> splitLines(std::string_view utf8) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    std::size_t index = 0;
    const auto cut = [&](std::size_t breakLength) {
        if (index > start) {
            lines.push_back(utf8.substr(start, index - start));
        }
        index += breakLength;
        start = index;
    };
    while (index < utf8.size()) {
        const auto byte = static_cast<unsigned char>(utf8[index]);
        if (byte == '\r') {
            cut(index + 1 < utf8.size() && utf8[index + 1] == '\n' ? 2 : 1);
        } else if (byte == '\n' || byte == '\v' || byte == '\f') {
            cut(1);
        } else if (utf8.substr(index, 2) == "\xC2\x85") {
            cut(2);
        } else if (utf8.substr(index, 3) == "\xE2\x80\xA8" ||
                   utf8.substr(index, 3) == "\xE2\x80\xA9") {
            cut(3);
        } else {
            ++index;
        }
    }
    if (index > start) {
        lines.push_back(utf8.substr(start, index - start));
    }
    return lines;
}

// Whether the bytes are well-formed UTF-8 (a round trip through UTF-16 changes ill-formed
// sequences into U+FFFD).
bool isWellFormedUtf8(std::string_view bytes) {
    return text::toUtf8(text::toUtf16(bytes)) == bytes;
}

// The final message the tool left behind, or why there is none.
struct AnswerFile {
    enum class Status { read, unreadable, tooLarge, stopped };
    Status status = Status::unreadable;
    std::string content;
};

// Reads the tool's final message, at most `limit` bytes. The file is another program's work:
// it is opened without following a link (the directory included) and without waiting for a
// writer, must be a regular file no larger than the limit, and is read in bounded steps that
// each check the stop request. A pipe, a device, a link or a file that keeps growing costs
// neither time nor memory; it is simply no answer.
AnswerFile readAnswerFile(const fs::path& path, std::size_t limit, const std::stop_token& stop) {
    constexpr std::size_t kStep = 64 * 1024;
    AnswerFile answer;
    if (stop.stop_requested()) {
        return {AnswerFile::Status::stopped, {}};
    }
    const int directory =
        ::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (directory < 0) {
        return answer;
    }
    const int fd = ::openat(directory, path.filename().c_str(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    ::close(directory);
    if (fd < 0) {
        return answer;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 0) {
        ::close(fd);
        return answer;
    }
    if (static_cast<std::uint64_t>(status.st_size) > limit) {
        ::close(fd);
        return {AnswerFile::Status::tooLarge, {}};
    }
    std::string& content = answer.content;
    content.reserve(static_cast<std::size_t>(status.st_size));
    std::array<char, kStep> buffer{};
    for (;;) {
        if (stop.stop_requested()) {
            ::close(fd);
            return {AnswerFile::Status::stopped, {}};
        }
        // One byte past the limit is enough to tell a file that grew beyond it.
        const std::size_t wanted = std::min(kStep, limit + 1 - content.size());
        const ssize_t count = ::read(fd, buffer.data(), wanted);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            ::close(fd);
            return {};
        }
        if (count == 0) {
            break;
        }
        content.append(buffer.data(), static_cast<std::size_t>(count));
        if (content.size() > limit) {
            ::close(fd);
            return {AnswerFile::Status::tooLarge, {}};
        }
    }
    ::close(fd);
    answer.status = AnswerFile::Status::read;
    return answer;
}

// A new directory that only its owner may enter, read or write: the person's text passes
// through it.
bool createPrivateDirectory(const fs::path& directory) {
    std::error_code ignored;
    fs::create_directories(directory.parent_path(), ignored);
    if (::mkdir(directory.c_str(), S_IRWXU) != 0) {
        return false;
    }
    // The umask can only take bits away; make sure the owner keeps all three.
    (void)::chmod(directory.c_str(), S_IRWXU);
    return true;
}

}  // namespace

// How one run ended, before it becomes an event.
struct QNProviderCodexCLICorrection::RunOutcome {
    enum class Kind { success, failure, timedOut, cancelled };
    Kind kind = Kind::failure;
    std::u16string text;  // success
    std::string message;  // failure
    double seconds = 0;   // timedOut

    static RunOutcome failure(std::string_view message) {
        return {Kind::failure, {}, std::string(message), 0};
    }
};

QNProviderCodexCLICorrection::QNProviderCodexCLICorrection(Configuration configuration,
                                                           std::string prompt, Services services)
    : providerID_(configuration.providerID),
      configuration_(std::move(configuration)),
      prompt_(std::move(prompt)),
      runner_(std::move(services.runner)),
      clock_(std::move(services.clock)),
      temporaryRoot_(std::move(services.temporaryRoot)) {
    if (!runner_) {
        runner_ = [](const QNCodexCLICorrectionInvocation& invocation, std::stop_token stopToken) {
            return runCodexCLICorrectionProcess(invocation, std::move(stopToken));
        };
    }
    if (!clock_) {
        clock_ = Clock::system();
    }
}

QNProviderCodexCLICorrection::QNProviderCodexCLICorrection(
    std::optional<std::string> executablePath, std::optional<std::string> model,
    double timeoutSeconds, std::string providerID)
    : QNProviderCodexCLICorrection(
          Configuration{std::move(executablePath), std::nullopt, std::move(model), timeoutSeconds,
                        std::move(providerID)},
          onlinePromptText()) {}

QNProviderCodexCLICorrection::QNProviderCodexCLICorrection(const QNCodexCLIDetection& detection,
                                                           std::optional<std::string> model,
                                                           double timeoutSeconds,
                                                           std::string providerID)
    : QNProviderCodexCLICorrection(
          Configuration{detection.executablePath, detection, std::move(model), timeoutSeconds,
                        std::move(providerID)},
          onlinePromptText()) {}

std::optional<std::string> QNProviderCodexCLICorrection::executablePath() const {
    return trimmedNonEmpty(configuration_.executablePath);
}

std::optional<std::string> QNProviderCodexCLICorrection::model() const {
    return trimmedNonEmpty(configuration_.model);
}

double QNProviderCodexCLICorrection::effectiveTimeoutSeconds() const {
    const double configured = configuration_.timeoutSeconds;
    return std::isfinite(configured) && configured > 0 ? configured : defaultTimeoutSeconds;
}

QNModelCorrectionProviderDiagnostics QNProviderCodexCLICorrection::diagnostics() const {
    QNModelCorrectionProviderDiagnostics diagnostics;
    diagnostics.providerID = providerID_;
    diagnostics.route = QNModelCorrectionRoute::remote;
    diagnostics.providerName = "Codex CLI";
    diagnostics.model = model();
    diagnostics.promptVersion = std::string(
        QNModelCorrectionPrompt::active(QNModelCorrectionPromptUseCase::online).rawValue());
    return diagnostics;
}

std::optional<QNModelAvailabilitySummary> QNProviderCodexCLICorrection::detectionSummary() const {
    if (!configuration_.detection) {
        return std::nullopt;
    }
    const QNCodexCLIDetection& detection = *configuration_.detection;
    const std::string minimum(kCodexCLIMinimumSupportedVersionString);
    switch (detection.supportStatus) {
        case QNCodexCLISupportStatus::supported:
            switch (detection.loginState) {
                case QNCodexCLILoginState::notLoggedIn:
                    return unavailableSummary("Codex CLI Not Logged In",
                                              "Run codex login to use Codex correction.");
                case QNCodexCLILoginState::unknown:
                    return unavailableSummary(
                        "Codex CLI Login Unknown",
                        "Run codex login to verify Codex CLI authentication.");
                case QNCodexCLILoginState::loggedIn:
                    if (detection.executablePath && !detection.executablePath->empty()) {
                        return std::nullopt;
                    }
                    return unavailableSummary(kNotConfiguredTitle,
                                              std::string(kNotConfiguredDetail));
            }
            break;
        case QNCodexCLISupportStatus::missing:
        case QNCodexCLISupportStatus::pathResolutionFailed:
            return unavailableSummary(kNotConfiguredTitle, std::string(kNotConfiguredDetail));
        case QNCodexCLISupportStatus::unsupportedVersion: {
            const auto version = trimmedNonEmpty(detection.versionString);
            const std::string leadIn = version ? "Detected Codex CLI " + *version
                                               : "Detected an unsupported Codex CLI version";
            return unavailableSummary("Codex CLI Version Unsupported",
                                      leadIn + ". Install Codex CLI " + minimum + " or newer.");
        }
        case QNCodexCLISupportStatus::unparsableVersion:
            return unavailableSummary(
                "Codex CLI Version Unsupported",
                "Could not parse the detected Codex CLI version. Install Codex CLI " + minimum +
                    " or newer.");
        case QNCodexCLISupportStatus::versionCheckFailed:
            return unavailableSummary(
                "Codex CLI Version Check Failed",
                "Codex CLI was detected, but its version could not be verified.");
        case QNCodexCLISupportStatus::unsupportedPlatform:
            return unavailableSummary("Codex CLI Unsupported",
                                      "Codex CLI correction is only available on macOS.");
    }
    return unavailableSummary(kNotConfiguredTitle, std::string(kNotConfiguredDetail));
}

QNModelAvailabilitySummary QNProviderCodexCLICorrection::availabilitySummary() {
    if (auto summary = detectionSummary()) {
        return *std::move(summary);
    }
    if (!executablePath()) {
        return unavailableSummary(kNotConfiguredTitle, std::string(kNotConfiguredDetail));
    }
    return {true, "Codex CLI Ready", "Correction runs through the detected Codex CLI executable."};
}

std::vector<std::string> QNProviderCodexCLICorrection::makeArguments(
    const fs::path& workingDirectory, const fs::path& outputFile,
    const std::optional<std::string>& model, bool includeExtraConfig) {
    return codex_cli::makeArguments(workingDirectory, outputFile, model, includeExtraConfig);
}

QNModelCorrectionProviderResult QNProviderCodexCLICorrection::generateCorrection(
    const QNModelCorrectionRequest& request, std::stop_token stopToken) {
    return drainedStreamResult(request, std::move(stopToken), "Codex CLI", StopOutcome::cancelled);
}

void QNProviderCodexCLICorrection::streamCorrection(const QNModelCorrectionRequest& request,
                                                    std::stop_token stopToken,
                                                    const QNModelCorrectionStreamSink& sink) {
    if (auto summary = detectionSummary()) {
        sink(QNModelCorrectionStreamEvent::unavailable(std::move(summary->title)));
        return;
    }
    const auto path = executablePath();
    if (!path) {
        sink(QNModelCorrectionStreamEvent::unavailable(std::string(kNotConfiguredTitle)));
        return;
    }
    sink(runCorrection(request, *path, std::move(stopToken)));
}

QNModelCorrectionStreamEvent QNProviderCodexCLICorrection::runCorrection(
    const QNModelCorrectionRequest& request, const std::string& executablePath,
    std::stop_token stopToken) const {
    const Instant start = clock_->now();
    const double timeoutSeconds = effectiveTimeoutSeconds();

    // One encoding step for the whole input: anything that is not well-formed (a lone surrogate
    // in the text, say) becomes U+FFFD rather than costing the tool its prompt.
    std::u16string input = text::toUtf16(request.instructions(prompt_));
    input += u"\n\n";
    input += request.modelInputText();
    const std::string standardInput = text::toUtf8(input);

    bool retry = false;
    RunOutcome outcome =
        runOnce(request, executablePath, standardInput, timeoutSeconds, true, &retry, stopToken);
    if (retry) {
        outcome = runOnce(request, executablePath, standardInput, timeoutSeconds, false, nullptr,
                          stopToken);
    }

    switch (outcome.kind) {
        case RunOutcome::Kind::success:
            return QNModelCorrectionStreamEvent::completed(QNModelCorrectionResponse(
                request.text, std::move(outcome.text), millisecondsBetween(start, clock_->now())));
        case RunOutcome::Kind::failure:
            return QNModelCorrectionStreamEvent::failed(std::move(outcome.message));
        case RunOutcome::Kind::timedOut:
            return QNModelCorrectionStreamEvent::failed("Codex CLI timed out after " +
                                                        formatSeconds(outcome.seconds) + "s");
        case RunOutcome::Kind::cancelled:
            break;
    }
    return QNModelCorrectionStreamEvent::cancelled();
}

fs::path QNProviderCodexCLICorrection::temporaryRoot() const {
    if (temporaryRoot_) {
        return *temporaryRoot_;
    }
    std::error_code error;
    fs::path root = fs::temp_directory_path(error);
    return error ? fs::path() : root;
}

QNProviderCodexCLICorrection::RunOutcome QNProviderCodexCLICorrection::runOnce(
    const QNModelCorrectionRequest& request, const std::string& executablePath,
    const std::string& standardInput, double timeoutSeconds, bool includeExtraConfig, bool* retry,
    std::stop_token stopToken) const {
    if (stopToken.stop_requested()) {
        return {RunOutcome::Kind::cancelled, {}, {}, 0};
    }
    const fs::path root = temporaryRoot();
    if (root.empty()) {
        return RunOutcome::failure(kDirectoryFailureMessage);
    }
    const fs::path directory = root / ("QNProviderCodexCLI-" + Uuid::random().uppercaseString());
    const fs::path outputFile = directory / "last-message.txt";
    if (!createPrivateDirectory(directory)) {
        return RunOutcome::failure(kDirectoryFailureMessage);
    }

    QNCodexCLICorrectionInvocation invocation;
    invocation.executablePath = executablePath;
    invocation.arguments = makeArguments(directory, outputFile, model(), includeExtraConfig);
    invocation.standardInput = standardInput;
    invocation.temporaryDirectory = directory;
    invocation.outputFile = outputFile;
    invocation.timeoutSeconds = timeoutSeconds;
    invocation.maxOutputBytes = kCodexCLIMaxOutputBytes;
    const QNCodexCLICorrectionProcessResult result = runner_(invocation, stopToken);

    const bool retryAllowed = includeExtraConfig && shouldRetryWithoutExtraConfig(result);
    RunOutcome outcome;
    bool failureMayRetry = false;
    if (result.cancelled) {
        outcome = {RunOutcome::Kind::cancelled, {}, {}, 0};
    } else if (result.timedOut) {
        outcome = {RunOutcome::Kind::timedOut, {}, {}, timeoutSeconds};
    } else if (auto message = parseEvents(result.stdout)) {
        outcome = RunOutcome::failure(*message);
        failureMayRetry = true;
    } else if (result.terminationStatus != 0) {
        outcome = RunOutcome::failure(failureMessage(result));
        failureMayRetry = true;
    } else {
        const AnswerFile file = readAnswerFile(
            outputFile, static_cast<std::size_t>(kCodexCLIMaxOutputBytes), stopToken);
        // The tool may colour its message for a terminal: the answer is its plain text.
        std::u16string answer;
        if (file.status == AnswerFile::Status::read && isWellFormedUtf8(file.content)) {
            answer = text::trimmed(text::withoutTerminalControls(text::toUtf16(file.content)));
        }
        if (file.status == AnswerFile::Status::stopped) {
            outcome = {RunOutcome::Kind::cancelled, {}, {}, 0};
        } else if (file.status == AnswerFile::Status::tooLarge) {
            outcome = RunOutcome::failure(kTooLargeMessage);
        } else if (answer.empty()) {
            outcome = RunOutcome::failure(kEmptyResponseMessage);
            failureMayRetry = true;
        } else {
            outcome = {RunOutcome::Kind::success,
                       sanitizeModelOutput(answer, request.text).cleaned,
                       {},
                       0};
        }
    }

    std::error_code ignored;
    fs::remove_all(directory, ignored);

    if (retry != nullptr) {
        *retry = retryAllowed && failureMayRetry;
    }
    return outcome;
}

std::optional<std::string> QNProviderCodexCLICorrection::parseEvents(
    std::string_view standardOutput) {
    for (const std::string_view piece : splitLines(standardOutput)) {
        const std::string line = text::trimmed(piece);
        if (line.empty()) {
            continue;
        }
        const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
        if (!event.is_object() || event.empty()) {
            continue;
        }
        const auto type = event.find("type");
        if (type == event.end() || !type->is_string() ||
            type->get_ref<const std::string&>() != "turn.failed") {
            continue;
        }
        const auto message = findEventMessage(event);
        return condenseFailureText(message ? *message : "Codex CLI turn failed");
    }
    return std::nullopt;
}

std::optional<std::string> QNProviderCodexCLICorrection::findEventMessage(
    const nlohmann::json& value) {
    static constexpr std::array<std::string_view, 5> kMessageKeys = {"message", "reason", "error",
                                                                     "details", "detail"};
    const auto isMessageKey = [](std::string_view key) {
        return std::find(kMessageKeys.begin(), kMessageKeys.end(), key) != kMessageKeys.end();
    };
    // Depth first, in the order of the search rule, without recursion: a deeply nested reply
    // cannot exhaust the stack. The message keys are searched once, before the other keys;
    // searching them again would find nothing new and cost twice per level.
    std::vector<const nlohmann::json*> pending{&value};
    std::vector<const nlohmann::json*> children;
    while (!pending.empty()) {
        const nlohmann::json* node = pending.back();
        pending.pop_back();
        if (node->is_string()) {
            std::string trimmed = text::trimmed(node->get_ref<const std::string&>());
            if (!trimmed.empty()) {
                return trimmed;
            }
            continue;
        }
        if (!node->is_object()) {
            continue;
        }
        children.clear();
        for (const std::string_view key : kMessageKeys) {
            if (const auto found = node->find(key); found != node->end()) {
                children.push_back(&*found);
            }
        }
        for (const auto& [key, child] : node->items()) {
            if (key != "type" && !isMessageKey(key)) {
                children.push_back(&child);
            }
        }
        pending.insert(pending.end(), children.rbegin(), children.rend());
    }
    return std::nullopt;
}

std::string QNProviderCodexCLICorrection::condenseFailureText(std::string_view text) {
    const std::u16string condensed = failureLine(text);
    const std::u16string lowered = text::lowercased(condensed);
    const auto contains = [&lowered](std::u16string_view needle) {
        return lowered.find(needle) != std::u16string::npos;
    };
    if (contains(u"not logged in") || contains(u"codex login") ||
        (contains(u"login") && contains(u"auth"))) {
        return std::string(kNotLoggedInMessage);
    }
    if (condensed.empty()) {
        return "Codex CLI failed";
    }
    return shortenedFailureLine(condensed);
}

std::string QNProviderCodexCLICorrection::failureMessage(
    const QNCodexCLICorrectionProcessResult& result) {
    for (const std::string* stream : {&result.stderr, &result.stdout}) {
        const std::string trimmed = text::trimmed(std::string_view(*stream));
        if (!trimmed.empty()) {
            return "Codex CLI failed: " + condenseFailureText(trimmed);
        }
    }
    return "Codex CLI failed with exit code " + std::to_string(result.terminationStatus);
}

std::string QNProviderCodexCLICorrection::formatSeconds(double seconds) {
    const double value = std::round(std::max(0.0, seconds) * 100) / 100;
    std::array<char, 512> buffer{};
    if (!std::isfinite(value) || value == std::floor(value)) {
        std::snprintf(buffer.data(), buffer.size(), "%.0f", value);
        return buffer.data();
    }
    std::snprintf(buffer.data(), buffer.size(), "%.2f", value);
    std::string formatted = buffer.data();
    while (formatted.back() == '0') {
        formatted.pop_back();
    }
    if (formatted.back() == '.') {
        formatted.pop_back();
    }
    return formatted;
}

}  // namespace ravlin
