#pragma once

// Whether secure text entry is on (a password prompt holds the keyboard), in which case nothing
// may read or capture what is typed.

namespace ravlin::platform {

class SecureInput {
  public:
    virtual ~SecureInput() = default;
    [[nodiscard]] virtual bool isSecureInputEnabled() = 0;
};

}  // namespace ravlin::platform
