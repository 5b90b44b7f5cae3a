#pragma once

// UTF-16 ranges as the Composer's records use them: `NSNotFound` marks a range that names no
// location, and two tests tell whether an applied range meets another.

#include <cstdint>
#include <limits>
#include <optional>

#include "core/text/range.h"

namespace ravlin {

// The location of a range that names no location.
inline constexpr std::int64_t NSNotFound = std::numeric_limits<std::int64_t>::max();

// location + length, or none when the sum overflows.
[[nodiscard]] std::optional<std::int64_t> nsRangeEnd(text::Utf16Range range);

// Whether `range` names a location, has no negative part, and lies inside 0...length.
[[nodiscard]] bool nsRangeLiesWithin(text::Utf16Range range, std::int64_t length);

// Whether two ranges touch: non-empty ranges when they share a unit; an empty range when it sits
// on the other range or at either of its ends; two empty ranges when they are at one location.
// Ranges with NSNotFound, a negative part or an overflowing end touch nothing.
[[nodiscard]] bool nsRangesTouch(text::Utf16Range a, text::Utf16Range b);

// Whether `a` overlaps `b`: `b` must be non-empty; an empty `a` overlaps when it lies at b's
// start or inside it, but not at its end.
[[nodiscard]] bool nsRangesOverlap(text::Utf16Range a, text::Utf16Range b);

}  // namespace ravlin
