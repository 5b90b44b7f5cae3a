// An element's role, name, place and neighbours; its text goes to atspi_text.cpp.

#include <atspi/atspi.h>

#include <algorithm>

#include "core/text/unicode.h"
#include "platform/linux/accessibility/atspi_accessibility.h"
#include "platform/linux/accessibility/atspi_calls.h"
#include "platform/linux/accessibility/atspi_element_calls.h"
#include "platform/linux/accessibility/text_offsets.h"
#include "platform/linux/accessibility/toolkit.h"

namespace ravlin::platform {

using namespace atspi;

Expected<AttributeValue> AtspiAccessibility::read(Entry& entry, std::string_view name) {
    const auto role = this->role(entry);
    if (!role) {
        return failed("the element does not answer");
    }
    if (name == ax::role) {
        return readRole(entry, *role);
    }
    if (name == ax::value || name == ax::selectedText || name == ax::selectedTextRange ||
        name == ax::numberOfCharacters) {
        if (isPasswordField(entry) != false) {
            return secret();
        }
        return readText(entry, name);
    }
    if (name == ax::title) {
        return readTitle(entry);
    }
    if (name == ax::position || name == ax::size) {
        return readGeometry(entry, name);
    }
    if (name == ax::focused) {
        return AttributeValue(hasState(entry.object, ATSPI_STATE_FOCUSED));
    }
    if (name == ax::editable) {
        const auto known = stateSet(entry);
        if (!known) {
            return failed("the element does not answer");
        }
        return AttributeValue(toolkit(entry).isEditable(*known));
    }
    if (name == ax::parent) {
        return readParent(entry);
    }
    if (name == ax::children || name == ax::windows) {
        return readChildren(entry, name, *role);
    }
    if (name == ax::window) {
        return readWindow(entry);
    }
    if (*role == ATSPI_ROLE_APPLICATION) {
        return readApplication(entry, name);
    }
    return noValue(name);
}

Expected<AttributeValue> AtspiAccessibility::readRole(Entry& entry, int role) {
    const bool text =
        role == ATSPI_ROLE_TEXT || role == ATSPI_ROLE_ENTRY || role == ATSPI_ROLE_PASSWORD_TEXT;
    if (text && isPasswordField(entry) == true) {
        return AttributeValue(std::u16string(u"AXSecureTextField"));
    }
    // (the states tell only text roles apart)
    const bool stated = text || role == ATSPI_ROLE_PARAGRAPH || role == ATSPI_ROLE_SECTION;
    const auto known = stated ? stateSet(entry) : std::nullopt;
    return AttributeValue(text::toUtf16(axRoleName(role, known.value_or(States{}))));
}

Expected<AttributeValue> AtspiAccessibility::readTitle(Entry& entry) {
    auto* title = attempt(calls_, entry.object, [&](GError** e) {
                      return atspi_accessible_get_name(entry.object, e);
                  }).value_or(nullptr);
    auto value = fromUtf8(title);
    g_free(title);
    if (value.empty()) {
        return noValue(ax::title);
    }
    return AttributeValue(std::move(value));
}

Expected<AttributeValue> AtspiAccessibility::readGeometry(Entry& entry, std::string_view name) {
    auto rect = reading(entry).extents;
    if (!rect) {
        Held<AtspiComponent> component(atspi_accessible_get_component_iface(entry.object));
        if (!component) {
            return noValue(name);
        }
        const auto coordinates = toolkit(entry).coordinates();
        AtspiRect* extents = attemptOwned(
            calls_, component.get(),
            [&](GError** e) {
                return atspi_component_get_extents(component.get(), coordinates, e);
            },
            [](AtspiRect* made) { g_free(made); });
        if (extents == nullptr) {
            return failed("no extents");
        }
        rect = onScreen(entry, makeRect(extents->x, extents->y, extents->width, extents->height));
        g_free(extents);
        if (!rect) {
            return failed("the window's place is not known");
        }
        reading(entry).extents = rect;
    }
    return name == ax::position ? AttributeValue(rect->origin) : AttributeValue(rect->size);
}

Expected<AttributeValue> AtspiAccessibility::readParent(Entry& entry) {
    auto* parent = attempt(calls_, entry.object, [&](GError** e) {
                       return atspi_accessible_get_parent(entry.object, e);
                   }).value_or(nullptr);
    if (parent == nullptr) {
        return noValue(ax::parent);
    }
    return AttributeValue(remember(parent, entry.pid));
}

Expected<AttributeValue> AtspiAccessibility::readChildren(Entry& entry, std::string_view name,
                                                          int role) {
    AtspiAccessible* object = entry.object;
    const auto count = attempt(
        calls_, object, [&](GError** e) { return atspi_accessible_get_child_count(object, e); });
    if (!count) {
        return failed("the children could not be read");
    }
    std::vector<ElementRef> children;
    for (int i = 0; i < std::min(*count, maxChildren); ++i) {
        auto* child = attempt(calls_, object, [&](GError** e) {
                          return atspi_accessible_get_child_at_index(object, i, e);
                      }).value_or(nullptr);
        if (child != nullptr) {
            children.push_back(remember(child, entry.pid));
        }
    }
    if (name == ax::windows && role != ATSPI_ROLE_APPLICATION) {
        return noValue(name);
    }
    return AttributeValue(std::move(children));
}

Expected<AttributeValue> AtspiAccessibility::readWindow(Entry& entry) {
    // The nearest frame, window or dialog above the element, else the top-level element just
    // below the application (a Qt window may be a plain widget).
    AtspiAccessible* object = entry.object;
    AtspiAccessible* node = static_cast<AtspiAccessible*>(g_object_ref(object));
    AtspiAccessible* below = nullptr;
    for (int depth = 0; node != nullptr && depth < maxDepth; ++depth) {
        const auto nodeRole =
            attempt(calls_, node, [&](GError** e) { return atspi_accessible_get_role(node, e); });
        if (nodeRole == ATSPI_ROLE_FRAME || nodeRole == ATSPI_ROLE_WINDOW ||
            nodeRole == ATSPI_ROLE_DIALOG) {
            if (below != nullptr) {
                g_object_unref(below);
            }
            return AttributeValue(remember(node, entry.pid));
        }
        if (!nodeRole || nodeRole == ATSPI_ROLE_APPLICATION) {
            break;
        }
        auto* parent = attempt(calls_, node, [&](GError** e) {
                           return atspi_accessible_get_parent(node, e);
                       }).value_or(nullptr);
        if (below != nullptr) {
            g_object_unref(below);
        }
        below = node;
        node = parent;
    }
    const bool topLevel = node != nullptr && below != nullptr && below != object &&
                          attempt(calls_, node, [&](GError** e) {
                              return atspi_accessible_get_role(node, e);
                          }) == ATSPI_ROLE_APPLICATION;
    if (node != nullptr) {
        g_object_unref(node);
    }
    if (topLevel) {
        return AttributeValue(remember(below, entry.pid));
    }
    if (below != nullptr) {
        g_object_unref(below);
    }
    return noValue(ax::window);
}

Expected<AttributeValue> AtspiAccessibility::readApplication(Entry& entry,
                                                             std::string_view name) {
    AtspiAccessible* object = entry.object;
    if (name == ax::focusedUIElement) {
        // Where the application has the keyboard, in the window that has it.
        const auto active = activeWindow_ ? activeWindow_() : std::nullopt;
        const ActiveWindow* scope = active && active->pid == entry.pid ? &*active : nullptr;
        if (AtspiAccessible* found = focusIn(object, entry.pid, scope)) {
            return AttributeValue(remember(found, entry.pid));
        }
        return noValue(name);
    }
    if (name == ax::focusedWindow) {
        const auto count = attempt(calls_, object, [&](GError** e) {
                               return atspi_accessible_get_child_count(object, e);
                           }).value_or(0);
        for (int i = 0; i < std::min(count, maxChildren); ++i) {
            auto* child = attempt(calls_, object, [&](GError** e) {
                              return atspi_accessible_get_child_at_index(object, i, e);
                          }).value_or(nullptr);
            if (child == nullptr) {
                continue;
            }
            if (hasState(child, ATSPI_STATE_ACTIVE)) {
                return AttributeValue(remember(child, entry.pid));
            }
            g_object_unref(child);
        }
    }
    return noValue(name);
}

}  // namespace ravlin::platform
