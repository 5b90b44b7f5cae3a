#include "app/composer/correction_event.h"

#include "core/records/text_equality.h"

namespace ravlin {

bool operator==(const QNCorrectionEvent& a, const QNCorrectionEvent& b) {
    return a.id == b.id && a.canonicalRange == b.canonicalRange &&
           a.authoredRange == b.authoredRange && a.visibleRangeAtApply == b.visibleRangeAtApply &&
           records::sameText(a.original, b.original) &&
           records::sameText(a.replacement, b.replacement) && a.tier == b.tier &&
           a.source == b.source && a.createdAt == b.createdAt && a.decisionID == b.decisionID &&
           a.supersedes == b.supersedes && a.status == b.status;
}

}  // namespace ravlin
