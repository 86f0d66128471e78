// What a file of disk images holds as a whole: which of the disk images the
// reader listed a run reads, and what the file holds beyond them.
#ifndef D88CUT_KNOWN_SHAPE_H
#define D88CUT_KNOWN_SHAPE_H

#include <cstdint>

#include "d88/d88_reader.h"

namespace d88cut {

struct ImageShape {
    // What the file is: D88, raw 2D, IMD or a compressed file.
    d88::Format format = d88::Format::kD88;
    // Where an IMD file was read only in part.
    d88::ImdStop imdStop = d88::ImdStop::kNone;
    std::int64_t imdStopOffset = 0;
    // The disk images a run reads: the first `disks` the reader listed, up
    // to the first header that can be no disk header and is not the known
    // disk either (text, or the bytes after a disk image whose size field is
    // wrong); `distinct` of them are not repeats of a header of size 0.
    std::int32_t disks = 0;
    std::int32_t distinct = 0;
    bool empty = false;               // shorter than one disk header
    bool notD88 = false;              // the first header cannot be a D88 header, or compressed
    std::int64_t trailingOffset = 0;  // bytes from here on make no disk image
    std::int64_t trailingBytes = 0;
    bool moreDisks = false;             // more than the 64 disk images read
    std::int32_t zeroSizeDisk = -1;     // a disk image of size 0, repeated
    std::int64_t unreachableDisk = -1;  // a disk header past 2 GiB, not read
};

// The shape of the file the reader has open. A known disk whose size field
// disagrees with the file (0, too small, or too large while its tracks lie
// in the file) is read by its track table from here on.
ImageShape shapeOfImage();

// Says what the file holds beyond its disk images, a line each; false when
// there is nothing to say.
bool reportShape(const char* image, const ImageShape& shape);

// "IMAGE: does not look like a D88 disk image", or what the compressed
// file is and what to do with it.
void sayNotD88(const char* image, const ImageShape& shape);

}  // namespace d88cut

#endif
