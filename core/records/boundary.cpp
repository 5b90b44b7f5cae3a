#include "core/records/boundary.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <vector>

#include "core/text/unicode.h"

namespace ravlin {
namespace {

// The ASCII mark a character is canonically equal to (U+037E is ";"), else 0. A mark carrying
// anything else (a combining accent) is not a bare mark.
char16_t canonicalMark(std::u16string_view character) {
    if (character.size() == 1 && character[0] < 0x80) {
        return character[0];
    }
    if (character.empty() || character[0] < 0x80) {
        return 0;  // an ASCII character with marks joined to it stays several code points
    }
    const std::u16string decomposed = text::nfd(character);
    return decomposed.size() == 1 && decomposed[0] < 0x80 ? decomposed[0] : 0;
}

}  // namespace

std::optional<QNBoundaryEvent> QNChunkBoundaryDetector::evaluate(
    std::u16string_view canonicalText, const QNDirtySpan& dirtySpan) const {
    if (dirtySpan.range.length == 0) {
        return std::nullopt;
    }
    const auto textLength = static_cast<std::int64_t>(canonicalText.size());
    std::int64_t spanEnd = 0;
    if (__builtin_add_overflow(dirtySpan.range.location, dirtySpan.range.length, &spanEnd)) {
        // Only a corrupt span overflows; read it as reaching as far as it points.
        spanEnd = dirtySpan.range.length > 0 ? std::numeric_limits<std::int64_t>::max()
                                             : std::numeric_limits<std::int64_t>::min();
    }
    const std::int64_t start =
        std::max<std::int64_t>(0, std::min(dirtySpan.range.location, textLength));
    const std::int64_t end = std::max(std::min(spanEnd, textLength), start);

    const auto spanText = text::substring(canonicalText, {start, end - start});
    if (!spanText || spanText->empty()) {
        return std::nullopt;
    }

    // A line break anywhere in the span wins over any punctuation. A carriage return and line
    // feed pair is one character that holds a line feed; a lone carriage return is not a break.
    if (spanText->find(u'\n') != std::u16string::npos) {
        return QNBoundaryEvent::paragraph;
    }

    const std::vector<std::int64_t> boundaries = text::characterBoundaries(*spanText);
    for (std::size_t index = 0; index + 1 < boundaries.size(); ++index) {
        const char16_t mark = canonicalMark(std::u16string_view(*spanText).substr(
            static_cast<std::size_t>(boundaries[index]),
            static_cast<std::size_t>(boundaries[index + 1] - boundaries[index])));
        const bool isTerminator = mark == u'.' || mark == u'!' || mark == u'?';
        const bool isSoft = mark == u';' || mark == u',';
        if (!isTerminator && !isSoft) {
            continue;
        }
        if (static_cast<std::int64_t>(index) < minimumPunctuationChunkLength) {
            continue;
        }
        return isTerminator ? QNBoundaryEvent::terminator : QNBoundaryEvent::softPunctuation;
    }
    return std::nullopt;
}

}  // namespace ravlin
