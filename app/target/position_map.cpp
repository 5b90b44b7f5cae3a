#include "app/target/position_map.h"

#include <algorithm>

#include "app/editor/correction_animation_plan.h"
#include "app/editor/edit_reporting.h"

namespace ravlin {
namespace {

std::int64_t units(std::u16string_view text) {
    return static_cast<std::int64_t>(text.size());
}

// Where `at` of the changed stretch `from` stands in its correction `to`.
std::int64_t inChangedStretch(std::u16string_view from, std::u16string_view to, std::int64_t at) {
    if (auto ops = editor::editOperations(editor::tokenize(from), editor::tokenize(to))) {
        std::vector<QNTextEdit> edits;  // the word-by-word changes, ascending
        edits.reserve(ops->size());
        for (auto& op : *ops) {
            edits.push_back({text::Utf16Range{op.at, op.oldLen}, std::move(op.newText)});
        }
        return placeAfterEdits(edits, at);
    }
    // Too long a stretch to compare word by word (changes far apart in a long text): line by
    // line, where the correction kept the lines.
    const auto lines = std::ranges::count(from, u'\n');
    if (lines == 0 || lines != std::ranges::count(to, u'\n')) {
        return units(to);
    }
    const auto lineStart = [](std::u16string_view text, std::int64_t index) {
        std::size_t start = 0;
        for (std::int64_t line = 0; line < index; ++line) {
            start = text.find(u'\n', start) + 1;
        }
        return start;
    };
    const auto line = std::count(from.begin(), from.begin() + at, u'\n');
    const auto fromStart = lineStart(from, line);
    const auto toStart = lineStart(to, line);
    const auto lineOf = [](std::u16string_view text, std::size_t start) {
        return text.substr(start, std::min(text.find(u'\n', start), text.size()) - start);
    };
    return static_cast<std::int64_t>(toStart) +
           positionAfterCorrection(lineOf(from, fromStart), lineOf(to, toStart),
                                   at - static_cast<std::int64_t>(fromStart));
}

}  // namespace

std::int64_t placeAfterEdits(const std::vector<QNTextEdit>& edits, std::int64_t place) {
    std::int64_t shift = 0;
    for (const auto& edit : edits) {
        const auto grown = static_cast<std::int64_t>(edit.replacement.size()) - edit.range.length;
        if (edit.range.end() <= place) {
            shift += grown;
        } else if (edit.range.location < place) {
            return edit.range.location + shift + static_cast<std::int64_t>(edit.replacement.size());
        }
    }
    return place + shift;
}

std::int64_t positionAfterCorrection(std::u16string_view before, std::u16string_view after,
                                     std::int64_t at) {
    at = std::clamp<std::int64_t>(at, 0, units(before));
    const auto [head, tail] = editor::commonEnds(before, after, before.size());
    const auto changedFrom = static_cast<std::int64_t>(head);
    if (at < changedFrom) {
        return at;
    }
    if (at > units(before) - static_cast<std::int64_t>(tail)) {
        return at + units(after) - units(before);
    }
    return changedFrom + inChangedStretch(before.substr(head, before.size() - head - tail),
                                          after.substr(head, after.size() - head - tail),
                                          at - changedFrom);
}

text::Utf16Range rangeAfterCorrection(std::u16string_view before, std::u16string_view after,
                                      text::Utf16Range range) {
    const auto start = positionAfterCorrection(before, after, range.location);
    if (range.length <= 0) {
        return {start, 0};
    }
    const auto end = positionAfterCorrection(before, after, range.location + range.length);
    return {start, std::max<std::int64_t>(0, end - start)};
}

}  // namespace ravlin
