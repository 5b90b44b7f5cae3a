#pragma once

// Offsets into an accessible text: GTK counts code points, Qt UTF-16 units, and the seam speaks
// UTF-16 units only. Both directions are taken against the element's text and clamped to it.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/linux/accessibility/element_states.h"

namespace ravlin::platform {

enum class OffsetUnit { codePoints, utf16 };

// A toolkit offset as a UTF-16 offset into `text` (past the end: the end).
[[nodiscard]] std::int64_t toUtf16Offset(std::u16string_view text, std::int64_t offset,
                                         OffsetUnit unit);
// A UTF-16 offset as a toolkit offset; inside a surrogate pair, the pair's start.
[[nodiscard]] std::int64_t fromUtf16Offset(std::u16string_view text, std::int64_t offset,
                                           OffsetUnit unit);

// The accessibility role name the application uses for an AT-SPI role in these states
// ("AXTextField", ...); roles outside the application's tables keep AT-SPI's own name. A text is
// a field when it says it is single-line, or does not say it is multi-line (Qt marks only its
// multi-line edits). Text the user edits over several lines is a text area whatever its role (a
// web page's text area is an "entry", LibreOffice's and an editable web page's paragraphs are
// paragraphs and sections).
[[nodiscard]] std::string axRoleName(int atspiRole, const atspi::States& states);

}  // namespace ravlin::platform
