// d88cut --list: what an image holds and what a cut of it would write,
// without writing anything.
#ifndef D88CUT_TOOL_LISTING_H
#define D88CUT_TOOL_LISTING_H

#include <cstddef>
#include <cstdint>

namespace d88cut {

// Lists the selected disk image, disk image `disk` (counted from 1), whose
// boot sector read gave `bootBytes` bytes into the transfer buffer: one line
// for the disk image and, when it is the known disk, one for each of the
// sixteen files. True when a cut would write all sixteen whole; false also
// when the reader stopped (see its failure).
bool listDisk(std::int32_t disk, bool known, std::int32_t bootBytes);

}  // namespace d88cut

#endif
