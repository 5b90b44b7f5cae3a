#include "platform/linux/accessibility/toolkit.h"

namespace ravlin::platform::atspi {

const Toolkit& toolkitNamed(std::string_view name, std::string_view version) {
    (void)version;
    if (name == "Qt") {
        return qtToolkit();
    }
    return atkToolkit();
}

}  // namespace ravlin::platform::atspi
