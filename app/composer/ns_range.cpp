#include "app/composer/ns_range.h"

namespace ravlin {

std::optional<std::int64_t> nsRangeEnd(text::Utf16Range range) {
    std::int64_t end = 0;
    if (__builtin_add_overflow(range.location, range.length, &end)) {
        return std::nullopt;
    }
    return end;
}

bool nsRangeLiesWithin(text::Utf16Range range, std::int64_t length) {
    if (range.location == NSNotFound || range.location < 0 || range.length < 0) {
        return false;
    }
    const auto end = nsRangeEnd(range);
    return end && *end <= length;
}

bool nsRangesTouch(text::Utf16Range a, text::Utf16Range b) {
    if (a.location == NSNotFound || b.location == NSNotFound || a.location < 0 || a.length < 0 ||
        b.location < 0 || b.length < 0) {
        return false;
    }
    const auto aEnd = nsRangeEnd(a);
    const auto bEnd = nsRangeEnd(b);
    if (!aEnd || !bEnd) {
        return false;
    }
    if (a.length > 0 && b.length > 0) {
        return a.location < *bEnd && b.location < *aEnd;
    }
    if (a.length > 0) {
        return a.location <= b.location && b.location <= *aEnd;
    }
    if (b.length > 0) {
        return b.location <= a.location && a.location <= *bEnd;
    }
    return a.location == b.location;
}

bool nsRangesOverlap(text::Utf16Range a, text::Utf16Range b) {
    if (a.location == NSNotFound || b.location == NSNotFound || b.length < 1 || a.length < 0) {
        return false;
    }
    const auto aEnd = nsRangeEnd(a);
    const auto bEnd = nsRangeEnd(b);
    if (!aEnd || !bEnd) {
        return false;
    }
    if (a.length > 0) {
        return b.location < *aEnd && a.location < *bEnd;
    }
    return b.location <= a.location && a.location < *bEnd;
}

}  // namespace ravlin
