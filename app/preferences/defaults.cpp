#include "app/preferences/defaults.h"

#include "app/preferences/settings_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
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

constexpr const char* kCannotSave = "Settings cannot be saved: ";
constexpr const char* kUntilQuit = "; changes last until Ravlin quits";
constexpr const char* kOnDefaults = "; using the defaults until Ravlin quits";

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
    explicit State(const QString& path) : file(path.toStdString()) {
        if (const QString folder = copyFolderTemplate(); !folder.isEmpty()) {
            copyFolder = std::make_unique<QTemporaryDir>(folder);
        }
    }

    SettingsFile file;
    // QSettings's own file: a private copy of the settings file.
    std::unique_ptr<QTemporaryDir> copyFolder;
    std::unique_ptr<QSettings> settings;
    // The settings file's content as last read or written.
    QByteArray known;
    // Off once the file could not be read: it is never written over.
    bool mayWrite = true;
    // Without a private folder for the copy: the values, as text, for this run only.
    std::unique_ptr<MemoryDefaults> memory;

    // In the runtime folder when there is one: it lives in memory and only the user enters it.
    // Else the temporary folder; nothing when neither exists.
    static QString copyFolderTemplate() {
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        QString folder = !runtime.isEmpty() ? QString::fromLocal8Bit(runtime) : QDir::tempPath();
        if (folder.isEmpty() || !QDir(folder).exists()) {
            folder = QDir::tempPath();
        }
        if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
            return QString();
        }
        return folder + QStringLiteral("/ravlin-settings-XXXXXX");
    }

    // QSettings over a copy holding `content`.
    void open(const QByteArray& content) {
        settings.reset();
        const QString path = copyFolder->filePath(QStringLiteral("ravlin.ini"));
        QFile copy(path);
        if (copy.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            copy.write(content);
            copy.close();
        }
        settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
    }

    [[nodiscard]] QByteArray copyContent() const {
        QFile copy(settings->fileName());
        return copy.open(QIODevice::ReadOnly) ? copy.readAll() : QByteArray();
    }

    std::optional<QString> text(std::string_view key) const {
        if (memory) {
            const auto value = memory->stringValue(key);
            return value ? std::optional(QString::fromStdString(*value)) : std::nullopt;
        }
        const QVariant value = settings->value(qtKey(key));
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

QSettingsDefaults::QSettingsDefaults(const QString& path) : state_(std::make_unique<State>(path)) {
    if (!state_->copyFolder || !state_->copyFolder->isValid()) {
        state_->memory = std::make_unique<MemoryDefaults>();
        const QString why = state_->copyFolder ? state_->copyFolder->errorString()
                                               : QStringLiteral("no temporary folder");
        reportSaveProblem(std::string(kCannotSave) + "no private folder for a working copy (" +
                          why.toStdString() + ")" + kOnDefaults);
        return;
    }
    auto content = state_->file.read();
    if (auto* problem = std::get_if<std::string>(&content)) {
        state_->mayWrite = false;
        reportSaveProblem(kCannotSave + *problem + kOnDefaults);
    } else {
        state_->known = std::get<QByteArray>(std::move(content));
        if (auto lock = state_->file.lockProblem()) {
            reportSaveProblem(kCannotSave + *lock + kUntilQuit);
        }
    }
    state_->open(state_->known);
}

QSettingsDefaults::~QSettingsDefaults() = default;

void QSettingsDefaults::change(const std::function<void(QSettings&)>& apply) {
    if (state_->mayWrite) {
        // What another program wrote since comes in under this change, as QSettings's own sync
        // would merge it.
        auto content = state_->file.read();
        if (auto* problem = std::get_if<std::string>(&content)) {
            state_->mayWrite = false;
            reportSaveProblem(kCannotSave + *problem + kUntilQuit);
        } else if (auto& now = std::get<QByteArray>(content); now != state_->known) {
            state_->known = std::move(now);
            state_->open(state_->known);
        }
    }
    apply(*state_->settings);
    state_->settings->sync();
    if (!state_->mayWrite) {
        return;
    }
    QByteArray content = state_->copyContent();
    if (content == state_->known) {
        return;
    }
    if (auto problem = state_->file.write(content)) {
        reportSaveProblem(kCannotSave + *problem + kUntilQuit);
        return;
    }
    state_->known = std::move(content);
}

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
    if (state_->memory) {
        return state_->memory->contains(key);
    }
    return state_->settings->contains(qtKey(key));
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
    if (state_->memory) {
        state_->memory->set(key, variant.toString().toStdString());
        return;
    }
    change([&](QSettings& settings) { settings.setValue(qtKey(key), variant); });
}

void QSettingsDefaults::remove(std::string_view key) {
    if (state_->memory) {
        state_->memory->remove(key);
        return;
    }
    change([&](QSettings& settings) { settings.remove(qtKey(key)); });
}

}  // namespace ravlin
