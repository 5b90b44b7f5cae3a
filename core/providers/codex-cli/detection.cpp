#include "core/providers/codex-cli/detection.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <utility>

#include "core/text/unicode.h"

namespace ravlin {

bool QNCodexCLIDetection::isAvailable() const {
    return supportStatus == QNCodexCLISupportStatus::supported && executablePath &&
           !executablePath->empty();
}

bool QNCodexCLIDetection::isConfigured() const {
    return isAvailable() && loginState == QNCodexCLILoginState::loggedIn;
}

const QNCodexCLIDetection& QNCodexCLIDetection::unsupportedPlatform() {
    static const QNCodexCLIDetection value{std::nullopt, std::nullopt,
                                           QNCodexCLISupportStatus::unsupportedPlatform,
                                           QNCodexCLILoginState::unknown};
    return value;
}

namespace codex_cli {

namespace {

std::optional<std::int64_t> wholeNumber(std::string_view piece) {
    if (piece.empty()) {
        return std::nullopt;
    }
    for (const char c : piece) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
    }
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(piece.data(), piece.data() + piece.size(), value);
    if (error != std::errc() || end != piece.data() + piece.size()) {
        return std::nullopt;  // too large
    }
    return value;
}

std::vector<std::string_view> splitDroppingEmpty(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(separator, start), text.size());
        if (end > start) {
            pieces.push_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
    return pieces;
}

// Length of the line break starting at `i`, or 0.
std::size_t lineBreakLength(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) {
        return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u;
    };
    switch (byte(i)) {
        case '\n':
        case '\v':
        case '\f':
            return 1;
        case '\r':
            return byte(i + 1) == '\n' ? 2 : 1;
        case 0xC2:
            return byte(i + 1) == 0x85 ? 2 : 0;  // NEL
        case 0xE2:
            return byte(i + 1) == 0x80 && (byte(i + 2) == 0xA8 || byte(i + 2) == 0xA9) ? 3 : 0;
        default:
            return 0;
    }
}

std::vector<std::string> nonEmptyTrimmedLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size();) {
        const std::size_t breakLength = i < text.size() ? lineBreakLength(text, i) : 1;
        if (breakLength == 0) {
            ++i;
            continue;
        }
        std::string line = text::trimmed(text.substr(start, i - start));
        if (!line.empty()) {
            lines.push_back(std::move(line));
        }
        i += breakLength;
        start = i;
    }
    return lines;
}

}  // namespace

std::optional<QNCodexCLIVersion> parseVersion(std::string_view output) {
    const std::string trimmedOutput = text::trimmed(output);
    const auto words = splitDroppingEmpty(trimmedOutput, ' ');
    if (words.size() != 2 || words[0] != "codex-cli") {
        return std::nullopt;
    }
    const auto parts = splitDroppingEmpty(words[1], '.');
    if (parts.size() != 3) {
        return std::nullopt;
    }
    const auto major = wholeNumber(parts[0]);
    const auto minor = wholeNumber(parts[1]);
    const auto patch = wholeNumber(parts[2]);
    if (!major || !minor || !patch) {
        return std::nullopt;
    }
    return QNCodexCLIVersion{*major, *minor, *patch};
}

std::optional<std::string> outputText(const QNCodexCLICommandResult& result) {
    for (const std::string* stream : {&result.stdout, &result.stderr}) {
        std::string text = text::trimmed(std::string_view(*stream));
        if (!text.empty()) {
            return text;
        }
    }
    return std::nullopt;
}

std::optional<std::string> firstLine(std::string_view text) {
    auto lines = nonEmptyTrimmedLines(text);
    if (lines.empty()) {
        return std::nullopt;
    }
    return std::move(lines.front());
}

std::optional<std::string> lastLine(std::string_view text) {
    auto lines = nonEmptyTrimmedLines(text);
    if (lines.empty()) {
        return std::nullopt;
    }
    return std::move(lines.back());
}

bool fileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

bool isExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

std::string homeDirectoryPath() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return home;
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return "/";
}

}  // namespace codex_cli

namespace {

std::string joinPath(const std::string& directory, std::string_view component) {
    if (directory.empty()) {
        return std::string(component);
    }
    if (directory.back() == '/') {
        return directory + std::string(component);
    }
    return directory + "/" + std::string(component);
}

}  // namespace

std::vector<std::string> QNCodexCLIDetector::standardExecutablePathsFor(const std::string& home) {
    return {
        "/opt/homebrew/bin/codex",
        "/usr/local/bin/codex",
        joinPath(home, ".npm-global/bin/codex"),
        joinPath(home, ".cargo/bin/codex"),
        joinPath(home, ".bun/bin/codex"),
    };
}

QNCodexCLIDetector::Configuration QNCodexCLIDetector::Configuration::standard() {
    Configuration configuration;
    configuration.homeDirectoryPath = codex_cli::homeDirectoryPath();
    configuration.standardExecutablePaths =
        standardExecutablePathsFor(configuration.homeDirectoryPath);
    configuration.fileExists = codex_cli::fileExists;
    configuration.isExecutableFile = codex_cli::isExecutableFile;
    configuration.commandRunner = [](const std::string& executablePath,
                                     const std::vector<std::string>& arguments,
                                     const std::optional<process::Environment>& environment) {
        return runCodexCLICommand(executablePath, arguments, environment,
                                  kCodexCLIDetectorTimeoutSeconds, kCodexCLIDetectorMaxOutputBytes);
    };
    configuration.environment = process::currentEnvironment();
    return configuration;
}

QNCodexCLIDetector::QNCodexCLIDetector() : QNCodexCLIDetector(Configuration::standard()) {}

QNCodexCLIDetector::QNCodexCLIDetector(Configuration configuration)
    : configuration_(std::move(configuration)) {}

std::optional<QNCodexCLIDetection> QNCodexCLIDetector::cachedDetection() const {
    std::lock_guard guard(cacheLock_);
    return cachedValue_;
}

QNCodexCLIDetection QNCodexCLIDetector::currentDetection() {
    if (auto cached = cachedDetection()) {
        return *cached;
    }
    QNCodexCLIDetection detection = detect();  // never under the lock
    std::lock_guard guard(cacheLock_);
    cachedValue_ = detection;
    return detection;
}

QNCodexCLIDetection QNCodexCLIDetector::refresh(bool force) {
    if (!force) {
        return currentDetection();
    }
    QNCodexCLIDetection detection = detect();
    std::lock_guard guard(cacheLock_);
    cachedValue_ = detection;
    return detection;
}

QNCodexCLIDetection QNCodexCLIDetector::detect() const {
    const QNCodexCLILoginState login =
        configuration_.fileExists && configuration_.fileExists(joinPath(
                                         configuration_.homeDirectoryPath, ".codex/auth.json"))
            ? QNCodexCLILoginState::loggedIn
            : QNCodexCLILoginState::notLoggedIn;
    for (const auto& path : configuration_.standardExecutablePaths) {
        if (configuration_.isExecutableFile && configuration_.isExecutableFile(path)) {
            return versionCheckAtKnownPath(path, login);
        }
    }
    return searchPathDetection(login);
}

namespace {

// The status a successful version command earns, or absent when the version is recent enough.
std::optional<QNCodexCLISupportStatus> versionVerdict(const std::optional<std::string>& output) {
    if (!output) {
        return QNCodexCLISupportStatus::unparsableVersion;
    }
    const auto version = codex_cli::parseVersion(*output);
    if (!version) {
        return QNCodexCLISupportStatus::unparsableVersion;
    }
    if (*version < kCodexCLIMinimumSupportedVersion) {
        return QNCodexCLISupportStatus::unsupportedVersion;
    }
    return std::nullopt;
}

}  // namespace

QNCodexCLIDetection QNCodexCLIDetector::versionCheckAtKnownPath(const std::string& path,
                                                                QNCodexCLILoginState login) const {
    const QNCodexCLICommandResult result =
        configuration_.commandRunner(path, {"--version"}, std::nullopt);
    const std::optional<std::string> output = codex_cli::outputText(result);
    if (result.terminationStatus != 0) {
        return {path, output, QNCodexCLISupportStatus::versionCheckFailed, login};
    }
    const auto verdict = versionVerdict(output);
    return {path, output, verdict.value_or(QNCodexCLISupportStatus::supported), login};
}

QNCodexCLIDetection QNCodexCLIDetector::searchPathDetection(QNCodexCLILoginState login) const {
    const process::Environment environment = commandEnvironment();
    const QNCodexCLICommandResult result =
        configuration_.commandRunner("/usr/bin/env", {"codex", "--version"}, environment);
    const std::optional<std::string> output = codex_cli::outputText(result);
    if (result.terminationStatus != 0) {
        return {std::nullopt, output, QNCodexCLISupportStatus::missing, login};
    }
    if (const auto verdict = versionVerdict(output)) {
        return {std::nullopt, output, *verdict, login};
    }
    const QNCodexCLICommandResult location =
        configuration_.commandRunner("/usr/bin/which", {"codex"}, environment);
    if (location.terminationStatus == 0) {
        if (auto line = codex_cli::firstLine(location.stdout)) {
            return {std::move(line), output, QNCodexCLISupportStatus::supported, login};
        }
    }
    return {std::nullopt, output, QNCodexCLISupportStatus::pathResolutionFailed, login};
}

process::Environment QNCodexCLIDetector::commandEnvironment() const {
    process::Environment environment = configuration_.environment;
    std::optional<std::string> searchPath;
    if (configuration_.loginShellPathProvider) {
        searchPath = configuration_.loginShellPathProvider();
    }
    if (!searchPath) {
        searchPath = loginShellPath();
    }
    if (searchPath && !searchPath->empty()) {
        environment["PATH"] = withOwnSearchPath(*searchPath);
    }
    return environment;
}

std::string QNCodexCLIDetector::withOwnSearchPath(const std::string& searchPath) const {
    // A login shell's profile may set the path afresh (Debian's does), dropping the folders the
    // program was started with; a tool the user put there is still theirs. Those folders follow
    // the login shell's, which keep their order and win.
    const auto own = configuration_.environment.find("PATH");
    if (own == configuration_.environment.end()) {
        return searchPath;
    }
    const auto folders = [](std::string_view path) {
        std::vector<std::string_view> parts;
        for (std::size_t start = 0; start <= path.size();) {
            const auto end = std::min(path.find(':', start), path.size());
            if (end > start) {
                parts.push_back(path.substr(start, end - start));
            }
            start = end + 1;
        }
        return parts;
    };
    auto known = folders(searchPath);
    std::string merged = searchPath;
    for (const std::string_view folder : folders(own->second)) {
        if (std::ranges::find(known, folder) == known.end()) {
            known.push_back(folder);
            (merged += ':') += folder;
        }
    }
    return merged;
}

std::optional<std::string> QNCodexCLIDetector::loginShellPath() const {
    const process::Environment& environment = configuration_.environment;
    if (environment.empty()) {
        return std::nullopt;
    }
    if (const auto shell = environment.find("SHELL");
        shell != environment.end() && configuration_.isExecutableFile &&
        configuration_.isExecutableFile(shell->second)) {
        const QNCodexCLICommandResult result = configuration_.commandRunner(
            shell->second, {"-l", "-c", "printf %s \"$PATH\""}, environment);
        // A profile may print a banner before the path: the path is the last line printed.
        if (result.terminationStatus == 0) {
            if (auto line = codex_cli::lastLine(result.stdout)) {
                return line;
            }
        }
    }
    if (const auto path = environment.find("PATH"); path != environment.end()) {
        return path->second;
    }
    return std::nullopt;
}

}  // namespace ravlin
