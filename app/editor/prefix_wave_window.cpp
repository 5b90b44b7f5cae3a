#include "app/editor/prefix_wave_window.h"

#include <algorithm>

namespace ravlin::editor {
namespace {

constexpr std::int64_t kHalfWindow = kPrefixWaveMaxWindow / 2;

text::Utf16Range windowAround(std::int64_t centre, std::int64_t length) {
    const std::int64_t start =
        std::max<std::int64_t>(0, std::min(centre - kHalfWindow, length - kPrefixWaveMaxWindow));
    return {start,
            std::max<std::int64_t>(0, std::min(length, start + kPrefixWaveMaxWindow) - start)};
}

}  // namespace

text::Utf16Range prefixWaveWindow(std::int64_t coveredLength,
                                  std::optional<text::Utf16Range> visible,
                                  std::int64_t selectionLocation) {
    const std::int64_t length = coveredLength;
    if (length <= 0) {
        return {};
    }
    if (length <= kPrefixWaveWholeLength) {
        return {0, length};
    }
    if (visible) {
        const std::int64_t start =
            std::max<std::int64_t>(0, visible->location - kPrefixWaveVisibleMargin);
        const std::int64_t end = std::min(length, visible->end() + kPrefixWaveVisibleMargin);
        if (end - start > 0) {
            if (end - start <= kPrefixWaveMaxWindow) {
                return {start, end - start};
            }
            return windowAround(start + (end - start) / 2, length);
        }
    }
    const std::int64_t limited = std::min(length, selectionLocation);
    const std::int64_t caret = std::max<std::int64_t>(0, limited);
    const std::int64_t start = limited >= kHalfWindow + 1 ? caret - kHalfWindow : 0;
    const std::int64_t end = std::min(length, caret + kHalfWindow);
    return {start, end - start};
}

}  // namespace ravlin::editor
