#include "platform/linux/accessibility/toolkit.h"

#include <unicode/uchar.h>

#include <optional>

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

namespace {

// (a password field shows no line breaks; a displayed line may end with one)
std::u16string_view withoutLineEnd(std::u16string_view line) {
    while (!line.empty() && (line.back() == u'\n' || line.back() == u'\r')) {
        line.remove_suffix(1);
    }
    return line;
}

// The character a line repeats throughout (one UTF-16 unit), if it does.
std::optional<char16_t> repeated(std::u16string_view line) {
    line = withoutLineEnd(line);
    if (line.empty()) {
        return std::nullopt;
    }
    const char16_t shown = line.front();
    if (shown >= 0xD800 && shown <= 0xDFFF) {
        return std::nullopt;
    }
    if (line.find_first_not_of(shown) != std::u16string_view::npos) {
        return std::nullopt;
    }
    return shown;
}

}  // namespace

bool isMask(std::u16string_view line) {
    const auto shown = repeated(line);
    return shown && !u_isalnum(*shown) && !u_isUWhiteSpace(*shown);
}

bool isOneCharacterRepeated(std::u16string_view line) {
    // (no mask is white space: a line of spaces is spaces)
    const auto shown = repeated(line);
    return shown && !u_isUWhiteSpace(*shown);
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
