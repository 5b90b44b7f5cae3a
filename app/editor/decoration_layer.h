#pragma once

// Highlights drawn over the editor's text without touching it: per key (a background colour for
// the fade pulses, a foreground colour for the prefix wave) a map from UTF-16 ranges to colours.
// Adding a colour over a range overwrites whatever that key held there; removing erases the
// key over the range. The view draws the runs as extra selections.

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
    static void erase(Spans& spans, std::int64_t from, std::int64_t to);

    Spans background_;
    Spans foreground_;
};

}  // namespace ravlin
