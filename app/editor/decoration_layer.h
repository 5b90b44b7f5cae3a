#pragma once

// Highlights drawn over the editor's text without touching it: per key (a background colour for
// the fade pulses, a foreground colour for the prefix wave) a map from UTF-16 ranges to colours.
// Adding a colour over a range overwrites whatever that key held there; removing erases the
// key over the range. The view paints the background runs under the text and draws the
// foreground runs as extra selections.

#include <QColor>
#include <cstdint>
#include <map>
#include <string_view>
#include <vector>

#include "core/text/range.h"

namespace ravlin {

enum class QNDecorationKey { background, foreground };

class QNDecorationLayer {
  public:
    struct Run {
        QNDecorationKey key = QNDecorationKey::background;
        text::Utf16Range range;
        QColor color;

        friend bool operator==(const Run&, const Run&) = default;
    };

    // Empty or negative ranges change nothing.
    void add(QNDecorationKey key, text::Utf16Range range, const QColor& color);
    void remove(QNDecorationKey key, text::Utf16Range range);
    void clear();
    [[nodiscard]] bool isEmpty() const;

    // Every run, by key then location; touching runs of one colour are one run.
    [[nodiscard]] std::vector<Run> runs() const;
    // The runs of `key` that meet `range`, by location, found without walking the others.
    [[nodiscard]] std::vector<Run> runs(QNDecorationKey key, text::Utf16Range range) const;

    // `range` widened so that neither end cuts a surrogate pair of `text`.
    [[nodiscard]] static text::Utf16Range widenToCodePoints(text::Utf16Range range,
                                                            std::u16string_view text);

  private:
    struct Span {
        std::int64_t end = 0;
        QColor color;
    };
    // Per key: start -> (end, colour), spans never overlapping.
    using Spans = std::map<std::int64_t, Span>;

    Spans& spans(QNDecorationKey key);
    [[nodiscard]] const Spans& spans(QNDecorationKey key) const;
    // Appends the spans of `key` from `from` while they start before `to`, merging touching
    // runs of one colour.
    static void appendRuns(std::vector<Run>& out, QNDecorationKey key, Spans::const_iterator from,
                           Spans::const_iterator end, std::int64_t to);
    static void erase(Spans& spans, std::int64_t from, std::int64_t to);

    Spans background_;
    Spans foreground_;
};

}  // namespace ravlin
