// The cut of a recognised disk: its sixteen files written into the output
// directory, with a line for each that falls short of whole.
#ifndef D88CUT_TOOL_CUT_H
#define D88CUT_TOOL_CUT_H

#include <cstdint>

namespace d88cut {

// Cuts the selected disk, disk image `disk` (counted from 1), whose sector
// range is 1 to 16. False when any output file could not be written whole.
// It stops where the reader fails, and writes nothing of what it was
// reading then.
bool cutKnownDisk(std::int32_t disk);

}  // namespace d88cut

#endif
