// The listing: a line per disk image, and under the known disk a line per
// file with its size, its state and the CRC-32 of the bytes a cut writes.
#include "tool/listing.h"

#include <cstdio>
#include <cstring>

#include "tool/known_disk_files.h"
#include "tool/messages.h"
#include "tool/listing_json.h"
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

// The CRC-32 of zlib, PNG and gzip (reflected polynomial 0xEDB88320).
std::uint32_t crc32(const std::uint8_t* data, std::size_t size) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) c = kCrcTable.entries[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

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

}  // namespace

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

namespace {

ListFormat format = ListFormat::kText;

// "track T sector R missing", "10 of 64 slots missing", "track T sector R:
// a data CRC error, and 2 more": where a file falls short; nothing when it
// is whole.
struct Where {
    const FileRead& read;
};

void put(LineWriter& line, const Where& where) {
    const FileRead& read = where.read;
    if (read.missingSlots > 0 && read.shortSlots == 0) {
        putAll(line, read.missingSlots, " of ", kGatherSlots, " slots missing");
    } else if (read.missingSlots == 0 && read.shortSlots > 0) {
        putAll(line, read.shortSlots, " of ", kGatherSlots, " slots short");
    } else if (read.missingSlots > 0) {
        putAll(line, read.missingSlots, " of ", kGatherSlots, " slots missing, ", read.shortSlots,
               " short");
    } else if (read.state == FileState::kMissing || read.state == FileState::kPartial) {
        putAll(line, "track ", read.stopTrack, " sector ", read.stopSector,
               read.stopShort ? " short" : " missing");
    } else if (read.state == FileState::kFlagged) {
        const d88::FlaggedSector& s = read.flagged.first;
        char other[32];
        putAll(line, "track ", s.track, " sector ", s.r, ": ", troubleOf(s, other));
        if (read.flagged.count > 1) putAll(line, ", and ", read.flagged.count - 1, " more");
    }
}

// "boot-sector-1024-bytes": a boot sector of another size code than the
// known disk's; a code no disk uses is shown as it is.
struct BootKind {
    std::int32_t sizeCode;
};

// Size codes 0 to 7: sectors of 128 bytes to 16 KiB, every size a floppy
// disk controller writes.
constexpr std::int32_t kLargestRealSizeCode = 7;

void put(LineWriter& line, BootKind kind) {
    if (kind.sizeCode >= 0 && kind.sizeCode <= kLargestRealSizeCode) {
        putAll(line, "boot-sector-", d88::kMinSectorSize << kind.sizeCode, "-bytes");
    } else {
        putAll(line, "boot-sector-size-code-", kind.sizeCode);
    }
}

void listFile(const FileRead& read) {
    const Left name = {read.name, kNameWidth};
    const Right size = {read.size, kBytesWidth};
    const Left state = {stateWord(read.state), kStateWidth};
    char crc[9];
    crcText(read, crc);
    if (read.state == FileState::kWhole) {
        say("  ", name, size, "  ", state, crc);
    } else {
        say("  ", name, size, "  ", state, Left{crc, kCrcWidth}, Where{read});
    }
}

}  // namespace

void crcText(const FileRead& read, char (&out)[9]) {
    if (read.state == FileState::kMissing) {
        std::snprintf(out, sizeof out, "-");
        return;
    }
    std::snprintf(out, sizeof out, "%08x",
                  static_cast<unsigned>(crc32(read.bytes, static_cast<std::size_t>(read.size))));
}

void beginListing(ListFormat listFormat, const char* image) {
    format = listFormat;
    if (format == ListFormat::kJson) beginJson(image);
}

void endListing(const ImageShape& shape, int status) {
    if (format == ListFormat::kJson) endJson(shape, status);
}

bool listDisk(const DiskView& view, FileState (&states)[kFileCount]) {
    if (format == ListFormat::kJson) return listDiskJson(view, states);
    char other[8];
    const char* name = reader.diskName();
    const Right number = {view.number, kDiskNumberWidth};
    const Left media = {mediaOf(reader.mediaType(), other), kMediaWidth};
    const Right size = {reader.diskSize(), kDiskSizeWidth};
    const DiskText quotedName = {reinterpret_cast<const std::uint8_t*>(name), std::strlen(name),
                                 stdoutShowsUtf8()};
    // What stands where the signature would: the sector's bytes 1 to 16, as
    // many of them as it has.
    const std::int32_t end = view.boot.bytes < 17 ? view.boot.bytes : 17;
    const DiskText bootText = {transferBuffer + 1,
                               static_cast<std::size_t>(end > 1 ? end - 1 : 0),
                               stdoutShowsUtf8()};
    if (view.known) {
        say("disk ", number, "  ", media, size, "  known  ", quotedName);
    } else if (view.boot.found && view.boot.sizeCode == kSizeCode) {
        say("disk ", number, "  ", media, size, "  other  ", quotedName, "  boot ", bootText);
    } else if (view.boot.found) {
        // A boot sector of another size: what it is, and what it holds.
        say("disk ", number, "  ", media, size, "  other  ", quotedName, "  ",
            BootKind{view.boot.sizeCode}, " ", bootText);
    } else {
        say("disk ", number, "  ", media, size, "  other  ", quotedName, "  no-boot-sector");
    }
    if (!view.known) return true;
    return readFiles(states, listFile);
}

}  // namespace d88cut
