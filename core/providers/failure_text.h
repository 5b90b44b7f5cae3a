#pragma once

// How a failure message from outside (a server's error event or error body, a tool's output)
// is made fit to show: one line of at most 500 characters with terminal escape sequences and
// control characters gone. Every provider passes such messages through here before they reach
// the person or a log.

#include <cstdint>
#include <string>
#include <string_view>

namespace ravlin {

inline constexpr std::int64_t kFailureTextCharacters = 500;

// The message as one line: every terminal escape sequence (ESC "[" up to and including the
// first unit from "@" to "~") dropped, every run of white space, line breaks and control
// characters made one space, both ends trimmed. Ill-formed UTF-8 reads as U+FFFD.
[[nodiscard]] std::u16string failureLine(std::string_view message);

// A line of `failureLine` held to `kFailureTextCharacters` characters: a longer one is cut
// there, trimmed at the end and followed by "...".
[[nodiscard]] std::string shortenedFailureLine(std::u16string_view line);

// Both steps; empty when nothing but white space, control characters and escapes was given.
[[nodiscard]] std::string condensedFailureText(std::string_view message);

}  // namespace ravlin
