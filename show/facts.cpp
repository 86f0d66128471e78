// The CRC-32, the media words and the boot text.
#include "show/facts.h"

#include <cstdio>

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

std::uint32_t crc32(const std::uint8_t* data, std::size_t size) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) c = kCrcTable.entries[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

// Bytes 1 to 16 of the boot sector: the signature's place.
constexpr std::int32_t kBootTextFirst = 1;
constexpr std::int32_t kBootTextEnd = 17;

}  // namespace

void crcText(const DiskAccount& disk, std::int32_t file, char (&out)[9]) {
    const FileAccount& account = disk.files[file];
    if (account.state == FileState::kMissing) {
        std::snprintf(out, sizeof out, "-");
        return;
    }
    const std::uint32_t crc = crc32(bytesOf(disk, file), static_cast<std::size_t>(account.size));
    std::snprintf(out, sizeof out, "%08x", static_cast<unsigned>(crc));
}

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

const std::uint8_t* bootText(const BootSector& boot) { return boot.data + kBootTextFirst; }

std::size_t bootTextLength(const BootSector& boot) {
    const std::int32_t end = boot.bytes < kBootTextEnd ? boot.bytes : kBootTextEnd;
    return static_cast<std::size_t>(end > kBootTextFirst ? end - kBootTextFirst : 0);
}

const char* formatWord(d88::Format format) {
    switch (format) {
        case d88::Format::kD88: return "d88";
        case d88::Format::kRaw2D: return "2d";
        case d88::Format::kImd: return "imd";
        case d88::Format::kGzip: return "gzip";
        case d88::Format::kZip: return "zip";
    }
    return "d88";
}

}  // namespace d88cut
