// The reader on malformed disk headers and records, one table of cases: each
// is a small image with one field set to a value the layout gives no good
// meaning, the number of disk images it lists and what one probe finds.
#include <climits>
#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "d88/d88_reader.h"
#include "image_builder.h"
#include "tool_runner.h"

namespace {

using d88test::Bytes;
using d88test::Disk;

// Track 0 holds sector (0, 0, 1, 1), track 1 sector (0, 1, 1, 1), 256 bytes
// each; track 1 starts at 688 + 272.
constexpr std::int32_t kTrack1 = 960;

Disk base() {
    Disk disk;
    disk.tracks[0].push_back(d88test::sectorAt(0, 1, Bytes(256, 0xA0)));
    disk.tracks[1].push_back(d88test::sectorAt(1, 1, Bytes(256, 0xB1)));
    return disk;
}

struct Case {
    const char* what;
    std::function<std::vector<Disk>()> disks;
    std::int32_t diskCount;
    std::int32_t selected;  // the disk the probe is made on
    int track, c, h, r;     // the probe, with N 1
    std::int32_t found;     // bytes it finds
};

std::vector<Disk> one(const std::function<void(Disk&)>& change) {
    Disk disk = base();
    change(disk);
    return {disk};
}

const Case kCases[] = {
    {"disk size 0", [] { return one([](Disk& d) { d.diskSize = 0; }); }, 64, 0, 0, 0, 0, 1, 0},
    {"negative disk size", [] { return one([](Disk& d) { d.diskSize = -5; }); }, 1, 0, 0, 0, 0, 1, 0},
    {"disk size 0x7FFFFFFF", [] { return one([](Disk& d) { d.diskSize = INT32_MAX; }); }, 1, 0, 0, 0, 0, 1, 256},
    {"disk size overflowing the running position",
     [] {
         Disk big = base();
         big.diskSize = INT32_MAX;
         return std::vector<Disk>{base(), big, base()};
     },
     2, 1, 1, 0, 1, 1, 256},
    {"track offset 0", [] { return one([](Disk& d) { d.trackOffsets[0] = 0; }); }, 1, 0, 0, 0, 0, 1, 0},
    {"negative track offset", [] { return one([](Disk& d) { d.trackOffsets[0] = -1; }); }, 1, 0, 0, 0, 0, 1, 0},
    {"most negative track offset", [] { return one([](Disk& d) { d.trackOffsets[1] = INT32_MIN; }); }, 1, 0, 1, 0, 1, 1,
     0},
    {"track offset equal to the disk size", [] { return one([](Disk& d) { d.diskSize = kTrack1; }); }, 1, 0, 1, 0, 1, 1,
     0},
    {"track offset above the disk size", [] { return one([](Disk& d) { d.diskSize = kTrack1 - 1; }); }, 1, 0, 1, 0, 1,
     1, 0},
    {"track offset inside the header", [] { return one([](Disk& d) { d.trackOffsets[0] = 16; }); }, 1, 0, 0, 0, 0, 1,
     0},
    {"track offset overflowing with the disk offset",
     [] {
         Disk far = base();
         far.diskSize = INT32_MAX;
         far.trackOffsets[0] = INT32_MAX;
         return std::vector<Disk>{base(), far};
     },
     2, 1, 0, 0, 0, 1, 0},
    {"sector count 0", [] { return one([](Disk& d) { d.tracks[0][0].sectorCount = 0; }); }, 1, 0, 0, 0, 0, 1, 0},
    {"sector count 65535, sector absent",
     [] {
         return one([](Disk& d) {
             for (auto& [t, sectors] : d.tracks) sectors[0].sectorCount = 65535;
         });
     },
     1, 0, 0, 0, 0, 9, 0},
    {"sector count 65535, sector present", [] { return one([](Disk& d) { d.tracks[0][0].sectorCount = 65535; }); }, 1,
     0, 0, 0, 0, 1, 256},
    // Its 256 bytes follow, and then track 1: stepped by its N.
    {"data size 0", [] { return one([](Disk& d) { d.tracks[0][0].dataSize = 0; }); }, 1, 0, 0, 0, 0, 1, 256},
    {"data size beyond the end of the file", [] { return one([](Disk& d) { d.tracks[1][0].dataSize = 65535; }); }, 1, 0,
     1, 0, 1, 1, 256},
};

TEST(MalformedImages, EachCaseListsAndFindsWhatItMust) {
    d88test::Scratch scratch;
    for (const Case& test : kCases) {
        SCOPED_TRACE(test.what);
        // On the heap: the reader carries its 2 MiB buffer.
        auto owned = std::make_unique<d88::D88Reader>();
        d88::D88Reader& reader = *owned;
        ASSERT_TRUE(reader.open(scratch.image(d88test::buildImage(test.disks())).c_str()));
        EXPECT_EQ(reader.diskCount(), test.diskCount);
        ASSERT_TRUE(reader.selectDisk(test.selected));
        std::uint8_t out[65536];
        EXPECT_EQ(reader.readSector(test.track, test.c, test.h, test.r, 1, out, 65535), test.found);
        // Every other operation on every track stays within its bounds.
        reader.setSectorRange(1, 16);
        for (int t = -1; t <= 164; ++t) {
            const std::int32_t ids = reader.readTrackIds(t, out, 1024);
            EXPECT_TRUE(ids >= 0 && ids <= 1024 && ids % 4 == 0) << t;
            const std::int32_t run = reader.readSectors(t, t / 2, t % 2, 1, 1, out, 4096);
            EXPECT_TRUE(run >= 0 && run <= 4096 && run % 256 == 0) << t;
        }
    }
}

TEST(MalformedImages, EverySizeCodeIsFoundByIdentityAndNoneOverflowsARun) {
    d88test::Scratch scratch;
    for (int n = 0; n <= 255; ++n) {
        SCOPED_TRACE(n);
        Disk disk;
        disk.tracks[0].push_back(d88test::sectorWithId(0, 0, 1, n, Bytes(256, 0x5A)));
        // On the heap: the reader carries its 2 MiB buffer.
        auto owned = std::make_unique<d88::D88Reader>();
        d88::D88Reader& reader = *owned;
        ASSERT_TRUE(reader.open(scratch.image(d88test::buildImage({disk})).c_str()));
        ASSERT_TRUE(reader.selectDisk(0));
        std::uint8_t out[256];
        EXPECT_EQ(reader.readSector(0, 0, 0, 1, n, out, 256), 256);
        // Code 0 steps 128 bytes and finds no sector 2; codes 1 to 23 take the
        // whole 256 bytes in one step; above 23 no step fits 32 bits.
        const std::int32_t expected = n == 0 ? 128 : n <= 23 ? 256 : 0;
        EXPECT_EQ(reader.readSectors(0, 0, 0, 1, n, out, 256), expected);
    }
}

}  // namespace
