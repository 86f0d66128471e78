// The disk images a run reads, and the lines about the rest of the file.
#include "known/shape.h"

#include "known/account.h"
#include "text/messages.h"

namespace d88cut {

ImageShape shapeOfImage() {
    ImageShape shape;
    std::int32_t& count = shape.disks;
    while (count < reader.diskCount() && (reader.plausibleAt(count) || knownDiskAt(count))) {
        ++count;
    }
    const std::int32_t zeroSize = reader.zeroSizeDisk();
    shape.distinct = zeroSize >= 0 && zeroSize < count ? zeroSize + 1 : count;
    shape.empty = reader.diskCount() == 0;
    if (count < reader.diskCount()) {
        // What is read ends at a header that cannot be one.
        const std::int64_t end = reader.diskOffsetAt(count);
        shape.notD88 = count == 0;
        if (count > 0) {
            shape.trailingOffset = end;
            shape.trailingBytes = reader.fileSize() - end;
        }
    } else {
        // A file shorter than one header is said as such, not as bytes after.
        if (reader.trailingOffset() > 0) {
            shape.trailingOffset = reader.trailingOffset();
            shape.trailingBytes = reader.trailingBytes();
        }
        shape.moreDisks = reader.moreDisksThanListed();
        shape.unreachableDisk = reader.unreachableDisk();
    }
    if (zeroSize >= 0 && zeroSize < count) shape.zeroSizeDisk = zeroSize;
    return shape;
}

void sayNotD88(const char* image) { warn(Name{image}, ": does not look like a D88 disk image"); }

bool reportShape(const char* image, const ImageShape& shape) {
    if (shape.notD88) {
        sayNotD88(image);
        return true;
    }
    bool said = false;
    if (shape.zeroSizeDisk >= 0) {
        // What repeats is one header, not disk images beyond the limit.
        warn(Name{image}, ": disk image ", shape.zeroSizeDisk + 1,
             " gives its size as 0, so the listing repeats its header up to the limit of ",
             d88::kMaxDisks, " disk images");
        said = true;
    } else if (shape.moreDisks) {
        warn(Name{image}, ": holds more than ", d88::kMaxDisks, " disk images; only the first ",
             d88::kMaxDisks, " were read");
        said = true;
    }
    if (shape.trailingBytes > 0) {
        warn(Name{image}, ": the ", shape.trailingBytes,
             shape.trailingBytes == 1 ? " byte" : " bytes", " from offset ", shape.trailingOffset,
             " on make no disk image");
        said = true;
    }
    if (shape.unreachableDisk >= 0) {
        warn(Name{image}, ": a disk image at offset ", shape.unreachableDisk,
             " begins past 2 GiB, where the offsets of the D88 layout end; it was not read");
        said = true;
    }
    return said;
}

}  // namespace d88cut
