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

#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "core/process/spawn.h"

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

// An INI file through QSettings, synced after each write.
class QSettingsDefaults final : public Defaults {
  public:
    // The file at `path`.
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
    std::unique_ptr<State> state_;
};

// The process environment, taken once and handed to whoever reads it.
using EnvironmentSnapshot = process::Environment;

}  // namespace ravlin
