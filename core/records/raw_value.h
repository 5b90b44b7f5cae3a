#pragma once

// Text-backed enumerations: each enum with raw values gives `toString(E)` and a
// specialisation of `fromString<E>`, which matches raw values exactly (case-sensitive).

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ravlin {

template <class E>
std::optional<E> fromString(std::string_view raw) = delete;

// Thrown only by decoders of stored or received data; it never leaves a provider or the engine.
class DecodingError : public std::runtime_error {
  public:
    enum class Kind { dataCorrupted, keyNotFound, typeMismatch };
    DecodingError(Kind kind, const std::string& what) : std::runtime_error(what), kind_(kind) {}
    [[nodiscard]] Kind kind() const { return kind_; }

  private:
    Kind kind_;
};

}  // namespace ravlin
