#pragma once

// The Composer shortcut, whichever kind: registered, or built and waiting. Releasing one
// unregisters it.

namespace ravlin {

class QNHandleHotKey {
  public:
    virtual ~QNHandleHotKey() = default;
    // True when the shortcut is in force after the call.
    virtual bool registerKey() = 0;
    virtual void unregisterKey() = 0;
    // The Fn-key kind needs Accessibility and is torn down and restored with it.
    [[nodiscard]] virtual bool isFunctionKeyHotKey() const = 0;
};

}  // namespace ravlin
