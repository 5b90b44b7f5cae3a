#include "app/preferences/build_config.h"

#include <QUrl>

#include "core/text/unicode.h"

namespace ravlin {

QNConfigBuild::QNConfigBuild(std::map<std::string, std::string> table)
    : table_(table.begin(), table.end()) {}

const QNConfigBuild& QNConfigBuild::standard() {
    static const auto* build = new QNConfigBuild(configuredBuildInfo());
    return *build;
}

std::optional<std::string> QNConfigBuild::infoPlistString(std::string_view key) const {
    const auto found = table_.find(key);
    if (found == table_.end()) {
        return std::nullopt;
    }
    auto value = text::trimmedNonEmpty(std::string_view(found->second));
    if (!value || value->find("$(") != std::string::npos) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::string> QNConfigBuild::supabaseFunctionsBaseURL() const {
    const auto value = infoPlistString("RavlinSupabaseFunctionsBaseURL");
    if (!value) {
        return std::nullopt;
    }
    const QUrl url(QString::fromStdString(*value), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.isRelative() || (scheme != "http" && scheme != "https") ||
        url.host().isEmpty()) {
        return std::nullopt;
    }
    return value;
}

std::string versionText(std::string_view shortVersion, std::string_view build) {
    return "Version " + std::string(shortVersion) + " (" + std::string(build) + ")";
}

}  // namespace ravlin
