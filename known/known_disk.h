// The one disk d88cut knows: its geometry and signature, the block table and
// the PSGMUS gathering, the place of each of its sixteen files, and the one
// reader and transfer buffer every read of a run goes through.
#ifndef D88CUT_KNOWN_KNOWN_DISK_H
#define D88CUT_KNOWN_KNOWN_DISK_H

#include <cstdint>

#include "d88/d88_reader.h"

namespace d88cut {

// 340 KiB: far more than the largest block (6,400 bytes) or the gathered
// PSGMUS (16,384 bytes); kept at this size, which every file fits.
constexpr std::int32_t kTransferBufferSize = 348160;

// The known disk has 256-byte sectors (size code 1) numbered 1 to 16.
constexpr std::int32_t kSectorSize = 256;
constexpr std::int32_t kSizeCode = 1;
constexpr std::int32_t kFirstSector = 1;
constexpr std::int32_t kLastSector = 16;

// A file's name and its NUL: the longest, "OPMMUS8", has seven letters.
constexpr std::int32_t kNameSize = 8;

struct BlockEntry {
    std::int32_t track;    // track index of the block's first sector
    std::int32_t sector;   // its sector number R
    std::int32_t size;     // bytes, a whole number of 256-byte sectors
    char name[kNameSize];  // output file name
};

// Fifteen blocks, in the order a cut writes them.
constexpr std::int32_t kBlockCount = 15;
extern const BlockEntry kBlockTable[kBlockCount];

// The sixteenth file, PSGMUS, gathered from sector 17 of tracks 10 to 74
// but 56, one 256-byte slot a track: 64 slots in all.
constexpr std::int32_t kGatherFirstTrack = 10;
constexpr std::int32_t kGatherLastTrack = 74;
constexpr std::int32_t kGatherSkippedTrack = 56;
constexpr std::int32_t kGatherSector = 17;
constexpr std::int32_t kGatherSlots = 64;
constexpr std::int32_t kGatherLength = kGatherSlots * kSectorSize;

// The fifteen blocks, then PSGMUS, in the order a cut writes them.
constexpr std::int32_t kFileCount = kBlockCount + 1;
// The sectors the sixteen files cover: 147 of the blocks, 64 slots; and
// their bytes, all sixteen files' together.
constexpr std::int32_t kFileSectors = 211;
constexpr std::int32_t kFileBytes = kFileSectors * kSectorSize;

// File i of the sixteen: its name, size, whether it is the gathered one,
// and where it stands among the files' bytes and sectors, one after another
// in file order.
struct FilePlace {
    const char* name;
    std::int32_t size;
    bool gathered;
    std::int32_t offset;       // of its first byte among kFileBytes
    std::int32_t firstSector;  // of its first sector among kFileSectors
};
const FilePlace& filePlace(std::int32_t file);

enum class FileState {
    kWhole,    // every sector found at full length, none flagged
    kFlagged,  // every sector found, one or more recorded as read badly
    kPartial,  // written, but a sector is missing or short
    kMissing,  // not written: a block's first sector is missing or short
    // Of a merge: every sector whole, but dumps' clean copies of one differ.
    kContested,
};

// The word the listings show for a state.
const char* stateWord(FileState state);

// The reader of the input file: constructed before main runs; its
// destructor, run at exit, closes the file.
extern d88::D88Reader reader;
// Zero at start; every sector read passes through it, at its file's place.
extern std::uint8_t transferBuffer[kTransferBufferSize];

}  // namespace d88cut

#endif
