#pragma once

// The settings a copy of the program was built with, read by key as the property list of an
// application bundle is: the name, the version, the build number, and the address and public
// keys of the hosted correction service. The table is generated when the build is configured
// (see build_info_table.cpp.in); tests hand in their own.

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace ravlin {

// The generated table: only settings that were given.
[[nodiscard]] std::map<std::string, std::string> configuredBuildInfo();

class QNConfigBuild {
  public:
    explicit QNConfigBuild(std::map<std::string, std::string> table);
    // Over the generated table, made once.
    [[nodiscard]] static const QNConfigBuild& standard();

    // The value trimmed; nothing when missing, blank or still holding an unexpanded "$(".
    [[nodiscard]] std::optional<std::string> infoPlistString(std::string_view key) const;
    // "RavlinSupabaseFunctionsBaseURL" when it is an absolute http or https URL with a host.
    [[nodiscard]] std::optional<std::string> supabaseFunctionsBaseURL() const;

  private:
    std::map<std::string, std::string, std::less<>> table_;
};

// "Version 1.2 (45)".
[[nodiscard]] std::string versionText(std::string_view shortVersion, std::string_view build);

}  // namespace ravlin
