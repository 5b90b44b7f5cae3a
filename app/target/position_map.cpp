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
    using Op = editor::QNEditOp;
    if (const auto ops = editor::editOperations(editor::tokenize(from), editor::tokenize(to))) {
        std::int64_t shift = 0;
        for (const Op& op : *ops) {  // ascending
            if (op.at > at || (op.at == at && op.kind != Op::Kind::insert)) {
                break;
            }
            const auto length = units(op.newText);
            if (op.at + op.oldLen <= at) {
                shift += length - op.oldLen;
                continue;
            }
            return op.at + shift + length;  // inside a word the correction rewrote
        }
        return at + shift;
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
