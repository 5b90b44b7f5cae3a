// Text, selection and focus written into another application. Applications answer yes to
// writes they ignore, so a text write is read back before it counts.

#include <atspi/atspi.h>

#include <functional>

#include "core/text/unicode.h"
#include "platform/linux/accessibility/atspi_accessibility.h"
#include "platform/linux/accessibility/atspi_calls.h"
#include "platform/linux/accessibility/text_offsets.h"
#include "platform/linux/accessibility/toolkit.h"

namespace ravlin::platform {

using namespace atspi;

namespace {

// AddSelection of [start, end) sent to the element's application without waiting for an answer,
// on the connection libatspi's own calls to it take: a read sent afterwards is answered after it.
bool addSelectionUnanswered(AtspiAccessible* object, int start, int end) {
    const AtspiApplication* app = object->parent.app;
    if (app == nullptr || app->bus == nullptr || app->bus_name == nullptr ||
        object->parent.path == nullptr) {
        return false;
    }
    DBusMessage* message = dbus_message_new_method_call(app->bus_name, object->parent.path,
                                                        "org.a11y.atspi.Text", "AddSelection");
    if (message == nullptr) {
        return false;
    }
    const dbus_int32_t from = start;
    const dbus_int32_t to = end;
    const bool sent =
        dbus_message_append_args(message, DBUS_TYPE_INT32, &from, DBUS_TYPE_INT32, &to,
                                 DBUS_TYPE_INVALID) != 0 &&
        (dbus_message_set_no_reply(message, TRUE), dbus_connection_send(app->bus, message,
                                                                        nullptr) != 0);
    dbus_message_unref(message);
    if (sent) {
        dbus_connection_flush(app->bus);
    }
    return sent;
}

}  // namespace

bool AtspiAccessibility::selects(_AtspiAccessible* object, int start, int end) {
    const auto now = selectionOrCaret(object);
    return now && now->first >= 0 && *now == std::pair{start, end};
}

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
    const bool textual =
        name == ax::selectedText || name == ax::value || name == ax::selectedTextRange;
    if (textual && isPasswordField(**found) != false) {
        return false;
    }
    if (name == ax::selectedText || name == ax::value) {
        // (a plain text written into an element of parts would lose their shapes)
        return takesWrites(**found) && !selectionCrosses(**found) && !richText(**found);
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
    if (const auto rich = richText(entry)) {
        // Written in the part that holds the range (kept by the reading held here).
        auto part = richPart(entry, *rich, range);
        if (!part) {
            return Status::failure(ErrorCode::invalidArgument,
                                   "the range runs over parts of the element");
        }
        // Nothing written where it is so already: a browser drops a selection write that
        // matches what it shows, and the caret written before it would stay alone in its place.
        if (selects(part->part.object, part->start, part->end)) {
            return {};
        }
        // The caret put there first: a selection in another part would stay beside a new one.
        if (part->start != part->end) {
            if (auto moved = writeToolkitSelection(part->part, part->start, part->start);
                !moved.ok()) {
                return moved;
            }
        }
        return writeToolkitSelection(part->part, part->start, part->end);
    }
    const auto start = toolkitOffset(entry, range.location);
    const auto end = toolkitOffset(entry, range.end());
    if (!start || !end) {
        return Status::failure(ErrorCode::invalidArgument, "range outside the text");
    }
    return writeToolkitSelection(entry, *start, *end);
}

Status AtspiAccessibility::writeToolkitSelection(Entry& entry, int start, int end) {
    if (selects(entry.object, start, end)) {
        return {};
    }
    const bool empty = start == end;
    Held<AtspiText> text(atspi_accessible_get_text_iface(entry.object));
    const auto selections = [&] {
        return attempt(calls_, text.get(),
                       [&](GError** e) { return atspi_text_get_n_selections(text.get(), e); })
            .value_or(0);
    };
    const auto caret = [&](GError** e) {
        return atspi_text_set_caret_offset(text.get(), start, e);
    };
    const auto unselect = [&](GError** e) {
        return atspi_text_remove_selection(text.get(), 0, e);
    };
    const auto set = [&](GError** e) {
        return atspi_text_set_selection(text.get(), 0, start, end, e);
    };
    const auto add = [&](GError** e) {
        if (!toolkit(entry).answersSelectionAdds()) {
            return addSelectionUnanswered(entry.object, start, end) ? TRUE : FALSE;
        }
        return atspi_text_add_selection(text.get(), start, end, e);
    };
    bool done = false;
    if (!toolkit(entry).readsSelectionWritesBack()) {
        // The answer tells (and the selection may show only a moment later).
        const auto answered = [&](auto&& write) {
            return attempt(calls_, text.get(), [&](GError** e) {
                       return write(e);
                   }).value_or(FALSE) != FALSE;
        };
        // A caret over a selection: some take the caret and keep the selection (LibreOffice),
        // so the selection goes first (where it can: Firefox refuses to remove a selection
        // that another part of its editor holds, and takes the caret all the same).
        if (empty) {
            if (selections() > 0) {
                (void)answered(unselect);
            }
            done = answered(caret);
        } else {
            done = answered(selections() > 0 ? std::function(set) : std::function(add));
        }
    } else {
        // The answer does not tell: the selection read back does, the first way, then the
        // other.
        const auto took = [&](auto&& write) {
            (void)attempt(calls_, text.get(), [&](GError** e) { return write(e); });
            forgetReadings();
            return toolkitSelection(entry) == std::pair{start, end};
        };
        if (empty) {
            done = took(caret);
            if (!done) {
                (void)took(unselect);
                done = took(caret);
            }
        } else if (selections() > 0) {
            done = took(set);
            if (!done) {
                (void)took(unselect);
                done = took(add);
            }
        } else {
            done = took(add) || took(set);
        }
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
        const auto deleted = attempt(calls_, editable.get(), [&](GError** e) {
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
        const auto done = attempt(calls_, editable.get(), [&](GError** e) {
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
    (void)attempt(calls_, textInterface.get(), [&](GError** e) {
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
    const auto done = attempt(calls_, editable.get(), [&](GError** e) {
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
        const auto done = attempt(calls_, component.get(), [&](GError** e) {
            return atspi_component_grab_focus(component.get(), e);
        });
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
