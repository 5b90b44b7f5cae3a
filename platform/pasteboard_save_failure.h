#pragma once

// Why a save of the pasteboard's contents is not whole. A save never keeps part of them: what it
// could not take whole it refuses. (Apart from pasteboard.h for the clipboard keeper, which has
// nothing else of the program.)

namespace ravlin::platform {

enum class PasteboardSaveFailure {
    none,
    ownerNotAnswering,  // the owner did not answer in time, or stopped answering
    tooLarge,           // more bytes than a save keeps
    tooManyTypes,       // more types than a save keeps
    typeFailed,         // the owner refused its list of types, or sent something unreadable
    ownerChanged,       // the contents changed hands during the save, and again when it began anew
};

}  // namespace ravlin::platform
