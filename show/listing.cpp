// The listing: a line per disk image, and under the known disk a line per
// file with its size, its state and the CRC-32 of the bytes a cut writes.
#include "show/listing.h"

#include <cstdio>
#include <cstring>

#include "known/account.h"
#include "text/messages.h"
#include "show/json_listing.h"
#include "known/known_disk.h"

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

void listFile(const FileAccount& file) {
    const Left name = {file.name, kNameWidth};
    const Right size = {file.size, kBytesWidth};
    const Left state = {stateWord(file.state), kStateWidth};
    char crc[9];
    crcText(file, crc);
    if (file.state == FileState::kWhole) {
        say("  ", name, size, "  ", state, crc);
    } else {
        say("  ", name, size, "  ", state, Left{crc, kCrcWidth}, file.where);
    }
}

// Bytes 1 to 16 of the boot sector: the signature's place.
constexpr std::int32_t kBootTextFirst = 1;
constexpr std::int32_t kBootTextEnd = 17;

}  // namespace

std::size_t bootTextLength(const BootSector& boot) {
    const std::int32_t end = boot.bytes < kBootTextEnd ? boot.bytes : kBootTextEnd;
    return static_cast<std::size_t>(end > kBootTextFirst ? end - kBootTextFirst : 0);
}

void crcText(const FileAccount& file, char (&out)[9]) {
    if (file.state == FileState::kMissing) {
        std::snprintf(out, sizeof out, "-");
        return;
    }
    std::snprintf(out, sizeof out, "%08x",
                  static_cast<unsigned>(crc32(file.bytes, static_cast<std::size_t>(file.size))));
}

void beginListing(ListFormat listFormat, const char* image) {
    format = listFormat;
    if (format == ListFormat::kJson) beginJson(image);
}

void endListing(const ImageShape& shape, int status) {
    if (format == ListFormat::kJson) endJson(shape, status);
}

void listDisk(const DiskAccount& disk) {
    if (format == ListFormat::kJson) {
        listDiskJson(disk);
        return;
    }
    char other[8];
    const Right number = {disk.number, kDiskNumberWidth};
    const Left media = {mediaOf(disk.mediaType, other), kMediaWidth};
    const Right size = {disk.size, kDiskSizeWidth};
    const DiskText quotedName = {reinterpret_cast<const std::uint8_t*>(disk.name),
                                 std::strlen(disk.name), stdoutShowsUtf8()};
    const BootSector& boot = disk.boot;
    const DiskText bootText = {boot.data + kBootTextFirst, bootTextLength(boot), stdoutShowsUtf8()};
    if (disk.known) {
        say("disk ", number, "  ", media, size, "  known  ", quotedName);
    } else if (boot.found && boot.sizeCode == kSizeCode) {
        say("disk ", number, "  ", media, size, "  other  ", quotedName, "  boot ", bootText);
    } else if (boot.found) {
        // A boot sector of another size: what it is, and what it holds.
        say("disk ", number, "  ", media, size, "  other  ", quotedName, "  ",
            BootKind{boot.sizeCode}, " ", bootText);
    } else {
        say("disk ", number, "  ", media, size, "  other  ", quotedName, "  no-boot-sector");
    }
    for (std::int32_t i = 0; i < disk.filesRead; ++i) listFile(disk.files[i]);
}

}  // namespace d88cut
