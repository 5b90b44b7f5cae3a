#pragma once

// The program's self-updater: started once at launch, asked to check on demand, with a setting
// for automatic checks. Observers are told (on the main sequence) whenever whether a check can
// start now, or the automatic-check setting, changes.

#include <functional>

#include "core/support/subscription.h"
#include "platform/outcome.h"

namespace ravlin::platform {

class Updater {
  public:
    virtual ~Updater() = default;

    virtual Status start() = 0;
    // Starts a check that reports in the updater's own windows.
    virtual void checkForUpdates() = 0;
    [[nodiscard]] virtual bool canCheckForUpdates() = 0;
    [[nodiscard]] virtual bool automaticallyChecksForUpdates() = 0;
    virtual void setAutomaticallyChecksForUpdates(bool enabled) = 0;
    virtual Subscription observeChanges(std::function<void()> onChange) = 0;
    // Told just before the updater shows an update, so the program can come to the front.
    virtual Subscription observeWillShowUpdate(std::function<void()> onShow) = 0;
};

}  // namespace ravlin::platform
