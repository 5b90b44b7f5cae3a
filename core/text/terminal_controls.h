#pragma once

// Text a command wrote for a terminal, read as plain text: its escape sequences (colours, cursor
// moves, window titles) and the other control characters gone.

#include <string>
#include <string_view>

namespace ravlin::text {

// Drops every escape sequence (ESC "[" parameters up to a final character from "@" to "~"; ESC
// "]" up to BEL or ESC "\"; ESC, intermediate characters and one final character), the 8-bit
// control sequence introducer's sequences, and every other C0 and C1 control character except
// tab, line feed and carriage return. An escape cut off by the end of the text is dropped.
[[nodiscard]] std::u16string withoutTerminalControls(std::u16string_view text);

}  // namespace ravlin::text
