#pragma once

// What every file of the AT-SPI backend shares: a bounded libatspi call, a held GObject
// reference, the state flags the backend reads, and the errors it answers with.

#include <atspi/atspi.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/linux/accessibility/call_record.h"
#include "platform/linux/accessibility/element_states.h"
#include "platform/outcome.h"

namespace ravlin::platform::atspi {

// Runs one libatspi call with a place for its GError, counting it and keeping the longest call
// time.
template <class Function>
auto timed(CallRecord& record, GError** error, Function&& function) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto result = function(error);
    record.worst = std::max(
        record.worst, std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start));
    ++record.count;
    return result;
}

// Runs one libatspi call on `element` (any libatspi object, or none) that reports failure
// through a GError, counting it and keeping the longest call time; a failure is told to
// `record` as one of that element and of the call made in `caller` at `line`. The answer is
// absent when the call failed or timed out.
template <class Function>
auto attempt(CallRecord& record, const void* element, Function&& function,
             const char* caller = __builtin_FUNCTION(), unsigned line = __builtin_LINE()) {
    GError* error = nullptr;
    auto result = timed(record, &error, std::forward<Function>(function));
    using Result = decltype(result);
    if (error != nullptr) {
        // libatspi answers nothing (null, 0) along with an error.
        record.failed(element, *error, caller, line);
        g_error_free(error);
        return std::optional<Result>();
    }
    return std::optional<Result>(result);
}

// The same for a call that answers memory of its own, which it may hand out along with an
// error: `release` frees it then.
template <class Function, class Release>
auto attemptOwned(CallRecord& record, const void* element, Function&& function, Release&& release,
                  const char* caller = __builtin_FUNCTION(), unsigned line = __builtin_LINE()) {
    GError* error = nullptr;
    auto result = timed(record, &error, std::forward<Function>(function));
    using Result = decltype(result);
    if (error != nullptr) {
        record.failed(element, *error, caller, line);
        g_error_free(error);
        if (result != nullptr) {
            release(result);
        }
        return Result{};
    }
    return result;
}

// A reference on a GObject, dropped at scope exit.
template <class T>
struct Held {
    T* object = nullptr;
    explicit Held(T* held) : object(held) {}
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    ~Held() {
        if (object != nullptr) {
            g_object_unref(object);
        }
    }
    T* get() const { return object; }
    explicit operator bool() const { return object != nullptr; }
};

[[nodiscard]] States statesOf(AtspiStateSet* set);
// The same from the bits of a state set as the bus carries them (bit n: state n).
[[nodiscard]] States statesOfBits(std::uint64_t bits);

[[nodiscard]] bool hasState(AtspiAccessible* object, AtspiStateType state);
[[nodiscard]] std::u16string fromUtf8(const gchar* text);

[[nodiscard]] Error failed(std::string message);
[[nodiscard]] Error noValue(std::string_view name);
[[nodiscard]] Error secret();

}  // namespace ravlin::platform::atspi
