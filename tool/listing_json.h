// d88cut --json: the listing as one JSON document on standard output, for
// programs. Its fields are the manual page's contract, kept from release to
// release.
#ifndef D88CUT_TOOL_LISTING_JSON_H
#define D88CUT_TOOL_LISTING_JSON_H

#include "tool/listing.h"

namespace d88cut {

void beginJson(const char* image);
void listDiskJson(const DiskAccount& disk);
void endJson(const ImageShape& shape, int status);

}  // namespace d88cut

#endif
