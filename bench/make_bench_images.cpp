// Writes the benchmark's two images into a directory:
//  standard.d88   the known disk: 80 tracks of sectors 1 to 16, sector 17 on
//                 tracks 10 to 74, records shuffled;
//  longtrack.d88  the known disk's boot sector, and every other track one
//                 shared run of 65,535 empty records, none of them a sector
//                 the tool looks for, so that every lookup walks all of them.
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

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 1;
    }
    const std::string dir = argv[1];
    if (!d88test::writeFile(dir + "/standard.d88", d88test::buildImage({d88test::knownDisk()})) ||
        !d88test::writeFile(dir + "/longtrack.d88", d88test::buildImage({longTrackDisk()}))) {
        std::fprintf(stderr, "cannot write the images into %s\n", dir.c_str());
        return 1;
    }
    // The records d88cut walks on the long-track image: the boot sector is
    // the first record of track 0; each of the 15 blocks misses its first
    // sector and each of the 64 PSGMUS slots its sector 17, a whole run each.
    std::printf("%lld\n", 1LL + (15LL + 64LL) * kLongTrackRecords);
    return 0;
}
