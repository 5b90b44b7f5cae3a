#pragma once

// Whether secure text entry is on (a password prompt holds the keyboard), in which case nothing
// may read or capture what is typed.

namespace ravlin::platform {

class SecureInput {
  public:
    enum class State {
        off,
        on,
        // The desktop cannot tell (where secure entry is a property of the focused field, no
        // focused field could be found): whatever would read the field or send it keys holds
        // back as it would for a password field.
        unknown,
    };

    virtual ~SecureInput() = default;
    [[nodiscard]] virtual State state() = 0;
};

}  // namespace ravlin::platform
