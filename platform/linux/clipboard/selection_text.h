#pragma once

// Plain text in the selections: the text targets, a text of this program's own as the selection
// offers it, and the plain text an owner's answer holds.

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "platform/linux/clipboard/selection_data.h"

namespace ravlin::platform::x11 {

// The text targets, in the order plain text is looked for.
inline constexpr std::array<std::string_view, 4> textTargets = {
    "UTF8_STRING", "text/plain;charset=utf-8", "text/plain", "STRING"};

// A text of this program's own as the selection offers it: UTF-8 under UTF8_STRING,
// text/plain;charset=utf-8, text/plain and TEXT, and Latin-1 under STRING when every character
// has one.
[[nodiscard]] SelectionData textSelection(std::u16string_view text);
// The same for a text that stays only a moment (a paste's): with the marks that keep it out of
// clipboard managers' history, as each understands them: "x-kde-passwordManagerHint" holding
// "secret" (KDE's Klipper and others), "application/x-copyq-hidden" holding "1" (CopyQ).
[[nodiscard]] SelectionData transientTextSelection(std::u16string_view text);
// The plain text the data holds: the first text target present (STRING as Latin-1, the others
// as UTF-8), without the terminating NULs some owners add.
[[nodiscard]] std::optional<std::u16string> plainText(const SelectionData& data);
[[nodiscard]] std::u16string decodeText(const SelectionValue& value);

}  // namespace ravlin::platform::x11
