// Builds D88 images for tests and the sample, from a description of disk
// images, tracks and sector records. Every field can be overridden, so the
// same builder writes malformed images: wrong counts, lying data sizes, bad
// offsets, odd names; a cut-off file is the built bytes, resized.
#ifndef D88CUT_TESTS_IMAGE_BUILDER_H
#define D88CUT_TESTS_IMAGE_BUILDER_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace d88test {

using Bytes = std::vector<std::uint8_t>;

struct Sector {
    std::uint8_t c = 0, h = 0, r = 0, n = 1;
    // Header bytes 7 and 8: 0x10 for a deleted-data mark; the controller's
    // status when the disk was dumped (0x00 a good read).
    std::uint8_t deletedMark = 0, status = 0;
    Bytes data;
    // Written into the header instead of the true figures when set.
    std::optional<std::uint16_t> sectorCount;  // default: records in track
    std::optional<std::uint16_t> dataSize;     // default: data.size()
};

struct Disk {
    std::string name;  // raw bytes; the first 16 are written
    std::uint8_t mediaType = 0;
    std::map<int, std::vector<Sector>> tracks;  // by track index, file order
    std::optional<std::int32_t> diskSize;       // default: the true size
    std::map<int, std::int32_t> trackOffsets;   // entries written instead
};

// Where a record landed in a built image.
struct Placed {
    int disk;
    int track;
    std::uint8_t r;
    std::size_t headerAt;
    std::size_t dataAt;
    std::size_t dataSize;  // bytes of data written, whatever the header says
};

// The disk images back to back; tracks are laid out in index order. When
// `places` is given, it receives every record's place, in file order.
Bytes buildImage(const std::vector<Disk>& disks, std::vector<Placed>* places = nullptr);
// The disk as a raw 2D image: sectors 1 to 16 of 256 bytes of tracks 0 to
// 79, in order; what the disk lacks is zero.
Bytes buildRaw2D(const Disk& disk);
// The disk as an IMD file: a track per track of the disk, its sectors in
// file order, all of the size code of its first. A record's type is 1 (data)
// but where `types` gives another for (track, R); a compressed type writes
// the sector's first byte.
Bytes buildImd(const Disk& disk, const std::map<std::pair<int, int>, std::uint8_t>& types = {});
// False when the file cannot be written whole.
bool writeFile(const std::string& path, const Bytes& bytes);
// Writes pieces at far-apart offsets of a sparse file, to reach positions
// beyond 2 GiB without writing gigabytes. False when one cannot be written.
bool writeSparse(const std::string& path, const std::vector<std::pair<std::int64_t, Bytes>>& pieces);
// Nothing when the file cannot be opened.
std::optional<Bytes> readFile(const std::string& path);

// A record with this identity and data; counts and sizes are the true ones.
Sector sectorWithId(int c, int h, int r, int n, Bytes data);
// The known disk's geometry: track index t holds cylinder t / 2, head t % 2,
// and sectors of size code 1.
Sector sectorAt(int track, int r, Bytes data);
// 256 recognisable bytes for a sector: "T46S12" at the front, then a pattern
// that differs with every byte position, track and sector.
Bytes sectorBytes(int track, int r);
// The first 16 bytes after byte 0 of the known disk's boot sector.
extern const char kSignature[17];
// A whole known disk: the signature in track 0 sector 1, sectors 1 to 16 of
// tracks 0 to 79 and sector 17 of tracks 10 to 74, all holding sectorBytes,
// with each track's records in a shuffled order.
Disk knownDisk();

// The start of an image built to make every walk as long as it can be: 64
// disk images whose tracks all start at one record of their own (identity
// FF FF FF FF, count 65,535, no data) just before the next one's header,
// whose name field reads as one more such record that skips the rest of
// that header. The last disk image holds the known boot sector, which every
// disk image's walk for it reaches, and its other tracks start where the
// prefix ends: at a run of records the caller appends.
Bytes sharedWalkPrefix();
// A record header of a run no walk leaves: count 1, identity 0 0 0 1, with
// `dataSize` data bytes to follow.
Bytes runRecordHeader(std::uint16_t dataSize);

}  // namespace d88test

#endif
