#pragma once

// Which stretches of a new text differ from an old one, as UTF-16 ranges of the new text. The
// walk goes forward through both texts and resynchronises after each difference on the first
// two code units in a row that match again, so separate changes give separate ranges.

#include <string_view>
#include <vector>

#include "core/text/range.h"

namespace ravlin {

// Empty when the texts are equal (canonical equivalence).
[[nodiscard]] std::vector<text::Utf16Range> changedRanges(std::u16string_view from,
                                                          std::u16string_view to);

// Sorted by location, empty ranges dropped, overlapping or touching ranges joined.
[[nodiscard]] std::vector<text::Utf16Range> mergedRanges(std::vector<text::Utf16Range> ranges);

}  // namespace ravlin
