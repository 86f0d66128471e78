// The D88 image builder for tests and the sample image.
#include "image_builder.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace d88test {

namespace {

constexpr std::size_t kHeaderSize = 688;
constexpr std::size_t kRecordHeaderSize = 16;

void putLe(Bytes& out, std::size_t at, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i) out[at + i] = (value >> (8 * i)) & 0xFF;
}

}  // namespace

const char kSignature[17] = "VORLU        Sys";

Bytes buildRaw2D(const Disk& disk) {
    Bytes image(80 * 16 * 256, 0);
    for (const auto& [track, sectors] : disk.tracks) {
        for (const Sector& s : sectors) {
            if (track >= 80 || s.r < 1 || s.r > 16) continue;
            std::copy_n(s.data.begin(), std::min<std::size_t>(s.data.size(), 256),
                        image.begin() + (track * 16 + s.r - 1) * 256);
        }
    }
    return image;
}

Bytes buildImd(const Disk& disk, const std::map<std::pair<int, int>, std::uint8_t>& types) {
    const std::string text = "IMD 1.18: 10/12/2026 12:00:00\r\ntest disk\x1a";
    Bytes image(text.begin(), text.end());
    for (const auto& [track, sectors] : disk.tracks) {
        const Bytes head = {0x05, static_cast<std::uint8_t>(track / 2), static_cast<std::uint8_t>(track % 2),
                            static_cast<std::uint8_t>(sectors.size()), sectors.front().n};
        image.insert(image.end(), head.begin(), head.end());
        for (const Sector& s : sectors) image.push_back(s.r);
        for (const Sector& s : sectors) {
            const auto type = types.find({track, s.r});
            image.push_back(type == types.end() ? 1 : type->second);
            if (image.back() % 2 == 0) {
                image.push_back(s.data.front());
            } else {
                image.insert(image.end(), s.data.begin(), s.data.end());
            }
        }
    }
    return image;
}

Bytes buildImage(const std::vector<Disk>& disks, std::vector<Placed>* places) {
    Bytes image;
    for (std::size_t d = 0; d < disks.size(); ++d) {
        const Disk& disk = disks[d];
        const std::size_t start = image.size();
        image.resize(start + kHeaderSize, 0);
        std::memcpy(&image[start], disk.name.data(), disk.name.size() < 16 ? disk.name.size() : 16);
        image[start + 27] = disk.mediaType;
        for (const auto& [index, sectors] : disk.tracks) {
            putLe(image, start + 32 + 4 * index, image.size() - start, 4);
            for (const Sector& s : sectors) {
                Bytes record(kRecordHeaderSize, 0);
                record[0] = s.c;
                record[1] = s.h;
                record[2] = s.r;
                record[3] = s.n;
                record[7] = s.deletedMark;
                record[8] = s.status;
                putLe(record, 4, s.sectorCount.value_or(sectors.size()), 2);
                putLe(record, 14, s.dataSize.value_or(s.data.size()), 2);
                if (places != nullptr) {
                    places->push_back({static_cast<int>(d), index, s.r, image.size(), image.size() + kRecordHeaderSize,
                                       s.data.size()});
                }
                image.insert(image.end(), record.begin(), record.end());
                image.insert(image.end(), s.data.begin(), s.data.end());
            }
        }
        for (const auto& [index, offset] : disk.trackOffsets) {
            putLe(image, start + 32 + 4 * index, static_cast<std::uint32_t>(offset), 4);
        }
        const std::uint32_t size = disk.diskSize ? static_cast<std::uint32_t>(*disk.diskSize)
                                                 : static_cast<std::uint32_t>(image.size() - start);
        putLe(image, start + 28, size, 4);
    }
    return image;
}

bool writeFile(const std::string& path, const Bytes& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

bool writeSparse(const std::string& path, const std::vector<std::pair<std::int64_t, Bytes>>& pieces) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    bool ok = true;
    for (const auto& [offset, bytes] : pieces) {
        ok = ok && ::pwrite(fd, bytes.data(), bytes.size(), offset) == static_cast<ssize_t>(bytes.size());
    }
    return ::close(fd) == 0 && ok;
}

std::optional<Bytes> readFile(const std::string& path) {
    Bytes bytes;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return std::nullopt;
    std::uint8_t chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    std::fclose(f);
    return bytes;
}

Sector sectorWithId(int c, int h, int r, int n, Bytes data) {
    Sector s;
    s.c = static_cast<std::uint8_t>(c);
    s.h = static_cast<std::uint8_t>(h);
    s.r = static_cast<std::uint8_t>(r);
    s.n = static_cast<std::uint8_t>(n);
    s.data = std::move(data);
    return s;
}

Sector sectorAt(int track, int r, Bytes data) { return sectorWithId(track / 2, track % 2, r, 1, std::move(data)); }

Bytes sectorBytes(int track, int r) {
    Bytes data(256);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 7 + track * 13 + r * 29 + 1);
    }
    char label[8];
    std::snprintf(label, sizeof label, "T%02dS%02d", track, r);
    std::memcpy(data.data(), label, 6);
    return data;
}

Disk knownDisk() {
    Disk disk;
    disk.name = "D88CUT SAMPLE";
    for (int track = 0; track < 80; ++track) {
        const int last = track >= 10 && track <= 74 ? 17 : 16;
        std::vector<Sector>& sectors = disk.tracks[track];
        // Every record is placed, in an order that is not sector order:
        // 5 is coprime to 16 and 17, so i * 5 visits every sector once.
        for (int i = 0; i < last; ++i) {
            const int r = (i * 5 + track) % last + 1;
            sectors.push_back(sectorAt(track, r, sectorBytes(track, r)));
        }
    }
    for (Sector& s : disk.tracks[0]) {
        if (s.r == 1) std::memcpy(&s.data[1], kSignature, 16);
    }
    return disk;
}

Bytes sharedWalkPrefix() {
    // Bytes 14 and 15 of the name are the record's data size, 672: the rest
    // of the 688-byte header.
    const std::string name("\xFF\xFF\xFF\xFF\xFF\xFFWALKING!\xA0\x02", 16);
    constexpr int kDisks = 64;
    std::vector<Disk> disks(kDisks);
    for (Disk& disk : disks) {
        disk.name = name;
        Sector pass = sectorWithId(0xFF, 0xFF, 0xFF, 0xFF, {});
        pass.sectorCount = 0xFFFF;
        disk.tracks[0] = {pass};
        disk.diskSize = static_cast<std::int32_t>(kHeaderSize + kRecordHeaderSize);
        for (int t = 0; t < 164; ++t) disk.trackOffsets[t] = static_cast<std::int32_t>(kHeaderSize);
    }
    Disk& last = disks.back();
    Sector boot = sectorWithId(0, 0, 1, 1, Bytes(256, 0));
    std::memcpy(&boot.data[1], kSignature, 16);
    boot.sectorCount = 0xFFFF;  // a walk passing it goes on
    last.tracks[0] = {boot};
    const auto runAt = static_cast<std::int32_t>(kHeaderSize + kRecordHeaderSize + 256);
    // Its tracks lie inside it, the run's first record too.
    last.diskSize = runAt + static_cast<std::int32_t>(kRecordHeaderSize);
    last.trackOffsets.clear();
    for (int t = 1; t < 164; ++t) last.trackOffsets[t] = runAt;
    return buildImage(disks);
}

Bytes runRecordHeader(std::uint16_t dataSize) {
    Bytes header(kRecordHeaderSize, 0);
    header[3] = 1;
    putLe(header, 4, 1, 2);
    putLe(header, 14, dataSize, 2);
    return header;
}

}  // namespace d88test
