// d88cut's main on Linux and other POSIX systems.
#include "tool/entry.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    d88cut::platform::prepareProcess();
    return d88cut::runEntry(argc, argv);
}
