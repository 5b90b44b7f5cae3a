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
        case PasteboardSaveFailure::ownerChanged:
            return "owner-changed";
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

std::string_view toString(PutBack putBack) {
    switch (putBack) {
        case PutBack::done:
            return "success";
        case PutBack::newerCopy:
            return "newer-copy-kept";
        case PutBack::failed:
            break;
    }
    return "failed";
}

PutBack Pasteboard::putBackOverOwnChange(const PasteboardContents& contents) {
    if (!holdsOwnChange()) {
        return PutBack::newerCopy;
    }
    clear();
    if (!contents.items.empty()) {
        (void)writeContents(contents);
    }
    return PutBack::done;
}

}  // namespace ravlin::platform
