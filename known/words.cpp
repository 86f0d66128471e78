// The words about a file: its gaps and flagged sectors, named the first few
// and the rest counted, for the listing's last column and the cut's line.
#include "known/words.h"

#include <cstdio>

namespace d88cut {

namespace {

// Where the words about a file name sectors one by one, the rest counted.
constexpr std::int32_t kGapsNamed = 4;

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

// "track 78 sector 4 (dumps 2, 3 differ from dump 1), and 2 more": the
// contested sectors of a merge, the first few by name.
struct ContestedList {
    const DiskAccount& disk;
    const FileAccount& file;
};

void put(LineWriter& line, const ContestedList& list) {
    std::int32_t named = 0;
    for (std::int32_t k = 0; k < list.file.sectorCount; ++k) {
        const SectorNote& note = sectorOf(list.disk, list.file, k);
        if (note.differ == 0) continue;
        if (named == kGapsNamed) {
            putAll(line, ", and ", list.file.contested - named, " more");
            return;
        }
        putAll(line, named == 0 ? "" : ", ", "track ", note.track, " sector ", note.r, " (dump");
        std::int32_t differing = 0;
        for (std::int32_t d = 0; d < kMaxDumps; ++d) {
            if ((note.differ >> d & 1) == 0) continue;
            putAll(line, differing == 0 ? "" : ",",
                   differing == 0 && (note.differ >> (d + 1)) != 0 ? "s " : " ", d + 1);
            ++differing;
        }
        putAll(line, differing == 1 ? " differs" : " differ", " from dump ", note.from, ")");
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
    if (file.state == FileState::kMissing && file.gathered) {
        put(line, "no sector 17 in a raw 2D image");
        return;
    }
    const bool gaps = file.missing + file.shorter > 0;
    if (gaps) put(line, GapList{where.disk, file, false});
    if (file.flagged > 0 && file.state != FileState::kMissing) {
        putAll(line, gaps ? "; " : "",
               FlaggedList{where.disk.sectors[file.firstFlagged], file.flagged});
    }
    if (file.state == FileState::kContested) put(line, ContestedList{where.disk, file});
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
    if (file.state == FileState::kMissing && file.gathered) {
        putAll(line, ": not cut: a raw 2D image holds no sector 17, where its slots lie");
        return;
    }
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
    if (file.state == FileState::kContested) {
        putAll(line, ": ", file.contested, " of its ", file.sectorCount, " sectors ",
               file.contested == 1 ? "is" : "are",
               " contested, the dumps' clean copies differing: ", ContestedList{said.disk, file},
               "; the copy most dumps hold was taken");
    }
}

}  // namespace

void renderWords(const DiskAccount& disk, FileAccount& file) {
    render(file.where, Where{disk, file});
    render(file.said, Said{disk, file});
}

void put(LineWriter& line, const SectorPlace& place) {
    putAll(line, "(track ", place.note.track, ", C ", place.note.c, ", H ", place.note.h, ", R ",
           place.note.r, ")");
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
