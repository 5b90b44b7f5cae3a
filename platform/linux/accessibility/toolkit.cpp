#include "platform/linux/accessibility/toolkit.h"

#include <unicode/uchar.h>

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

bool isMask(std::u16string_view line) {
    // (a password field shows no line breaks; a displayed line may end with one)
    while (!line.empty() && (line.back() == u'\n' || line.back() == u'\r')) {
        line.remove_suffix(1);
    }
    if (line.empty()) {
        return false;
    }
    const char16_t shown = line.front();
    if (shown >= 0xD800 && shown <= 0xDFFF) {
        return false;
    }
    if (u_isalnum(shown) || u_isUWhiteSpace(shown)) {
        return false;
    }
    return line.find_first_not_of(shown) == std::u16string_view::npos;
}

}  // namespace ravlin::platform::atspi
