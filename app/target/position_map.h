#pragma once

// Where a caret or a selection of a field stands once a correction has replaced the field's
// text: beside the same words as before. A position in text the correction left alone keeps its
// place beside it; one inside a changed stretch (a word rewritten) goes to the stretch's end, and
// one where words were inserted stands after them. Positions count UTF-16 units.

#include <cstdint>
#include <string_view>

#include "core/text/range.h"

namespace ravlin {

[[nodiscard]] std::int64_t positionAfterCorrection(std::u16string_view before,
                                                   std::u16string_view after, std::int64_t at);
[[nodiscard]] text::Utf16Range rangeAfterCorrection(std::u16string_view before,
                                                    std::u16string_view after,
                                                    text::Utf16Range range);

}  // namespace ravlin
