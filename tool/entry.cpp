// d88cut's entry routine: takes the command line, opens the image,
// recognises the known disk among its disk images by the boot-sector
// signature, and cuts each one, or lists what a cut would write.
#include "tool/entry.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tool/cut.h"
#include "tool/listing.h"
#include "tool/messages.h"
#include "tool/options.h"
#include "tool/output.h"
#include "platform/platform.h"
#include "tool/tool.h"

namespace d88cut {

d88::D88Reader reader;
std::uint8_t transferBuffer[kTransferBufferSize];

namespace {

// Bytes 1 to 16 of the known disk's boot sector: five letters, eight blanks
// and "Sys". No terminator takes part in the comparison.
constexpr char kDiskSignature[] = "VORLU        Sys";
constexpr std::int32_t kSignatureSize = 16;
static_assert(sizeof kDiskSignature == kSignatureSize + 1,
              "the signature is 16 bytes");
// Byte 0 of the boot sector takes no part; the signature follows it.
constexpr std::int32_t kSignatureOffset = 1;
constexpr std::int32_t kBootTrack = 0;
constexpr std::int32_t kBootSector = 1;

// True when the current disk's boot sector carries the signature; `got`
// receives the bytes of the sector read into the transfer buffer. The
// sector must have been found and be long enough to hold the signature, so
// that the comparison never sees bytes an earlier disk left in the buffer.
bool isKnownDisk(std::int32_t& got) {
    got = reader.readSector(kBootTrack, 0, 0, kBootSector, kSizeCode, transferBuffer,
                            kSectorSize);
    return got >= kSignatureOffset + kSignatureSize &&
           std::memcmp(transferBuffer + kSignatureOffset, kDiskSignature,
                       kSignatureSize) == 0;
}

// Says why the image could not be opened.
void reportOpenFailure(const char* image) {
    if (reader.failure() == d88::ReadFailure::kNotAFile) {
        warn("cannot read ", Name{image},
             ": a pipe or a device cannot be read in the order the disk images need; give "
             "the path of a file");
    } else if (reader.failure() == d88::ReadFailure::kReadError) {
        warn("cannot read ", Name{image}, ": ", std::strerror(reader.failureErrno()));
    } else {
        warnCannotOpen();
        warn("cannot open ", Name{image}, ": ", std::strerror(reader.failureErrno()));
    }
}

// Says once why the reader stopped, with the files already written kept.
void reportReaderFailure(const char* image, std::int32_t index, std::int32_t diskCount) {
    if (reader.failure() == d88::ReadFailure::kWorkExhausted) {
        warn(Name{image}, ": stopped reading disk image ", index + 1, " of ", diskCount,
             ": it asks for more work than any real disk image needs (over ",
             static_cast<long long>(d88::kMaxRecordsWalked), " records walked or ",
             static_cast<long long>(d88::kMaxBytesRead >> 20), " MiB read)");
    } else {
        warn("cannot read ", Name{image}, ": ", std::strerror(reader.failureErrno()));
    }
}

// A file read to its end without a full cut of any disk, or with disk
// images past the listing's limit, says so; neither changes the status.
void reportWhatWasRead(const char* image, std::int32_t diskCount, std::int32_t recognised) {
    const std::int32_t zeroSize = reader.zeroSizeDisk();
    if (zeroSize >= 0 && diskCount == d88::kMaxDisks) {
        // What repeats is one header, not disk images beyond the limit.
        warn(Name{image}, ": disk image ", zeroSize + 1,
             " gives its size as 0, so the listing repeats its header up to the limit of ",
             d88::kMaxDisks, " disk images");
    } else if (reader.moreDisksThanListed()) {
        warn(Name{image}, ": holds more than ", d88::kMaxDisks, " disk images; only the first ",
             d88::kMaxDisks, " were read");
    }
    if (recognised > 0) return;
    if (diskCount == 0) {
        warn(Name{image}, ": holds no D88 disk image: it is shorter than one ",
             d88::kDiskHeaderSize, "-byte disk header");
    } else {
        warn(Name{image}, ": looked at ", diskCount, diskCount == 1 ? " disk image" : " disk images",
             "; none is the known disk");
    }
}

// The walk over the disk images of an open image, cutting or listing.
struct Walk {
    const Options& options;
    const char* image;
    int status = 0;
    // Disk images that are the known disk so far, and the last of them.
    std::int32_t recognised = 0;
    std::int32_t lastKnown = -1;
    // Listing: a known disk a cut would write whole.
    bool wholeDisk = false;
    bool outputsBegun = false;
    // The output directory could not be made or locked: nothing was cut.
    bool stopped = false;
};

// Cuts disk image `index`, the known disk; false when the run must stop.
bool cutDisk(Walk& walk, std::int32_t index) {
    // The output directory is made and locked at the first disk to cut.
    if (!walk.outputsBegun) {
        if (!beginOutputs(walk.options.directory, reader.openedState().id)) {
            walk.status = 1;
            walk.stopped = true;
            return false;
        }
        walk.outputsBegun = true;
    }
    // A header of size 0 repeats itself: the same disk image, said once.
    const bool repeated = reader.zeroSizeDisk() >= 0 && index > reader.zeroSizeDisk();
    if (walk.lastKnown >= 0 && !repeated) {
        warn(Name{walk.image}, ": disk image ", index + 1,
             " is the known disk as well; its files replace those cut from disk image ",
             walk.lastKnown + 1, " (--disk=N cuts one disk image alone)");
    }
    printRecognised();
    // Files that could not be written change the status; missing blocks do
    // not.
    if (!cutKnownDisk(index + 1)) walk.status = 1;
    return true;
}

// Visits disk image `index`; false when the run must stop.
bool visitDisk(Walk& walk, std::int32_t index) {
    if (!reader.selectDisk(index)) return true;
    reader.setSectorRange(kFirstSector, kLastSector);
    std::int32_t bootBytes = 0;
    const bool known = isKnownDisk(bootBytes);
    if (walk.options.list) {
        if (listDisk(index + 1, known, bootBytes)) walk.wholeDisk = true;
    } else if (known) {
        if (!cutDisk(walk, index)) return false;
    } else if (walk.options.disk != 0) {
        warn(Name{walk.image}, ": disk image ", index + 1,
             " is not the known disk; nothing was cut (--list shows what it holds)");
        walk.status = 1;
    }
    if (known) {
        ++walk.recognised;
        walk.lastKnown = index;
    }
    return true;
}

}  // namespace

int runEntry(int argc, char** argv) {
    beginMessages();
    // argv[0] may be missing when the program is started without one.
    const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : "d88cut";
    Options options;
    switch (parseOptions(argc, argv, options)) {
        case Command::kRun: break;
        case Command::kHelp:
            printUsage(stdout, program);
            say(kHelp);
            return endMessages() ? 0 : 1;
        case Command::kVersion:
            say("d88cut ", D88CUT_VERSION);
            return endMessages() ? 0 : 1;
        case Command::kUsageError:
            printUsage(stderr, program);
            endMessages();
            return 1;
    }
    const char* image = options.image;
    if (!reader.open(image)) {
        reportOpenFailure(image);
        endMessages();
        return 1;
    }
    Walk walk{options, image};
    const std::int32_t diskCount = reader.diskCount();
    std::int32_t first = 0;
    std::int32_t end = diskCount;
    if (options.disk != 0) {
        if (options.disk > diskCount) {
            warn(Name{image}, ": has no disk image ", options.disk, "; it holds ", diskCount,
                 diskCount == 1 ? " disk image" : " disk images");
            walk.status = 1;
            end = 0;
        } else {
            first = options.disk - 1;
            end = options.disk;
        }
    }
    std::int32_t index = first;
    for (; index < end; ++index) {
        if (!visitDisk(walk, index)) break;
        if (reader.failure() != d88::ReadFailure::kNone) break;
    }
    platform::FileState now;
    if (reader.failure() != d88::ReadFailure::kNone) {
        reportReaderFailure(image, index, diskCount);
        walk.status = 1;
    } else if (!reader.currentState(now)) {
        warn("cannot read ", Name{image}, ": ", std::strerror(errno));
        walk.status = 1;
    } else {
        if (platform::changedBetween(reader.openedState(), now)) {
            warn(Name{image}, ": the file changed while it was read; the files cut from it may "
                 "mix old and new content");
            walk.status = 1;
        }
        if (options.disk == 0 && !walk.stopped) {
            reportWhatWasRead(image, diskCount, walk.recognised);
        }
    }
    if (!endMessages()) walk.status = 1;
    // A listing says by its status whether a cut would be whole.
    if (options.list && walk.status == 0 && !walk.wholeDisk) return 2;
    return walk.status;
}

}  // namespace d88cut
