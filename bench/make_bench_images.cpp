// Writes the benchmark's images into a directory:
//  standard.d88   the known disk: 80 tracks of sectors 1 to 16, sector 17 on
//                 tracks 10 to 74, records shuffled;
//  longtrack.d88  the known disk's boot sector, and every other track one
//                 shared run of 65,535 empty records, none of them a sector
//                 the tool looks for, so that every lookup walks all of them;
//  hostile-1.d88, hostile-16.d88, hostile-64.d88
//                 images built to make a run take hours: 64 recognised disk
//                 images whose every walk runs on through one run of 16-byte
//                 records of count 1 to the end of the file (1, 16, 64 MiB);
//  sparse-256.d88 the same with records of 65,535 data bytes over the holes
//                 of a sparse file of 256 MiB.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "image_builder.h"

namespace {

// The most records a track's sector count can describe.
constexpr int kLongTrackRecords = 65535;

d88test::Disk longTrackDisk() {
    const d88test::Disk known = d88test::knownDisk();
    d88test::Disk disk;
    disk.name = "LONG TRACKS";
    for (const d88test::Sector& s : known.tracks.at(0)) {
        if (s.r == 1) disk.tracks[0].push_back(s);
    }
    // Sector number 0 is never asked for; no data keeps the file at 1 MiB.
    for (int i = 0; i < kLongTrackRecords; ++i) {
        disk.tracks[1].push_back(d88test::sectorWithId(0, 1, 0, 1, {}));
    }
    // The builder places track 1 right after the boot sector's record.
    const std::int32_t run = 688 + 16 + 256;
    for (int t = 2; t < 164; ++t) disk.trackOffsets[t] = run;
    return disk;
}

// The shared-walk prefix, then run records of `dataSize` data bytes up to
// `size` bytes; only headers are written, so data bytes are holes.
bool writeHostile(const std::string& path, std::int64_t size, std::uint16_t dataSize) {
    const d88test::Bytes prefix = d88test::sharedWalkPrefix();
    const d88test::Bytes header = d88test::runRecordHeader(dataSize);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    bool ok = ::write(fd, prefix.data(), prefix.size()) == static_cast<ssize_t>(prefix.size());
    d88test::Bytes run;
    std::int64_t at = static_cast<std::int64_t>(prefix.size());
    for (; ok && at + 16 + dataSize <= size; at += 16 + dataSize) {
        if (dataSize == 0) {
            run.insert(run.end(), header.begin(), header.end());
        } else {
            ok = ::pwrite(fd, header.data(), header.size(), at) == 16;
        }
    }
    if (ok && !run.empty())
        ok = ::write(fd, run.data(), run.size()) == static_cast<ssize_t>(run.size());
    ok = ok && ::ftruncate(fd, size) == 0;
    return ::close(fd) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 1;
    }
    const std::string dir = argv[1];
    if (!d88test::writeFile(dir + "/standard.d88", d88test::buildImage({d88test::knownDisk()})) ||
        !d88test::writeFile(dir + "/longtrack.d88", d88test::buildImage({longTrackDisk()})) ||
        !writeHostile(dir + "/hostile-1.d88", 1 << 20, 0) ||
        !writeHostile(dir + "/hostile-16.d88", 16 << 20, 0) ||
        !writeHostile(dir + "/hostile-64.d88", 64 << 20, 0) ||
        !writeHostile(dir + "/sparse-256.d88", 256 << 20, 65535)) {
        std::fprintf(stderr, "cannot write the images into %s\n", dir.c_str());
        return 1;
    }
    // The records d88cut walks on the long-track image: the boot sector is
    // the first record of track 0; each of the 15 blocks misses its first
    // sector and each of the 64 PSGMUS slots its sector 17, a whole run each.
    std::printf("%lld\n", 1LL + (15LL + 64LL) * kLongTrackRecords);
    return 0;
}
