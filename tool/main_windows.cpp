// d88cut's main on Windows: the command line comes as wide characters, which
// hold any name on any locale; the tool takes it as UTF-8.
#include "tool/entry.h"
#include "platform/platform.h"

int wmain(int argc, wchar_t** argv) {
    d88cut::platform::prepareProcess();
    const int status = d88cut::runEntry(argc, d88cut::platform::utf8Arguments(argc, argv));
    d88cut::platform::holdConsoleWindow();
    return status;
}
