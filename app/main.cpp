#include <string_view>

#include "app/shell/program.h"
#include "platform/linux/clipboard/clipboard_keeper.h"
#include "platform/linux/linux_seams.h"

int main(int argc, char** argv) {
    // Started by the program itself, at its end, to keep the user's clipboard: nothing else of
    // the program runs then.
    if (argc == 2 && std::string_view(argv[1]) == ravlin::platform::clipboardKeeperOption) {
        return ravlin::platform::runClipboardKeeper();
    }
    return ravlin::runProgram(argc, argv, ravlin::platform::linuxSeams);
}
