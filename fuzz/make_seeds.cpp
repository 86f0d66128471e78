// Writes the fuzzer's seed corpus into a directory: small D88 files made by
// the image builder, a known disk among them, and some of the malformed
// shapes the reader must withstand.
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "image_builder.h"

using d88test::Bytes;
using d88test::Disk;

namespace {

// The known disk cut down to what its block pass reads, so that the fuzzer
// starts from a disk it recognises without a 350 KB input.
Disk compactKnownDisk() {
    const Disk whole = d88test::knownDisk();
    Disk disk;
    disk.name = whole.name;
    for (const auto& [track, sectors] : whole.tracks) {
        const bool blocks =
            track == 3 || track == 40 || track == 44 || (track >= 46 && track <= 48) || track >= 72;
        for (const d88test::Sector& s : sectors) {
            if ((track == 0 && s.r == 1) || (blocks && s.r <= 16) ||
                (s.r == 17 && track % 8 == 0)) {
                disk.tracks[track].push_back(s);
            }
        }
    }
    return disk;
}

Disk bootOnly() {
    Disk disk = compactKnownDisk();
    const d88test::Sector boot = disk.tracks[0][0];
    disk.tracks.clear();
    disk.tracks[0].push_back(boot);
    disk.tracks[44].push_back(d88test::sectorAt(44, 16, d88test::sectorBytes(44, 16)));
    return disk;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 1;
    }
    std::vector<std::pair<std::string, Bytes>> seeds;
    seeds.push_back({"known", d88test::buildImage({compactKnownDisk()})});
    seeds.push_back({"two-disks", d88test::buildImage({bootOnly(), bootOnly()})});
    Bytes cut = d88test::buildImage({bootOnly()});
    cut.resize(cut.size() - 300);
    seeds.push_back({"cut", cut});

    Disk zeroSize = bootOnly();
    zeroSize.diskSize = 0;
    seeds.push_back({"zero-size", d88test::buildImage({zeroSize})});
    Disk negative = bootOnly();
    negative.diskSize = -1;
    negative.trackOffsets[1] = -688;
    negative.trackOffsets[2] = 100;
    seeds.push_back({"negative", d88test::buildImage({negative, bootOnly()})});
    Disk counts = bootOnly();
    counts.tracks[0][0].sectorCount = 0;
    counts.tracks[44][0].sectorCount = 65535;
    counts.tracks[44][0].dataSize = 65535;
    seeds.push_back({"counts", d88test::buildImage({counts})});
    Disk sizes = bootOnly();
    for (int n = 0; n < 4; ++n) {
        sizes.tracks[5].push_back(d88test::sectorWithId(2, 1, n + 1, n, Bytes(128u << n, 0x40)));
    }
    seeds.push_back({"size-codes", d88test::buildImage({sizes})});

    for (const auto& [name, bytes] : seeds) {
        const std::string path = std::string(argv[1]) + "/" + name + ".d88";
        if (!d88test::writeFile(path, bytes)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
