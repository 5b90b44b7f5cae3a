#include "platform/linux/accessibility/rich_text.h"

#include <algorithm>

#include "core/text/unicode.h"

namespace ravlin::platform::atspi {

bool RichText::holdsObjects(std::u16string_view text) {
    return text.find(objectCharacter) != std::u16string_view::npos;
}

std::optional<RichText> RichText::read(Node root, std::u16string rootText, Source& source,
                                       OffsetUnit unit) {
    RichText rich(unit);
    if (!rich.readPart(root, std::move(rootText), source, 0)) {
        return std::nullopt;
    }
    return rich;
}

bool RichText::readPart(Node node, std::u16string own, Source& source, int depth) {
    if (depth > maxDepth || parts_.size() >= maxParts ||
        std::ranges::any_of(parts_, [&](const Part& known) { return known.node == node; })) {
        return false;
    }
    const std::size_t index = parts_.size();
    parts_.push_back(Part{.node = node, .from = static_cast<std::int64_t>(text_.size())});
    const auto here = [this] { return static_cast<std::int64_t>(text_.size()); };
    // A line break before what follows a block, and before a block, unless one stands there.
    const auto breakLine = [this] {
        if (!text_.empty() && text_.back() != u'\n') {
            text_.push_back(u'\n');
        }
    };
    std::vector<Segment> segments;
    std::optional<Segment> run;  // the part's own characters being read
    const auto endRun = [&] {
        if (run) {
            run->to = here();
            segments.push_back(*run);
            run.reset();
        }
    };
    bool afterBlock = false;
    int offset = 0;  // toolkit units
    for (std::size_t i = 0; i < own.size();) {
        const std::size_t width =
            text::codePointAt(own, static_cast<std::int64_t>(i)) > 0xFFFF ? 2 : 1;
        const int step = unit_ == OffsetUnit::utf16 ? static_cast<int>(width) : 1;
        if (own[i] == objectCharacter) {
            endRun();
            Segment object{.start = offset, .end = offset + step, .from = here(), .to = here()};
            if (const auto child = source.embedded(node, offset)) {
                const bool block = source.isBlock(*child);
                if (block || afterBlock) {
                    breakLine();
                }
                auto childText = source.text(*child);
                object.from = here();
                if (!childText || !readPart(*child, std::move(*childText), source, depth + 1)) {
                    return false;
                }
                object.to = here();
                object.child = *child;
                afterBlock = block;
            }
            object.object = true;
            segments.push_back(object);
        } else {
            if (!run) {
                if (afterBlock && own[i] != u'\n') {
                    breakLine();
                }
                run = Segment{.start = offset, .end = offset, .from = here(), .to = here()};
            }
            afterBlock = false;
            text_.append(own, i, width);
            run->end = offset + step;
        }
        if (text_.size() > maxLength) {
            return false;
        }
        offset += step;
        i += width;
    }
    endRun();
    if (segments.empty()) {
        // (an empty paragraph: its place is where its text would start)
        segments.push_back(Segment{.from = here(), .to = here()});
    }
    auto& part = parts_[index];
    part.to = here();
    part.segments = std::move(segments);
    return true;
}

std::vector<RichText::Node> RichText::parts() const {
    std::vector<Node> nodes;
    nodes.reserve(parts_.size());
    for (const auto& part : parts_) {
        nodes.push_back(part.node);
    }
    return nodes;
}

const RichText::Part* RichText::part(Node node) const {
    const auto found = std::ranges::find(parts_, node, &Part::node);
    return found == parts_.end() ? nullptr : &*found;
}

std::optional<RichText::Node> RichText::embedded(Node node, int offset) const {
    const auto* known = part(node);
    if (known == nullptr) {
        return std::nullopt;
    }
    for (const auto& segment : known->segments) {
        if (segment.object && segment.start == offset && segment.child != nullptr) {
            return segment.child;
        }
    }
    return std::nullopt;
}

std::optional<std::int64_t> RichText::position(Node node, int offset) const {
    const auto* known = part(node);
    if (known == nullptr || offset < 0) {
        return std::nullopt;
    }
    for (const auto& segment : known->segments) {
        if (offset >= segment.start && offset < segment.end) {
            if (segment.object) {
                return segment.from;
            }
            const std::u16string_view shown =
                std::u16string_view(text_).substr(static_cast<std::size_t>(segment.from),
                                                  static_cast<std::size_t>(segment.to - segment.from));
            return segment.from + toUtf16Offset(shown, offset - segment.start, unit_);
        }
    }
    if (offset == known->segments.back().end) {
        return known->to;
    }
    return std::nullopt;
}

std::optional<std::int64_t> RichText::end(Node node) const {
    const auto* known = part(node);
    return known ? std::optional(known->to) : std::nullopt;
}

std::optional<RichText::Place> RichText::place(text::Utf16Range range) const {
    if (range.location < 0 || range.length < 0) {
        return std::nullopt;
    }
    const Part* best = nullptr;
    const Segment* within = nullptr;
    for (const auto& part : parts_) {
        for (const auto& segment : part.segments) {
            if (segment.object || range.location < segment.from || range.end() > segment.to) {
                continue;
            }
            // Where two touch an empty range, the earlier one.
            if (within == nullptr || segment.from < within->from) {
                best = &part;
                within = &segment;
            }
        }
    }
    if (within == nullptr) {
        return std::nullopt;
    }
    const std::u16string_view shown = std::u16string_view(text_).substr(
        static_cast<std::size_t>(within->from), static_cast<std::size_t>(within->to - within->from));
    const auto toolkit = [&](std::int64_t at) {
        return within->start + static_cast<int>(fromUtf16Offset(shown, at - within->from, unit_));
    };
    return Place{best->node, toolkit(range.location), toolkit(range.end())};
}

}  // namespace ravlin::platform::atspi
