#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>

#include "platform/system_log.h"

struct _GError;

namespace ravlin::platform::atspi {

// What the calls to other applications have cost so far, and their failures. A failure goes to
// the system log once per element and call, so that a toolkit that stops answering leaves a
// trace without flooding the log: the element by its place on the bus, the call by the
// backend's function and line that made it, the error by its kind. Never a text, a name or
// anything else the application said.
class CallRecord {
  public:
    // Failures told, remembered at most (then forgotten all at once, and told again).
    static constexpr std::size_t maxTold = 1024;

    void setLog(std::shared_ptr<SystemLog> log) { log_ = std::move(log); }
    // A call on `element` (any libatspi object, or none) failed with `error`; the call made in
    // the backend's `function` at `line`.
    void failed(const void* element, const _GError& error, const char* function, unsigned line);
    // The same for a call sent over the bus without libatspi: `place` is the element's place on
    // the bus (its application's bus name and its path), `kind` what went wrong.
    void failed(const std::string& place, const std::string& kind, const char* function,
                unsigned line);
    // Failures so far, told or not.
    [[nodiscard]] std::size_t failures() const { return failures_; }

    // The longest single call.
    std::chrono::microseconds worst{0};
    // How many were made (answered from libatspi's own cache or over the bus).
    std::uint64_t count = 0;

  private:
    std::shared_ptr<SystemLog> log_;
    std::unordered_set<std::string> told_;
    std::size_t failures_ = 0;
};

}  // namespace ravlin::platform::atspi
