// The block table, the reading and writing of the block files and the
// PSGMUS gathering.
#include "tool/block_pass.h"

#include <cstdio>
#include <cstring>

#include "tool/messages.h"
#include "tool/output.h"
#include "tool/tool.h"

namespace d88cut {

// Fifteen blocks in output order, then an end row; the pass stops at the
// first row on track 0, so no block can begin there.
constexpr BlockEntry kBlockTable[16] = {
    {44, 11, 1024, "IPL2"},    {3, 1, 4096, "IPL3"},
    {79, 1, 2048, "OPMDRV"},   {44, 15, 256, "OPMTBL"},
    {79, 9, 2048, "OPMMUS0"},  {46, 12, 6400, "OPMMUS1"},
    {78, 8, 2048, "OPMMUS2"},  {78, 4, 1024, "OPMMUS3"},
    {75, 9, 2816, "OPMMUS4"},  {40, 1, 1792, "OPMMUS5"},
    {74, 9, 4096, "OPMMUS6"},  {74, 2, 1792, "OPMMUS7"},
    {72, 13, 5376, "OPMMUS8"}, {44, 5, 2560, "PSGDRV"},
    {44, 16, 256, "PSGTBL"},   {0, 0, 0, ""},
};

const char kGatherName[] = "PSGMUS";

namespace {

// PSGMUS: sector 17 of tracks 10 to 74, one 256-byte slot each, but for
// track 56, which is passed over; 64 slots in all.
constexpr std::int32_t kGatherFirstTrack = 10;
constexpr std::int32_t kGatherLastTrack = 74;
constexpr std::int32_t kGatherSkippedTrack = 56;
constexpr std::int32_t kGatherSector = 17;
constexpr std::int32_t kGatherLength =
    (kGatherLastTrack - kGatherFirstTrack) * kSectorSize;

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
static_assert(kGatherSlots * kSectorSize == kGatherLength, "64 slots");
static_assert(kGatherLength <= kTransferBufferSize,
              "the gathered slots fit in the transfer buffer");

// Takes in the flagged sectors of the reader's last read.
void addFlagged(Flagged& flagged) {
    if (reader.flaggedCount() == 0) return;
    if (flagged.count == 0) flagged.first = reader.firstFlagged();
    flagged.count += reader.flaggedCount();
}

// The bytes are written as recorded; the user is told which are doubtful.
void reportFlagged(const char* name, const Flagged& flagged) {
    if (flagged.count == 0) return;
    const d88::FlaggedSector& s = flagged.first;
    char other[32];
    const char* trouble = troubleOf(s, other);
    if (flagged.count == 1) {
        warn(name, ": sector (track ", s.track, ", C ", s.c, ", H ", s.h, ", R ", s.r,
             ") is recorded with ", trouble, "; its bytes are written as recorded");
    } else {
        warn(name, ": sector (track ", s.track, ", C ", s.c, ", H ", s.h, ", R ", s.r,
             ") is recorded with ", trouble, ", and ", flagged.count - 1,
             " more of its sectors with errors or deleted-data marks; their bytes are "
             "written as recorded");
    }
}

FileRead startRead(const char* name, const std::uint8_t* bytes, std::int32_t size) {
    FileRead read = {};
    read.name = name;
    read.bytes = bytes;
    read.size = size;
    return read;
}

FileRead readRun(const char* name, std::int32_t track, std::int32_t c, std::int32_t h,
                 std::int32_t r, std::int32_t n, std::int32_t skip, std::int32_t size) {
    const std::int32_t wanted = skip + size;
    FileRead read = startRead(name, transferBuffer + skip, size);
    const std::int32_t got = reader.readSectors(track, c, h, r, n, transferBuffer, wanted);
    // A block cut short by a failed read is not the image's doing: it is not
    // written as if it were.
    read.readerFailed = reader.failure() != d88::ReadFailure::kNone;
    addFlagged(read.flagged);
    read.found = got > skip ? got - skip : 0;
    // The run stops at the sector after the last one found whole.
    const std::int32_t step = 128 << (n < 0 || n > d88::kMaxSizeCode ? 0 : n);
    const std::int32_t position = (r - kFirstSector) + got / step;
    const std::int32_t perTrack = kLastSector - kFirstSector + 1;
    read.stopTrack = track + position / perTrack;
    read.stopSector = kFirstSector + position % perTrack;
    read.stopShort = reader.lastFound();
    // Never bytes of an earlier block, the boot sector or a short sector.
    if (got > 0 && got < wanted) {
        std::memset(transferBuffer + got, 0, static_cast<std::size_t>(wanted - got));
    }
    return read;
}

// Writes what `read` found as the file of disk image `disk`, with a line
// for everything short of a whole file.
bool cutFile(const FileRead& read, std::int32_t disk) {
    printCutting(read.name);
    if (read.found < read.size && read.missingSlots + read.shortSlots == 0) {
        warn(read.name, ": only ", read.found, " of ", read.size,
             " bytes found, the rest written as zero");
    }
    if (read.missingSlots + read.shortSlots > 0) {
        LineWriter line = startWarning();
        put(line, read.name);
        put(line, ": ");
        put(line, read.missingSlots + read.shortSlots);
        put(line, " of its ");
        put(line, kGatherSlots);
        put(line, " slots (sector ");
        put(line, kGatherSector);
        put(line, " of tracks ");
        put(line, kGatherFirstTrack);
        put(line, " to ");
        put(line, kGatherLastTrack);
        put(line, ", but ");
        put(line, kGatherSkippedTrack);
        put(line, ") were not found whole");
        if (read.shortSlots == 0) {
            put(line, "; they are zero");
        } else {
            put(line, ": ");
            put(line, read.missingSlots);
            put(line, " missing, written as zero, and ");
            put(line, read.shortSlots);
            put(line, " short, written as found with zeros after");
        }
        endLine(line);
    }
    reportFlagged(read.name, read.flagged);
    return replaceOutput(read.name, disk, read.bytes, read.size);
}

// The line for a block that is not cut: what is there instead.
void reportNotCut(const char* name, std::int32_t track, std::int32_t c, std::int32_t h,
                  std::int32_t r, std::int32_t disk) {
    // A file of that name must not pass for one of this disk image.
    const std::int32_t from = diskWritten(name);
    LineWriter line = startWarning();
    put(line, name);
    put(line, ": not cut");
    if (from != 0) {
        put(line, " from disk image ");
        put(line, disk);
    }
    put(line, ": its first sector (track ");
    put(line, track);
    put(line, ", C ");
    put(line, c);
    put(line, ", H ");
    put(line, h);
    put(line, ", R ");
    put(line, r);
    put(line, ") is missing or short");
    if (from != 0 || outputExists(name)) {
        put(line, "; the ");
        put(line, Name{outputPath(name)});
        put(line, " here ");
        if (from != 0) {
            put(line, "was cut from disk image ");
            put(line, from);
            put(line, " of this image");
        } else {
            put(line, "was left as it was and is not from this image");
        }
    }
    endLine(line);
}

}  // namespace

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

FileRead readBlock(const BlockEntry& block) {
    return readRun(block.name, block.track, block.track / 2, block.track % 2, block.sector,
                   kSizeCode, 0, block.size);
}

FileRead readGathered() {
    FileRead read = startRead(kGatherName, transferBuffer, kGatherLength);
    std::memset(transferBuffer, 0, kGatherLength);
    std::int32_t slot = 0;
    for (std::int32_t t = kGatherFirstTrack; t <= kGatherLastTrack; ++t) {
        if (t == kGatherSkippedTrack) continue;
        // A missing sector leaves its slot zero; later slots keep their places.
        const std::int32_t got =
            reader.readSector(t, t / 2, t % 2, kGatherSector, kSizeCode,
                              transferBuffer + kSectorSize * slot, kSectorSize);
        if (got == 0) ++read.missingSlots;
        if (got > 0 && got < kSectorSize) ++read.shortSlots;
        addFlagged(read.flagged);
        ++slot;
    }
    read.found = kGatherLength;
    read.readerFailed = reader.failure() != d88::ReadFailure::kNone;
    return read;
}

BlockResult extractBlock(const char* name, std::int32_t track, std::int32_t c,
                         std::int32_t h, std::int32_t r, std::int32_t n,
                         std::int32_t skip, std::int32_t size, std::int32_t disk) {
    const FileRead read = readRun(name, track, c, h, r, n, skip, size);
    if (read.readerFailed) return BlockResult::kReaderFailed;
    if (read.found == 0) {
        reportNotCut(name, track, c, h, r, disk);
        return BlockResult::kMissing;
    }
    return cutFile(read, disk) ? BlockResult::kWritten : BlockResult::kOutputFailed;
}

bool runBlockPass(std::int32_t disk) {
    bool allWritten = true;
    for (const BlockEntry* block = kBlockTable; block->track != 0; ++block) {
        const BlockResult result =
            extractBlock(block->name, block->track, block->track / 2,
                         block->track % 2, block->sector, kSizeCode, 0, block->size, disk);
        if (result == BlockResult::kReaderFailed) return allWritten;
        if (result == BlockResult::kOutputFailed) allWritten = false;
    }
    const FileRead gathered = readGathered();
    if (gathered.readerFailed) return allWritten;
    if (!cutFile(gathered, disk)) allWritten = false;
    return allWritten;
}

}  // namespace d88cut
