// The sixteen files of the known disk: where each lies on the disk, reading
// one into the transfer buffer, and what the read found. The cut writes from
// these records and the listing prints them; what a file's state is, and so
// what a run reports, is decided here alone.
#ifndef D88CUT_TOOL_KNOWN_DISK_FILES_H
#define D88CUT_TOOL_KNOWN_DISK_FILES_H

#include <cstdint>

#include "d88/d88_reader.h"

namespace d88cut {

// The room of a name in the block table; every name there is at most seven
// letters.
constexpr std::int32_t kNameBufferSize = 260;

struct BlockEntry {
    std::int32_t track;   // track index of the block's first sector
    std::int32_t sector;  // its sector number R
    std::int32_t size;    // bytes, a whole number of 256-byte sectors
    char name[kNameBufferSize];  // output file name
};

// Fifteen blocks in output order, then an end row whose track is 0.
constexpr std::int32_t kBlockCount = 15;
extern const BlockEntry kBlockTable[kBlockCount + 1];

// The sixteenth file, PSGMUS, gathered from sector 17 of tracks 10 to 74
// but 56, one 256-byte slot a track: 64 slots in all.
constexpr std::int32_t kGatherFirstTrack = 10;
constexpr std::int32_t kGatherLastTrack = 74;
constexpr std::int32_t kGatherSkippedTrack = 56;
constexpr std::int32_t kGatherSector = 17;
constexpr std::int32_t kGatherSlots = 64;

// The fifteen blocks, then PSGMUS, in the order a cut writes them.
constexpr std::int32_t kFileCount = kBlockCount + 1;

enum class FileState {
    kWhole,    // every sector found at full length, none flagged
    kFlagged,  // every sector found, one or more recorded as read badly
    kPartial,  // written, but a sector is missing or short
    kMissing,  // not written: a block's first sector is missing or short
};

// The word the listing shows for a state.
const char* stateWord(FileState state);

// The sectors of one file that the dump recorded with an error or a
// deleted-data mark: how many, and the first.
struct Flagged {
    std::int32_t count = 0;
    d88::FlaggedSector first = {};
};

// What reading one file into the transfer buffer found: the `size` bytes at
// `bytes` are what a cut writes.
struct FileRead {
    const char* name;
    const std::uint8_t* bytes;  // in the transfer buffer
    std::int32_t size;
    FileState state;
    // A block: the bytes of its run found whole before a sector was missing
    // or short, and that sector, as the reader last looked for it.
    std::int32_t found;
    std::int32_t stopTrack;
    std::int32_t stopSector;
    bool stopShort;  // the sector there is short, rather than missing
    // A block's first sector, as a cut names it when the block is missing.
    std::int32_t track, c, h, r;
    // PSGMUS: slots whose sector 17 is missing (zero), or short (the bytes
    // found, zero after them).
    std::int32_t missingSlots;
    std::int32_t shortSlots;
    Flagged flagged;
    // The reader stopped (see its failure): nothing of this file is used.
    bool readerFailed;
};

// Reads file `index` (0 to kFileCount - 1) of the selected disk, whose
// sector range is 1 to 16.
FileRead readFile(std::int32_t index);

// Reads the sixteen files in the order a cut writes them, hands each to
// `each` and puts its state in `states`. False when the reader stopped (see
// its failure): the file it was reading then is not handed on.
template <typename Each>
bool readFiles(FileState (&states)[kFileCount], Each each) {
    for (std::int32_t i = 0; i < kFileCount; ++i) {
        const FileRead read = readFile(i);
        if (read.readerFailed) return false;
        states[i] = read.state;
        each(read);
    }
    return true;
}

// What a run leaves, or would leave: the states of the last known disk's
// files. A later known disk's files replace an earlier one's; one it could
// not cut (missing) leaves a file that is not of that disk, which is not a
// whole cut either.
struct FilesLeft {
    std::int32_t knownDisks = 0;
    FileState state[kFileCount] = {};
};

// Takes in the states of the files of one known disk, in file order.
void noteKnownDisk(FilesLeft& left, const FileState (&states)[kFileCount]);
// True when a known disk was read and every file it leaves is whole.
bool allWhole(const FilesLeft& left);

// A flagged sector's trouble in words ("a data CRC error"); `other` holds
// the words for a status without a name.
const char* troubleOf(const d88::FlaggedSector& sector, char (&other)[32]);

}  // namespace d88cut

#endif
