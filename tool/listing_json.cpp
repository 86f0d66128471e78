// The JSON listing, written piece by piece as the disk images are read: text
// is UTF-8, with a byte that decodes to no character written as U+FFFD, and
// the raw bytes of every name beside it in hex.
#include "tool/listing_json.h"

#include <cstring>

#include "tool/messages.h"
#include "tool/encodings.h"
#include "tool/tool.h"

namespace d88cut {

namespace {

// U+FFFD, for a byte that begins no character.
constexpr char kReplacement[] = "\xEF\xBF\xBD";

// A JSON string of text in the tool's own encoding (a path as given: UTF-8,
// or bytes that are not).
struct JsonText {
    const char* text;
};
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
void fileJson(const FileRead& read, bool first) {
    char crc[9];
    crcText(read, crc);
    const bool gathered = read.missingSlots + read.shortSlots > 0;
    const bool stopped =
        !gathered && (read.state == FileState::kMissing || read.state == FileState::kPartial);
    LineWriter line;
    line.stream = stdout;
    putAll(line, first ? "      {" : "     ,{", "\"name\": ", JsonText{read.name}, ", \"size\": ", read.size,
           ", \"state\": \"", stateWord(read.state), "\", \"crc32\": ");
    if (read.state == FileState::kMissing) {
        put(line, "null");
    } else {
        putAll(line, "\"", crc, "\"");
    }
    put(line, ", \"stop\": ");
    if (stopped) {
        putAll(line, "{\"track\": ", read.stopTrack, ", \"sector\": ", read.stopSector,
               ", \"short\": ", JsonBool{read.stopShort}, "}");
    } else {
        put(line, "null");
    }
    put(line, ", \"slots\": ");
    if (gathered) {
        putAll(line, "{\"missing\": ", read.missingSlots, ", \"short\": ", read.shortSlots, "}");
    } else {
        put(line, "null");
    }
    put(line, ", \"flagged\": ");
    if (read.flagged.count > 0) {
        const d88::FlaggedSector& s = read.flagged.first;
        char other[32];
        putAll(line, "{\"count\": ", read.flagged.count, ", \"track\": ", s.track, ", \"c\": ",
               s.c, ", \"h\": ", s.h, ", \"sector\": ", s.r, ", \"status\": ", s.status,
               ", \"deleted\": ", JsonBool{s.deleted}, ", \"trouble\": ",
               JsonText{troubleOf(s, other)}, "}");
    } else {
        put(line, "null");
    }
    put(line, "}\n");
    flushLine(line);
}

}  // namespace

void beginJson(const char* image) {
    diskWritten = false;
    say("{\"image\": ", JsonText{image}, ", \"size\": ", reader.fileSize(), ",");
    say(" \"disks\": [");
}

bool listDiskJson(const DiskView& view, FileState (&states)[kFileCount]) {
    char other[8];
    const char* name = reader.diskName();
    const std::size_t nameLength = std::strlen(name);
    const auto* nameBytes = reinterpret_cast<const std::uint8_t*>(name);
    const std::int32_t end = view.boot.bytes < 17 ? view.boot.bytes : 17;
    const std::size_t bootLength = static_cast<std::size_t>(end > 1 ? end - 1 : 0);
    say(diskWritten ? "  ,{" : "  {", "\"disk\": ", view.number, ", \"offset\": ",
        reader.diskOffsetAt(view.number - 1), ", \"size\": ", reader.diskSize(), ", \"media\": ",
        reader.mediaType(), ", \"mediaName\": ", JsonText{mediaOf(reader.mediaType(), other)}, ",");
    diskWritten = true;
    say("   \"name\": ", JsonShiftJis{nameBytes, nameLength}, ", \"nameHex\": ",
        JsonHex{nameBytes, nameLength}, ", \"known\": ", JsonBool{view.known},
        ", \"runsPastEnd\": ", JsonBool{view.runsPastEnd}, ",");
    if (view.boot.found) {
        say("   \"boot\": {\"sizeCode\": ", view.boot.sizeCode, ", \"bytes\": ", view.boot.bytes,
            ", \"text\": ", JsonShiftJis{transferBuffer + 1, bootLength}, ", \"hex\": ",
            JsonHex{transferBuffer + 1, bootLength}, "},");
    } else {
        say("   \"boot\": null,");
    }
    if (!view.known) {
        say("   \"files\": null}");
        return true;
    }
    say("   \"files\": [");
    bool first = true;
    const bool finished = readFiles(states, [&first](const FileRead& read) {
        fileJson(read, first);
        first = false;
    });
    // The list ends well, also where the reader stopped.
    say("   ]}");
    return finished;
}

void endJson(const ImageShape& shape, int status) {
    say(" ],");
    LineWriter line;
    line.stream = stdout;
    putAll(line, " \"looksLikeD88\": ", JsonBool{!shape.notD88}, ", \"trailing\": ");
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
