#pragma once

// Where a caret or a selection of a field stands once a correction has replaced the field's
// text: beside the same words as before. A position in text the correction left alone keeps its
// place beside it; one inside a changed stretch (a word rewritten) goes to the stretch's end, and
// one where words were inserted stands after them. Positions count UTF-16 units.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/text/range.h"

namespace ravlin {

// One change of a text: `range` of the original replaced by `replacement`.
struct QNTextEdit {
    text::Utf16Range range;  // of the original text
    std::u16string replacement;

    friend bool operator==(const QNTextEdit&, const QNTextEdit&) = default;
};

// Where a place of the original text stands once `edits` (in order of place, none overlapping)
// are made: after the edits before it; inside a changed stretch, at the end of its replacement;
// where words were inserted, after them.
[[nodiscard]] std::int64_t placeAfterEdits(const std::vector<QNTextEdit>& edits,
                                           std::int64_t place);

// The same for a correction given as the text before and after it.
[[nodiscard]] std::int64_t positionAfterCorrection(std::u16string_view before,
                                                   std::u16string_view after, std::int64_t at);
[[nodiscard]] text::Utf16Range rangeAfterCorrection(std::u16string_view before,
                                                    std::u16string_view after,
                                                    text::Utf16Range range);

}  // namespace ravlin
