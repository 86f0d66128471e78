// The disk images a run reads, and the lines about the rest of the file.
#include "known/shape.h"

#include "known/account.h"
#include "text/messages.h"

namespace d88cut {

namespace {

// Whether disk image `index`'s size field leads on: it ends the file or
// leads to the next plausible header.
bool sizeLeadsOn(std::int32_t index) {
    const std::int64_t size = reader.diskSizeAt(index);
    const std::int64_t end = reader.diskOffsetAt(index) + size;
    if (size < d88::kDiskHeaderSize || end > reader.fileSize()) return false;
    if (end == reader.fileSize()) return true;
    if (index + 1 == reader.diskCount()) return reader.moreDisksThanListed();
    return reader.plausibleAt(index + 1) && reader.diskOffsetAt(index + 1) == end;
}

// Whether its tracks agree with a size field that does not lead on: they
// end where it says (what follows is no disk image), or they run past the
// end of the file as it does (a download cut short).
bool tracksAgree(std::int32_t index) {
    const std::int64_t size = reader.diskSizeAt(index);
    const std::int64_t end = reader.diskOffsetAt(index) + size;
    const std::int64_t tracks = reader.tracksEndAt(index);
    if (tracks < 0) return true;
    if (size < d88::kDiskHeaderSize) return false;
    return tracks == end || (end > reader.fileSize() && tracks > reader.fileSize());
}

}  // namespace

ImageShape shapeOfImage() {
    ImageShape shape;
    shape.format = reader.format();
    shape.imdStop = reader.imdStop();
    shape.imdStopOffset = reader.imdStopOffset();
    if (shape.format == d88::Format::kGzip || shape.format == d88::Format::kZip) {
        shape.notD88 = true;
        return shape;
    }
    // The size field of the known disk is not trusted over its track table.
    // The check costs nothing where the field agrees; the boot sector is
    // read only where it does not.
    if (shape.format == d88::Format::kD88) {
        for (std::int32_t i = 0; i < reader.diskCount(); ++i) {
            if (!sizeLeadsOn(i) && knownDiskAt(i, true) && !tracksAgree(i)) {
                reader.followTrackTable(i);
            }
        }
    }
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

void sayNotD88(const char* image, const ImageShape& shape) {
    if (shape.format == d88::Format::kGzip) {
        warn(Name{image},
             ": is compressed with gzip, not a disk image: unpack it first "
             "(gunzip), then give d88cut the file it holds");
    } else if (shape.format == d88::Format::kZip) {
        warn(Name{image},
             ": is a zip archive, not a disk image: unpack it first (unzip), then "
             "give d88cut the disk image it holds");
    } else {
        warn(Name{image}, ": does not look like a D88 disk image");
    }
}

namespace {

const char* imdStopWords(d88::ImdStop stop) {
    switch (stop) {
        case d88::ImdStop::kNone: break;
        case d88::ImdStop::kCutShort: return "is cut short: the file ends inside it";
        case d88::ImdStop::kSizeTable:
            return "gives each sector's size in a table (size code 0xFF), which d88cut does not "
                   "read";
        case d88::ImdStop::kBadSizeCode: return "has a size code the IMD format does not have";
        case d88::ImdStop::kBadRecordType:
            return "has a sector record of a type the IMD format does not have";
        case d88::ImdStop::kBadTrack:
            return "gives a cylinder and head past the 164 tracks that d88cut reads";
        case d88::ImdStop::kTooManyRecords: return "brings more sectors than d88cut reads";
    }
    return "";
}

}  // namespace

bool reportShape(const char* image, const ImageShape& shape) {
    if (shape.notD88) {
        sayNotD88(image, shape);
        return true;
    }
    bool said = false;
    if (shape.imdStop != d88::ImdStop::kNone) {
        if (shape.imdStopOffset == 0) {
            warn(Name{image}, ": the IMD file's header text has no end (0x1A); no track was read");
        } else {
            warn(Name{image}, ": the IMD track at offset ", shape.imdStopOffset, " ",
                 imdStopWords(shape.imdStop), "; it and the tracks after it were not read");
        }
        said = true;
    }
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
