// The ATK bridge (at-spi2-atk): GTK 3 and every toolkit that speaks through ATK, LibreOffice's
// GTK 3 plugin among them. Offsets count code points; elements out of sight are not showing;
// password fields have their own role. The rules every other toolkit starts from.

#include "platform/linux/accessibility/toolkit.h"

namespace ravlin::platform::atspi {
namespace {

class Atk final : public Toolkit {
  public:
    std::string_view name() const override { return "ATK"; }
};

}  // namespace

const Toolkit& atkToolkit() {
    static const Atk rules;
    return rules;
}

}  // namespace ravlin::platform::atspi
