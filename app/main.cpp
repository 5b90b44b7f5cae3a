#include "app/shell/program.h"
#include "platform/linux/linux_seams.h"

int main(int argc, char** argv) {
    return ravlin::runProgram(argc, argv, ravlin::platform::linuxSeams);
}
