// d88cut --list and --json: what an image holds and what a cut of it would
// write, without writing anything; as lines for people, or as one JSON
// document for programs.
#ifndef D88CUT_SHOW_LISTING_H
#define D88CUT_SHOW_LISTING_H

#include <cstddef>
#include <cstdint>

#include "known/account.h"

namespace d88cut {

// What a run says of the file's shape beyond its disk images.
struct ImageShape {
    bool empty = false;               // shorter than one disk header
    bool notD88 = false;              // the first header cannot be a D88 header
    std::int64_t trailingOffset = 0;  // bytes from here on make no disk image
    std::int64_t trailingBytes = 0;
    bool moreDisks = false;             // more than the 64 disk images read
    std::int32_t zeroSizeDisk = -1;     // a disk image of size 0, repeated
    std::int64_t unreachableDisk = -1;  // a disk header past 2 GiB, not read
};

enum class ListFormat { kText, kJson };

// Starts the listing of `image` (the JSON document's head).
void beginListing(ListFormat format, const char* image);
// Lists a disk image and, for the known disk, the files of its account.
void listDisk(const DiskAccount& disk);
// Ends the listing (the JSON document's tail, with the shape and the run's
// exit status).
void endListing(const ImageShape& shape, int status);

// The CRC-32 of zlib, PNG and gzip (reflected polynomial 0xEDB88320), as 8
// hex digits, or "-" for a file a cut does not write.
void crcText(const FileAccount& file, char (&out)[9]);
// The media-type byte in words (2D, 2DD, 2HD, 1D, 1DD, or 0xNN).
const char* mediaOf(std::int32_t type, char (&other)[8]);
// The boot sector's bytes 1 to 16, where the signature would be, as many of
// them as it has.
std::size_t bootTextLength(const BootSector& boot);

}  // namespace d88cut

#endif
