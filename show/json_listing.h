// d88cut --json: the listing as one JSON document on standard output, for
// programs, written piece by piece as the disk images are read. Its fields
// are the manual page's contract, kept from release to release.
#ifndef D88CUT_SHOW_JSON_LISTING_H
#define D88CUT_SHOW_JSON_LISTING_H

#include <cstdint>

#include "known/account.h"
#include "known/shape.h"

namespace d88cut {

void beginJson(const char* image, std::int64_t size, d88::Format format);
// `first`: no disk was listed before this one.
void listDiskJson(const DiskAccount& disk, bool first);
void endJson(const ImageShape& shape, std::int32_t best, int status);
// The document of a merge: the dumps, and the merged disk as its one disk.
void listMergeJson(const char* const* images, const std::int32_t* disks, std::int32_t count,
                   const DiskAccount& merged, int status);

}  // namespace d88cut

#endif
