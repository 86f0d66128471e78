// The account of a disk image: the block table, the PSGMUS gathering, the
// recognition of the known disk, each file's sectors as read, and the one
// rule for its state and its words.
#include "known/account.h"

#include <cstdio>
#include <cerrno>
#include <cstring>

#include "text/messages.h"

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

constexpr std::int32_t kGatherLength = (kGatherLastTrack - kGatherFirstTrack) * kSectorSize;

// Bytes 1 to 16 of the known disk's boot sector: five letters, eight blanks
// and "Sys". No terminator takes part in the comparison.
constexpr char kDiskSignature[] = "VORLU        Sys";
constexpr std::int32_t kSignatureSize = 16;
static_assert(sizeof kDiskSignature == kSignatureSize + 1, "the signature is 16 bytes");
// Byte 0 of the boot sector takes no part; the signature follows it.
constexpr std::int32_t kSignatureOffset = 1;
constexpr std::int32_t kBootTrack = 0;
constexpr std::int32_t kBootSector = 1;
// Room for the identities of a track's first 64 records, where a boot
// sector of another size is looked for: more than any real track holds.
constexpr std::int32_t kBootIdsSize = 64 * 4;

// Where the words about a file name sectors one by one, the rest counted.
constexpr std::int32_t kGapsNamed = 4;

// Each file has a place of its own in the transfer buffer, in file order,
// so that all sixteen stand whole at once.
struct FilePlaces {
    std::int32_t offset[kFileCount];
    std::int32_t end;
    std::int32_t sectors;
};

constexpr FilePlaces placeFiles() {
    FilePlaces places = {};
    std::int32_t at = 0;
    for (std::int32_t i = 0; i < kBlockCount; ++i) {
        places.offset[i] = at;
        at += kBlockTable[i].size;
        places.sectors += kBlockTable[i].size / kSectorSize;
    }
    places.offset[kBlockCount] = at;
    places.end = at + kGatherLength;
    places.sectors += kGatherSlots;
    return places;
}

constexpr FilePlaces kPlaces = placeFiles();

constexpr bool tableFitsTheBuffer() {
    for (std::int32_t i = 0; i < kBlockCount; ++i) {
        const BlockEntry& block = kBlockTable[i];
        if (block.track <= 0 || block.size <= 0 || block.size % kSectorSize != 0) return false;
    }
    return kBlockTable[kBlockCount].track == 0;
}
static_assert(tableFitsTheBuffer(), "every block is whole sectors, and the end row ends the table");
static_assert(kPlaces.end <= kTransferBufferSize, "the sixteen files fit in the transfer buffer");
static_assert(kPlaces.sectors == kFileSectors, "a note for every sector a file covers");
static_assert(kPlaces.end == kFileBytes, "the files' bytes follow each other");
// 65 tracks less the one passed over: the slots fill exactly what is written.
static_assert((kGatherLastTrack - kGatherFirstTrack + 1 - 1) * kSectorSize == kGatherLength,
              "one slot per gathered track");
static_assert(kGatherSlots * kSectorSize == kGatherLength, "64 slots");

DiskAccount account;

// Reads the boot sector into the transfer buffer and copies it in: the
// known disk's (size code 1), or, where there is none, one of another size.
void readBootSector(BootSector& boot) {
    boot = BootSector();
    const d88::SectorRead read = reader.readSectorCopy(
        kBootTrack, 0, 0, kBootSector, kSizeCode, transferBuffer, kSectorSize, d88::Copy::kFirst);
    boot.bytes = read.got;
    if (read.found) {
        boot.found = true;
        boot.sizeCode = kSizeCode;
    } else {
        // Another size (128-byte FM sectors, 1024-byte ones of a 2HD disk):
        // the size code of the first record of that number on the track.
        std::uint8_t ids[kBootIdsSize];
        const std::int32_t listed = reader.readTrackIds(kBootTrack, ids, kBootIdsSize);
        for (std::int32_t i = 0; i + 4 <= listed; i += 4) {
            if (ids[i] == 0 && ids[i + 1] == 0 && ids[i + 2] == kBootSector) {
                boot.found = true;
                boot.sizeCode = ids[i + 3];
                boot.bytes = reader.readSector(kBootTrack, 0, 0, kBootSector, boot.sizeCode,
                                               transferBuffer, kSectorSize);
                break;
            }
        }
    }
    std::memcpy(boot.data, transferBuffer, static_cast<std::size_t>(boot.bytes));
}

// True when the boot sector carries the signature. It must be the known
// disk's size and long enough to hold the signature.
bool isKnownDisk(const BootSector& boot) {
    return boot.found && boot.sizeCode == kSizeCode &&
           boot.bytes >= kSignatureOffset + kSignatureSize &&
           std::memcmp(boot.data + kSignatureOffset, kDiskSignature, kSignatureSize) == 0;
}

// Reads one sector of a file into its place, `out`, which is zero: the
// clean copy where the track holds more than one.
bool readNote(SectorNote& note, std::int32_t track, std::int32_t c, std::int32_t h, std::int32_t r,
              std::uint8_t* out) {
    const d88::SectorRead read =
        reader.readSectorCopy(track, c, h, r, kSizeCode, out, kSectorSize, d88::Copy::kClean);
    // A found sector has C, H and R below 256.
    note.track = track;
    note.c = static_cast<std::uint8_t>(c);
    note.h = static_cast<std::uint8_t>(h);
    note.r = static_cast<std::uint8_t>(r);
    note.found = read.got;
    note.dataOffset = read.found ? read.dataOffset : -1;
    note.status = read.status;
    note.deleted = read.deleted;
    note.flagged = read.got > 0 && read.flagged();
    // What the reader stopped in is no part of the file.
    return reader.failure() == d88::ReadFailure::kNone;
}

// A block: its run, sector by sector as the reader steps, each sector to
// its place, past any that is missing or short. A block whose first sector
// is missing or short is not cut, and is read no further.
bool readBlock(DiskAccount& disk, FileAccount& file, const BlockEntry& block, std::uint8_t* out) {
    std::int32_t track = block.track;
    std::int32_t c = track / 2;
    std::int32_t h = track % 2;
    std::int32_t r = block.sector;
    for (std::int32_t k = 0; k < block.size / kSectorSize; ++k) {
        SectorNote& note = disk.sectors[file.firstSector + k];
        if (!readNote(note, track, c, h, r, out + k * kSectorSize)) return false;
        ++file.sectorCount;
        if (k == 0 && note.found < kSectorSize) break;
        reader.stepRun(track, c, h, r);
    }
    return true;
}

// PSGMUS: sector 17 of each gathered track, a slot each; a slot whose
// sector is missing stays zero and later slots keep their places.
bool readGathered(DiskAccount& disk, FileAccount& file, std::uint8_t* out) {
    std::int32_t slot = 0;
    for (std::int32_t t = kGatherFirstTrack; t <= kGatherLastTrack; ++t) {
        if (t == kGatherSkippedTrack) continue;
        SectorNote& note = disk.sectors[file.firstSector + slot];
        if (!readNote(note, t, t / 2, t % 2, kGatherSector, out + kSectorSize * slot)) {
            return false;
        }
        ++slot;
        ++file.sectorCount;
    }
    return true;
}

// --- the words about a file ------------------------------------------------

// "(sector 17 of tracks 10 to 74, but 56)": where the PSGMUS slots lie.
struct SlotPlace {};

void put(LineWriter& line, SlotPlace) {
    putAll(line, "(sector ", kGatherSector, " of tracks ", kGatherFirstTrack, " to ",
           kGatherLastTrack, ", but ", kGatherSkippedTrack, ")");
}

// "track 3 sector 5 missing, track 3 sector 9 short (128 of 256 bytes),
// and 2 more": the missing and short sectors, the first few by name; with
// `sizes`, how much of a short one was found.
struct GapList {
    const DiskAccount& disk;
    const FileAccount& file;
    bool sizes;
};

void put(LineWriter& line, const GapList& list) {
    const FileAccount& file = list.file;
    std::int32_t named = 0;
    for (std::int32_t k = 0; k < file.sectorCount; ++k) {
        const SectorNote& note = sectorOf(list.disk, file, k);
        if (note.found >= kSectorSize) continue;
        if (named == kGapsNamed) {
            putAll(line, ", and ", file.missing + file.shorter - named, " more");
            return;
        }
        putAll(line, named == 0 ? "" : ", ", "track ", note.track, " sector ", note.r,
               note.found == 0 ? " missing" : " short");
        if (list.sizes && note.found > 0) {
            putAll(line, " (", note.found, " of ", kSectorSize, " bytes)");
        }
        ++named;
    }
}

// "track 79 sector 2: a data CRC error, and 2 more": the listing's words
// for the flagged sectors.
struct FlaggedList {
    const SectorNote& first;
    std::int32_t count;
};

void put(LineWriter& line, const FlaggedList& list) {
    char other[32];
    putAll(line, "track ", list.first.track, " sector ", list.first.r, ": ",
           troubleOf(list.first, other));
    if (list.count > 1) putAll(line, ", and ", list.count - 1, " more");
}

// The cut's words for them: the bytes are written as recorded, and the
// user is told which are doubtful.
struct FlaggedLine {
    const SectorNote& first;
    std::int32_t count;
};

void put(LineWriter& line, const FlaggedLine& flagged) {
    char other[32];
    putAll(line, "sector ", SectorPlace{flagged.first}, " is recorded with ",
           troubleOf(flagged.first, other));
    if (flagged.count == 1) {
        put(line, "; its bytes are written as recorded");
    } else {
        putAll(line, ", and ", flagged.count - 1,
               " more of its sectors with errors or deleted-data marks; their bytes are "
               "written as recorded");
    }
}

// The listing's last column.
struct Where {
    const DiskAccount& disk;
    const FileAccount& file;
};

void put(LineWriter& line, const Where& where) {
    const FileAccount& file = where.file;
    const bool gaps = file.missing + file.shorter > 0;
    if (gaps) put(line, GapList{where.disk, file, false});
    if (file.flagged > 0 && file.state != FileState::kMissing) {
        putAll(line, gaps ? "; " : "",
               FlaggedList{where.disk.sectors[file.firstFlagged], file.flagged});
    }
}

// The line the cut says, after "d88cut: IMAGE: ".
struct Said {
    const DiskAccount& disk;
    const FileAccount& file;
};

void put(LineWriter& line, const Said& said) {
    const FileAccount& file = said.file;
    const std::int32_t gaps = file.missing + file.shorter;
    if (file.state == FileState::kWhole) return;
    put(line, file.name);
    if (file.state == FileState::kMissing) {
        putAll(line, ": not cut: its first sector ", SectorPlace{sectorOf(said.disk, file, 0)},
               " is missing or short");
        return;
    }
    if (gaps > 0) {
        putAll(line, ": ", gaps, " of its ", file.sectorCount, " sectors ");
        if (file.gathered) putAll(line, SlotPlace{}, " ");
        putAll(line, gaps == 1 ? "was" : "were",
               " not found whole: ", GapList{said.disk, file, true},
               "; the bytes not found are written as zero");
    }
    if (file.flagged > 0) {
        putAll(line, gaps > 0 ? "; " : ": ",
               FlaggedLine{said.disk.sectors[file.firstFlagged], file.flagged});
    }
}

// The one rule for a file's state, then its words.
void settle(DiskAccount& disk, FileAccount& file) {
    file.firstFlagged = -1;
    for (std::int32_t k = 0; k < file.sectorCount; ++k) {
        const SectorNote& note = sectorOf(disk, file, k);
        if (note.found == 0) ++file.missing;
        if (note.found > 0 && note.found < kSectorSize) ++file.shorter;
        if (note.flagged && file.flagged++ == 0) file.firstFlagged = file.firstSector + k;
    }
    if (!file.gathered && sectorOf(disk, file, 0).found < kSectorSize) {
        file.state = FileState::kMissing;
    } else if (file.missing + file.shorter > 0) {
        file.state = FileState::kPartial;
    } else {
        file.state = file.flagged > 0 ? FileState::kFlagged : FileState::kWhole;
    }
    render(file.where, Where{disk, file});
    render(file.said, Said{disk, file});
}

// The sixteen files of the known disk, each in its place in the transfer
// buffer; it stops where the reader does, with that file not accounted.
void accountFiles(DiskAccount& disk) {
    std::int32_t next = 0;
    for (std::int32_t i = 0; i < kFileCount; ++i) {
        FileAccount& file = disk.files[i];
        std::uint8_t* out = transferBuffer + kPlaces.offset[i];
        file = FileAccount();
        file.gathered = i == kBlockCount;
        file.name = file.gathered ? kGatherName : kBlockTable[i].name;
        file.size = file.gathered ? kGatherLength : kBlockTable[i].size;
        file.bytes = out;
        file.firstSector = next;
        std::memset(out, 0, static_cast<std::size_t>(file.size));
        const bool read = file.gathered ? readGathered(disk, file, out)
                                        : readBlock(disk, file, kBlockTable[i], out);
        if (!read) return;
        next += file.sectorCount;
        settle(disk, file);
        disk.filesRead = i + 1;
    }
}

}  // namespace

void put(LineWriter& line, const SectorPlace& place) {
    putAll(line, "(track ", place.note.track, ", C ", place.note.c, ", H ", place.note.h, ", R ",
           place.note.r, ")");
}

const char* stateWord(FileState state) {
    switch (state) {
        case FileState::kWhole: return "whole";
        case FileState::kFlagged: return "flagged";
        case FileState::kPartial: return "partial";
        case FileState::kMissing: break;
    }
    return "missing";
}

const DiskAccount& accountDisk(std::int32_t index, Depth depth) {
    DiskAccount& disk = account;
    disk.number = index + 1;
    disk.selected = false;
    disk.known = false;
    disk.filesRead = 0;
    disk.boot = BootSector();
    disk.offset = reader.diskOffsetAt(index);
    disk.size = reader.diskSizeAt(index);
    disk.plausible = reader.plausibleAt(index);
    disk.runsPastEnd = disk.size > 0 && disk.offset + disk.size > reader.fileSize();
    disk.mediaType = -1;
    std::memset(disk.name, 0, sizeof disk.name);
    if (!reader.selectDisk(index)) return disk;
    disk.selected = true;
    reader.setSectorRange(kFirstSector, kLastSector);
    disk.mediaType = reader.mediaType();
    std::memcpy(disk.name, reader.diskName(), sizeof disk.name);
    readBootSector(disk.boot);
    disk.known = isKnownDisk(disk.boot);
    if (disk.known && depth == Depth::kFiles) accountFiles(disk);
    return disk;
}

std::int32_t disksRead(std::int32_t& distinct) {
    std::int32_t count = 0;
    while (count < reader.diskCount() &&
           (reader.plausibleAt(count) || accountDisk(count, Depth::kBoot).known)) {
        ++count;
    }
    const std::int32_t zeroSize = reader.zeroSizeDisk();
    distinct = zeroSize >= 0 && zeroSize < count ? zeroSize + 1 : count;
    return count;
}

void reportReaderFailure(const char* image, std::int32_t index) {
    if (reader.failure() == d88::ReadFailure::kWorkExhausted) {
        warn(Name{image}, ": stopped reading disk image ", index + 1, " of ", reader.diskCount(),
             ": it asks for more work than any real disk image needs (over ",
             static_cast<long long>(d88::kMaxRecordsWalked), " records walked or ",
             static_cast<long long>(d88::kMaxBytesRead >> 20), " MiB read)");
    } else {
        warn("cannot read ", Name{image}, ": ", std::strerror(reader.failureErrno()));
    }
}

void noteKnownDisk(FilesLeft& left, const DiskAccount& disk) {
    ++left.knownDisks;
    for (std::int32_t i = 0; i < kFileCount; ++i) {
        left.state[i] = i < disk.filesRead ? disk.files[i].state : FileState::kMissing;
    }
}

bool allWhole(const FilesLeft& left) {
    if (left.knownDisks == 0) return false;
    for (std::int32_t i = 0; i < kFileCount; ++i) {
        if (left.state[i] != FileState::kWhole) return false;
    }
    return true;
}

const char* troubleOf(const SectorNote& sector, char (&other)[32]) {
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
