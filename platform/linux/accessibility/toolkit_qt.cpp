// Qt's own AT-SPI bridge (Qt 5 and 6, KDE Frameworks' widgets on it). Offsets count UTF-16
// units, as QString does. A read-only line edit says it is editable and read-only at once, which
// the common editable rule already reads as not editable.

#include "platform/linux/accessibility/toolkit.h"

namespace ravlin::platform::atspi {
namespace {

class Qt final : public Toolkit {
  public:
    std::string_view name() const override { return "Qt"; }
    OffsetUnit offsetUnit() const override { return OffsetUnit::utf16; }
};

}  // namespace

const Toolkit& qtToolkit() {
    static const Qt rules;
    return rules;
}

}  // namespace ravlin::platform::atspi
