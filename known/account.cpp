// Taking the account of a disk image: the recognition of the known disk by
// its boot sector, each file's sectors as read, and the one rule for a
// file's state.
#include "known/account.h"

#include <cstring>

#include "known/words.h"
#include "text/messages.h"

namespace d88cut {

namespace {

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

// Reads the boot sector through the transfer buffer into `boot`: the known
// disk's (size code 1), or, where there is none, one of another size.
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
    note.compressed = read.compressed;
    note.from = read.got > 0 ? 1 : 0;
    note.differ = 0;
    // What the reader stopped in is no part of the file.
    return reader.failure() == d88::ReadFailure::kNone;
}

// A block: its run, sector by sector as the reader steps, each sector to
// its place, past any that is missing or short. A block whose first sector
// is missing or short is not cut, and is read no further.
bool readBlock(DiskAccount& disk, FileAccount& file, const BlockEntry& block, std::uint8_t* out,
               Depth depth) {
    std::int32_t track = block.track;
    std::int32_t c = track / 2;
    std::int32_t h = track % 2;
    std::int32_t r = block.sector;
    for (std::int32_t k = 0; k < block.size / kSectorSize; ++k) {
        SectorNote& note = disk.sectors[file.firstSector + k];
        if (!readNote(note, track, c, h, r, out + k * kSectorSize)) return false;
        ++file.sectorCount;
        if (k == 0 && note.found < kSectorSize && depth != Depth::kEvery) break;
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

}  // namespace

void settle(DiskAccount& disk, FileAccount& file) {
    file.firstFlagged = -1;
    for (std::int32_t k = 0; k < file.sectorCount; ++k) {
        const SectorNote& note = sectorOf(disk, file, k);
        if (note.found == 0) ++file.missing;
        if (note.found > 0 && note.found < kSectorSize) ++file.shorter;
        if (note.flagged && file.flagged++ == 0) file.firstFlagged = file.firstSector + k;
        if (note.differ != 0) ++file.contested;
    }
    if ((!file.gathered || disk.format == d88::Format::kRaw2D) &&
        sectorOf(disk, file, 0).found < kSectorSize) {
        file.state = FileState::kMissing;
    } else if (file.missing + file.shorter > 0) {
        file.state = FileState::kPartial;
    } else if (file.flagged > 0) {
        file.state = FileState::kFlagged;
    } else {
        file.state = file.contested > 0 ? FileState::kContested : FileState::kWhole;
    }
    renderWords(disk, file);
}

namespace {

// The sixteen files of the known disk, each read through its place in the
// transfer buffer, then copied into the account; it stops where the reader
// does, with that file not accounted.
void accountFiles(DiskAccount& disk, Depth depth) {
    for (std::int32_t i = 0; i < kFileCount; ++i) {
        const FilePlace& place = filePlace(i);
        FileAccount& file = disk.files[i];
        std::uint8_t* out = transferBuffer + place.offset;
        file = FileAccount();
        file.name = place.name;
        file.size = place.size;
        file.gathered = place.gathered;
        file.firstSector = place.firstSector;
        std::memset(out, 0, static_cast<std::size_t>(file.size));
        bool read = true;
        if (file.gathered && disk.format == d88::Format::kRaw2D) {
            // A raw 2D image holds sectors 1 to 16 alone: PSGMUS is not
            // there, its first slot noted as missing.
            SectorNote& note = disk.sectors[file.firstSector];
            note = SectorNote{kGatherFirstTrack,
                              kGatherFirstTrack / 2,
                              kGatherFirstTrack % 2,
                              kGatherSector,
                              0,
                              -1,
                              d88::kStatusGood,
                              false,
                              false,
                              false,
                              0,
                              0};
            file.sectorCount = 1;
        } else {
            read = file.gathered ? readGathered(disk, file, out)
                                 : readBlock(disk, file, kBlockTable[i], out, depth);
        }
        if (!read) return;
        std::memcpy(disk.bytes + place.offset, out, static_cast<std::size_t>(file.size));
        settle(disk, file);
        disk.filesRead = i + 1;
    }
}

// Selects disk image `index` for reading its sectors; false when it cannot.
bool selectForReading(std::int32_t index) {
    if (!reader.selectDisk(index)) return false;
    reader.setSectorRange(kFirstSector, kLastSector);
    return true;
}

}  // namespace

void takeAccount(DiskAccount& disk, std::int32_t index, Depth depth) {
    disk.number = index + 1;
    disk.selected = false;
    disk.known = false;
    disk.filesRead = 0;
    disk.boot = BootSector();
    disk.offset = reader.diskOffsetAt(index);
    disk.size = reader.diskSizeAt(index);
    disk.plausible = reader.plausibleAt(index);
    disk.followed = reader.followedAt(index);
    disk.end = reader.diskEndAt(index);
    disk.runsPastEnd =
        !disk.followed && disk.size > 0 && disk.offset + disk.size > reader.fileSize();
    disk.format = reader.format();
    disk.stepFixes = 0;
    disk.firstFix = d88::StepFix();
    disk.mediaType = -1;
    std::memset(disk.name, 0, sizeof disk.name);
    if (!selectForReading(index)) return;
    disk.selected = true;
    disk.mediaType = reader.mediaType();
    std::memcpy(disk.name, reader.diskName(), sizeof disk.name);
    readBootSector(disk.boot);
    disk.known = isKnownDisk(disk.boot);
    if (disk.known && depth != Depth::kBoot) accountFiles(disk, depth);
    disk.stepFixes = reader.stepFixes();
    disk.firstFix = reader.firstStepFix();
}

bool knownDiskAt(std::int32_t index, bool toFileEnd) {
    BootSector boot;
    if (!reader.selectDisk(index, toFileEnd)) return false;
    reader.setSectorRange(kFirstSector, kLastSector);
    readBootSector(boot);
    return isKnownDisk(boot);
}

bool allWhole(const DiskAccount& disk) {
    if (!disk.known || disk.filesRead < kFileCount) return false;
    for (const FileAccount& file : disk.files) {
        if (file.state != FileState::kWhole) return false;
    }
    return true;
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

}  // namespace d88cut
