// The cut of a recognised disk: its sixteen files written into the output
// directory, with a line for each that falls short of whole.
#ifndef D88CUT_TOOL_CUT_H
#define D88CUT_TOOL_CUT_H

#include <cstdint>

#include "tool/known_disk_files.h"

namespace d88cut {

// Cuts the selected disk, disk image `disk` (counted from 1) of `image`,
// whose sector range is 1 to 16; `states` receives what was read of each
// file. False when any output file could not be written whole. It stops
// where the reader fails, and writes nothing of what it was reading then.
bool cutKnownDisk(const char* image, std::int32_t disk, FileState (&states)[kFileCount]);

}  // namespace d88cut

#endif
