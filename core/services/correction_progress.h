#pragma once

// What to show while a model streams its answer: the corrected beginning followed by the part of
// the typed text that the answer has not reached yet, so the text neither shrinks nor jumps.

#include <optional>
#include <string>
#include <string_view>

namespace ravlin {

struct QNModelCorrectionProgress {
    QNModelCorrectionProgress() = delete;

    // The partial answer followed by the typed text it has not yet covered (decided word by
    // word, ignoring case, tolerating corrected typos). Absent for an empty partial.
    [[nodiscard]] static std::optional<std::u16string> displayText(std::u16string_view original,
                                                                   std::u16string_view partial);
};

}  // namespace ravlin
