#pragma once

// The record of one streamed correction shown in place of a canonical range: what stood there
// when the stream began and what is shown now. One object per stream, updated in place by the
// partial apply and by a rollback; the service holds it while the stream runs.

#include <cstdint>
#include <string>

#include "core/text/range.h"

namespace ravlin {

struct QNStreamApplyState {
    text::Utf16Range canonicalRange;
    // The visible text of the range at stream start.
    std::u16string originalVisibleReplacement;
    // UTF-16 length of the visible text up to the range's end, at stream start.
    std::int64_t originalVisiblePrefixLength = 0;
    // The visible text up to the range's end, as it now stands.
    std::u16string visibleFullPrefix;
    // The text now shown in the range; the original when no partial text is on screen.
    std::u16string currentReplacement;
    std::int64_t appliedEdits = 0;
};

}  // namespace ravlin
