// d88cut's entry routine: checks the command line, opens the image,
// recognises the known disk among its disk images by the boot-sector
// signature and runs the block pass on each one.
#include "tool/entry.h"

#include <cstdio>
#include <cstring>

#include "tool/block_pass.h"
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

// The tool's messages, byte for byte; the Japanese two in Shift_JIS.
// "ファイルをオープンできません.\n": the file cannot be opened.
constexpr char kOpenFailedMessage[] =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93"
    "\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1.\n";
// "Disk A を認識しました.\n": disk A recognised.
constexpr char kRecognisedMessage[] =
    "Disk A \x82\xF0\x94\x46\x8E\xAF\x82\xB5\x82\xDC\x82\xB5\x82\xBD.\n";

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
        warn("%s: stopped reading disk image %d of %d: it asks for more work than any "
             "real disk image needs (over %lld records walked or %lld MiB read)\n",
             image, index + 1, diskCount, static_cast<long long>(d88::kMaxRecordsWalked),
             static_cast<long long>(d88::kMaxBytesRead >> 20));
    } else {
        warn("cannot read %s: %s\n", image, std::strerror(reader.failureErrno()));
    }
}

}  // namespace

int runEntry(int argc, char** argv) {
    if (argc != 2) {
        // argv[0] may be missing when the program is started without one.
        const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : "d88cut";
        std::fprintf(stderr, "Usage: %s [d88file]\n", program);
        return 1;
    }
    const char* image = argv[1];
    if (!reader.open(image)) {
        if (reader.failure() == d88::ReadFailure::kNotSeekable) {
            std::fprintf(stderr,
                         "cannot read %s: a pipe or a device cannot be read in the order "
                         "the disk images need; give the path of a file\n",
                         image);
        } else {
            std::fputs(kOpenFailedMessage, stderr);
        }
        return 1;
    }
    const platform::FileState before = platform::stateOfStream(reader.file());
    beginOutputs(before.id);
    int status = 0;
    const std::int32_t diskCount = reader.diskCount();
    std::int32_t index = 0;
    for (; index < diskCount; ++index) {
        if (reader.selectDisk(index)) {
            reader.setSectorRange(kFirstSector, kLastSector);
            if (isKnownDisk()) {
                printProgress(kRecognisedMessage);
                // Files that could not be written change the status; missing
                // blocks do not.
                if (!runBlockPass()) status = 1;
            }
        }
        if (reader.failure() != d88::ReadFailure::kNone) break;
    }
    if (reader.failure() != d88::ReadFailure::kNone) {
        reportReaderFailure(image, index, diskCount);
        status = 1;
    } else if (platform::changedBetween(before, platform::stateOfStream(reader.file()))) {
        warn("%s: the file changed while it was read; the files cut from it may mix "
             "old and new content\n",
             image);
        status = 1;
    }
    if (!endOutputs()) status = 1;
    return status;
}

}  // namespace d88cut
