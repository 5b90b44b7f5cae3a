#include "app/composer/correction_buffers.h"

#include <algorithm>

namespace ravlin {
namespace {

__extension__ using Wide = __int128;

// Appends start + floor(i * span / steps) for i = 0...steps (steps > 0, span >= 0): the straight
// line, stepped without a division per entry (a keystroke rebuilds a table as long as the text).
void appendLine(std::vector<std::int64_t>& table, std::int64_t start, std::int64_t span,
                std::int64_t steps) {
    const std::int64_t whole = span / steps;
    const std::int64_t rest = span % steps;
    std::int64_t value = start;
    std::int64_t carried = 0;
    table.push_back(value);
    for (std::int64_t i = 1; i <= steps; ++i) {
        value += whole;
        carried += rest;
        if (carried >= steps) {
            carried -= steps;
            ++value;
        }
        table.push_back(value);
    }
}

bool isHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool isLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}
// Whether `offset` falls between the two halves of a surrogate pair.
bool splitsPair(std::u16string_view text, std::size_t offset) {
    return offset > 0 && offset < text.size() && isHighSurrogate(text[offset - 1]) &&
           isLowSurrogate(text[offset]);
}

std::int64_t utf16Length(std::u16string_view text) {
    return static_cast<std::int64_t>(text.size());
}

// old - removed + added, when it stays within 0...kMaximumLength.
std::optional<std::int64_t> changedLength(std::int64_t old, std::int64_t removed,
                                          std::int64_t added) {
    const auto result = static_cast<Wide>(old) - removed + added;
    if (result < 0 || result > QNBufferProjection::kMaximumLength) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(result);
}

}  // namespace

namespace {

// Whether `range` may be replaced in `text`: inside it, cutting no surrogate pair.
bool replaceable(std::u16string_view text, text::Utf16Range range) {
    return nsRangeLiesWithin(range, utf16Length(text)) &&
           !splitsPair(text, static_cast<std::size_t>(range.location)) &&
           !splitsPair(text, static_cast<std::size_t>(range.end()));
}

// An empty table in storage kept from the table it replaced last time: a replacement builds a
// table as long as the text, on every keystroke that brings a fix.
std::vector<std::int64_t>& scratchTable() {
    thread_local std::vector<std::int64_t> table;
    table.clear();
    return table;
}

}  // namespace

bool replaceInPlace(std::u16string& text, text::Utf16Range range,
                    std::u16string_view replacement) {
    if (!replaceable(text, range)) {
        return false;
    }
    text.replace(static_cast<std::size_t>(range.location), static_cast<std::size_t>(range.length),
                 replacement);
    return true;
}

std::optional<std::u16string> replacing(std::u16string_view text, text::Utf16Range range,
                                        std::u16string_view replacement) {
    if (!replaceable(text, range)) {
        return std::nullopt;
    }
    const auto start = static_cast<std::size_t>(range.location);
    const auto end = static_cast<std::size_t>(range.end());
    std::u16string result;
    result.reserve(text.size() - (end - start) + replacement.size());
    result.append(text.substr(0, start));
    result.append(replacement);
    result.append(text.substr(end));
    return result;
}

std::vector<std::int64_t> QNBufferProjection::linearOffsets(std::int64_t canonicalLength,
                                                            std::int64_t visibleLength) {
    if (canonicalLength < 1) {
        return {0};
    }
    std::vector<std::int64_t> offsets;
    offsets.reserve(static_cast<std::size_t>(canonicalLength) + 1);
    if (visibleLength >= 0) {
        appendLine(offsets, 0, visibleLength, canonicalLength);
        return offsets;
    }
    for (std::int64_t i = 0; i <= canonicalLength; ++i) {
        offsets.push_back(static_cast<std::int64_t>(static_cast<Wide>(i) * visibleLength /
                                                    canonicalLength));
    }
    return offsets;
}

QNBufferProjection QNBufferProjection::linear(std::int64_t canonicalLength,
                                              std::int64_t visibleLength) {
    canonicalLength = std::max<std::int64_t>(canonicalLength, 0);
    visibleLength = std::max<std::int64_t>(visibleLength, 0);
    return {canonicalLength, visibleLength, linearOffsets(canonicalLength, visibleLength)};
}

bool QNBufferProjection::isMonotonic(const std::vector<std::int64_t>& offsets) {
    return !offsets.empty() && std::is_sorted(offsets.begin(), offsets.end());
}

std::optional<text::Utf16Range> QNBufferProjection::visibleRange(text::Utf16Range canonical) const {
    if (!nsRangeLiesWithin(canonical, canonicalUTF16Length) ||
        canonical.end() >= static_cast<std::int64_t>(canonicalToVisibleOffsets.size())) {
        return std::nullopt;
    }
    const auto start = canonicalToVisibleOffsets[static_cast<std::size_t>(canonical.location)];
    const auto end = canonicalToVisibleOffsets[static_cast<std::size_t>(canonical.end())];
    return text::Utf16Range{start, std::max<std::int64_t>(0, end - start)};
}

bool QNBufferProjection::satisfiesInvariants() const {
    if (canonicalUTF16Length < 0 ||
        static_cast<std::int64_t>(canonicalToVisibleOffsets.size()) != canonicalUTF16Length + 1 ||
        !isMonotonic(canonicalToVisibleOffsets)) {
        return false;
    }
    return canonicalToVisibleOffsets.front() >= 0 &&
           canonicalToVisibleOffsets.back() <= visibleUTF16Length;
}

bool QNBufferProjection::applyUserEdit(text::Utf16Range range, std::int64_t replacementLength) {
    if (replacementLength < 0 || canonicalUTF16Length < 0 || visibleUTF16Length < 0 ||
        !nsRangeLiesWithin(range, canonicalUTF16Length) ||
        !nsRangeLiesWithin(range, visibleUTF16Length)) {
        return false;
    }
    const auto canonical = changedLength(canonicalUTF16Length, range.length, replacementLength);
    const auto visible = changedLength(visibleUTF16Length, range.length, replacementLength);
    if (!canonical || !visible) {
        return false;
    }
    // The straight line again, in the table's own storage (a table as long as the text is
    // rebuilt on every keystroke).
    canonicalUTF16Length = *canonical;
    visibleUTF16Length = *visible;
    canonicalToVisibleOffsets.clear();
    if (*canonical < 1) {
        canonicalToVisibleOffsets.push_back(0);
    } else {
        appendLine(canonicalToVisibleOffsets, 0, *visible, *canonical);
    }
    return true;
}

bool QNBufferProjection::applying(text::Utf16Range replacement, std::int64_t replacementLength) {
    if (replacementLength < 0 || !satisfiesInvariants() ||
        !nsRangeLiesWithin(replacement, canonicalUTF16Length)) {
        return false;
    }
    const auto n = canonicalUTF16Length;
    const auto k = replacementLength;
    const auto newLength = changedLength(n, replacement.length, k);
    if (!newLength) {
        return false;
    }
    const auto& old = canonicalToVisibleOffsets;
    const auto s = old[static_cast<std::size_t>(replacement.location)];
    const auto e = old[static_cast<std::size_t>(replacement.end())];
    auto& table = scratchTable();
    table.reserve(static_cast<std::size_t>(*newLength) + 1);
    table.insert(table.end(), old.begin(), old.begin() + replacement.location);
    if (k > 0) {
        appendLine(table, s, e - s, k);
    } else {
        table.push_back(e);
    }
    table.insert(table.end(), old.begin() + replacement.end() + 1, old.end());
    canonicalToVisibleOffsets.swap(table);
    canonicalUTF16Length = *newLength;
    return satisfiesInvariants();
}

bool QNBufferProjection::applyVisibleReplacement(text::Utf16Range range,
                                                 std::int64_t replacementLength) {
    if (replacementLength < 0 || !satisfiesInvariants() ||
        !nsRangeLiesWithin(range, canonicalUTF16Length)) {
        return false;
    }
    const auto k = replacementLength;
    const auto& old = canonicalToVisibleOffsets;
    const auto s = old[static_cast<std::size_t>(range.location)];
    const auto e = old[static_cast<std::size_t>(range.end())];
    const auto newVisible = changedLength(visibleUTF16Length, e - s, k);
    if (!newVisible) {
        return false;
    }
    const auto d = k - (e - s);
    auto& table = scratchTable();
    table.reserve(old.size());
    table.insert(table.end(), old.begin(), old.begin() + range.location);
    if (range.length > 0) {
        appendLine(table, s, k, range.length);
    } else {
        table.push_back(s);
    }
    for (auto it = old.begin() + range.end() + 1; it != old.end(); ++it) {
        table.push_back(*it + d);
    }
    canonicalToVisibleOffsets.swap(table);
    visibleUTF16Length = *newVisible;
    return satisfiesInvariants();
}

void QNCorrectionBuffers::reset(std::u16string text) {
    authoredText = text;
    canonicalText = std::move(text);
    revision = 0;
    edits.clear();
    const auto length = utf16Length(canonicalText);
    projection = QNBufferProjection::linear(length, length);
}

bool QNCorrectionBuffers::recordUserEdit(const QNUserEdit& edit) {
    if (!replaceable(authoredText, edit.range) || !replaceable(canonicalText, edit.range)) {
        return false;
    }
    replaceInPlace(authoredText, edit.range, edit.replacement);
    replaceInPlace(canonicalText, edit.range, edit.replacement);
    edits.push_back(edit);
    ++revision;
    if (!projection.applyUserEdit(edit.range, utf16Length(edit.replacement))) {
        rebuildProjection(utf16Length(authoredText));
    }
    return true;
}

void QNCorrectionBuffers::applyReplacement(text::Utf16Range range, std::u16string_view text,
                                           std::u16string_view visibleText) {
    if (projection.applyVisibleReplacement(range, utf16Length(text)) &&
        projection.visibleUTF16Length == utf16Length(visibleText)) {
        return;
    }
    rebuildProjection(utf16Length(visibleText));
}

void QNCorrectionBuffers::rebuildProjection(std::int64_t visibleLength) {
    projection = QNBufferProjection::linear(utf16Length(canonicalText), visibleLength);
}

}  // namespace ravlin
