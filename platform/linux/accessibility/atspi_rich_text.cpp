// An element whose text holds its parts as objects (a web page's editor: one object replacement
// character per paragraph, link or image), read as the text a person sees and written through
// the part that holds the range (see rich_text.h). Its parts are asked through the hypertext
// interface once per reading, bounded.

#include <atspi/atspi.h>

#include <algorithm>
#include <array>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <cstring>

#include "platform/linux/accessibility/atspi_accessibility.h"
#include "platform/linux/accessibility/atspi_calls.h"
#include "platform/linux/accessibility/rich_text.h"
#include "platform/linux/accessibility/toolkit.h"

namespace ravlin::platform {

using namespace atspi;

struct AtspiAccessibility::RichReading {
    RichText text;
    std::vector<AtspiAccessible*> held;  // one reference per part below the element

    RichReading(RichText text, std::vector<AtspiAccessible*> held)
        : text(std::move(text)), held(std::move(held)) {}
    RichReading(const RichReading&) = delete;
    RichReading& operator=(const RichReading&) = delete;
    ~RichReading() {
        for (auto* part : held) {
            g_object_unref(part);
        }
    }
};

namespace {

AtspiAccessible* asObject(RichText::Node node) {
    return const_cast<AtspiAccessible*>(static_cast<const AtspiAccessible*>(node));
}

// Parts that stand on lines of their own (a table's cells too: side by side, their texts
// would run into each other).
bool isBlockRole(AtspiRole role) {
    static constexpr std::array blocks = {
        ATSPI_ROLE_PARAGRAPH,   ATSPI_ROLE_HEADING,         ATSPI_ROLE_SECTION,
        ATSPI_ROLE_LIST,        ATSPI_ROLE_LIST_ITEM,       ATSPI_ROLE_BLOCK_QUOTE,
        ATSPI_ROLE_TABLE,       ATSPI_ROLE_TABLE_ROW,       ATSPI_ROLE_TABLE_CELL,
        ATSPI_ROLE_COLUMN_HEADER, ATSPI_ROLE_ROW_HEADER,    ATSPI_ROLE_FORM,
        ATSPI_ROLE_PANEL,       ATSPI_ROLE_ARTICLE,         ATSPI_ROLE_HEADER,
        ATSPI_ROLE_FOOTER,      ATSPI_ROLE_CAPTION,         ATSPI_ROLE_DOCUMENT_FRAME,
        ATSPI_ROLE_DESCRIPTION_LIST, ATSPI_ROLE_DESCRIPTION_TERM,
        ATSPI_ROLE_DESCRIPTION_VALUE, ATSPI_ROLE_SEPARATOR, ATSPI_ROLE_LANDMARK,
    };
    return std::ranges::find(blocks, role) != blocks.end();
}

// The parts as the bus tells them.
class PiecesOnTheBus final : public RichText::Source {
  public:
    explicit PiecesOnTheBus(CallRecord& calls) : calls_(calls) {}
    ~PiecesOnTheBus() override {
        for (auto* part : held_) {
            g_object_unref(part);
        }
    }
    std::vector<AtspiAccessible*> takeHeld() { return std::exchange(held_, {}); }

    std::optional<std::u16string> text(RichText::Node node) override {
        Held<AtspiText> text(atspi_accessible_get_text_iface(asObject(node)));
        if (!text) {
            return std::u16string();  // (an image: nothing to show)
        }
        auto* raw = attemptOwned(
            calls_, text.get(),
            [&](GError** e) { return atspi_text_get_text(text.get(), 0, -1, e); },
            [](gchar* made) { g_free(made); });
        if (raw == nullptr) {
            return std::nullopt;
        }
        std::optional<std::u16string> read;
        if (std::strlen(raw) <= AtspiAccessibility::maxTextBytes) {
            read = fromUtf8(raw);
        }
        g_free(raw);
        return read;
    }

    std::optional<RichText::Node> embedded(RichText::Node node, int offset) override {
        Held<AtspiHypertext> hypertext(atspi_accessible_get_hypertext_iface(asObject(node)));
        if (!hypertext) {
            return std::nullopt;
        }
        const auto index = attempt(calls_, hypertext.get(), [&](GError** e) {
            return atspi_hypertext_get_link_index(hypertext.get(), offset, e);
        });
        if (!index || *index < 0) {
            return std::nullopt;
        }
        Held<AtspiHyperlink> link(attemptOwned(
            calls_, hypertext.get(),
            [&](GError** e) { return atspi_hypertext_get_link(hypertext.get(), *index, e); },
            [](AtspiHyperlink* made) { g_object_unref(made); }));
        if (!link) {
            return std::nullopt;
        }
        auto* object = attemptOwned(
            calls_, link.get(),
            [&](GError** e) { return atspi_hyperlink_get_object(link.get(), 0, e); },
            [](AtspiAccessible* made) { g_object_unref(made); });
        if (object == nullptr) {
            return std::nullopt;
        }
        held_.push_back(object);
        return object;
    }

    bool isBlock(RichText::Node node) override {
        const auto role = attempt(calls_, asObject(node), [&](GError** e) {
            return atspi_accessible_get_role(asObject(node), e);
        });
        return role && isBlockRole(*role);
    }

  private:
    CallRecord& calls_;
    std::vector<AtspiAccessible*> held_;
};

}  // namespace

std::shared_ptr<const AtspiAccessibility::RichReading> AtspiAccessibility::richText(
    Entry& entry) {
    if (const auto& known = reading(entry).rich) {
        return *known;
    }
    std::shared_ptr<const RichReading> rich;
    const auto own = wholeText(entry);
    Held<AtspiHypertext> hypertext(atspi_accessible_get_hypertext_iface(entry.object));
    if (own && hypertext && RichText::holdsObjects(*own)) {
        PiecesOnTheBus parts(calls_);
        const auto unit = usesUtf16(entry) ? OffsetUnit::utf16 : OffsetUnit::codePoints;
        if (auto read = RichText::read(entry.object, *own, parts, unit)) {
            rich = std::make_shared<const RichReading>(std::move(*read), parts.takeHeld());
        }
    }
    reading(entry).rich = rich;
    return rich;
}

Expected<AttributeValue> AtspiAccessibility::readRichText(Entry& entry, const RichReading& rich,
                                                          std::string_view name) {
    const auto& text = rich.text.text();
    if (name == ax::value) {
        return AttributeValue(text);
    }
    if (name == ax::numberOfCharacters) {
        return AttributeValue(static_cast<double>(text.size()));
    }
    const auto selection = richSelection(entry, rich);
    if (!selection) {
        return failed("the selection could not be read");
    }
    if (name == ax::selectedTextRange) {
        return AttributeValue(*selection);
    }
    return AttributeValue(text.substr(static_cast<std::size_t>(selection->location),
                                      static_cast<std::size_t>(selection->length)));
}

Expected<AttributeValue> AtspiAccessibility::readRichRange(Entry& entry, const RichReading& rich,
                                                           std::string_view name,
                                                           text::Utf16Range range) {
    const auto& shown = rich.text.text();
    if (range.end() > static_cast<std::int64_t>(shown.size())) {
        return Error{ErrorCode::invalidArgument, "range outside the text"};
    }
    if (name == ax::stringForRange) {
        return AttributeValue(shown.substr(static_cast<std::size_t>(range.location),
                                           static_cast<std::size_t>(range.length)));
    }
    auto part = richPart(entry, rich, range);
    if (!part) {
        return failed("the range runs over parts of the element");
    }
    if (auto bounds = boundsOf(part->part, part->start, part->end)) {
        return AttributeValue(*bounds);
    }
    return failed("no bounds for the range");
}

std::optional<text::Utf16Range> AtspiAccessibility::richSelection(Entry& entry,
                                                                  const RichReading& rich) {
    const auto selection = toolkitSelection(entry);
    if (!selection) {
        return std::nullopt;
    }
    // A part's own selection, else its caret; none when it holds neither.
    const auto selectionIn = [this](AtspiAccessible* part) -> std::optional<std::pair<int, int>> {
        const auto found = selectionOrCaret(part);
        return found && found->first >= 0 ? found : std::nullopt;
    };
    // Where an end of the selection stands: an object character it takes in stands for the part
    // that holds that end, which tells where in it.
    const auto point = [&](RichText::Node node, int offset, bool end) {
        std::optional<std::int64_t> found;
        for (int depth = 0; depth <= RichText::maxDepth && !found; ++depth) {
            const int at = end ? offset - 1 : offset;
            const auto part = rich.text.embedded(node, at);
            if (!part) {
                found = rich.text.position(node, offset);
                break;
            }
            const auto inPart = selectionIn(asObject(*part));
            if (!inPart) {
                found = end ? rich.text.end(*part) : rich.text.position(node, at);
                break;
            }
            node = *part;
            offset = end ? inPart->second : inPart->first;
        }
        return found;
    };
    const auto start = point(entry.object, selection->first, false);
    const auto end = selection->first == selection->second
                         ? start
                         : point(entry.object, selection->second, true);
    if (!start || !end || *end < *start) {
        return std::nullopt;
    }
    return text::Utf16Range{*start, *end - *start};
}

std::optional<AtspiAccessibility::RichPart> AtspiAccessibility::richPart(
    const Entry& entry, const RichReading& rich, text::Utf16Range range) {
    const auto place = rich.text.place(range);
    if (!place) {
        return std::nullopt;
    }
    // (held by the reading, which the caller keeps)
    return RichPart{Entry{.object = asObject(place->node), .pid = entry.pid,
                          .toolkit = entry.toolkit},
                    place->start, place->end};
}

bool AtspiAccessibility::formatVaries(Entry& entry) {
    Held<AtspiText> text(atspi_accessible_get_text_iface(entry.object));
    const auto count = text ? characterCount(entry) : std::nullopt;
    if (!count) {
        return false;
    }
    // What a run says of its characters' look, less what belongs to their paragraph.
    using Format = std::map<std::string, std::string>;
    const auto formatAt = [&](int offset, int& end) -> std::optional<Format> {
        int start = 0;
        GHashTable* attributes = attemptOwned(
            calls_, text.get(),
            [&](GError** e) {
                return atspi_text_get_attribute_run(text.get(), offset, FALSE, &start, &end, e);
            },
            [](GHashTable* made) { g_hash_table_unref(made); });
        if (attributes == nullptr) {
            return std::nullopt;
        }
        Format format;
        GHashTableIter at;
        gpointer key = nullptr;
        gpointer value = nullptr;
        g_hash_table_iter_init(&at, attributes);
        while (g_hash_table_iter_next(&at, &key, &value) != FALSE) {
            format.emplace(static_cast<const char*>(key), static_cast<const char*>(value));
        }
        g_hash_table_unref(attributes);
        for (const char* paragraph : {"justification", "left-margin", "right-margin", "indent",
                                      "direction", "pixels-above-lines", "pixels-below-lines"}) {
            format.erase(paragraph);
        }
        return format;
    };
    const auto emphasised = [](const Format& format) {
        const auto is = [&](const char* name, std::initializer_list<std::string_view> plain) {
            const auto found = format.find(name);
            return found != format.end() &&
                   std::ranges::find(plain, std::string_view(found->second)) == plain.end();
        };
        return is("weight", {"normal", "400"}) || is("style", {"normal"}) ||
               is("underline", {"none", "false"}) || is("strikethrough", {"false"});
    };
    // Bounded: a text of many runs is formatted, whatever the rest says.
    constexpr int maxRuns = 256;
    std::optional<Format> first;
    int offset = 0;
    for (int run = 0; run < maxRuns && offset < *count; ++run) {
        int end = 0;
        const auto format = formatAt(offset, end);
        if (!format) {
            return false;
        }
        if (emphasised(*format) || (first && *format != *first)) {
            return true;
        }
        first = first ? first : format;
        if (end <= offset) {
            return false;
        }
        offset = end;
    }
    return offset < *count;
}

bool AtspiAccessibility::holdsFormattedText(Entry& entry) {
    const auto known = stateSet(entry);
    if (!known || !toolkit(entry).isEditable(*known)) {
        return false;
    }
    GHashTable* attributes = attemptOwned(
        calls_, entry.object,
        [&](GError** e) { return atspi_accessible_get_attributes(entry.object, e); },
        [](GHashTable* made) { g_hash_table_unref(made); });
    bool editor = false;
    if (attributes != nullptr) {
        const auto* tag = static_cast<const gchar*>(g_hash_table_lookup(attributes, "tag"));
        editor = tag != nullptr && std::strcmp(tag, "input") != 0 && std::strcmp(tag, "textarea") != 0;
        g_hash_table_unref(attributes);
    }
    return editor || richText(entry) != nullptr ||
           (toolkit(entry).tellsFormatByRuns() && formatVaries(entry));
}

}  // namespace ravlin::platform
