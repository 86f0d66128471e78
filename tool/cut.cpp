// Writing each file of a recognised disk as its read found it, and saying
// where it falls short.
#include "tool/cut.h"

#include "tool/known_disk_files.h"
#include "tool/messages.h"
#include "tool/output.h"

namespace d88cut {

namespace {

// "(sector 17 of tracks 10 to 74, but 56)": where the PSGMUS slots lie.
struct SlotPlace {};

void put(LineWriter& line, SlotPlace) {
    putAll(line, "(sector ", kGatherSector, " of tracks ", kGatherFirstTrack, " to ",
           kGatherLastTrack, ", but ", kGatherSkippedTrack, ")");
}

// "(track T, C c, H h, R r)": a sector by its track and identity.
struct SectorPlace {
    std::int32_t track, c, h, r;
};

void put(LineWriter& line, const SectorPlace& place) {
    putAll(line, "(track ", place.track, ", C ", place.c, ", H ", place.h, ", R ", place.r, ")");
}

// The bytes are written as recorded; the user is told which are doubtful.
void reportFlagged(const char* image, const FileRead& read) {
    const Flagged& flagged = read.flagged;
    if (flagged.count == 0) return;
    const d88::FlaggedSector& s = flagged.first;
    char other[32];
    const char* trouble = troubleOf(s, other);
    const SectorPlace place = {s.track, s.c, s.h, s.r};
    if (flagged.count == 1) {
        warn(Name{image}, ": ", read.name, ": sector ", place, " is recorded with ", trouble,
             "; its bytes are written as recorded");
    } else {
        warn(Name{image}, ": ", read.name, ": sector ", place, " is recorded with ", trouble, ", and ",
             flagged.count - 1,
             " more of its sectors with errors or deleted-data marks; their bytes are "
             "written as recorded");
    }
}

// The line for a file written short of whole.
void reportShort(const char* image, const FileRead& read) {
    const std::int32_t notWhole = read.missingSlots + read.shortSlots;
    if (notWhole == 0 && read.found < read.size) {
        warn(Name{image}, ": ", read.name, ": only ", read.found, " of ", read.size,
             " bytes found, the rest written as zero");
    } else if (notWhole > 0 && read.shortSlots == 0) {
        warn(Name{image}, ": ", read.name, ": ", notWhole, " of its ", kGatherSlots, " slots ", SlotPlace{},
             " were not found whole; they are zero");
    } else if (notWhole > 0) {
        warn(Name{image}, ": ", read.name, ": ", notWhole, " of its ", kGatherSlots, " slots ", SlotPlace{},
             " were not found whole: ", read.missingSlots, " missing, written as zero, and ",
             read.shortSlots, " short, written as found with zeros after");
    }
    reportFlagged(image, read);
}

// The line for a block that is not cut: what is there instead. A file of
// that name must not pass for one of this disk image.
void reportNotCut(const char* image, const FileRead& read, std::int32_t disk) {
    const SectorPlace first = {read.track, read.c, read.h, read.r};
    const std::int32_t from = diskWritten(read.name);
    if (from != 0) {
        warn(Name{image}, ": ", read.name, ": not cut from disk image ", disk, ": its first sector ", first,
             " is missing or short; the ", OutputPath{read.name}, " there was cut from disk image ",
             from, " of this image");
    } else if (outputExists(read.name)) {
        warn(Name{image}, ": ", read.name, ": not cut: its first sector ", first, " is missing or short; the ",
             OutputPath{read.name}, " there was left as it was, not written by this run");
    } else {
        warn(Name{image}, ": ", read.name, ": not cut: its first sector ", first, " is missing or short");
    }
}

}  // namespace

bool cutKnownDisk(const char* image, std::int32_t disk, FileState (&states)[kFileCount]) {
    bool allWritten = true;
    // Where the reader stops, the run does; the caller says why.
    readFiles(states, [&](const FileRead& read) {
        if (read.state == FileState::kMissing) {
            reportNotCut(image, read, disk);
            return;
        }
        printCutting(read.name);
        reportShort(image, read);
        if (!replaceOutput(read.name, disk, read.bytes, read.size)) allWritten = false;
    });
    return allWritten;
}

}  // namespace d88cut
