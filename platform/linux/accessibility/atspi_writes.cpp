// Text, selection and focus written into another application. Applications answer yes to
// writes they ignore, so a text write is read back before it counts.

#include <atspi/atspi.h>

#include "core/text/unicode.h"
#include "platform/linux/accessibility/atspi_accessibility.h"
#include "platform/linux/accessibility/atspi_calls.h"
#include "platform/linux/accessibility/text_offsets.h"
#include "platform/linux/accessibility/toolkit.h"

namespace ravlin::platform {

using namespace atspi;

bool AtspiAccessibility::takesWrites(Entry& entry) {
    Held<AtspiEditableText> editable(atspi_accessible_get_editable_text_iface(entry.object));
    const auto now = editable ? stateSet(entry) : std::nullopt;
    return now && toolkit(entry).isEditable(*now);
}

Expected<bool> AtspiAccessibility::isAttributeSettable(ElementRef element, std::string_view name) {
    auto found = lookup(element);
    if (!found) {
        return found.error();
    }
    AtspiAccessible* object = (*found)->object;
    if ((*found)->pid == self_) {
        return false;
    }
    const auto role = this->role(**found);
    if (!role) {
        return Error{ErrorCode::failed, "the element does not answer"};
    }
    if (isPasswordField(**found) != false) {
        return false;
    }
    if (name == ax::selectedText || name == ax::value) {
        return takesWrites(**found);
    }
    if (name == ax::selectedTextRange) {
        Held<AtspiText> text(atspi_accessible_get_text_iface(object));
        return static_cast<bool>(text);
    }
    if (name == ax::focused) {
        Held<AtspiComponent> component(atspi_accessible_get_component_iface(object));
        return static_cast<bool>(component);
    }
    return false;
}

Status AtspiAccessibility::writeSelection(Entry& entry, text::Utf16Range range) {
    const auto start = toolkitOffset(entry, range.location);
    const auto end = toolkitOffset(entry, range.end());
    if (!start || !end) {
        return Status::failure(ErrorCode::invalidArgument, "range outside the text");
    }
    Held<AtspiText> text(atspi_accessible_get_text_iface(entry.object));
    const auto holds = [&] {
        forgetReadings();
        return toolkitSelection(entry) == std::pair{*start, *end};
    };
    // Answers do not tell (GTK 4 moves only the caret on SetSelection, and selects on
    // AddSelection with a reply of the wrong type; Qt keeps a selection when the caret moves):
    // the selection read back does. The first way, then the other.
    const auto call = [&](auto&& write) {
        (void)attempt(worstCall_, [&](GError** e) { return write(e); });
        return holds();
    };
    const auto selections = [&] {
        return attempt(worstCall_, [&](GError** e) {
                   return atspi_text_get_n_selections(text.get(), e);
               }).value_or(0);
    };
    const auto caret = [&](GError** e) {
        return atspi_text_set_caret_offset(text.get(), *start, e);
    };
    const auto unselect = [&](GError** e) {
        return atspi_text_remove_selection(text.get(), 0, e);
    };
    const auto set = [&](GError** e) {
        return atspi_text_set_selection(text.get(), 0, *start, *end, e);
    };
    const auto add = [&](GError** e) {
        return atspi_text_add_selection(text.get(), *start, *end, e);
    };
    const auto caretAtStart = [&] {
        return attempt(worstCall_, [&](GError** e) {
                   return atspi_text_get_caret_offset(text.get(), e);
               }) == *start;
    };
    bool done = false;
    if (range.length == 0) {
        // A selection kept beside a caret that moved (Qt keeps one) is taken off, then the
        // caret set again; not while the caret has not moved: a web page applies the write after
        // answering, and taking off the selection it still shows would put its caret at that
        // selection's end, after ours.
        done = call(caret) || (caretAtStart() && (call(unselect), call(caret)));
    } else if (selections() > 0) {
        done = call(set) || (call(unselect), call(add));
    } else {
        done = call(add) || call(set);
    }
    forgetReadings();
    if (!done) {
        return Status::failure(ErrorCode::failed, "the application refused the selection");
    }
    return {};
}

Status AtspiAccessibility::writeSelectedText(Entry& entry, const std::u16string& replacement) {
    const auto before = wholeText(entry);
    const auto selection = toolkitSelection(entry);
    if (!before || !selection) {
        return Status::failure(ErrorCode::failed, "the text could not be read");
    }
    const auto& text = *before;
    const auto unit = usesUtf16(entry) ? OffsetUnit::utf16 : OffsetUnit::codePoints;
    const int start = selection->first;
    const int end = selection->second;
    const auto location = toUtf16Offset(text, start, unit);
    const auto length = toUtf16Offset(text, end, unit) - location;
    Held<AtspiEditableText> editable(atspi_accessible_get_editable_text_iface(entry.object));
    forgetReadings();
    if (end > start) {
        const auto deleted = attempt(worstCall_, [&](GError** e) {
            return atspi_editable_text_delete_text(editable.get(), start, end, e);
        });
        if (!deleted || *deleted == FALSE) {
            return Status::failure(ErrorCode::failed, "the application refused the delete");
        }
    }
    if (!replacement.empty()) {
        const auto utf8 = text::toUtf8(replacement);
        // GTK counts the inserted text in bytes, Qt in UTF-16 units.
        const int inserted = unit == OffsetUnit::utf16 ? static_cast<int>(replacement.size())
                                                       : static_cast<int>(utf8.size());
        const auto done = attempt(worstCall_, [&](GError** e) {
            return atspi_editable_text_insert_text(editable.get(), start, utf8.c_str(), inserted,
                                                   e);
        });
        if (!done || *done == FALSE) {
            return Status::failure(ErrorCode::failed, "the application refused the insert");
        }
    }
    std::u16string expected = text;
    expected.replace(static_cast<std::size_t>(location), static_cast<std::size_t>(length),
                     replacement);
    // Applications answer yes to writes they ignore: only the text itself tells.
    forgetReadings();
    const auto after = wholeText(entry);
    if (!after || *after != expected) {
        return Status::failure(ErrorCode::failed, "the application did not apply the write");
    }
    const auto caret = location + static_cast<std::int64_t>(replacement.size());
    Held<AtspiText> textInterface(atspi_accessible_get_text_iface(entry.object));
    (void)attempt(worstCall_, [&](GError** e) {
        return atspi_text_set_caret_offset(
            textInterface.get(), static_cast<int>(fromUtf16Offset(expected, caret, unit)), e);
    });
    forgetReadings();
    return {};
}

Status AtspiAccessibility::writeValue(Entry& entry, const std::u16string& text) {
    Held<AtspiEditableText> editable(atspi_accessible_get_editable_text_iface(entry.object));
    const auto utf8 = text::toUtf8(text);
    forgetReadings();
    const auto done = attempt(worstCall_, [&](GError** e) {
        return atspi_editable_text_set_text_contents(editable.get(), utf8.c_str(), e);
    });
    if (!done || *done == FALSE) {
        return Status::failure(ErrorCode::failed, "the application refused the text");
    }
    forgetReadings();
    const auto after = wholeText(entry);
    forgetReadings();
    if (!after || *after != text) {
        return Status::failure(ErrorCode::failed, "the application did not apply the write");
    }
    return {};
}

Status AtspiAccessibility::setAttribute(ElementRef element, std::string_view name,
                                        const AttributeValue& value) {
    auto found = lookup(element);
    if (!found) {
        return found.error();
    }
    Entry& entry = **found;
    if (entry.pid == self_) {
        return Status::failure(ErrorCode::notSupported, "our own elements are not written");
    }
    const auto settable = isAttributeSettable(element, name);
    if (!settable) {
        return settable.error();
    }
    if (!*settable) {
        return Status::failure(ErrorCode::notSupported, "attribute not settable");
    }
    if (name == ax::focused) {
        if (value != AttributeValue(true)) {
            return {};
        }
        forgetReadings();
        Held<AtspiComponent> component(atspi_accessible_get_component_iface(entry.object));
        const auto done = attempt(
            worstCall_, [&](GError** e) { return atspi_component_grab_focus(component.get(), e); });
        return done && *done != FALSE
                   ? Status()
                   : Status::failure(ErrorCode::failed, "the application refused the focus");
    }
    if (name == ax::selectedTextRange) {
        const auto* range = std::get_if<text::Utf16Range>(&value);
        if (range == nullptr || range->location < 0 || range->length < 0) {
            return Status::failure(ErrorCode::invalidArgument, "a range is needed");
        }
        return writeSelection(entry, *range);
    }
    const auto* text = std::get_if<std::u16string>(&value);
    if (text == nullptr) {
        return Status::failure(ErrorCode::invalidArgument, "a text attribute takes text");
    }
    return name == ax::selectedText ? writeSelectedText(entry, *text) : writeValue(entry, *text);
}

}  // namespace ravlin::platform
