#include "app/preferences/defaults.h"

#include "app/preferences/settings_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUtf8StringView>
#include <algorithm>
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
constexpr const char* kNotUnderstood = " is not a settings file Ravlin understands; it is left as it is";
constexpr const char* kNoWorkFolder = "no private folder to work in";
constexpr const char* kChangeNotWritten = "the change could not be written in the private folder";
constexpr const char* kWrittenAgain =
    " was found missing or empty; the settings in force were written to it again";

// Whether `content` reads as an INI file: UTF-8 text without control characters but tabs and
// line ends, each line blank, a comment, a "[section]" or "key=value". What QSettings would make
// of anything else (a few escaped keys out of random bytes, say) is not the person's settings.
bool isSettingsText(const QByteArray& content) {
    if (!QUtf8StringView(content).isValidUtf8()) {
        return false;
    }
    for (const QByteArray& raw : content.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (std::ranges::any_of(line, [](char c) {
                const auto byte = static_cast<unsigned char>(c);
                return (byte < 0x20 && c != '\t') || byte == 0x7F;
            })) {
            return false;
        }
        if (line.isEmpty() || line.startsWith(';') || line.startsWith('#')) {
            continue;
        }
        if (line.startsWith('[') && line.endsWith(']')) {
            continue;
        }
        if (line.indexOf('=') <= 0) {
            return false;
        }
    }
    return true;
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
    explicit State(const QString& path) : file(path.toStdString()) {}

    SettingsFile file;
    // The table, as QSettings reads it, and as the text of an INI file.
    QVariantMap values;
    QByteArray content;
    // The settings file's content as last read or written.
    QByteArray onDisk;
    // Off once the file could not be read (it is never written over), or no private folder was
    // there to parse a change in.
    bool mayWrite = true;

    // In the runtime folder when there is one: it lives in memory and only the user enters it.
    // Else the temporary folder; nothing when neither exists.
    static QString workFolderTemplate() {
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

    // QSettings parses `from` (and applies `change`, when given) in a private copy that lives
    // only for this call; its text and values become the table's. The problem, the table
    // unchanged, when no private folder can be made or the change could not be written there.
    std::optional<std::string> work(const QByteArray& from,
                                    const std::function<void(QSettings&)>& change) {
        const QString folderTemplate = workFolderTemplate();
        if (folderTemplate.isEmpty()) {
            return kNoWorkFolder;
        }
        const QTemporaryDir folder(folderTemplate);
        const QString path = folder.filePath(QStringLiteral("ravlin.ini"));
        QFile copy(path);
        if (!folder.isValid() || !copy.open(QIODevice::WriteOnly) ||
            copy.write(from) != from.size()) {
            return kNoWorkFolder;
        }
        copy.close();
        QVariantMap read;
        {
            QSettings settings(path, QSettings::IniFormat);
            if (change) {
                change(settings);
                settings.sync();
                // The copy still holds the text from before the change: it must not be taken
                // for the change's. (A format error only says the text read was not all INI;
                // the change is written all the same.)
                if (settings.status() == QSettings::AccessError) {
                    return kChangeNotWritten;
                }
            }
            for (const QString& key : settings.allKeys()) {
                read.insert(key, settings.value(key));
            }
        }
        if (!copy.open(QIODevice::ReadOnly)) {
            return kNoWorkFolder;
        }
        content = copy.readAll();
        values = std::move(read);
        return std::nullopt;
    }

    std::optional<QString> text(std::string_view key) const {
        const QVariant value = values.value(qtKey(key));
        if (!value.isValid() || value.isNull()) {
            return std::nullopt;
        }
        // The file gives text; a value that is not one (a list) reads as nothing.
        if (!value.canConvert<QString>()) {
            return std::nullopt;
        }
        return value.toString();
    }
};

QSettingsDefaults::QSettingsDefaults(const QString& path) : state_(std::make_unique<State>(path)) {
    auto content = state_->file.read();
    if (auto* problem = std::get_if<std::string>(&content)) {
        state_->mayWrite = false;
        reportSaveProblem(kCannotSave + *problem + kOnDefaults);
        return;
    }
    state_->onDisk = std::get<QByteArray>(std::move(content));
    // A file not understood is not written over: the program runs on the defaults.
    if (!isSettingsText(state_->onDisk)) {
        state_->mayWrite = false;
        state_->onDisk.clear();
        reportSaveProblem(kCannotSave + state_->file.path() + kNotUnderstood + kOnDefaults);
        return;
    }
    if (auto problem = state_->work(state_->onDisk, {})) {
        state_->mayWrite = false;
        reportSaveProblem(kCannotSave + *problem + kOnDefaults);
        return;
    }
    if (auto lock = state_->file.lockProblem()) {
        reportSaveProblem(kCannotSave + *lock + kUntilQuit);
    }
}

QSettingsDefaults::~QSettingsDefaults() = default;

void QSettingsDefaults::change(const QString& key, const std::optional<QString>& value) {
    bool writtenAgain = false;
    if (state_->mayWrite) {
        // What another program wrote since comes in under this change, as QSettings's own sync
        // would merge it.
        auto content = state_->file.read();
        if (auto* problem = std::get_if<std::string>(&content)) {
            state_->mayWrite = false;
            reportSaveProblem(kCannotSave + *problem + kUntilQuit);
        } else if (auto& now = std::get<QByteArray>(content); now != state_->onDisk) {
            if (now.trimmed().isEmpty() && !state_->values.isEmpty()) {
                // Deleted or emptied meanwhile: nobody wrote settings of their own there. Taken
                // for a table, it would leave only this change; the settings in force, which the
                // windows still show, are written whole instead.
                state_->onDisk = std::move(now);
                writtenAgain = true;
            } else if (isSettingsText(now)) {
                state_->onDisk = now;
                state_->content = std::move(now);
            } else {
                // Replaced by something that is no settings file: it is not ours to write over.
                state_->mayWrite = false;
                reportSaveProblem(kCannotSave + state_->file.path() + kNotUnderstood + kUntilQuit);
            }
        }
    }
    const auto problem = state_->work(state_->content, [&](QSettings& settings) {
        if (value) {
            settings.setValue(key, *value);
        } else {
            settings.remove(key);
        }
    });
    if (problem) {
        // The change still holds for this run.
        if (value) {
            state_->values.insert(key, *value);
        } else {
            state_->values.remove(key);
        }
        state_->mayWrite = false;
        reportSaveProblem(kCannotSave + *problem + kUntilQuit);
        return;
    }
    if (!state_->mayWrite || state_->content == state_->onDisk) {
        return;
    }
    if (auto problem = state_->file.write(state_->content)) {
        reportSaveProblem(kCannotSave + *problem + kUntilQuit);
        return;
    }
    state_->onDisk = state_->content;
    if (writtenAgain) {
        tellNotice("Settings file " + state_->file.path() + kWrittenAgain);
    }
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
    return state_->values.contains(qtKey(key));
}

void QSettingsDefaults::set(std::string_view key, const Value& value) {
    QString text;
    if (const auto* flag = std::get_if<bool>(&value)) {
        text = QString::fromLatin1(*flag ? "true" : "false");
    } else if (const auto* number = std::get_if<std::int64_t>(&value)) {
        text = QString::number(*number);
    } else {
        text = QString::fromStdString(std::get<std::string>(value));
    }
    change(qtKey(key), text);
}

void QSettingsDefaults::remove(std::string_view key) {
    change(qtKey(key), std::nullopt);
}

}  // namespace ravlin
