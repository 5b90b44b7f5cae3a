// An element's text, selection and offsets: fetched once per reading (one turn of the event
// loop), in the toolkit's offsets, answered in UTF-16 units.

#include <atspi/atspi.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/linux/accessibility/atspi_accessibility.h"
#include "platform/linux/accessibility/atspi_calls.h"
#include "platform/linux/accessibility/atspi_element_calls.h"
#include "platform/linux/accessibility/text_offsets.h"
#include "platform/linux/accessibility/toolkit.h"

namespace ravlin::platform {

using namespace atspi;

bool AtspiAccessibility::usesUtf16(Entry& entry) {
    return toolkit(entry).offsetUnit() == OffsetUnit::utf16;
}

// --- One reading's fetches

AtspiAccessibility::Reading& AtspiAccessibility::reading(Entry& entry) {
    if (entry.reading.turn != turn_) {
        entry.reading = Reading{.turn = turn_};
    }
    endTurnSoon();
    return entry.reading;
}

void AtspiAccessibility::endTurnSoon() {
    if (turnEnd_ == 0) {
        // Before anything else the next turn of the loop runs: what was read here is old then.
        turnEnd_ = g_idle_add_full(
            G_PRIORITY_HIGH,
            [](gpointer data) -> gboolean {
                auto* self = static_cast<AtspiAccessibility*>(data);
                self->turnEnd_ = 0;
                ++self->turn_;
                return G_SOURCE_REMOVE;
            },
            this, nullptr);
    }
}

void AtspiAccessibility::forgetReadings() {
    ++turn_;
}

std::optional<States> AtspiAccessibility::stateSet(Entry& entry) {
    if (const auto known = reading(entry).states) {
        return known;
    }
    const auto now = states(entry.object);
    if (now) {
        reading(entry).states = now;
    }
    return now;
}

std::optional<int> AtspiAccessibility::role(Entry& entry) {
    if (const auto known = reading(entry).role) {
        return known;
    }
    const auto answer = attempt(calls_, entry.object, [&](GError** e) {
        return atspi_accessible_get_role(entry.object, e);
    });
    if (!answer) {
        return std::nullopt;
    }
    return reading(entry).role = static_cast<int>(*answer);
}

std::optional<std::pair<int, int>> AtspiAccessibility::selectionOrCaret(AtspiAccessible* object) {
    Held<AtspiText> text(atspi_accessible_get_text_iface(object));
    if (!text) {
        return std::nullopt;
    }
    const auto selections = attempt(
        calls_, text.get(), [&](GError** e) { return atspi_text_get_n_selections(text.get(), e); });
    if (selections && *selections > 0) {
        AtspiRange* selected = attemptOwned(
            calls_, text.get(),
            [&](GError** e) { return atspi_text_get_selection(text.get(), 0, e); },
            [](AtspiRange* made) { g_free(made); });
        if (selected == nullptr) {
            return std::nullopt;
        }
        const std::pair<int, int> range = std::minmax(selected->start_offset, selected->end_offset);
        g_free(selected);
        return range;
    }
    const auto caret = attempt(calls_, text.get(), [&](GError** e) {
        return atspi_text_get_caret_offset(text.get(), e);
    });
    if (!caret) {
        return std::nullopt;
    }
    return std::pair{*caret, *caret};
}

std::optional<std::pair<int, int>> AtspiAccessibility::toolkitSelection(Entry& entry) {
    if (const auto known = reading(entry).selection) {
        return known;
    }
    auto range = selectionOrCaret(entry.object);
    if (!range) {
        return std::nullopt;
    }
    range->first = std::max(range->first, 0);
    range->second = std::max(range->second, range->first);
    return reading(entry).selection = range;
}

std::optional<int> AtspiAccessibility::characterCount(Entry& entry) {
    if (const auto known = reading(entry).count) {
        return known;
    }
    Held<AtspiText> text(atspi_accessible_get_text_iface(entry.object));
    if (!text) {
        return std::nullopt;
    }
    const auto count = attempt(calls_, text.get(), [&](GError** e) {
        return atspi_text_get_character_count(text.get(), e);
    });
    if (!count || *count < 0) {
        return std::nullopt;
    }
    return reading(entry).count = *count;
}

bool AtspiAccessibility::fetchPrefix(Entry& entry, int toolkitEnd) {
    {
        const auto& known = reading(entry);
        // (-1: all of it)
        if (known.prefixWhole || (toolkitEnd >= 0 && known.prefixEnd >= toolkitEnd)) {
            return true;
        }
    }
    const bool whole = toolkitEnd < 0;
    int end = toolkitEnd;
    if (whole && toolkit(entry).readsTextToItsCount()) {
        const auto count = characterCount(entry);
        if (!count) {
            return false;
        }
        end = *count;
    }
    auto text = fetchText(entry, 0, end);
    if (!text) {
        return false;
    }
    const auto unit = usesUtf16(entry) ? OffsetUnit::utf16 : OffsetUnit::codePoints;
    const auto unitsOf = [unit](const std::u16string& fetched) {
        return fromUtf16Offset(fetched, static_cast<std::int64_t>(fetched.size()), unit);
    };
    auto units = unitsOf(*text);
    if (!whole && units < end) {
        // Fewer units than asked for: that is all there is, where the toolkit answers what there
        // is; Firefox answers nothing at all for a range past the end. The count tells.
        const auto count = characterCount(entry);
        if (!count) {
            return false;
        }
        if (*count > units) {
            text = fetchText(entry, 0, std::min(*count, end));
            if (!text) {
                return false;
            }
            units = unitsOf(*text);
        }
    }
    auto& r = reading(entry);
    r.prefix = std::move(*text);
    r.prefixEnd = end;
    r.prefixWhole = whole || units < end;
    return true;
}

std::optional<std::u16string> AtspiAccessibility::wholeText(Entry& entry) {
    if (!reading(entry).prefixWhole && !fetchPrefix(entry, -1)) {
        return std::nullopt;
    }
    return reading(entry).prefix;
}

std::optional<std::int64_t> AtspiAccessibility::utf16Offset(Entry& entry, int offset) {
    if (usesUtf16(entry)) {
        return std::max(offset, 0);
    }
    // Code points: the text before the offset tells how many of them take two units.
    if (!fetchPrefix(entry, offset)) {
        return std::nullopt;
    }
    return toUtf16Offset(reading(entry).prefix, offset, OffsetUnit::codePoints);
}

std::optional<int> AtspiAccessibility::toolkitOffset(Entry& entry, std::int64_t offset) {
    if (offset < 0 || offset > std::numeric_limits<int>::max()) {
        return std::nullopt;
    }
    if (usesUtf16(entry)) {
        const auto count = characterCount(entry);
        if (!count || offset > *count) {
            return std::nullopt;
        }
        return static_cast<int>(offset);
    }
    // As many code points as units asked for cover at least that many units.
    if (!fetchPrefix(entry, static_cast<int>(offset))) {
        return std::nullopt;
    }
    const auto& prefix = reading(entry).prefix;
    if (offset > static_cast<std::int64_t>(prefix.size())) {
        return std::nullopt;
    }
    return static_cast<int>(fromUtf16Offset(prefix, offset, OffsetUnit::codePoints));
}

std::optional<std::u16string> AtspiAccessibility::textBetween(Entry& entry, int start, int end) {
    if (end <= start) {
        return std::u16string();
    }
    const auto unit = usesUtf16(entry) ? OffsetUnit::utf16 : OffsetUnit::codePoints;
    if (const auto& known = reading(entry); known.prefixWhole || known.prefixEnd >= end) {
        const auto a = toUtf16Offset(known.prefix, start, unit);
        const auto b = toUtf16Offset(known.prefix, end, unit);
        return known.prefix.substr(static_cast<std::size_t>(a), static_cast<std::size_t>(b - a));
    }
    return fetchText(entry, start, end);
}

std::optional<std::u16string> AtspiAccessibility::fetchText(Entry& entry, int start, int end) {
    Held<AtspiText> text(atspi_accessible_get_text_iface(entry.object));
    if (!text) {
        return std::nullopt;
    }
    auto* raw = attemptOwned(
        calls_, text.get(),
        [&](GError** e) { return atspi_text_get_text(text.get(), start, end, e); },
        [](gchar* made) { g_free(made); });
    if (raw == nullptr) {
        return std::nullopt;
    }
    std::optional<std::u16string> fetched;
    if (std::strlen(raw) <= maxTextBytes) {
        fetched = fromUtf8(raw);
    }
    g_free(raw);
    return fetched;
}

// --- What a toolkit's rule may ask of an element

AtspiAccessibility::Calls::Calls(AtspiAccessibility& backend, Entry& entry)
    : backend_(backend), entry_(entry) {}

std::optional<States> AtspiAccessibility::Calls::states() {
    return backend_.stateSet(entry_);
}

std::optional<std::u16string> AtspiAccessibility::Calls::displayedLine(int offset) {
    const auto line = lineRange(offset);
    return line ? std::optional(line->content) : std::nullopt;
}

bool AtspiAccessibility::Calls::showsWhatWasTyped(std::u16string_view line) {
    return backend_.showsWhatWasTyped(entry_, line);
}

std::optional<int> AtspiAccessibility::Calls::characterCount() {
    return backend_.characterCount(entry_);
}

std::optional<std::pair<int, int>> AtspiAccessibility::Calls::lineAt(int offset) {
    const auto line = lineRange(offset);
    return line ? std::optional(std::pair{line->start, line->end}) : std::nullopt;
}

std::optional<AtspiAccessibility::Calls::Line> AtspiAccessibility::Calls::lineRange(int offset) {
    Held<AtspiText> text(atspi_accessible_get_text_iface(entry_.object));
    if (!text) {
        return std::nullopt;
    }
    const auto release = [](AtspiTextRange* made) { g_boxed_free(ATSPI_TYPE_TEXT_RANGE, made); };
    auto* range = attemptOwned(
        backend_.calls_, text.get(),
        [&](GError** e) {
            return atspi_text_get_string_at_offset(text.get(), offset, ATSPI_TEXT_GRANULARITY_LINE,
                                                   e);
        },
        release);
    if (range == nullptr) {
        // Qt 5 knows only the call AT-SPI had before.
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        range = attemptOwned(
            backend_.calls_, text.get(),
            [&](GError** e) {
                return atspi_text_get_text_at_offset(text.get(), offset,
                                                     ATSPI_TEXT_BOUNDARY_LINE_START, e);
            },
            release);
        G_GNUC_END_IGNORE_DEPRECATIONS
    }
    if (range == nullptr) {
        return std::nullopt;
    }
    std::optional<Line> line;
    if (range->content != nullptr && std::strlen(range->content) <= maxTextBytes &&
        range->start_offset >= 0 && range->end_offset >= range->start_offset) {
        line = Line{fromUtf8(range->content), range->start_offset, range->end_offset};
    }
    g_boxed_free(ATSPI_TYPE_TEXT_RANGE, range);
    return line;
}

std::optional<Rect> AtspiAccessibility::Calls::textExtents(int start, int end,
                                                           AtspiCoordType coordinates) {
    Held<AtspiText> text(atspi_accessible_get_text_iface(entry_.object));
    if (!text) {
        return std::nullopt;
    }
    AtspiRect* extents = attemptOwned(
        backend_.calls_, text.get(),
        [&](GError** e) {
            return end == start
                       ? atspi_text_get_character_extents(text.get(), start, coordinates, e)
                       : atspi_text_get_range_extents(text.get(), start, end, coordinates, e);
        },
        [](AtspiRect* made) { g_free(made); });
    if (extents == nullptr) {
        return std::nullopt;
    }
    const Rect rect = makeRect(extents->x, extents->y, extents->width, extents->height);
    g_free(extents);
    return rect;
}

std::optional<Rect> AtspiAccessibility::Calls::frame(AtspiCoordType coordinates) {
    Held<AtspiComponent> component(atspi_accessible_get_component_iface(entry_.object));
    AtspiRect* extents =
        component ? attemptOwned(
                        backend_.calls_, component.get(),
                        [&](GError** e) {
                            return atspi_component_get_extents(component.get(), coordinates, e);
                        },
                        [](AtspiRect* made) { g_free(made); })
                  : nullptr;
    if (extents == nullptr) {
        return std::nullopt;
    }
    const Rect rect = makeRect(extents->x, extents->y, extents->width, extents->height);
    g_free(extents);
    return rect;
}

// --- Places

std::optional<Rect> AtspiAccessibility::boundsOf(Entry& entry, int start, int end) {
    Calls calls(*this, entry);
    const auto rect = toolkit(entry).textBounds(calls, start, end);
    // Passed on as the toolkit gives them (y down), empty rectangles included.
    return rect ? onScreen(entry, *rect) : std::nullopt;
}

std::optional<Rect> AtspiAccessibility::onScreen(Entry& entry, const Rect& rect) {
    if (toolkit(entry).coordinates() != ATSPI_COORD_TYPE_WINDOW) {
        return rect;
    }
    const auto origin = windowOrigin(entry);
    if (!origin) {
        return std::nullopt;
    }
    return makeRect(origin->x + rect.minX(), origin->y + rect.minY(), rect.width(),
                    rect.height());
}

std::optional<Point> AtspiAccessibility::windowOrigin(Entry& entry) {
    if (const auto known = reading(entry).windowOrigin) {
        return known;
    }
    const auto place = windowOf_ ? windowOf_(entry.pid) : std::nullopt;
    if (!place) {
        return std::nullopt;
    }
    Point origin = place->frame.origin;
    if (place->clientFrame) {
        origin.x += (*place->clientFrame)[0];
        origin.y += (*place->clientFrame)[2];
    } else {
        // Without the margins said, the toolkit's own size of the window tells them: what the X
        // window has beyond it, the same on both sides.
        Held<AtspiAccessible> app(applicationOf(entry));
        const auto content = app ? activeWindowSize(app.get()) : std::nullopt;
        if (content) {
            origin.x += std::max(0.0, (place->frame.width() - content->width) / 2);
            origin.y += std::max(0.0, (place->frame.height() - content->height) / 2);
        }
    }
    return reading(entry).windowOrigin = origin;
}

std::optional<Size> AtspiAccessibility::activeWindowSize(AtspiAccessible* app) {
    const auto count = attempt(calls_, app, [&](GError** e) {
                           return atspi_accessible_get_child_count(app, e);
                       }).value_or(0);
    std::optional<Size> first;
    for (int i = 0; i < std::min(count, maxChildren); ++i) {
        Held<AtspiAccessible> window(attempt(calls_, app, [&](GError** e) {
                                         return atspi_accessible_get_child_at_index(app, i, e);
                                     }).value_or(nullptr));
        Held<AtspiComponent> component(
            window ? atspi_accessible_get_component_iface(window.get()) : nullptr);
        AtspiRect* extents =
            component ? attemptOwned(
                            calls_, component.get(),
                            [&](GError** e) {
                                return atspi_component_get_extents(component.get(),
                                                                   ATSPI_COORD_TYPE_WINDOW, e);
                            },
                            [](AtspiRect* made) { g_free(made); })
                      : nullptr;
        if (extents == nullptr) {
            continue;
        }
        const Size size{static_cast<double>(extents->width), static_cast<double>(extents->height)};
        g_free(extents);
        if (hasState(window.get(), ATSPI_STATE_ACTIVE)) {
            return size;
        }
        if (!first) {
            first = size;
        }
    }
    return first;
}

namespace {

// The selection in a text, [start, end) in its toolkit's offsets, and its length.
struct Selected {
    int start = 0;
    int end = 0;
    int count = 0;
};

}  // namespace

bool AtspiAccessibility::selectionCrosses(Entry& entry) {
    if (const auto known = reading(entry).selectionCrosses) {
        return *known;
    }
    const auto selection = toolkitSelection(entry);
    const bool crosses = selection && selectionFlowsOn(entry, *selection);
    reading(entry).selectionCrosses = crosses;
    return crosses;
}

bool AtspiAccessibility::selectionFlowsOn(Entry& entry, std::pair<int, int> selection) {
    if (selection.first == selection.second) {
        return false;
    }
    const bool atStart = selection.first == 0;
    // (the length told by the text itself, fetched for the reading anyway)
    const auto text = wholeText(entry);
    if (!text) {
        return false;
    }
    const auto unit = usesUtf16(entry) ? OffsetUnit::utf16 : OffsetUnit::codePoints;
    const bool atEnd = selection.second >=
                       fromUtf16Offset(*text, static_cast<std::int64_t>(text->size()), unit);
    if (!atStart && !atEnd) {
        return false;
    }
    const auto selectedIn = [&](AtspiAccessible* other) -> std::optional<Selected> {
        Held<AtspiText> text(atspi_accessible_get_text_iface(other));
        if (!text) {
            return std::nullopt;
        }
        const auto selections = attempt(calls_, text.get(), [&](GError** e) {
                                    return atspi_text_get_n_selections(text.get(), e);
                                }).value_or(0);
        AtspiRange* range =
            selections > 0
                ? attemptOwned(
                      calls_, text.get(),
                      [&](GError** e) { return atspi_text_get_selection(text.get(), 0, e); },
                      [](AtspiRange* made) { g_free(made); })
                : nullptr;
        const auto length = attempt(calls_, text.get(), [&](GError** e) {
                                return atspi_text_get_character_count(text.get(), e);
                            }).value_or(-1);
        if (range == nullptr) {
            return std::nullopt;
        }
        const int start = std::min(range->start_offset, range->end_offset);
        const int end = std::max(range->start_offset, range->end_offset);
        g_free(range);
        return Selected{start, end, length};
    };
    GArray* relations = attemptOwned(
        calls_, entry.object,
        [&](GError** e) { return atspi_accessible_get_relation_set(entry.object, e); },
        [](GArray* made) { g_array_free(made, TRUE); });
    if (relations == nullptr) {
        return false;
    }
    bool flows = false;
    for (guint i = 0; i < relations->len && !flows; ++i) {
        auto* relation = g_array_index(relations, AtspiRelation*, i);
        const auto type = atspi_relation_get_relation_type(relation);
        const bool onward = type == ATSPI_RELATION_FLOWS_TO && atEnd;
        const bool back = type == ATSPI_RELATION_FLOWS_FROM && atStart;
        if ((onward || back) && atspi_relation_get_n_targets(relation) > 0) {
            Held<AtspiAccessible> other(atspi_relation_get_target(relation, 0));
            const auto there = other ? selectedIn(other.get()) : std::nullopt;
            // The selection there must meet this one: from its start onward, up to its end back.
            flows = there && there->end > there->start &&
                    (onward ? there->start == 0 : there->end >= there->count);
        }
    }
    for (guint i = 0; i < relations->len; ++i) {
        g_object_unref(g_array_index(relations, AtspiRelation*, i));
    }
    g_array_free(relations, TRUE);
    return flows;
}

Expected<AttributeValue> AtspiAccessibility::readText(Entry& entry, std::string_view name) {
    {
        Held<AtspiText> text(atspi_accessible_get_text_iface(entry.object));
        if (!text) {
            return noValue(name);
        }
    }
    if (const auto rich = richText(entry)) {
        return readRichText(entry, *rich, name);
    }
    if (name != ax::numberOfCharacters && name != ax::selectedTextRange &&
        selectionCrosses(entry)) {
        return failed("a selection crosses the element's bounds");
    }
    if (name == ax::value) {
        if (auto text = wholeText(entry)) {
            return AttributeValue(std::move(*text));
        }
        return failed("the text could not be read");
    }
    if (name == ax::numberOfCharacters) {
        // Code points do not tell UTF-16 units: those toolkits' texts are counted whole.
        const auto count = usesUtf16(entry) ? characterCount(entry) : std::nullopt;
        if (count) {
            return AttributeValue(static_cast<double>(*count));
        }
        if (const auto text = wholeText(entry)) {
            return AttributeValue(static_cast<double>(text->size()));
        }
        return failed("the text could not be read");
    }
    const auto selection = toolkitSelection(entry);
    if (!selection) {
        return failed("the selection could not be read");
    }
    if (name == ax::selectedTextRange) {
        const auto a = utf16Offset(entry, selection->first);
        const auto b = utf16Offset(entry, selection->second);
        if (!a || !b) {
            return failed("the text could not be read");
        }
        return AttributeValue(text::Utf16Range{*a, std::max<std::int64_t>(*b - *a, 0)});
    }
    if (auto selected = textBetween(entry, selection->first, selection->second)) {
        return AttributeValue(std::move(*selected));
    }
    return failed("the selection could not be read");
}

}  // namespace ravlin::platform
