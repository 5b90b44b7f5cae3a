#include "platform/linux/accessibility/toolkit.h"

#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <optional>

#include "core/text/unicode.h"

namespace ravlin::platform::atspi {

const Toolkit& toolkitNamed(std::string_view name, std::string_view version) {
    if (name == "Qt") {
        return qtToolkit();
    }
    // GTK 3 reaches the bus through ATK and names itself "gtk"; GTK 4 speaks AT-SPI itself.
    if ((name == "GTK" || name == "gtk") && version.starts_with("4.")) {
        return gtk4Toolkit();
    }
    return atkToolkit();
}

std::u16string_view withoutLineEnd(std::u16string_view line) {
    while (!line.empty() && (line.back() == u'\n' || line.back() == u'\r')) {
        line.remove_suffix(1);
    }
    return line;
}

namespace {

// Whether a line is its first `size` units over and over to its end.
bool repeats(std::u16string_view line, std::size_t size) {
    if (size == 0 || line.size() % size != 0) {
        return false;
    }
    const auto unit = line.substr(0, size);
    for (std::size_t at = size; at < line.size(); at += size) {
        if (line.substr(at, size) != unit) {
            return false;
        }
    }
    return true;
}

// The character a line shows throughout, if it does: its first character repeated to its end,
// or its first code point (three regional indicators are a flag and one more).
std::optional<std::u16string_view> repeated(std::u16string_view line) {
    line = withoutLineEnd(line);
    if (line.empty()) {
        return std::nullopt;
    }
    const auto first = text::leadingCharacterBoundaries(line, 1);
    const auto character = first.size() == 2 ? static_cast<std::size_t>(first[1]) : line.size();
    if (repeats(line, character)) {
        return line.substr(0, character);
    }
    const std::size_t point =
        line.size() > 1 && U16_IS_LEAD(line[0]) && U16_IS_TRAIL(line[1]) ? 2 : 1;
    if (point < character && repeats(line, point)) {
        return line.substr(0, point);
    }
    return std::nullopt;
}

}  // namespace

bool isMask(std::u16string_view line) {
    // (one UTF-16 unit: the bullets and stars of the masks in use; a mask is seen, so never a
    // character that shows nothing, such as the zero-width space alone in a field)
    const auto shown = repeated(line);
    return shown && shown->size() == 1 && !U16_IS_SURROGATE(shown->front()) &&
           !u_isalnum(shown->front()) && !u_isUWhiteSpace(shown->front()) &&
           !u_hasBinaryProperty(shown->front(), UCHAR_DEFAULT_IGNORABLE_CODE_POINT);
}

bool isOneCharacterRepeated(std::u16string_view line) {
    return repeated(line).has_value();
}

bool showsMask(AtspiRole role, ElementCalls& element) {
    if (role != ATSPI_ROLE_TEXT && role != ATSPI_ROLE_ENTRY) {
        return false;
    }
    const auto states = element.states();
    if (!states || states->multiLine) {
        return false;
    }
    const auto shown = element.displayedLine(0);
    return shown && isMask(*shown);
}

bool Toolkit::isPassword(AtspiRole role, ElementCalls& element) const {
    return role == ATSPI_ROLE_PASSWORD_TEXT || showsMask(role, element);
}

}  // namespace ravlin::platform::atspi
