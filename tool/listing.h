// d88cut --list and --json: what an image holds and what a cut of it would
// write, without writing anything; as lines for people, or as one JSON
// document for programs.
#ifndef D88CUT_TOOL_LISTING_H
#define D88CUT_TOOL_LISTING_H

#include <cstdint>

#include "tool/known_disk_files.h"

namespace d88cut {

// What stands where the boot sector is looked for (track 0, C 0, H 0, R 1),
// its bytes at the start of the transfer buffer.
struct BootSector {
    bool found = false;
    std::int32_t sizeCode = 0;  // N of the sector found
    std::int32_t bytes = 0;     // its bytes that were read (at most 256)
};

// A disk image as the run sees it; the reader has it selected.
struct DiskView {
    std::int32_t number = 0;  // counted from 1
    bool known = false;
    BootSector boot;
    bool runsPastEnd = false;  // its size runs past the end of the file
};

// What a run says of the file's shape beyond its disk images.
struct ImageShape {
    bool notD88 = false;             // the first header cannot be a D88 header
    std::int64_t trailingOffset = 0; // bytes from here on make no disk image
    std::int64_t trailingBytes = 0;
    bool moreDisks = false;          // more than the 64 disk images read
    std::int32_t zeroSizeDisk = -1;  // a disk image of size 0, repeated
    std::int64_t unreachableDisk = -1;  // a disk header past 2 GiB, not read
};

enum class ListFormat { kText, kJson };

// Starts the listing of `image` (the JSON document's head).
void beginListing(ListFormat format, const char* image);
// Lists the selected disk image and, when it is the known disk, reads its
// sixteen files and lists them, their states in `states`. False when the
// reader stopped (see its failure).
bool listDisk(const DiskView& view, FileState (&states)[kFileCount]);
// Ends the listing (the JSON document's tail, with the shape and the run's
// exit status).
void endListing(const ImageShape& shape, int status);

// The CRC-32 of zlib, PNG and gzip (reflected polynomial 0xEDB88320), as 8
// hex digits, or "-" for a file a cut does not write.
void crcText(const FileRead& read, char (&out)[9]);
// The media-type byte in words (2D, 2DD, 2HD, 1D, 1DD, or 0xNN).
const char* mediaOf(std::int32_t type, char (&other)[8]);

}  // namespace d88cut

#endif
