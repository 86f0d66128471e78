// d88cut: cuts the blocks of the known disk out of a D88 image file.
#include "tool/entry.h"

int main(int argc, char** argv) { return d88cut::runEntry(argc, argv); }
