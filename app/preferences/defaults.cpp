#include "app/preferences/defaults.h"

#include <QSettings>
#include <QStandardPaths>
#include <charconv>

namespace ravlin {
namespace {

template <class T>
std::optional<T> typed(const std::map<std::string, Defaults::Value, std::less<>>& values,
                       std::string_view key) {
    const auto found = values.find(key);
    if (found == values.end()) {
        return std::nullopt;
    }
    if (const auto* value = std::get_if<T>(&found->second)) {
        return *value;
    }
    return std::nullopt;
}

QString qtKey(std::string_view key) {
    return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
}

}  // namespace

std::optional<bool> MemoryDefaults::boolValue(std::string_view key) const {
    return typed<bool>(values_, key);
}
std::optional<std::int64_t> MemoryDefaults::integerValue(std::string_view key) const {
    return typed<std::int64_t>(values_, key);
}
std::optional<std::string> MemoryDefaults::stringValue(std::string_view key) const {
    return typed<std::string>(values_, key);
}
bool MemoryDefaults::contains(std::string_view key) const {
    return values_.find(key) != values_.end();
}
void MemoryDefaults::set(std::string_view key, const Value& value) {
    values_.insert_or_assign(std::string(key), value);
}
void MemoryDefaults::remove(std::string_view key) {
    if (const auto found = values_.find(key); found != values_.end()) {
        values_.erase(found);
    }
}

struct QSettingsDefaults::State {
    explicit State(const QString& path) : settings(path, QSettings::IniFormat) {}
    QSettings settings;

    std::optional<QString> text(std::string_view key) {
        const QVariant value = settings.value(qtKey(key));
        if (!value.isValid() || value.isNull()) {
            return std::nullopt;
        }
        // Values written in this run may still be typed; the file gives text.
        if (!value.canConvert<QString>()) {
            return std::nullopt;
        }
        return value.toString();
    }
};

QSettingsDefaults::QSettingsDefaults(const QString& path) : state_(std::make_unique<State>(path)) {}
QSettingsDefaults::~QSettingsDefaults() = default;

QString QSettingsDefaults::standardPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/ravlin/ravlin.ini");
}

std::optional<bool> QSettingsDefaults::boolValue(std::string_view key) const {
    const auto text = state_->text(key);
    if (!text) {
        return std::nullopt;
    }
    if (*text == QLatin1String("true")) {
        return true;
    }
    if (*text == QLatin1String("false")) {
        return false;
    }
    return std::nullopt;
}

std::optional<std::int64_t> QSettingsDefaults::integerValue(std::string_view key) const {
    const auto text = state_->text(key);
    if (!text) {
        return std::nullopt;
    }
    const QByteArray digits = text->toLatin1();
    std::int64_t number = 0;
    const char* end = digits.constData() + digits.size();
    const auto [stop, error] = std::from_chars(digits.constData(), end, number);
    if (error != std::errc() || stop != end || digits.isEmpty()) {
        return std::nullopt;
    }
    return number;
}

std::optional<std::string> QSettingsDefaults::stringValue(std::string_view key) const {
    const auto text = state_->text(key);
    if (!text) {
        return std::nullopt;
    }
    return text->toStdString();
}

bool QSettingsDefaults::contains(std::string_view key) const {
    return state_->settings.contains(qtKey(key));
}

void QSettingsDefaults::set(std::string_view key, const Value& value) {
    QVariant variant;
    if (const auto* flag = std::get_if<bool>(&value)) {
        variant = QString::fromLatin1(*flag ? "true" : "false");
    } else if (const auto* number = std::get_if<std::int64_t>(&value)) {
        variant = QString::number(*number);
    } else {
        variant = QString::fromStdString(std::get<std::string>(value));
    }
    state_->settings.setValue(qtKey(key), variant);
    state_->settings.sync();
}

void QSettingsDefaults::remove(std::string_view key) {
    state_->settings.remove(qtKey(key));
    state_->settings.sync();
}

}  // namespace ravlin
