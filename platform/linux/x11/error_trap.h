#pragma once

// Catches the X errors of a stretch of requests on one display: installed for that stretch
// only (X reports errors asynchronously, so finish() syncs first), errors of other requests or
// other displays passed on to the handler that was there before, which is put back at the end.

#include "platform/linux/x11/x11_connection.h"

namespace ravlin::platform::x11 {

class ErrorTrap {
  public:
    explicit ErrorTrap(Connection& connection);
    ~ErrorTrap();
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

    // Syncs, restores the previous handler and answers the first error code caught (0: none).
    int finish();

  private:
    Connection& connection_;
    bool finished_ = false;
};

}  // namespace ravlin::platform::x11
