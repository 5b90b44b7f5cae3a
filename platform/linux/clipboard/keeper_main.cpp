// The clipboard keeper's executable: the selection layer and nothing else of the program.

#include "platform/linux/clipboard/clipboard_keeper.h"

int main() {
    return ravlin::platform::runClipboardKeeper();
}
