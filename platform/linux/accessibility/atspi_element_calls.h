#pragma once

// The backend's side of a toolkit rule's calls on one element (see toolkit.h): each one bounded
// call to the element's application. Private to the backend's files.

#include <optional>
#include <string>
#include <utility>

#include "platform/linux/accessibility/atspi_accessibility.h"
#include "platform/linux/accessibility/toolkit.h"

namespace ravlin::platform {

class AtspiAccessibility::Calls final : public atspi::ElementCalls {
  public:
    Calls(AtspiAccessibility& backend, Entry& entry);

    std::optional<atspi::States> states() override;
    std::optional<std::u16string> displayedLine(int offset) override;
    std::optional<int> characterCount() override;
    std::optional<Rect> textExtents(int start, int end, AtspiCoordType coordinates) override;
    std::optional<std::pair<int, int>> lineAt(int offset) override;
    std::optional<Rect> frame(AtspiCoordType coordinates) override;
    bool showsWhatWasTyped(std::u16string_view line) override;

  private:
    struct Line {
        std::u16string content;
        int start = 0;
        int end = 0;
    };
    std::optional<Line> lineRange(int offset);

    AtspiAccessibility& backend_;
    Entry& entry_;
};

}  // namespace ravlin::platform
