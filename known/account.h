// The read model: one account of each disk image, built once as the image is
// read: its header, its boot sector, and for the known disk its sixteen
// files, each with its bytes, its state, the sectors it covers and what the
// tool says of it. The cut writes and says from the account and the two
// listings print it; what a file's state is, where it falls short and the
// words for it are decided here alone.
#ifndef D88CUT_KNOWN_ACCOUNT_H
#define D88CUT_KNOWN_ACCOUNT_H

#include <cstddef>
#include <cstdint>

#include "d88/d88_reader.h"
#include "known/known_disk.h"

namespace d88cut {

// The room of a name in the block table; every name there is at most seven
// letters.
constexpr std::int32_t kNameBufferSize = 260;

struct BlockEntry {
    std::int32_t track;          // track index of the block's first sector
    std::int32_t sector;         // its sector number R
    std::int32_t size;           // bytes, a whole number of 256-byte sectors
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
// The sectors the sixteen files cover: 147 of the blocks, 64 slots; and
// their bytes, all sixteen files' together.
constexpr std::int32_t kFileSectors = 211;
constexpr std::int32_t kFileBytes = kFileSectors * kSectorSize;

enum class FileState {
    kWhole,    // every sector found at full length, none flagged
    kFlagged,  // every sector found, one or more recorded as read badly
    kPartial,  // written, but a sector is missing or short
    kMissing,  // not written: a block's first sector is missing or short
};

// The word the listing shows for a state.
const char* stateWord(FileState state);

// What stands where the boot sector is looked for (track 0, C 0, H 0, R 1):
// the known disk's size, or where there is none, one of another size.
struct BootSector {
    bool found = false;
    std::int32_t sizeCode = 0;  // N of the sector found
    std::int32_t bytes = 0;     // its bytes that were read, at most 256
    std::uint8_t data[kSectorSize] = {};
};

// One sector a file covers, as it was read.
struct SectorNote {
    std::int32_t track;
    std::uint8_t c, h, r;
    // Its data bytes found, at most 256: 0 when it is missing, fewer when
    // it is short. Those not found are zero in the file.
    std::int32_t found;
    // Where the data of the copy taken lies in the image; -1 when none was.
    std::int64_t dataOffset;
    // The copy taken: the first recorded without an error status or a
    // deleted-data mark, or the first when every copy has one (flagged).
    std::uint8_t status;
    bool deleted;
    bool flagged;
};

// The room of the words about a file: four sectors named and the rest
// counted fit in far less.
constexpr std::size_t kWhereSize = 256;
constexpr std::size_t kSaidSize = 512;

struct FileAccount {
    const char* name;
    std::int32_t size;
    FileState state;
    const std::uint8_t* bytes;  // the `size` bytes a cut writes
    bool gathered;              // PSGMUS: one sector 17 a track
    // Its sectors in the disk's account, in file order; a block whose first
    // sector is missing or short has only that one.
    std::int32_t firstSector;
    std::int32_t sectorCount;
    std::int32_t missing;       // of them missing
    std::int32_t shorter;       // of them short
    std::int32_t flagged;       // of them flagged
    std::int32_t firstFlagged;  // index of the first in the disk's account; -1
    // The listing's words for where it falls short ("" when whole), and the
    // line a cut says of it after "d88cut: IMAGE: " ("" when none).
    char where[kWhereSize];
    char said[kSaidSize];
};

struct DiskAccount {
    std::int32_t number;  // counted from 1
    bool selected;        // its header was read; nothing else is without it
    std::int64_t offset;
    std::int32_t size;  // its size field
    std::int32_t mediaType;
    char name[d88::kDiskNameSize + 1];
    // Its size field and track table can be a disk header's; a known disk
    // whose are not is cut all the same.
    bool plausible;
    bool runsPastEnd;  // its size runs past the end of the file
    BootSector boot;
    bool known;
    // Files accounted, in file order: all of the known disk's, fewer where
    // the reader stopped (see its failure).
    std::int32_t filesRead;
    FileAccount files[kFileCount];
    SectorNote sectors[kFileSectors];
};

enum class Depth {
    kBoot,   // the header and the boot sector
    kFiles,  // and the known disk's files
};

// The account of disk image `index` (from 0), read `depth` deep. There is
// one account: the next call makes it anew.
const DiskAccount& accountDisk(std::int32_t index, Depth depth);

// The disk images a run reads: those the reader listed, up to the first
// header that can be no disk header and is not the known disk either (text,
// or the bytes after a disk image whose size field is wrong). `distinct`
// receives how many of them are not repeats of a header of size 0.
std::int32_t disksRead(std::int32_t& distinct);

inline const SectorNote& sectorOf(const DiskAccount& disk, const FileAccount& file,
                                  std::int32_t k) {
    return disk.sectors[file.firstSector + k];
}

struct LineWriter;
// "(track T, C c, H h, R r)": a sector by its track and identity, as a
// piece of a line.
struct SectorPlace {
    const SectorNote& note;
};
void put(LineWriter& line, const SectorPlace& place);

// Says once, on standard error, why the reader stopped reading `image`, in
// disk image `index` (from 0) of those it listed.
void reportReaderFailure(const char* image, std::int32_t index);

// What a run leaves, or would leave: the states of the last known disk's
// files. A later known disk's files replace an earlier one's; one it could
// not cut (missing) leaves a file that is not of that disk, which is not a
// whole cut either.
struct FilesLeft {
    std::int32_t knownDisks = 0;
    FileState state[kFileCount] = {};
};

// Takes in the states of a known disk's files; those not read are missing.
void noteKnownDisk(FilesLeft& left, const DiskAccount& disk);
// True when a known disk was read and every file it leaves is whole.
bool allWhole(const FilesLeft& left);

// A flagged sector's trouble in words ("a data CRC error"); `other` holds
// the words for a status without a name.
const char* troubleOf(const SectorNote& sector, char (&other)[32]);

}  // namespace d88cut

#endif
