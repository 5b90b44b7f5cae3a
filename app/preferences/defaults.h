#pragma once

// The user defaults: a flat table of keys and typed values that outlives the process. Stores read
// a key with the type they expect and get nothing when the key is missing or its value does not
// read as that type; they write and remove keys one at a time, and each write is on disk when
// the call returns.
//
// QSettingsDefaults keeps the table in an INI file under the XDG config folder, where every value
// comes back as text: a typed read parses it (integers as whole decimal numbers, Booleans as
// "true" / "false"). MemoryDefaults keeps typed values in memory for tests; there a value of
// another type reads as nothing.
//
// When changes cannot outlive the process (the file is no regular file, cannot be read, is not a
// settings file at all, or a write failed), the table goes on in memory and saveProblem() says
// why, once. A file that cannot be read or understood is never written over. A file deleted or
// emptied while the program runs loses nothing: the next change writes the whole table in force
// (what the windows show), and a notice says so.

#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "core/process/spawn.h"
#include "core/support/observable.h"

namespace ravlin {

class Defaults {
  public:
    using Value = std::variant<bool, std::int64_t, std::string>;

    virtual ~Defaults() = default;

    [[nodiscard]] virtual std::optional<bool> boolValue(std::string_view key) const = 0;
    [[nodiscard]] virtual std::optional<std::int64_t> integerValue(std::string_view key) const = 0;
    [[nodiscard]] virtual std::optional<std::string> stringValue(std::string_view key) const = 0;
    // Whether the key holds anything at all.
    [[nodiscard]] virtual bool contains(std::string_view key) const = 0;

    virtual void set(std::string_view key, const Value& value) = 0;
    virtual void remove(std::string_view key) = 0;

    // Why changes are not kept beyond this run: a line for a person, set at the first problem
    // and never cleared.
    [[nodiscard]] const Observable<std::optional<std::string>>& saveProblem() const {
        return saveProblem_;
    }

    // Tells `notice` each line for a person about the file that is no problem: it was found
    // missing or empty at a change and written again.
    Subscription observeNotices(std::function<void(const std::string&)> notice) const {
        return notices_.add(std::move(notice));
    }

  protected:
    // Keeps the first problem only.
    void reportSaveProblem(std::string problem) {
        if (!saveProblem_.get()) {
            saveProblem_.set(std::move(problem));
        }
    }
    void tellNotice(const std::string& notice) const { notices_.notify(notice); }

  private:
    Observable<std::optional<std::string>> saveProblem_;
    mutable CallbackList<std::string> notices_;
};

// Typed values in memory; a read of another type gives nothing.
class MemoryDefaults final : public Defaults {
  public:
    [[nodiscard]] std::optional<bool> boolValue(std::string_view key) const override;
    [[nodiscard]] std::optional<std::int64_t> integerValue(std::string_view key) const override;
    [[nodiscard]] std::optional<std::string> stringValue(std::string_view key) const override;
    [[nodiscard]] bool contains(std::string_view key) const override;
    void set(std::string_view key, const Value& value) override;
    void remove(std::string_view key) override;

  private:
    std::map<std::string, Value, std::less<>> values_;
};

// An INI file through QSettings, on disk after each write. QSettings parses and writes a private
// copy of the file that lasts for one read or change (in the runtime folder); the file itself is
// read and written only through SettingsFile, which never touches anything but a regular file.
// Each write first takes in what another program changed in the file meanwhile, as QSettings
// would.
class QSettingsDefaults final : public Defaults {
  public:
    // The file at `path`. Reading it never blocks: a file that cannot be read gives an empty
    // table (every store's defaults) that is never written over it.
    explicit QSettingsDefaults(const QString& path);
    ~QSettingsDefaults() override;
    // "ravlin/ravlin.ini" in the XDG config folder ($XDG_CONFIG_HOME, else ~/.config).
    [[nodiscard]] static QString standardPath();

    [[nodiscard]] std::optional<bool> boolValue(std::string_view key) const override;
    [[nodiscard]] std::optional<std::int64_t> integerValue(std::string_view key) const override;
    [[nodiscard]] std::optional<std::string> stringValue(std::string_view key) const override;
    [[nodiscard]] bool contains(std::string_view key) const override;
    void set(std::string_view key, const Value& value) override;
    void remove(std::string_view key) override;

  private:
    struct State;
    // Sets the key to `value`, or removes it.
    void change(const QString& key, const std::optional<QString>& value);
    std::unique_ptr<State> state_;
};

// The process environment, taken once and handed to whoever reads it.
using EnvironmentSnapshot = process::Environment;

}  // namespace ravlin
