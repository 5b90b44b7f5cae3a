#include "app/editor/decoration_layer.h"

#include <cstdint>
#include <iterator>

namespace ravlin {

QNDecorationLayer::Spans& QNDecorationLayer::spans(QNDecorationKey key) {
    return key == QNDecorationKey::background ? background_ : foreground_;
}

const QNDecorationLayer::Spans& QNDecorationLayer::spans(QNDecorationKey key) const {
    return key == QNDecorationKey::background ? background_ : foreground_;
}

void QNDecorationLayer::erase(Spans& spans, std::int64_t from, std::int64_t to) {
    auto it = spans.lower_bound(from);
    if (it != spans.begin()) {
        auto before = std::prev(it);
        if (before->second.end > from) {
            // A span that starts before the range and reaches into it keeps its head, and its
            // tail when it reaches past the range.
            const Span whole = before->second;
            before->second.end = from;
            if (whole.end > to) {
                spans.emplace(to, Span{whole.end, whole.color});
            }
        }
    }
    it = spans.lower_bound(from);
    while (it != spans.end() && it->first < to) {
        if (it->second.end > to) {
            const Span rest = it->second;
            spans.erase(it);
            spans.emplace(to, rest);
            break;
        }
        it = spans.erase(it);
    }
}

void QNDecorationLayer::add(QNDecorationKey key, text::Utf16Range range, const QColor& color) {
    if (range.length <= 0 || range.location < 0) {
        return;
    }
    Spans& map = spans(key);
    erase(map, range.location, range.end());
    map.emplace(range.location, Span{range.end(), color});
}

void QNDecorationLayer::remove(QNDecorationKey key, text::Utf16Range range) {
    if (range.length <= 0 || range.location < 0) {
        return;
    }
    erase(spans(key), range.location, range.end());
}

void QNDecorationLayer::clear() {
    background_.clear();
    foreground_.clear();
}

bool QNDecorationLayer::isEmpty() const {
    return background_.empty() && foreground_.empty();
}

void QNDecorationLayer::appendRuns(std::vector<Run>& out, QNDecorationKey key,
                                   Spans::const_iterator from, Spans::const_iterator end,
                                   std::int64_t to) {
    const auto continuesLast = [&](std::int64_t start, const Span& span) {
        return !out.empty() && out.back().key == key && out.back().range.end() == start &&
               out.back().color == span.color;
    };
    for (auto it = from; it != end; ++it) {
        const auto& [start, span] = *it;
        if (continuesLast(start, span)) {
            out.back().range.length = span.end - out.back().range.location;
            continue;
        }
        if (start >= to) {
            break;  // (a run that reached the range is followed to its end)
        }
        out.push_back({key, {start, span.end - start}, span.color});
    }
}

std::vector<QNDecorationLayer::Run> QNDecorationLayer::runs() const {
    std::vector<Run> out;
    for (const auto key : {QNDecorationKey::background, QNDecorationKey::foreground}) {
        const Spans& map = spans(key);
        appendRuns(out, key, map.begin(), map.end(), INT64_MAX);
    }
    return out;
}

std::vector<QNDecorationLayer::Run> QNDecorationLayer::runs(QNDecorationKey key,
                                                            text::Utf16Range range) const {
    std::vector<Run> out;
    if (range.length <= 0) {
        return out;
    }
    const Spans& map = spans(key);
    auto first = map.upper_bound(range.location);
    if (first != map.begin() && std::prev(first)->second.end > range.location) {
        --first;  // the span that reaches into the range from before it
    }
    // A run begins with the first of the touching spans of its colour.
    while (first != map.begin() && first != map.end() &&
           std::prev(first)->second.end == first->first &&
           std::prev(first)->second.color == first->second.color) {
        --first;
    }
    appendRuns(out, key, first, map.end(), range.end());
    return out;
}

text::Utf16Range QNDecorationLayer::widenToCodePoints(text::Utf16Range range,
                                                      std::u16string_view text) {
    const auto size = static_cast<std::int64_t>(text.size());
    auto isHigh = [](char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; };
    auto isLow = [](char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; };
    std::int64_t start = range.location;
    std::int64_t end = range.end();
    if (start > 0 && start < size && isLow(text[start]) && isHigh(text[start - 1])) {
        --start;
    }
    if (end > 0 && end < size && isLow(text[end]) && isHigh(text[end - 1])) {
        ++end;
    }
    return {start, end - start};
}

}  // namespace ravlin
