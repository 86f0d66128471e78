// d88cut --list and --json: what an image holds and what a cut of it would
// write, without writing anything; as lines for people, or as one JSON
// document for programs.
#ifndef D88CUT_SHOW_LISTING_H
#define D88CUT_SHOW_LISTING_H

#include <cstdint>

#include "known/account.h"
#include "known/shape.h"

namespace d88cut {

enum class ListFormat { kText, kJson };

// A listing under way.
struct Listing {
    ListFormat format = ListFormat::kText;
    // A disk is listed: a comma goes before every later one.
    bool diskListed = false;
    // --map: each known disk's map under its files (text only).
    bool map = false;
};

// Starts the listing of `image`, a file of `size` bytes (the JSON
// document's head).
void beginListing(Listing& listing, ListFormat format, const char* image, std::int64_t size,
                  d88::Format container);
// Lists a disk image and, for the known disk, the files of its account.
void listDisk(Listing& listing, const DiskAccount& disk);
// Ends the listing: the JSON document's tail, with the shape, the disk a
// cut of one disk image takes by default (`best`, 0 for none) and the run's
// exit status.
void endListing(Listing& listing, const ImageShape& shape, std::int32_t best, int status);
// The listing of a merge: a line for each dump (its number, the disk image
// in its image), then the merged files as a disk's are listed.
void listMerge(const Listing& listing, const char* const* images, const std::int32_t* disks,
               std::int32_t count, const DiskAccount& merged, int status);

}  // namespace d88cut

#endif
