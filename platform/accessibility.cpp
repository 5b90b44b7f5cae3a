#include "platform/accessibility.h"

namespace ravlin::platform {
namespace {

template <class T>
std::optional<T> typed(Accessibility& accessibility, ElementRef element, std::string_view name) {
    auto read = accessibility.attribute(element, name);
    if (!read) {
        return std::nullopt;
    }
    if (auto* value = std::get_if<T>(&read.value())) {
        return std::move(*value);
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::u16string> textAttribute(Accessibility& accessibility, ElementRef element,
                                            std::string_view name) {
    return typed<std::u16string>(accessibility, element, name);
}

std::optional<bool> booleanAttribute(Accessibility& accessibility, ElementRef element,
                                     std::string_view name) {
    return typed<bool>(accessibility, element, name);
}

std::optional<text::Utf16Range> rangeAttribute(Accessibility& accessibility, ElementRef element,
                                               std::string_view name) {
    return typed<text::Utf16Range>(accessibility, element, name);
}

std::optional<ElementRef> elementAttribute(Accessibility& accessibility, ElementRef element,
                                           std::string_view name) {
    auto found = typed<ElementRef>(accessibility, element, name);
    return found && *found ? found : std::nullopt;
}

std::vector<ElementRef> elementListAttribute(Accessibility& accessibility, ElementRef element,
                                             std::string_view name) {
    return typed<std::vector<ElementRef>>(accessibility, element, name)
        .value_or(std::vector<ElementRef>{});
}

}  // namespace ravlin::platform
