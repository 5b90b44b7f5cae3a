#include "platform/linux/xdg_autostart_login_item.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

#include "core/process/replace_file.h"

namespace ravlin::platform {
namespace {

constexpr const char* kEntryName = "ravlin.desktop";
// An entry larger than this is not ours to read.
constexpr std::uintmax_t kMaximumEntryBytes = 64 * 1024;

std::string trimmedValue(std::string value) {
    const auto first = value.find_first_not_of(" \t");
    const auto last = value.find_last_not_of(" \t\r");
    return first == std::string::npos ? std::string() : value.substr(first, last - first + 1);
}

// Whether the entry in the "[Desktop Entry]" group says it is hidden or switched off.
bool entryIsSwitchedOff(const std::filesystem::path& path) {
    std::error_code error;
    if (std::filesystem::file_size(path, error) > kMaximumEntryBytes || error) {
        return true;
    }
    std::ifstream file(path);
    std::string line;
    bool inMainGroup = false;
    while (std::getline(file, line)) {
        if (!line.empty() && line.front() == '[') {
            inMainGroup = trimmedValue(line) == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup) {
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        const std::string key = trimmedValue(line.substr(0, equals));
        const std::string value = trimmedValue(line.substr(equals + 1));
        if ((key == "Hidden" && value == "true") ||
            (key == "X-GNOME-Autostart-enabled" && value == "false")) {
            return true;
        }
    }
    return false;
}

Error systemFailure(const std::string& what, int number) {
    return Error{ErrorCode::failed, what + ": " + std::strerror(number)};
}

}  // namespace

XdgAutostartLoginItem::XdgAutostartLoginItem(std::optional<std::filesystem::path> autostartFolder,
                                             ExecutablePath executablePath)
    : folder_(std::move(autostartFolder)),
      executablePath_(executablePath ? std::move(executablePath)
                                     : ExecutablePath(runningExecutable)) {}

std::filesystem::path XdgAutostartLoginItem::standardFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') {
        return std::filesystem::path(config) / "autostart";
    }
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home != nullptr ? home : "") / ".config" / "autostart";
}

std::optional<std::filesystem::path> XdgAutostartLoginItem::runningExecutable() {
    std::error_code error;
    const auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || !path.is_absolute() || !std::filesystem::exists(path, error)) {
        return std::nullopt;
    }
    return path;
}

std::string XdgAutostartLoginItem::execLine(const std::filesystem::path& path) {
    const std::string raw = path.string();
    bool needsQuotes = false;
    for (const char c : raw) {
        if (std::strchr(" \t\n\"'\\><~|&;$*?#()`", c) != nullptr) {
            needsQuotes = true;
        }
    }
    std::string argument;
    if (needsQuotes) {
        argument += '"';
        for (const char c : raw) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') {
                argument += '\\';
            }
            argument += c;
        }
        argument += '"';
    } else {
        argument = raw;
    }
    // Field codes: a literal percent sign is written twice.
    std::string withPercents;
    for (const char c : argument) {
        withPercents += c;
        if (c == '%') {
            withPercents += '%';
        }
    }
    // A string value: backslashes, and the line breaks that cannot stand in a value, escaped.
    std::string value;
    for (const char c : withPercents) {
        switch (c) {
            case '\\':
                value += "\\\\";
                break;
            case '\n':
                value += "\\n";
                break;
            case '\t':
                value += "\\t";
                break;
            case '\r':
                value += "\\r";
                break;
            default:
                value += c;
        }
    }
    return value;
}

std::filesystem::path XdgAutostartLoginItem::entryPath() const {
    return folder_.value_or(standardFolder()) / kEntryName;
}

LoginItemStatus XdgAutostartLoginItem::status() {
    if (!executablePath_()) {
        return LoginItemStatus::notFound;
    }
    std::error_code error;
    const auto path = entryPath();
    if (!std::filesystem::is_regular_file(path, error)) {
        return LoginItemStatus::notRegistered;
    }
    return entryIsSwitchedOff(path) ? LoginItemStatus::notRegistered : LoginItemStatus::enabled;
}

Status XdgAutostartLoginItem::registerItem() {
    const auto executable = executablePath_();
    if (!executable) {
        return Error{ErrorCode::notFound, "the program's own path cannot be found"};
    }
    const auto path = entryPath();
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    if (error) {
        return Error{ErrorCode::failed, path.parent_path().string() + ": " + error.message()};
    }
    std::ostringstream entry;
    entry << "[Desktop Entry]\n"
          << "Type=Application\n"
          << "Name=Ravlin\n"
          << "Comment=Corrects what you type\n"
          << "Exec=" << execLine(*executable) << "\n"
          << "Terminal=false\n"
          << "X-GNOME-Autostart-enabled=true\n";
    const std::string contents = entry.str();

    const auto failure = process::replaceFileByRename(
        path.string(), (path.parent_path() / ".ravlin.desktop.XXXXXX").string(), contents,
        {.prepare = [](int descriptor) { return ::fchmod(descriptor, 0644) != 0 ? errno : 0; }});
    if (failure) {
        return systemFailure(failure->creating ? path.parent_path().string() : path.string(),
                             failure->error);
    }
    return {};
}

Status XdgAutostartLoginItem::unregisterItem() {
    const auto path = entryPath();
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        return systemFailure(path.string(), errno);
    }
    return {};
}

}  // namespace ravlin::platform
