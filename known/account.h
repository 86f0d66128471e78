// An image's account of one disk image: its header, its boot sector and,
// for the known disk, each of its sixteen files: its bytes, its state, the
// sectors it covers as they were read and what the tool says of it. An
// account is a value: it owns its bytes, copied out of the transfer buffer as
// the disk image is read, so that a run can hold several at once and none
// changes when another is read. The cut writes from it and the listings
// print it; what a file's state is, and where it falls short, is decided
// here alone.
#ifndef D88CUT_KNOWN_ACCOUNT_H
#define D88CUT_KNOWN_ACCOUNT_H

#include <cstddef>
#include <cstdint>

#include "d88/d88_reader.h"
#include "known/known_disk.h"

namespace d88cut {

// What stands where the boot sector is looked for (track 0, C 0, H 0, R 1):
// the known disk's size, or where there is none, one of another size.
struct BootSector {
    bool found = false;
    std::int32_t sizeCode = 0;  // N of the sector found
    std::int32_t bytes = 0;     // its bytes that were read, at most 256
    std::uint8_t data[kSectorSize] = {};
};

// The map of a known disk (disk_map.h): sectors 1 to 17 of tracks 0 to 79.
constexpr std::int32_t kMapTracks = 80;
constexpr std::int32_t kMapSectors = 17;

// The most dumps a merge takes: a bit each in SectorNote::differ.
constexpr std::int32_t kMaxDumps = 16;

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
    // An IMD record of one fill byte, at dataOffset, its type byte before it.
    bool compressed;
    // The dump whose copy was taken (from 1; 0: none holds the sector), and
    // of a merge, the dumps whose clean copies differ from it (bit k - 1
    // for dump k): a sector contested.
    std::uint8_t from;
    std::uint16_t differ;
};

// The room of the words about a file: four sectors named and the rest
// counted fit in far less.
constexpr std::size_t kWhereSize = 256;
constexpr std::size_t kSaidSize = 512;

struct FileAccount {
    const char* name;
    std::int32_t size;
    bool gathered;  // PSGMUS: one sector 17 a track
    FileState state;
    // Its sectors in the disk's account, in file order; a block whose first
    // sector is missing or short has only that one.
    std::int32_t firstSector;
    std::int32_t sectorCount;
    std::int32_t missing;       // of them missing
    std::int32_t shorter;       // of them short
    std::int32_t flagged;       // of them flagged
    std::int32_t contested;     // of them contested
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
    // Its name: a D88 header's name field, an IMD file's header text.
    char name[d88::kMaxNameSize + 1];
    d88::Format format;
    // Its size field and track table can be a disk header's; a known disk
    // whose are not is cut all the same.
    bool plausible;
    bool runsPastEnd;  // its size runs past the end of the file
    // Its size field disagrees with the file, and it was read by its track
    // table instead, up to `end`.
    bool followed;
    std::int64_t end;
    // The records whose data-size field was not taken, and the first.
    std::int32_t stepFixes;
    d88::StepFix firstFix;
    BootSector boot;
    bool known;
    // Files accounted, in file order: all of the known disk's, fewer where
    // the reader stopped (see its failure).
    std::int32_t filesRead;
    FileAccount files[kFileCount];
    SectorNote sectors[kFileSectors];
    // The bytes a cut writes of each file, one after another in file order.
    std::uint8_t bytes[kFileBytes];
    // Its map, where --map asks for one.
    char map[kMapTracks][kMapSectors];
};

enum class Depth {
    kBoot,   // the header and the boot sector
    kFiles,  // and the known disk's files
    // And every sector of a block whose first is missing or short, which a
    // cut does not read: for a merge, where another dump may hold it.
    kEvery,
};

// Takes into `disk` the account of disk image `index` (from 0) of the file
// the reader has open, read `depth` deep. Nothing of `disk` is left from
// before.
void takeAccount(DiskAccount& disk, std::int32_t index, Depth depth);

// True when the boot sector of disk image `index` carries the signature;
// with `toFileEnd`, also where its size field leaves the boot sector out.
bool knownDiskAt(std::int32_t index, bool toFileEnd = false);

// True when every file of a known disk's account was read and is whole.
bool allWhole(const DiskAccount& disk);

// The one rule for a file's state, then its words: after its sectors are
// noted.
void settle(DiskAccount& disk, FileAccount& file);

inline const SectorNote& sectorOf(const DiskAccount& disk, const FileAccount& file,
                                  std::int32_t k) {
    return disk.sectors[file.firstSector + k];
}

// The `size` bytes a cut writes of file `file`.
inline const std::uint8_t* bytesOf(const DiskAccount& disk, std::int32_t file) {
    return disk.bytes + filePlace(file).offset;
}

// Says once, on standard error, why the reader stopped reading `image`, in
// disk image `index` (from 0) of those it listed.
void reportReaderFailure(const char* image, std::int32_t index);

}  // namespace d88cut

#endif
