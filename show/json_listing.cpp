// The JSON listing, written piece by piece as the disk images are read: text
// is UTF-8, with a byte that decodes to no character written as U+FFFD, and
// the raw bytes of every name beside it in hex.
#include "show/json_listing.h"

#include <cstring>

#include "text/messages.h"
#include "text/encodings.h"
#include "known/known_disk.h"

namespace d88cut {

namespace {

// U+FFFD, for a byte that begins no character.
constexpr char kReplacement[] = "\xEF\xBF\xBD";

// A JSON string of bytes of a disk, decoded from Shift_JIS.
struct JsonShiftJis {
    const std::uint8_t* bytes;
    std::size_t length;
};
// A JSON string of bytes as lower-case hex digits.
struct JsonHex {
    const std::uint8_t* bytes;
    std::size_t length;
};
struct JsonBool {
    bool value;
};

// One code point, escaped as JSON requires.
void putCodePoint(LineWriter& line, std::uint32_t code) {
    if (code == '"' || code == '\\') {
        const char escape[2] = {'\\', static_cast<char>(code)};
        putAll(line, std::string_view(escape, 2));
    } else if (code < 0x20 || code == 0x7F) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(code));
        put(line, escape);
    } else {
        char utf8[4];
        putAll(line, std::string_view(utf8, encodeUtf8(code, utf8)));
    }
}

void put(LineWriter& line, JsonShiftJis json) {
    put(line, "\"");
    for (std::size_t i = 0; i < json.length;) {
        std::size_t used = 1;
        const std::uint32_t code = decodeShiftJis(json.bytes + i, json.length - i, used);
        if (code == kNotShiftJis) {
            put(line, kReplacement);
        } else {
            putCodePoint(line, code);
        }
        i += used;
    }
    put(line, "\"");
}

void put(LineWriter& line, JsonHex json) {
    static const char kDigits[] = "0123456789abcdef";
    put(line, "\"");
    for (std::size_t i = 0; i < json.length; ++i) {
        const char pair[2] = {kDigits[json.bytes[i] >> 4], kDigits[json.bytes[i] & 15]};
        putAll(line, std::string_view(pair, 2));
    }
    put(line, "\"");
}

void put(LineWriter& line, JsonBool json) { put(line, json.value ? "true" : "false"); }

// Whether a disk has been written yet: a comma goes before every later one.
bool diskWritten = false;

// The fields of one file; a field for where it falls short is null when it
// does not. The comma goes before every file but the first, so that a list
// the reader cut short still ends well.
void fileJson(const DiskAccount& disk, const FileAccount& file, bool first) {
    char crc[9];
    crcText(file, crc);
    const bool gaps = file.missing + file.shorter > 0;
    const bool stopped = !file.gathered && gaps;
    LineWriter line;
    line.stream = stdout;
    putAll(line, first ? "      {" : "     ,{", "\"name\": ", JsonText{file.name},
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
    putAll(line, "], \"where\": ", JsonText{file.where}, ", \"said\": ");
    if (file.said[0] != '\0') {
        put(line, JsonText{file.said});
    } else {
        put(line, "null");
    }
    put(line, "}\n");
    flushLine(line);
}

}  // namespace

void put(LineWriter& line, JsonText json) {
    put(line, "\"");
    const unsigned char* s = reinterpret_cast<const unsigned char*>(json.text);
    while (*s != 0) {
        std::size_t used = 1;
        const std::uint32_t code = decodeUtf8(s, used);
        if (code == kNotUtf8) {
            put(line, kReplacement);
        } else if (code >= 0x10000) {
            // Written as it stands: JSON takes any UTF-8.
            putAll(line, std::string_view(reinterpret_cast<const char*>(s), used));
        } else {
            putCodePoint(line, code);
        }
        s += used;
    }
    put(line, "\"");
}

void beginJson(const char* image) {
    diskWritten = false;
    say("{\"image\": ", JsonText{image}, ", \"size\": ", reader.fileSize(), ",");
    say(" \"disks\": [");
}

void listDiskJson(const DiskAccount& disk) {
    char other[8];
    const std::size_t nameLength = std::strlen(disk.name);
    const auto* nameBytes = reinterpret_cast<const std::uint8_t*>(disk.name);
    const BootSector& boot = disk.boot;
    const std::uint8_t* bootText = boot.data + 1;
    const std::size_t bootLength = bootTextLength(boot);
    say(diskWritten ? "  ,{" : "  {", "\"disk\": ", disk.number, ", \"offset\": ", disk.offset,
        ", \"size\": ", disk.size, ", \"media\": ", disk.mediaType,
        ", \"mediaName\": ", JsonText{mediaOf(disk.mediaType, other)}, ",");
    diskWritten = true;
    say("   \"name\": ", JsonShiftJis{nameBytes, nameLength},
        ", \"nameHex\": ", JsonHex{nameBytes, nameLength}, ", \"known\": ", JsonBool{disk.known},
        ", \"runsPastEnd\": ", JsonBool{disk.runsPastEnd}, ",");
    if (boot.found) {
        say("   \"boot\": {\"sizeCode\": ", boot.sizeCode, ", \"bytes\": ", boot.bytes,
            ", \"text\": ", JsonShiftJis{bootText, bootLength},
            ", \"hex\": ", JsonHex{bootText, bootLength}, "},");
    } else {
        say("   \"boot\": null,");
    }
    if (!disk.known) {
        say("   \"files\": null}");
        return;
    }
    say("   \"files\": [");
    for (std::int32_t i = 0; i < disk.filesRead; ++i) fileJson(disk, disk.files[i], i == 0);
    // The list ends well, also where the reader stopped.
    say("   ]}");
}

void endJson(const ImageShape& shape, int status) {
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
    putAll(line, ", \"moreDisks\": ", JsonBool{shape.moreDisks}, ", \"zeroSizeDisk\": ");
    if (shape.zeroSizeDisk >= 0) {
        put(line, shape.zeroSizeDisk + 1);
    } else {
        put(line, "null");
    }
    put(line, ", \"unreachableDisk\": ");
    if (shape.unreachableDisk >= 0) {
        put(line, shape.unreachableDisk);
    } else {
        put(line, "null");
    }
    putAll(line, ",\n \"status\": ", status, "}\n");
    flushLine(line);
}

}  // namespace d88cut
