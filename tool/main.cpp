// d88cut: cuts the blocks of the known disk out of a D88 image file.
#include "tool/entry.h"
#include "tool/output.h"
#include "tool/platform.h"

#ifdef _WIN32
// Windows hands the command line over as wide characters, which hold any
// name on any locale; the tool takes it as UTF-8.
int wmain(int argc, wchar_t** argv) {
    d88cut::installSignalCleanup();
    // Only the program name and the one path are ever looked at.
    return d88cut::runEntry(argc < 3 ? argc : 3, d88cut::platform::utf8Arguments(argc, argv));
}
#else
int main(int argc, char** argv) {
    // A run interrupted while a file is being written leaves no temporary
    // file behind.
    d88cut::installSignalCleanup();
    return d88cut::runEntry(argc, argv);
}
#endif
