// The cut of a recognised disk: its sixteen files written into the output
// directory, with a line for each that falls short of whole.
#ifndef D88CUT_WRITE_CUT_H
#define D88CUT_WRITE_CUT_H

#include "known/account.h"
#include "write/output.h"

namespace d88cut {

// Cuts the files of the known disk's account, disk image `disk.number` of
// `image`, as far as they were read. False when any output file could not
// be written whole.
bool cutKnownDisk(Outputs& outputs, const char* image, const DiskAccount& disk);

}  // namespace d88cut

#endif
