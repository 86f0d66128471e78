// d88cut: cuts the blocks of the known disk out of a D88 image file.
#include "tool/entry.h"
#include "tool/output.h"

int main(int argc, char** argv) {
    // A run interrupted while a file is being written leaves no temporary
    // file behind.
    d88cut::installSignalCleanup();
    return d88cut::runEntry(argc, argv);
}
