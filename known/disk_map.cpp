// Filling a known disk's map, from the files' sectors as the account notes
// them and, beyond them, from what the tracks hold.
#include "known/disk_map.h"

namespace d88cut {

namespace {

// Which file covers sector r of track t, and where in it: file * 256 + k,
// or -1. PSGDRV and IPL2 share sectors; the first file in file order names
// them.
struct Cover {
    std::int16_t at[kMapTracks][kMapSectors];
};

Cover coverOfFiles() {
    Cover cover;
    for (auto& row : cover.at) {
        for (std::int16_t& cell : row) cell = -1;
    }
    for (std::int32_t i = 0; i < kFileCount; ++i) {
        const FilePlace& place = filePlace(i);
        std::int32_t track = place.gathered ? kGatherFirstTrack : kBlockTable[i].track;
        std::int32_t r = place.gathered ? kGatherSector : kBlockTable[i].sector;
        for (std::int32_t k = 0; k < place.size / kSectorSize; ++k) {
            if (track < kMapTracks && cover.at[track][r - 1] < 0) {
                cover.at[track][r - 1] = static_cast<std::int16_t>(i * 256 + k);
            }
            // As a cut steps: a block across sectors 1 to 16 of each track,
            // PSGMUS's slots down the tracks but one.
            if (place.gathered) {
                track += track + 1 == kGatherSkippedTrack ? 2 : 1;
            } else if (r == kLastSector) {
                ++track;
                r = kFirstSector;
            } else {
                ++r;
            }
        }
    }
    return cover;
}

char charOf(const SectorNote& note) {
    if (note.found == 0) return kMapMissing;
    if (note.found < kSectorSize) return kMapShort;
    if (note.flagged) return kMapFlagged;
    return note.differ != 0 ? kMapContested : kMapWhole;
}

// The better of two characters of one sector in different dumps.
int rankOf(char c) {
    switch (c) {
        case kMapWhole: return 4;
        case kMapFlagged: return 3;
        case kMapShort: return 2;
        case kMapMissing: return 1;
        default: return 0;
    }
}

// The note of sector k of `file`, where the account holds one.
const SectorNote* noted(const DiskAccount& disk, std::int32_t file, std::int32_t k) {
    const FileAccount& f = disk.files[file];
    return file < disk.filesRead && k < f.sectorCount ? &sectorOf(disk, f, k) : nullptr;
}

}  // namespace

void mapAccount(DiskAccount& disk) {
    const Cover cover = coverOfFiles();
    for (std::int32_t t = 0; t < kMapTracks; ++t) {
        for (std::int32_t r = 1; r <= kMapSectors; ++r) {
            const std::int16_t at = cover.at[t][r - 1];
            const SectorNote* note = at < 0 ? nullptr : noted(disk, at / 256, at % 256);
            if (note != nullptr) {
                disk.map[t][r - 1] = charOf(*note);
                continue;
            }
            const d88::SectorRead read = reader.readSectorCopy(
                t, t / 2, t % 2, r, kSizeCode, transferBuffer, kSectorSize, d88::Copy::kClean);
            if (at < 0) {
                disk.map[t][r - 1] = read.found ? kMapOther : kMapNone;
            } else {
                SectorNote unread = {};
                unread.found = read.got;
                unread.flagged = read.got > 0 && read.flagged();
                disk.map[t][r - 1] = charOf(unread);
            }
        }
    }
}

void mapMerge(const DiskAccount* const* dumps, std::int32_t count, DiskAccount& merged) {
    const Cover cover = coverOfFiles();
    for (std::int32_t t = 0; t < kMapTracks; ++t) {
        for (std::int32_t r = 1; r <= kMapSectors; ++r) {
            const std::int16_t at = cover.at[t][r - 1];
            const SectorNote* note = at < 0 ? nullptr : noted(merged, at / 256, at % 256);
            char& cell = merged.map[t][r - 1];
            if (note != nullptr) {
                cell = charOf(*note);
                continue;
            }
            // Unread in the merge, or no file's: the best any dump shows.
            cell = at < 0 ? kMapNone : kMapMissing;
            for (std::int32_t d = 0; d < count; ++d) {
                const char seen = dumps[d]->map[t][r - 1];
                if (at < 0 && seen == kMapOther) cell = kMapOther;
                if (at >= 0 && rankOf(seen) > rankOf(cell)) cell = seen;
            }
        }
    }
}

}  // namespace d88cut
