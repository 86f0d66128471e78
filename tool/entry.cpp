// d88cut's entry routine: checks the command line, opens the image,
// recognises the known disk among its disk images by the boot-sector
// signature and runs the block pass on each one.
#include "tool/entry.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tool/block_pass.h"
#include "tool/messages.h"
#include "tool/output.h"
#include "tool/platform.h"
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

// What --help prints after the usage line.
constexpr char kHelp[] =
    "Cuts the blocks of one known disk out of a D88 disk-image file.\n"
    "\n"
    "Every disk image in the file whose boot sector carries the known signature\n"
    "is cut into sixteen raw files in the current directory: IPL2, IPL3, OPMDRV,\n"
    "OPMTBL, OPMMUS0 to OPMMUS8, PSGDRV, PSGTBL and PSGMUS. Each replaces a file\n"
    "of that name whole; the image itself is never written.\n"
    "Progress goes to standard output; anything short of a full cut is said on\n"
    "standard error.\n"
    "\n"
    "Exit status: 0 when every file found was written, also when no disk image\n"
    "is the known disk; 1 on a usage error, an image that cannot be opened or\n"
    "read, or an output file that could not be written.\n"
    "A file named like an option is reached as ./--help.\n";

// True when the current disk's boot sector carries the signature. The sector
// must have been found and be long enough to hold it, so that the comparison
// never sees bytes an earlier disk left in the buffer.
bool isKnownDisk() {
    const std::int32_t got =
        reader.readSector(kBootTrack, 0, 0, kBootSector, kSizeCode,
                          transferBuffer, kSectorSize);
    return got >= kSignatureOffset + kSignatureSize &&
           std::memcmp(transferBuffer + kSignatureOffset, kDiskSignature,
                       kSignatureSize) == 0;
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

}  // namespace

int runEntry(int argc, char** argv) {
    beginMessages();
    // argv[0] may be missing when the program is started without one.
    const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : "d88cut";
    if (argc != 2 || argv[1] == nullptr) {
        printUsage(stderr, program);
        return 1;
    }
    const char* image = argv[1];
    if (std::strcmp(image, "-h") == 0 || std::strcmp(image, "--help") == 0) {
        printUsage(stdout, program);
        std::fputs(kHelp, stdout);
        return endMessages() ? 0 : 1;
    }
    if (std::strcmp(image, "--version") == 0) {
        std::printf("d88cut %s\n", D88CUT_VERSION);
        return endMessages() ? 0 : 1;
    }
    if (!reader.open(image)) {
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
        endMessages();
        return 1;
    }
    int status = 0;
    if (!beginOutputs(nullptr, reader.openedState().id)) {
        reader.open(nullptr);
        endMessages();
        return 1;
    }
    std::int32_t recognised = 0;
    const std::int32_t diskCount = reader.diskCount();
    std::int32_t index = 0;
    for (; index < diskCount; ++index) {
        if (reader.selectDisk(index)) {
            reader.setSectorRange(kFirstSector, kLastSector);
            if (isKnownDisk()) {
                ++recognised;
                printRecognised();
                // Files that could not be written change the status; missing
                // blocks do not.
                if (!runBlockPass(index + 1)) status = 1;
            }
        }
        if (reader.failure() != d88::ReadFailure::kNone) break;
    }
    platform::FileState now;
    if (reader.failure() != d88::ReadFailure::kNone) {
        reportReaderFailure(image, index, diskCount);
        status = 1;
    } else if (!reader.currentState(now)) {
        warn("cannot read ", Name{image}, ": ", std::strerror(errno));
        status = 1;
    } else {
        if (platform::changedBetween(reader.openedState(), now)) {
            warn(Name{image}, ": the file changed while it was read; the files cut from it may "
                 "mix old and new content");
            status = 1;
        }
        reportWhatWasRead(image, diskCount, recognised);
    }
    if (!endMessages()) status = 1;
    return status;
}

}  // namespace d88cut
