#include "platform/linux/accessibility/text_offsets.h"

#include <atspi/atspi.h>

#include <algorithm>

namespace ravlin::platform {
namespace {

bool isHigh(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool isLow(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

std::int64_t toUtf16Offset(std::u16string_view text, std::int64_t offset, OffsetUnit unit) {
    const auto size = static_cast<std::int64_t>(text.size());
    if (offset <= 0) {
        return 0;
    }
    if (unit == OffsetUnit::utf16) {
        return std::min(offset, size);
    }
    std::int64_t index = 0;
    for (std::int64_t points = 0; points < offset && index < size; ++points) {
        const bool pair = isHigh(text[index]) && index + 1 < size && isLow(text[index + 1]);
        index += pair ? 2 : 1;
    }
    return index;
}

std::int64_t fromUtf16Offset(std::u16string_view text, std::int64_t offset, OffsetUnit unit) {
    const auto size = static_cast<std::int64_t>(text.size());
    offset = std::clamp<std::int64_t>(offset, 0, size);
    if (unit == OffsetUnit::utf16) {
        if (offset > 0 && offset < size && isLow(text[offset]) && isHigh(text[offset - 1])) {
            return offset - 1;
        }
        return offset;
    }
    std::int64_t points = 0;
    for (std::int64_t index = 0; index < offset; ++points) {
        const bool pair = isHigh(text[index]) && index + 1 < size && isLow(text[index + 1]);
        const auto next = index + (pair ? 2 : 1);
        if (next > offset) {
            break;
        }
        index = next;
    }
    return points;
}

std::string axRoleName(int atspiRole, const atspi::States& states) {
    const bool area = states.multiLine && !states.singleLine;
    switch (static_cast<AtspiRole>(atspiRole)) {
        case ATSPI_ROLE_PASSWORD_TEXT:
            return "AXSecureTextField";
        case ATSPI_ROLE_ENTRY:
        case ATSPI_ROLE_TEXT:
            return area ? "AXTextArea" : "AXTextField";
        case ATSPI_ROLE_PARAGRAPH:
        case ATSPI_ROLE_SECTION:
            if (area && states.editable) {
                return "AXTextArea";
            }
            break;
        case ATSPI_ROLE_DOCUMENT_WEB:
            return "AXWebArea";
        case ATSPI_ROLE_COMBO_BOX:
            return "AXComboBox";
        case ATSPI_ROLE_TERMINAL:
            return "AXTerminal";
        case ATSPI_ROLE_APPLICATION:
            return "AXApplication";
        case ATSPI_ROLE_FRAME:
        case ATSPI_ROLE_WINDOW:
        case ATSPI_ROLE_DIALOG:
            return "AXWindow";
        default:
            break;
    }
    gchar* name = atspi_role_get_name(static_cast<AtspiRole>(atspiRole));
    std::string result = name != nullptr ? name : "unknown";
    g_free(name);
    return result;
}

}  // namespace ravlin::platform
