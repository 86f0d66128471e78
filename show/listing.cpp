// The listing: a line per disk image, and under the known disk a line per
// file with its size, its state and the CRC-32 of the bytes a cut writes.
#include "show/listing.h"

#include <cstring>

#include "show/facts.h"
#include "show/json_listing.h"
#include "text/messages.h"

namespace d88cut {

namespace {

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

void listFile(const DiskAccount& disk, std::int32_t i) {
    const FileAccount& file = disk.files[i];
    const Left name = {file.name, kNameWidth};
    const Right size = {file.size, kBytesWidth};
    const Left state = {stateWord(file.state), kStateWidth};
    char crc[9];
    crcText(disk, i, crc);
    // (contested, a merge's state, is longer than the column.)
    const char* apart = file.state == FileState::kContested ? " " : "";
    if (file.state == FileState::kWhole) {
        say("  ", name, size, "  ", state, crc);
    } else {
        say("  ", name, size, "  ", state, apart, Left{crc, kCrcWidth}, file.where);
    }
}

// "  3 ....-...........": a track's sectors 1 to 17, then the legend.
void listMap(const DiskAccount& disk) {
    constexpr int kTrackWidth = 3;
    for (std::int32_t t = 0; t < kMapTracks; ++t) {
        char cells[kMapSectors + 1];
        for (std::int32_t r = 0; r < kMapSectors; ++r) cells[r] = disk.map[t][r];
        cells[kMapSectors] = '\0';
        say(Right{t, kTrackWidth}, " ", cells);
    }
    say("    . whole  s short  - missing  f flagged  c contested  o no file's  (blank) none");
}

void listDiskText(const DiskAccount& disk, bool map) {
    char other[8];
    const Right number = {disk.number, kDiskNumberWidth};
    const Left media = {mediaOf(disk.mediaType, other), kMediaWidth};
    const Right size = {disk.size, kDiskSizeWidth};
    const DiskText quotedName = {reinterpret_cast<const std::uint8_t*>(disk.name),
                                 std::strlen(disk.name), stdoutShowsUtf8()};
    const BootSector& boot = disk.boot;
    const DiskText text = {bootText(boot), bootTextLength(boot), stdoutShowsUtf8()};
    // A disk image of another container than D88 says which.
    const char* container = disk.format == d88::Format::kRaw2D ? "  raw-2d"
                            : disk.format == d88::Format::kImd ? "  imd"
                                                               : "";
    if (disk.known) {
        say("disk ", number, "  ", media, size, "  known  ", quotedName, container);
    } else if (boot.found && boot.sizeCode == kSizeCode) {
        say("disk ", number, "  ", media, size, "  other  ", quotedName, "  boot ", text,
            container);
    } else if (boot.found) {
        // A boot sector of another size: what it is, and what it holds.
        say("disk ", number, "  ", media, size, "  other  ", quotedName, "  ",
            BootKind{boot.sizeCode}, " ", text, container);
    } else {
        say("disk ", number, "  ", media, size, "  other  ", quotedName, "  no-boot-sector",
            container);
    }
    for (std::int32_t i = 0; i < disk.filesRead; ++i) listFile(disk, i);
    if (map && disk.known) listMap(disk);
}

}  // namespace

void beginListing(Listing& listing, ListFormat format, const char* image, std::int64_t size,
                  d88::Format container) {
    listing.format = format;
    listing.diskListed = false;
    if (format == ListFormat::kJson) beginJson(image, size, container);
}

void listDisk(Listing& listing, const DiskAccount& disk) {
    if (listing.format == ListFormat::kJson) {
        listDiskJson(disk, !listing.diskListed);
    } else {
        listDiskText(disk, listing.map);
    }
    listing.diskListed = true;
}

void endListing(Listing& listing, const ImageShape& shape, std::int32_t best, int status) {
    if (listing.format == ListFormat::kJson) endJson(shape, best, status);
}

void listMerge(const Listing& listing, const char* const* images, const std::int32_t* disks,
               std::int32_t count, const DiskAccount& merged, int status) {
    if (listing.format == ListFormat::kJson) {
        listMergeJson(images, disks, count, merged, status);
        return;
    }
    for (std::int32_t d = 0; d < count; ++d) {
        say("dump ", Right{d + 1, kDiskNumberWidth}, "  disk ", Right{disks[d], kDiskNumberWidth},
            "  ", Name{images[d]});
    }
    if (count == 0) return;
    say("merge of ", count, count == 1 ? " dump" : " dumps");
    for (std::int32_t i = 0; i < merged.filesRead; ++i) listFile(merged, i);
    if (listing.map) listMap(merged);
}

}  // namespace d88cut
