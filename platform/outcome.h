#pragma once

// Errors as values for every platform seam: nothing in platform/ throws. A call either gives its
// value or an Error saying what kind of failure it met, with a short technical message (never
// user text or secrets).

#include <cassert>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace ravlin::platform {

enum class ErrorCode {
    unavailable,      // the facility is not connected on this desktop (or not at all)
    notSupported,     // the facility is there but cannot do this (an attribute, the Fn key...)
    notPermitted,     // refused for want of permission (accessibility not trusted...)
    notFound,         // no such thing: element, attribute value, item
    invalidArgument,  // a stale token, a range outside the text, an empty text...
    failed,           // the call was made and did not succeed
};

[[nodiscard]] const char* toString(ErrorCode code);

struct Error {
    ErrorCode code = ErrorCode::failed;
    std::string message;

    friend bool operator==(const Error&, const Error&) = default;
};

// Success or an Error.
class [[nodiscard]] Status {
  public:
    Status() = default;
    Status(Error error) : error_(std::move(error)) {}  // NOLINT: a failure converts implicitly

    [[nodiscard]] static Status success() { return {}; }
    [[nodiscard]] static Status failure(ErrorCode code, std::string message = {}) {
        return Status(Error{code, std::move(message)});
    }

    [[nodiscard]] bool ok() const { return !error_.has_value(); }
    explicit operator bool() const { return ok(); }
    // Only on failure.
    [[nodiscard]] const Error& error() const {
        assert(error_.has_value());
        return *error_;
    }
    [[nodiscard]] std::optional<ErrorCode> code() const {
        return error_ ? std::optional(error_->code) : std::nullopt;
    }

  private:
    std::optional<Error> error_;
};

// A value or an Error.
template <class T>
class [[nodiscard]] Expected {
  public:
    Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}      // NOLINT
    Expected(Error error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT

    [[nodiscard]] static Expected failure(ErrorCode code, std::string message = {}) {
        return Expected(Error{code, std::move(message)});
    }

    [[nodiscard]] bool hasValue() const { return state_.index() == 0; }
    explicit operator bool() const { return hasValue(); }

    // Only with a value.
    [[nodiscard]] const T& value() const& {
        assert(hasValue());
        return std::get<0>(state_);
    }
    [[nodiscard]] T& value() & {
        assert(hasValue());
        return std::get<0>(state_);
    }
    [[nodiscard]] T&& value() && {
        assert(hasValue());
        return std::get<0>(std::move(state_));
    }
    const T& operator*() const& { return value(); }
    T& operator*() & { return value(); }
    const T* operator->() const { return &value(); }
    T* operator->() { return &value(); }

    // Only on failure.
    [[nodiscard]] const Error& error() const {
        assert(!hasValue());
        return std::get<1>(state_);
    }
    [[nodiscard]] std::optional<ErrorCode> code() const {
        return hasValue() ? std::nullopt : std::optional(error().code);
    }

    [[nodiscard]] std::optional<T> toOptional() const& {
        return hasValue() ? std::optional<T>(value()) : std::nullopt;
    }
    [[nodiscard]] Status status() const { return hasValue() ? Status() : Status(error()); }

  private:
    std::variant<T, Error> state_;
};

}  // namespace ravlin::platform
