// The block pass: for a recognised disk, reads the fifteen blocks of the
// block table and the gathered PSGMUS, and cuts each into a raw file in the
// output directory.
#ifndef D88CUT_TOOL_BLOCK_PASS_H
#define D88CUT_TOOL_BLOCK_PASS_H

#include <cstdint>

#include "d88/d88_reader.h"

namespace d88cut {

// Long enough for any path the tool's platforms accept.
constexpr std::int32_t kNameBufferSize = 260;

struct BlockEntry {
    std::int32_t track;   // track index of the block's first sector
    std::int32_t sector;  // its sector number R
    std::int32_t size;    // bytes, a whole number of 256-byte sectors
    char name[kNameBufferSize];  // output file name
};

// Fifteen blocks in output order, then an end row whose track is 0.
extern const BlockEntry kBlockTable[16];
// The sixteenth file, gathered from sector 17 of tracks 10 to 74 but 56.
extern const char kGatherName[];
constexpr std::int32_t kGatherSlots = 64;

// The sectors of one file that the dump recorded with an error or a
// deleted-data mark: how many, and the first.
struct Flagged {
    std::int32_t count = 0;
    d88::FlaggedSector first = {};
};

// What reading one output file's bytes into the transfer buffer found: the
// `size` bytes at `bytes` are what a cut writes.
struct FileRead {
    const char* name;
    const std::uint8_t* bytes;  // in the transfer buffer
    std::int32_t size;
    // A table block: the bytes of its run found whole before a sector was
    // missing or short (0: the first, and the file is not written), and the
    // track and sector number where the run stopped.
    std::int32_t found;
    std::int32_t stopTrack;
    std::int32_t stopSector;
    bool stopShort;  // the sector there is short, rather than missing
    // PSGMUS: slots whose sector 17 is missing (zero), or short (the bytes
    // found, zero after them).
    std::int32_t missingSlots;
    std::int32_t shortSlots;
    Flagged flagged;
    // The reader stopped (see its failure): nothing of this file is used.
    bool readerFailed;
};

// A flagged sector's trouble in words ("a data CRC error"); `other` holds
// the words for a status without a name.
const char* troubleOf(const d88::FlaggedSector& sector, char (&other)[32]);

// Reads table row `block` of the selected disk (sector range 1 to 16).
FileRead readBlock(const BlockEntry& block);
// Reads the PSGMUS slots of the selected disk.
FileRead readGathered();

enum class BlockResult {
    kMissing,       // first sector not found: no line, no file
    kWritten,       // announced and written whole
    kOutputFailed,  // announced, but the file could not be written whole
    kReaderFailed,  // the reader stopped (see its failure): no line, no file
};

// Reads skip + size bytes from sector (c, h, r, n) of `track` on into the
// transfer buffer and writes `size` of them, from offset skip, to `name`,
// as the file of disk image `disk` (counted from 1).
BlockResult extractBlock(const char* name, std::int32_t track, std::int32_t c,
                         std::int32_t h, std::int32_t r, std::int32_t n,
                         std::int32_t skip, std::int32_t size, std::int32_t disk);

// Runs on the selected disk, disk image `disk` (counted from 1), with the
// sector range set to 1 to 16. False when any output file could not be
// written whole. It stops where the reader fails, and writes nothing of
// what it was reading then.
bool runBlockPass(std::int32_t disk);

}  // namespace d88cut

#endif
