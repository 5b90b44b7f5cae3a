#pragma once

// The login-item seam as an XDG autostart entry: "ravlin.desktop" in $XDG_CONFIG_HOME/autostart
// (~/.config/autostart by default), whose Exec line starts this executable by its absolute path.
// Status: enabled while our entry exists and is neither hidden nor disabled, not registered
// without it, not found when the executable's path cannot be had; never "requires approval".
// Registering writes a temporary file beside the entry and renames it over; unregistering
// removes it. A failure leaves the entry as it was.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "platform/login_item.h"

namespace ravlin::platform {

class XdgAutostartLoginItem final : public LoginItem {
  public:
    using ExecutablePath = std::function<std::optional<std::filesystem::path>()>;

    // The folder and the executable default to the real ones, looked up at each call.
    explicit XdgAutostartLoginItem(std::optional<std::filesystem::path> autostartFolder = {},
                                   ExecutablePath executablePath = {});

    // $XDG_CONFIG_HOME/autostart when that is an absolute path, else $HOME/.config/autostart.
    [[nodiscard]] static std::filesystem::path standardFolder();
    // This process's executable (/proc/self/exe), when it still exists.
    [[nodiscard]] static std::optional<std::filesystem::path> runningExecutable();
    // `path` as one Exec argument: quoted and escaped by the Desktop Entry rules when it holds
    // anything beyond plain characters, with "%" doubled; then escaped as a string value.
    [[nodiscard]] static std::string execLine(const std::filesystem::path& path);

    [[nodiscard]] std::filesystem::path entryPath() const;

    [[nodiscard]] LoginItemStatus status() override;
    Status registerItem() override;
    Status unregisterItem() override;

  private:
    std::optional<std::filesystem::path> folder_;
    ExecutablePath executablePath_;
};

}  // namespace ravlin::platform
