// The JSON listing: the raw bytes of every name beside its text, in hex.
#include "show/json_listing.h"

#include <cstring>

#include "known/words.h"
#include "show/facts.h"
#include "show/json_text.h"
#include "text/messages.h"

namespace d88cut {

namespace {

// A JSON number, or null when `known` is false.
struct JsonNumberOrNull {
    long long value;
    bool known;
};

void put(LineWriter& line, JsonNumberOrNull json) {
    if (json.known) {
        put(line, json.value);
    } else {
        put(line, "null");
    }
}

// The fields of one file; a field for where it falls short is null when it
// does not. The comma goes before every file but the first, so that a list
// the reader cut short still ends well.
void fileJson(const DiskAccount& disk, std::int32_t i) {
    const FileAccount& file = disk.files[i];
    char crc[9];
    crcText(disk, i, crc);
    const bool gaps = file.missing + file.shorter > 0;
    const bool stopped = !file.gathered && gaps;
    LineWriter line;
    line.stream = stdout;
    putAll(line, i == 0 ? "      {" : "     ,{", "\"name\": ", JsonText{file.name},
           ", \"size\": ", file.size, ", \"state\": \"", stateWord(file.state), "\", \"crc32\": ");
    if (file.state == FileState::kMissing) {
        put(line, "null");
    } else {
        putAll(line, "\"", crc, "\"");
    }
    // A block's first sector missing or short: where its run stopped.
    put(line, ", \"stop\": ");
    if (stopped) {
        for (std::int32_t k = 0; k < file.sectorCount; ++k) {
            const SectorNote& note = sectorOf(disk, file, k);
            if (note.found >= kSectorSize) continue;
            putAll(line, "{\"track\": ", note.track, ", \"sector\": ", note.r,
                   ", \"short\": ", JsonBool{note.found > 0}, "}");
            break;
        }
    } else {
        put(line, "null");
    }
    put(line, ", \"slots\": ");
    if (file.gathered && gaps) {
        putAll(line, "{\"missing\": ", file.missing, ", \"short\": ", file.shorter, "}");
    } else {
        put(line, "null");
    }
    put(line, ", \"flagged\": ");
    if (file.flagged > 0 && file.state != FileState::kMissing) {
        const SectorNote& s = disk.sectors[file.firstFlagged];
        char other[32];
        putAll(line, "{\"count\": ", file.flagged, ", \"track\": ", s.track, ", \"c\": ", s.c,
               ", \"h\": ", s.h, ", \"sector\": ", s.r, ", \"status\": ", s.status,
               ", \"deleted\": ", JsonBool{s.deleted},
               ", \"trouble\": ", JsonText{troubleOf(s, other)}, "}");
    } else {
        put(line, "null");
    }
    put(line, ",\n        \"gaps\": [");
    bool firstGap = true;
    for (std::int32_t k = 0; k < file.sectorCount; ++k) {
        const SectorNote& note = sectorOf(disk, file, k);
        if (note.found >= kSectorSize) continue;
        putAll(line, firstGap ? "" : ", ", "{\"track\": ", note.track, ", \"sector\": ", note.r,
               ", \"found\": ", note.found, "}");
        firstGap = false;
    }
    // Where each sector came from, 0 beyond those read; the contested.
    put(line, "], \"from\": [");
    for (std::int32_t k = 0; k < file.size / kSectorSize; ++k) {
        putAll(line, k == 0 ? "" : ", ", k < file.sectorCount ? sectorOf(disk, file, k).from : 0);
    }
    put(line, "], \"contested\": [");
    bool firstContested = true;
    for (std::int32_t k = 0; k < file.sectorCount; ++k) {
        const SectorNote& note = sectorOf(disk, file, k);
        if (note.differ == 0) continue;
        putAll(line, firstContested ? "" : ", ", "{\"track\": ", note.track,
               ", \"sector\": ", note.r, ", \"dumps\": [");
        bool firstDump = true;
        for (std::int32_t d = 0; d < kMaxDumps; ++d) {
            if ((note.differ >> d & 1) == 0) continue;
            putAll(line, firstDump ? "" : ", ", d + 1);
            firstDump = false;
        }
        put(line, "]}");
        firstContested = false;
    }
    putAll(line, "],\n        \"where\": ", JsonText{file.where}, ", \"said\": ");
    if (file.said[0] != '\0') {
        put(line, JsonText{file.said});
    } else {
        put(line, "null");
    }
    put(line, "}\n");
    flushLine(line);
}

}  // namespace

void beginJson(const char* image, std::int64_t size, d88::Format format) {
    say("{\"image\": ", JsonText{image}, ", \"size\": ", size, ", \"format\": \"",
        formatWord(format), "\",");
    say(" \"disks\": [");
}

void listDiskJson(const DiskAccount& disk, bool first) {
    char other[8];
    const std::size_t nameLength = std::strlen(disk.name);
    const auto* nameBytes = reinterpret_cast<const std::uint8_t*>(disk.name);
    const BootSector& boot = disk.boot;
    const std::uint8_t* text = bootText(boot);
    const std::size_t textLength = bootTextLength(boot);
    say(first ? "  {" : "  ,{", "\"disk\": ", disk.number, ", \"offset\": ", disk.offset,
        ", \"size\": ", disk.size, ", \"media\": ", disk.mediaType,
        ", \"mediaName\": ", JsonText{mediaOf(disk.mediaType, other)}, ",");
    say("   \"name\": ", JsonShiftJis{nameBytes, nameLength},
        ", \"nameHex\": ", JsonHex{nameBytes, nameLength}, ", \"known\": ", JsonBool{disk.known},
        ", \"runsPastEnd\": ", JsonBool{disk.runsPastEnd}, ",");
    if (boot.found) {
        say("   \"boot\": {\"sizeCode\": ", boot.sizeCode, ", \"bytes\": ", boot.bytes,
            ", \"text\": ", JsonShiftJis{text, textLength},
            ", \"hex\": ", JsonHex{text, textLength}, "},");
    } else {
        say("   \"boot\": null,");
    }
    if (!disk.known) {
        say("   \"files\": null}");
        return;
    }
    say("   \"files\": [");
    for (std::int32_t i = 0; i < disk.filesRead; ++i) fileJson(disk, i);
    // The list ends well, also where the reader stopped.
    say("   ]}");
}

void listMergeJson(const char* const* images, const std::int32_t* disks, std::int32_t count,
                   const DiskAccount& merged, int status) {
    say("{\"merge\": true, \"dumps\": [");
    for (std::int32_t d = 0; d < count; ++d) {
        say(d == 0 ? "  {" : "  ,{", "\"image\": ", JsonText{images[d]}, ", \"disk\": ", disks[d],
            "}");
    }
    say(" ],");
    say(" \"disks\": [");
    if (count > 0) listDiskJson(merged, true);
    say(" ],");
    say(" \"best\": ", JsonNumberOrNull{1, count > 0}, ",\n \"status\": ", status, "}");
}

void endJson(const ImageShape& shape, std::int32_t best, int status) {
    say(" ],");
    LineWriter line;
    line.stream = stdout;
    putAll(line, " \"looksLikeD88\": ", JsonBool{!shape.notD88 && !shape.empty},
           ", \"trailing\": ");
    if (shape.trailingBytes > 0) {
        putAll(line, "{\"offset\": ", shape.trailingOffset, ", \"bytes\": ", shape.trailingBytes,
               "}");
    } else {
        put(line, "null");
    }
    putAll(line, ", \"moreDisks\": ", JsonBool{shape.moreDisks}, ", \"zeroSizeDisk\": ",
           JsonNumberOrNull{shape.zeroSizeDisk + 1, shape.zeroSizeDisk >= 0},
           ", \"unreachableDisk\": ",
           JsonNumberOrNull{shape.unreachableDisk, shape.unreachableDisk >= 0},
           ", \"best\": ", JsonNumberOrNull{best, best > 0}, ",\n \"status\": ", status, "}\n");
    flushLine(line);
}

}  // namespace d88cut
