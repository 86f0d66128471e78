// The listing: a line per disk image, and under the known disk a line per
// file with its size, its state and the CRC-32 of the bytes a cut writes.
#include "tool/listing.h"

#include <cstring>

#include "tool/block_pass.h"
#include "tool/messages.h"
#include "tool/tool.h"

namespace d88cut {

namespace {

// The table of the byte-wise CRC, made when the program is compiled.
struct CrcTable {
    std::uint32_t entries[256];
};

constexpr CrcTable makeCrcTable() {
    CrcTable table = {};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table.entries[n] = c;
    }
    return table;
}

constexpr CrcTable kCrcTable = makeCrcTable();

// Column widths: the longest file name is seven letters, the largest file
// five digits, the longest state seven letters.
constexpr int kNameWidth = 8;
constexpr int kBytesWidth = 6;
constexpr int kStateWidth = 8;
constexpr int kCrcWidth = 9;
// A disk image's size: a 32-bit field, ten digits and a sign at most.
constexpr int kDiskSizeWidth = 11;
constexpr int kMediaWidth = 4;
constexpr int kDiskNumberWidth = 2;

// The media-type byte in words, as disk-image tools name it.
const char* mediaOf(std::int32_t type, char (&other)[8]) {
    switch (type) {
        case 0x00: return "2D";
        case 0x10: return "2DD";
        case 0x20: return "2HD";
        case 0x30: return "1D";
        case 0x40: return "1DD";
        default:
            std::snprintf(other, sizeof other, "0x%02X", static_cast<unsigned>(type) & 0xFF);
            return other;
    }
}

// Prints one file's line; true when the file is whole.
bool listFile(const FileRead& read) {
    const bool gathered = read.missingSlots + read.shortSlots > 0;
    const bool missing = read.found == 0;
    const bool partial = !missing && (read.found < read.size || gathered);
    const char* state = missing   ? "missing"
                        : partial ? "partial"
                        : read.flagged.count > 0 ? "flagged"
                                                 : "whole";
    char crc[12] = "-";
    if (!missing) {
        std::snprintf(crc, sizeof crc, "%08x",
                      static_cast<unsigned>(crc32(read.bytes, static_cast<std::size_t>(read.size))));
    }
    // Where the file falls short, if it does.
    char where[96] = "";
    if (gathered && read.shortSlots == 0) {
        std::snprintf(where, sizeof where, "%d of %d slots missing", read.missingSlots,
                      kGatherSlots);
    } else if (gathered && read.missingSlots == 0) {
        std::snprintf(where, sizeof where, "%d of %d slots short", read.shortSlots, kGatherSlots);
    } else if (gathered) {
        std::snprintf(where, sizeof where, "%d of %d slots missing, %d short", read.missingSlots,
                      kGatherSlots, read.shortSlots);
    } else if (missing || partial) {
        std::snprintf(where, sizeof where, "track %d sector %d %s", read.stopTrack,
                      read.stopSector, read.stopShort ? "short" : "missing");
    } else if (read.flagged.count > 0) {
        const d88::FlaggedSector& s = read.flagged.first;
        char other[32];
        std::snprintf(where, sizeof where, "track %d sector %d: %s", s.track, s.r,
                      troubleOf(s, other));
        if (read.flagged.count > 1) {
            const std::size_t used = std::strlen(where);
            std::snprintf(where + used, sizeof where - used, ", and %d more",
                          read.flagged.count - 1);
        }
    }
    LineWriter line;
    line.stream = stdout;
    put(line, "  ");
    put(line, Left{read.name, kNameWidth});
    put(line, Right{read.size, kBytesWidth});
    put(line, "  ");
    put(line, Left{state, kStateWidth});
    if (where[0] == '\0') {
        put(line, crc);
    } else {
        put(line, Left{crc, kCrcWidth});
        put(line, where);
    }
    put(line, "\n");
    flushLine(line);
    return !missing && !partial && read.flagged.count == 0;
}

}  // namespace

std::uint32_t crc32(const std::uint8_t* data, std::size_t size) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) c = kCrcTable.entries[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

bool listDisk(std::int32_t disk, bool known, std::int32_t bootBytes) {
    char other[8];
    const char* name = reader.diskName();
    LineWriter line;
    line.stream = stdout;
    put(line, "disk ");
    put(line, Right{disk, kDiskNumberWidth});
    put(line, "  ");
    put(line, Left{mediaOf(reader.mediaType(), other), kMediaWidth});
    put(line, Right{reader.diskSize(), kDiskSizeWidth});
    put(line, known ? "  known  " : "  other  ");
    put(line, Quoted{reinterpret_cast<const std::uint8_t*>(name), std::strlen(name)});
    if (!known) {
        // What stands where the signature would: the sector's bytes 1 to 16,
        // as many of them as it has.
        if (bootBytes > 0) {
            const std::int32_t end = bootBytes < 17 ? bootBytes : 17;
            put(line, "  boot ");
            put(line, Quoted{transferBuffer + 1, static_cast<std::size_t>(end - 1)});
        } else {
            put(line, "  no-boot-sector");
        }
    }
    put(line, "\n");
    flushLine(line);
    if (!known) return false;

    bool whole = true;
    for (const BlockEntry* block = kBlockTable; block->track != 0; ++block) {
        const FileRead read = readBlock(*block);
        if (read.readerFailed) return false;
        if (!listFile(read)) whole = false;
    }
    const FileRead gathered = readGathered();
    if (gathered.readerFailed) return false;
    return listFile(gathered) && whole;
}

}  // namespace d88cut
