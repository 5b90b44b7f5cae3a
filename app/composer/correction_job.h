#pragma once

// One correction the Composer dispatches to a model: what it covers and the text it sends. The
// fields the records read; the service's run adds its own.

#include <string>

#include "core/records/decision.h"
#include "core/text/range.h"

namespace ravlin {

struct QNModelCorrectionJob {
    enum class Scope { suffix, wholePrefix, sentencePolish };

    Scope scope = Scope::sentencePolish;
    std::u16string contextPrefix;  // the settled text before the target
    std::u16string targetPrefix;   // the text sent to the model
    text::Utf16Range targetRange;  // in canonical text
    QNCorrectionDecisionTrigger trigger = QNCorrectionDecisionTrigger::pause;
};

}  // namespace ravlin
