#include "app/shell/program.h"

int main(int argc, char** argv) {
    return ravlin::runProgram(argc, argv);
}
