#pragma once

// Combinations the desktop or every application already uses, which the shortcut recorder
// refuses instead of registering. The comparison is exact on the whole modifier mask.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace ravlin {

struct QNModelHotKeyChord {
    std::uint32_t modifiers = 0;  // Carbon mask, Fn as 0x800000
    std::uint32_t keyCode = 0;    // virtual key code

    friend bool operator==(const QNModelHotKeyChord&, const QNModelHotKeyChord&) = default;

    struct Hash {
        std::size_t operator()(const QNModelHotKeyChord& chord) const;
    };

    // The refusal message when (`modifiers`, `keyCode`) is reserved, else nothing.
    [[nodiscard]] static std::optional<std::string> validationMessage(std::uint32_t modifiers,
                                                                      std::uint32_t keyCode);
    [[nodiscard]] static bool isReserved(std::uint32_t modifiers, std::uint32_t keyCode);
    static constexpr const char* reservedMessage = "This combo is reserved by your desktop.";
};

}  // namespace ravlin
