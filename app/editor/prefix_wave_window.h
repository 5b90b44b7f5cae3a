#pragma once

// Which part of the covered text one frame of the prefix wave draws over: all of it when it is
// short; otherwise the part the view shows, widened a little, or else the part around the caret;
// never more than kPrefixWaveMaxWindow units. No Qt here; positions count UTF-16 code units.

#include <cstdint>
#include <optional>

#include "core/text/range.h"

namespace ravlin::editor {

// Covered lengths up to this are drawn whole.
inline constexpr std::int64_t kPrefixWaveWholeLength = 1200;
// The visible range is widened by this on both sides.
inline constexpr std::int64_t kPrefixWaveVisibleMargin = 240;
inline constexpr std::int64_t kPrefixWaveMaxWindow = 1400;

// The window over the first `coveredLength` units, given the range the view shows (if any) and
// the selection's location.
[[nodiscard]] text::Utf16Range prefixWaveWindow(std::int64_t coveredLength,
                                                std::optional<text::Utf16Range> visible,
                                                std::int64_t selectionLocation);

}  // namespace ravlin::editor
