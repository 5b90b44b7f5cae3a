#pragma once

// What every controller of the application is handed: the desktop seams, the main sequence,
// the runner for blocking work and the clock. One bundle instead of long argument lists; the
// program builds it once in main, tests build it over the simulated desktop and a
// ManualExecutor. The preference stores and the session log ride along.

#include <memory>
#include <string>

#include "app/log/event_logger.h"
#include "app/preferences/preferences.h"
#include "core/support/clock.h"
#include "core/support/executor.h"
#include "platform/seams.h"

namespace ravlin {

struct AppContext {
    platform::Seams seams;
    std::shared_ptr<Executor> executor;
    std::shared_ptr<WorkRunner> workRunner;
    std::shared_ptr<Clock> clock;
    // The stores over the user defaults, and the session log.
    std::shared_ptr<Preferences> preferences;
    std::shared_ptr<QNLoggerEvent> logger;
};

// "Not connected yet: accessibility, pasteboard, ..." naming every seam that has no real
// backend behind it; empty when every seam is connected.
[[nodiscard]] std::string unconnectedNotice(const platform::Seams& seams);
// "Connected: accessibility, pasteboard, ..." naming every seam a backend serves; "Connected:
// none." when there is none.
[[nodiscard]] std::string connectedNotice(const platform::Seams& seams);

}  // namespace ravlin
