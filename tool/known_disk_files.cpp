// The block table, the PSGMUS gathering, and the state of each file read.
#include "tool/known_disk_files.h"

#include <cstdio>
#include <cstring>

#include "tool/tool.h"

namespace d88cut {

// Fifteen blocks in output order, then an end row; the pass stops at the
// first row on track 0, so no block can begin there.
constexpr BlockEntry kBlockTable[kBlockCount + 1] = {
    {44, 11, 1024, "IPL2"},    {3, 1, 4096, "IPL3"},
    {79, 1, 2048, "OPMDRV"},   {44, 15, 256, "OPMTBL"},
    {79, 9, 2048, "OPMMUS0"},  {46, 12, 6400, "OPMMUS1"},
    {78, 8, 2048, "OPMMUS2"},  {78, 4, 1024, "OPMMUS3"},
    {75, 9, 2816, "OPMMUS4"},  {40, 1, 1792, "OPMMUS5"},
    {74, 9, 4096, "OPMMUS6"},  {74, 2, 1792, "OPMMUS7"},
    {72, 13, 5376, "OPMMUS8"}, {44, 5, 2560, "PSGDRV"},
    {44, 16, 256, "PSGTBL"},   {0, 0, 0, ""},
};

namespace {

constexpr char kGatherName[] = "PSGMUS";

constexpr std::int32_t kGatherLength =
    (kGatherLastTrack - kGatherFirstTrack) * kSectorSize;

constexpr bool tableFitsTheBuffer() {
    for (std::int32_t i = 0; i < kBlockCount; ++i) {
        const BlockEntry& block = kBlockTable[i];
        if (block.track <= 0 || block.size <= 0 || block.size > kTransferBufferSize ||
            block.size % kSectorSize != 0) {
            return false;
        }
    }
    return kBlockTable[kBlockCount].track == 0;
}
static_assert(tableFitsTheBuffer(),
              "every block is whole sectors, fits in the transfer buffer, and the end row ends "
              "the table");
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

// The one rule for a file's state.
FileState stateOf(const FileRead& read) {
    if (read.found == 0) return FileState::kMissing;
    if (read.found < read.size || read.missingSlots + read.shortSlots > 0) {
        return FileState::kPartial;
    }
    return read.flagged.count > 0 ? FileState::kFlagged : FileState::kWhole;
}

FileRead startRead(const char* name, const std::uint8_t* bytes, std::int32_t size) {
    FileRead read = {};
    read.name = name;
    read.bytes = bytes;
    read.size = size;
    return read;
}

FileRead readBlock(const BlockEntry& block) {
    FileRead read = startRead(block.name, transferBuffer, block.size);
    read.track = block.track;
    read.c = block.track / 2;
    read.h = block.track % 2;
    read.r = block.sector;
    const std::int32_t got =
        reader.readSectors(read.track, read.c, read.h, read.r, kSizeCode, transferBuffer,
                           block.size);
    // A block cut short by a failed read is not the image's doing: it is not
    // written as if it were.
    read.readerFailed = reader.failure() != d88::ReadFailure::kNone;
    addFlagged(read.flagged);
    read.found = got;
    read.stopTrack = reader.lastTrack();
    read.stopSector = reader.lastSectorNumber();
    read.stopShort = reader.lastFound();
    // Never bytes of an earlier block, the boot sector or a short sector.
    if (got > 0 && got < block.size) {
        std::memset(transferBuffer + got, 0, static_cast<std::size_t>(block.size - got));
    }
    return read;
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

}  // namespace

const char* stateWord(FileState state) {
    switch (state) {
        case FileState::kWhole: return "whole";
        case FileState::kFlagged: return "flagged";
        case FileState::kPartial: return "partial";
        case FileState::kMissing: break;
    }
    return "missing";
}

FileRead readFile(std::int32_t index) {
    FileRead read = index < kBlockCount ? readBlock(kBlockTable[index]) : readGathered();
    read.state = stateOf(read);
    return read;
}

void noteKnownDisk(FilesLeft& left, const FileState (&states)[kFileCount]) {
    ++left.knownDisks;
    for (std::int32_t i = 0; i < kFileCount; ++i) left.state[i] = states[i];
}

bool allWhole(const FilesLeft& left) {
    if (left.knownDisks == 0) return false;
    for (std::int32_t i = 0; i < kFileCount; ++i) {
        if (left.state[i] != FileState::kWhole) return false;
    }
    return true;
}

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

}  // namespace d88cut
