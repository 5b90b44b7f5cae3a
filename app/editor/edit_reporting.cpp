#include "app/editor/edit_reporting.h"

#include <algorithm>

#include "core/text/unicode.h"

namespace ravlin::editor {
namespace {

bool isNewlineScalar(char32_t scalar) {
    return (scalar >= 0x0A && scalar <= 0x0D) || scalar == 0x85 || scalar == 0x2028 ||
           scalar == 0x2029;
}

// Whether every scalar of text[from, to) is a newline.
bool onlyNewlines(std::u16string_view text, std::int64_t from, std::int64_t to) {
    for (std::int64_t i = from; i < to;) {
        const char32_t scalar = text::codePointAt(text, i);
        if (!isNewlineScalar(scalar)) {
            return false;
        }
        i += scalar > 0xFFFF ? 2 : 1;
    }
    return true;
}

bool isHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool isLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

std::pair<std::size_t, std::size_t> commonEnds(std::u16string_view a, std::u16string_view b,
                                               std::size_t headLimit) {
    const std::size_t shorter = std::min(a.size(), b.size());
    std::size_t head = 0;
    while (head < std::min(shorter, headLimit) && a[head] == b[head]) {
        ++head;
    }
    if (head > 0 && isHighSurrogate(a[head - 1])) {
        --head;
    }
    std::size_t tail = 0;
    while (tail < shorter - head && a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) {
        ++tail;
    }
    if (tail > 0 && isLowSurrogate(a[a.size() - tail])) {
        --tail;
    }
    return {head, tail};
}

text::Utf16Range clampRange(text::Utf16Range range, std::int64_t textLength) {
    const std::int64_t length = std::max<std::int64_t>(textLength, 0);
    std::int64_t location = range.location;
    if (location == NSNotFound || location > length) {
        location = length;
    }
    location = std::max<std::int64_t>(location, 0);
    const std::int64_t span = range.length < 0 ? 0 : std::min(range.length, length - location);
    return {location, std::max<std::int64_t>(span, 0)};
}

std::int64_t visibleEndOffset(std::u16string_view text) {
    auto position = static_cast<std::int64_t>(text.size());
    while (position > 0) {
        const std::int64_t previous = text::characterBoundaryBefore(text, position);
        if (!onlyNewlines(text, previous, position)) {
            break;
        }
        position = previous;
    }
    return position;
}

bool rangesTouch(text::Utf16Range a, text::Utf16Range b) {
    if (a.location == NSNotFound || b.location == NSNotFound) {
        return false;
    }
    if (a.location == b.location) {
        return true;
    }
    if (a.length > 0 && b.length > 0) {
        return std::min(a.end(), b.end()) - std::max(a.location, b.location) >= 1;
    }
    if (a.length == 0 || b.length == 0) {
        return a.end() == b.location || b.end() == a.location;
    }
    return false;
}

QNUserEditKind classifyEdit(const EditFacts& facts) {
    const bool empty = facts.replacement.empty();
    if (facts.isCommittingMarkedText) {
        return QNUserEditKind::imeCommit;
    }
    if (empty && facts.isPerformingPaste) {
        return QNUserEditKind::pasteInsert;
    }
    if (!empty && facts.pendingMarkedTextRange &&
        rangesTouch(*facts.pendingMarkedTextRange, facts.range)) {
        return QNUserEditKind::imeCommit;
    }
    if (!empty && facts.isPerformingPaste) {
        return QNUserEditKind::pasteInsert;
    }
    if (facts.range.length > 0) {
        return empty ? QNUserEditKind::deletion : QNUserEditKind::replace;
    }
    return facts.replacement.size() >= 2 ? QNUserEditKind::pasteInsert : QNUserEditKind::insert;
}

std::optional<TextChange> deriveChange(std::u16string_view before, std::int64_t position,
                                       std::int64_t removed, std::int64_t added,
                                       std::int64_t afterLength, const TextReader& read,
                                       bool trimUnchanged) {
    const auto beforeLength = static_cast<std::int64_t>(before.size());
    afterLength = std::max<std::int64_t>(afterLength, 0);
    position = std::clamp<std::int64_t>(position, 0, std::min(beforeLength, afterLength));
    removed = std::clamp<std::int64_t>(removed, 0, beforeLength - position);
    added = std::clamp<std::int64_t>(added, 0, afterLength - position);

    TextChange change;
    if (beforeLength - removed + added == afterLength) {
        change = {{position, removed}, read(position, position + added)};
    } else {
        // The counts do not describe the change: compare the whole texts around the position.
        const std::u16string after = read(0, afterLength);
        const auto [head, tail] = commonEnds(before, after, static_cast<std::size_t>(position));
        const auto prefix = static_cast<std::int64_t>(head);
        const auto suffix = static_cast<std::int64_t>(tail);
        change = {{prefix, beforeLength - prefix - suffix},
                  after.substr(prefix, afterLength - prefix - suffix)};
    }

    if (trimUnchanged) {
        const std::u16string_view old = before.substr(change.range.location, change.range.length);
        const std::u16string_view now = change.replacement;
        if (old == now) {
            return std::nullopt;
        }
        const auto [head, tail] = commonEnds(old, now, old.size());
        if (head + tail == old.size() && head + tail == now.size()) {
            return std::nullopt;
        }
        change.range = {change.range.location + static_cast<std::int64_t>(head),
                        static_cast<std::int64_t>(old.size() - head - tail)};
        change.replacement = std::u16string(now.substr(head, now.size() - head - tail));
    }
    return change;
}

SelectionEnds mapSelection(SelectionEnds ends, text::Utf16Range range, std::int64_t newLength) {
    const std::int64_t start = std::min(ends.anchor, ends.position);
    const auto map = [&](std::int64_t at) {
        if (at <= range.location) {
            return at;
        }
        if (at >= range.end()) {
            return at + newLength - range.length;
        }
        return at == start && ends.anchor != ends.position ? range.location
                                                           : range.location + newLength;
    };
    return {map(ends.anchor), map(ends.position)};
}

Rewrite rewriteBetween(std::u16string_view from, std::u16string_view to) {
    const auto isLowSurrogate = [](char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; };
    std::size_t prefix = 0;
    const std::size_t shorter = std::min(from.size(), to.size());
    while (prefix < shorter && from[prefix] == to[prefix]) {
        ++prefix;
    }
    // Not between the two halves of a character.
    if (prefix > 0 && prefix < from.size() && isLowSurrogate(from[prefix])) {
        --prefix;
    }
    std::size_t suffix = 0;
    while (suffix < shorter - prefix &&
           from[from.size() - 1 - suffix] == to[to.size() - 1 - suffix]) {
        ++suffix;
    }
    if (suffix > 0 && suffix < from.size() && isLowSurrogate(from[from.size() - suffix])) {
        --suffix;
    }
    const auto n = static_cast<std::int64_t>(from.size());
    const auto m = static_cast<std::int64_t>(to.size());
    const auto p = static_cast<std::int64_t>(prefix);
    const auto s = static_cast<std::int64_t>(suffix);
    return {{p, n - s - p}, m - s - p};
}

}  // namespace ravlin::editor
