// The block table, the writing of the block files and the PSGMUS gathering.
#include "tool/block_pass.h"

#include <cstdio>
#include <cstring>

#include "tool/output.h"
#include "tool/platform.h"
#include "tool/tool.h"

namespace d88cut {

namespace {

// Fifteen blocks in output order, then an end row; the pass stops at the
// first row on track 0, so no block can begin there.
constexpr BlockEntry kBlockTable[] = {
    {44, 11, 1024, "IPL2"},    {3, 1, 4096, "IPL3"},
    {79, 1, 2048, "OPMDRV"},   {44, 15, 256, "OPMTBL"},
    {79, 9, 2048, "OPMMUS0"},  {46, 12, 6400, "OPMMUS1"},
    {78, 8, 2048, "OPMMUS2"},  {78, 4, 1024, "OPMMUS3"},
    {75, 9, 2816, "OPMMUS4"},  {40, 1, 1792, "OPMMUS5"},
    {74, 9, 4096, "OPMMUS6"},  {74, 2, 1792, "OPMMUS7"},
    {72, 13, 5376, "OPMMUS8"}, {44, 5, 2560, "PSGDRV"},
    {44, 16, 256, "PSGTBL"},   {0, 0, 0, ""},
};

// PSGMUS: sector 17 of tracks 10 to 74, one 256-byte slot each, but for
// track 56, which is passed over; 64 slots in all.
constexpr std::int32_t kGatherFirstTrack = 10;
constexpr std::int32_t kGatherLastTrack = 74;
constexpr std::int32_t kGatherSkippedTrack = 56;
constexpr std::int32_t kGatherSector = 17;
constexpr std::int32_t kGatherLength =
    (kGatherLastTrack - kGatherFirstTrack) * kSectorSize;
constexpr char kGatherName[] = "PSGMUS";
constexpr std::int32_t kGatherSlots = kGatherLength / kSectorSize;

constexpr bool tableFitsTheBuffer() {
    for (const BlockEntry& block : kBlockTable) {
        if (block.size < 0 || block.size > kTransferBufferSize ||
            block.size % kSectorSize != 0) {
            return false;
        }
    }
    return true;
}
static_assert(tableFitsTheBuffer(),
              "every block is whole sectors and fits in the transfer buffer");
// 65 tracks less the one passed over: the slots fill exactly what is written.
static_assert((kGatherLastTrack - kGatherFirstTrack + 1 - 1) * kSectorSize == kGatherLength,
              "one slot per gathered track");
static_assert(kGatherLength <= kTransferBufferSize,
              "the gathered slots fit in the transfer buffer");

// The sectors of one file that the dump recorded with an error or a
// deleted-data mark: how many, and the first.
struct Flagged {
    std::int32_t count = 0;
    d88::FlaggedSector first = {};

    // Takes in those of the reader's last read.
    void add() {
        if (reader.flaggedCount() == 0) return;
        if (count == 0) first = reader.firstFlagged();
        count += reader.flaggedCount();
    }
};

// A flagged sector's trouble, in words.
const char* troubleOf(const d88::FlaggedSector& sector, char (&other)[32]) {
    switch (sector.status) {
        case 0x00:  // a good read of a sector with a deleted-data mark
        case 0x10: return "a deleted-data mark";
        case 0xA0: return "an ID CRC error";
        case 0xB0: return "a data CRC error";
        case 0xE0: return "no address mark";
        case 0xF0: return "no data mark";
        default:
            std::snprintf(other, sizeof other, "error status 0x%02X", sector.status);
            return other;
    }
}

// The bytes are written as recorded; the user is told which are doubtful.
void reportFlagged(const char* name, const Flagged& flagged) {
    if (flagged.count == 0) return;
    const d88::FlaggedSector& s = flagged.first;
    char other[32];
    if (flagged.count == 1) {
        warn("%s: sector (track %d, C %d, H %d, R %d) is recorded with %s; its bytes are "
             "written as recorded\n",
             name, s.track, s.c, s.h, s.r, troubleOf(s, other));
    } else {
        warn("%s: sector (track %d, C %d, H %d, R %d) is recorded with %s, and %d more of "
             "its sectors with errors or deleted-data marks; their bytes are written as "
             "recorded\n",
             name, s.track, s.c, s.h, s.r, troubleOf(s, other), flagged.count - 1);
    }
}

// Fills the PSGMUS slots; returns how many were not found whole.
std::int32_t gatherPsgmus(Flagged& flagged) {
    std::memset(transferBuffer, 0, kGatherLength);
    std::int32_t slot = 0;
    std::int32_t missing = 0;
    for (std::int32_t t = kGatherFirstTrack; t <= kGatherLastTrack; ++t) {
        if (t == kGatherSkippedTrack) continue;
        // A missing sector leaves its slot zero; later slots keep their places.
        const std::int32_t got =
            reader.readSector(t, t / 2, t % 2, kGatherSector, kSizeCode,
                              transferBuffer + kSectorSize * slot, kSectorSize);
        if (got < kSectorSize) ++missing;
        flagged.add();
        ++slot;
    }
    return missing;
}

}  // namespace

BlockResult extractBlock(const char* name, std::int32_t track, std::int32_t c,
                         std::int32_t h, std::int32_t r, std::int32_t n,
                         std::int32_t skip, std::int32_t size) {
    const std::int32_t wanted = skip + size;
    const std::int32_t got =
        reader.readSectors(track, c, h, r, n, transferBuffer, wanted);
    // A block cut short by a failed read is not the image's doing: it is not
    // written as if it were.
    if (reader.failure() != d88::ReadFailure::kNone) return BlockResult::kReaderFailed;
    if (got == 0) {
        // A file of that name from an earlier cut must not pass for this one.
        const bool earlier = platform::idOfName(name).known;
        warn("%s: not cut: its first sector (track %d, C %d, H %d, R %d) is missing or "
             "short%s%s%s\n",
             name, track, c, h, r, earlier ? "; the " : "", earlier ? name : "",
             earlier ? " here was left as it was and is not from this image" : "");
        return BlockResult::kMissing;
    }
    Flagged flagged;
    flagged.add();
    printCutting(name);
    if (got < wanted) {
        // Never bytes of an earlier block, the boot sector or a short sector.
        std::memset(transferBuffer + got, 0, static_cast<std::size_t>(wanted - got));
        warn("%s: only %d of %d bytes found, the rest written as zero\n", name,
             got > skip ? got - skip : 0, size);
    }
    reportFlagged(name, flagged);
    return replaceOutput(name, transferBuffer + skip, size) ? BlockResult::kWritten
                                                         : BlockResult::kOutputFailed;
}

bool runBlockPass() {
    bool allWritten = true;
    for (const BlockEntry* block = kBlockTable; block->track != 0; ++block) {
        const BlockResult result =
            extractBlock(block->name, block->track, block->track / 2,
                         block->track % 2, block->sector, kSizeCode, 0, block->size);
        if (result == BlockResult::kReaderFailed) return allWritten;
        if (result == BlockResult::kOutputFailed) allWritten = false;
    }
    Flagged flagged;
    const std::int32_t missing = gatherPsgmus(flagged);
    if (reader.failure() != d88::ReadFailure::kNone) return allWritten;
    printCutting(kGatherName);
    if (missing > 0) {
        warn("%s: %d of its %d slots (sector %d of tracks %d to %d, but %d) were not found "
             "whole; they are zero\n",
             kGatherName, missing, kGatherSlots, kGatherSector, kGatherFirstTrack,
             kGatherLastTrack, kGatherSkippedTrack);
    }
    reportFlagged(kGatherName, flagged);
    if (!replaceOutput(kGatherName, transferBuffer, kGatherLength)) allWritten = false;
    return allWritten;
}

}  // namespace d88cut
