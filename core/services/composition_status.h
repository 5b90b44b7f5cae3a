#pragma once

// Where the correction of one draft stands, and the draft, its corrected form and that status
// taken together at one moment.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace ravlin {

class QNModelCompositionStatus {
  public:
    enum class Kind { modelUnavailable, error, ready, pausing, correcting, fixed, noChanges };

    // The engine's reason and the detail of its availability summary at that moment.
    struct ModelUnavailable {
        std::string reason;
        std::string detail;
    };
    // The engine's reason for a rejected or failed correction.
    struct Error {
        std::string message;
    };
    struct Ready {};
    struct Pausing {};
    struct Correcting {};
    struct Fixed {};
    struct NoChanges {};

    using Value =
        std::variant<ModelUnavailable, Error, Ready, Pausing, Correcting, Fixed, NoChanges>;

    // The initial status: ready.
    QNModelCompositionStatus() = default;

    [[nodiscard]] static QNModelCompositionStatus modelUnavailable(std::string reason,
                                                                   std::string detail);
    [[nodiscard]] static QNModelCompositionStatus error(std::string message);
    [[nodiscard]] static QNModelCompositionStatus ready();
    [[nodiscard]] static QNModelCompositionStatus pausing();
    [[nodiscard]] static QNModelCompositionStatus correcting();
    [[nodiscard]] static QNModelCompositionStatus fixed();
    [[nodiscard]] static QNModelCompositionStatus noChanges();

    [[nodiscard]] Kind kind() const { return static_cast<Kind>(value_.index()); }
    [[nodiscard]] const Value& value() const { return value_; }

    // A fixed text per case ("Model unavailable", "Error", "Ready", ...).
    [[nodiscard]] std::string_view label() const;
    // The availability detail of modelUnavailable, the message of error; absent otherwise.
    [[nodiscard]] std::optional<std::string> detail() const;

    // Same case and, for the cases with texts, canonically equal texts.
    friend bool operator==(const QNModelCompositionStatus& a, const QNModelCompositionStatus& b);

  private:
    explicit QNModelCompositionStatus(Value value) : value_(std::move(value)) {}

    Value value_{Ready{}};
};

struct QNModelCompositionSnapshot {
    std::u16string original;
    std::u16string corrected;  // empty when there is none
    QNModelCompositionStatus status;

    // `corrected` when it holds at least one character (whitespace included), else `original`.
    [[nodiscard]] const std::u16string& preferredText() const {
        return corrected.empty() ? original : corrected;
    }

    friend bool operator==(const QNModelCompositionSnapshot& a,
                           const QNModelCompositionSnapshot& b);
};

}  // namespace ravlin
