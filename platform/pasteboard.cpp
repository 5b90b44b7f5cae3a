#include "platform/pasteboard.h"

#include <utility>

namespace ravlin::platform {

std::string_view toString(PasteboardSaveFailure failure) {
    switch (failure) {
        case PasteboardSaveFailure::none:
            return "none";
        case PasteboardSaveFailure::ownerNotAnswering:
            return "owner-not-answering";
        case PasteboardSaveFailure::tooLarge:
            return "too-large";
        case PasteboardSaveFailure::tooManyTypes:
            return "too-many-types";
        case PasteboardSaveFailure::typeFailed:
            return "type-failed";
    }
    return "none";
}

std::string_view toString(WriteFetch fetch) {
    switch (fetch) {
        case WriteFetch::none:
            return "none";
        case WriteFetch::byTarget:
            return "by-target";
        case WriteFetch::byOthers:
            return "by-others";
        case WriteFetch::unknown:
            break;
    }
    return "unknown";
}

bool Pasteboard::putBackOverOwnChange(const PasteboardContents& contents) {
    if (!holdsOwnChange()) {
        return false;
    }
    clear();
    if (!contents.items.empty()) {
        (void)writeContents(contents);
    }
    return true;
}

}  // namespace ravlin::platform
