// D88Reader on small images made by the image builder: good ones, and ones
// with lying counts, bad offsets and cut-off data.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>

#include <gtest/gtest.h>

#include "d88/d88_reader.h"
#include "image_builder.h"
#include "tool_runner.h"

namespace {

using d88::D88Reader;
using d88test::Bytes;
using d88test::Disk;
using d88test::Sector;
using d88test::sectorAt;
using d88test::sectorBytes;
constexpr auto record = d88test::sectorWithId;

Disk diskWith(std::map<int, std::vector<Sector>> tracks, std::string name = "DISK") {
    Disk disk;
    disk.name = std::move(name);
    disk.tracks = std::move(tracks);
    return disk;
}

// Where the builder places the first track of a disk, and the length of one
// record of 256 bytes. (A track entry equal to or above the disk size is one
// of the malformed cases in malformed_test.cpp.)
constexpr std::int32_t kFirstTrackOffset = 688;
constexpr std::int32_t kRecord256 = 16 + 256;

class ReaderTest : public ::testing::Test {
protected:
    void openImage(const Bytes& image) {
        path_ = scratch_.image(image);
        ASSERT_TRUE(reader_.open(path_.c_str()));
    }
    void openDisks(const std::vector<Disk>& disks) { openImage(d88test::buildImage(disks)); }
    // Opens a one-disk image and selects the disk.
    void selectOnly(const Disk& disk) {
        openDisks({disk});
        ASSERT_TRUE(reader_.selectDisk(0));
    }
    Bytes read(int track, int c, int h, int r, int n, int maxLen) {
        Bytes out(static_cast<std::size_t>(maxLen) + 1, 0xEE);
        const std::int32_t got = reader_.readSector(track, c, h, r, n, out.data(), maxLen);
        out.resize(static_cast<std::size_t>(got));
        return out;
    }

    d88test::Scratch scratch_;
    D88Reader reader_;
    std::string path_;
};

// --- little-endian fields --------------------------------------------------

TEST(LittleEndian, AssemblesFirstByteLowestAtAnyAlignment) {
    const std::uint8_t bytes[] = {0x00, 0x78, 0x56, 0x34, 0x12, 0xFF, 0xFF};
    EXPECT_EQ(d88::readLe16(bytes + 1), 0x5678);
    EXPECT_EQ(d88::readLe16(bytes + 5), 0xFFFF);
    EXPECT_EQ(d88::readLe32(bytes + 1), 0x12345678);
}

TEST(LittleEndian, TopBitMakesLe32Negative) {
    const std::uint8_t minusOne[] = {0xFF, 0xFF, 0xFF, 0xFF};
    const std::uint8_t lowest[] = {0x00, 0x00, 0x00, 0x80};
    const std::uint8_t highest[] = {0xFF, 0xFF, 0xFF, 0x7F};
    EXPECT_EQ(d88::readLe32(minusOne), -1);
    EXPECT_EQ(d88::readLe32(lowest), INT32_MIN);
    EXPECT_EQ(d88::readLe32(highest), INT32_MAX);
}

// --- listing the disk images -----------------------------------------------

TEST_F(ReaderTest, FileShorterThanAHeaderHoldsNoDisk) {
    openImage(Bytes(687, 0));
    EXPECT_EQ(reader_.diskCount(), 0);
    EXPECT_FALSE(reader_.selectDisk(0));
}

TEST_F(ReaderTest, MissingOrUnreadableFileDoesNotOpen) {
    for (const std::string& path : {scratch_.root() + "/absent.d88", scratch_.work()}) {
        EXPECT_FALSE(reader_.open(path.c_str())) << path;
        EXPECT_EQ(reader_.diskCount(), 0);
        EXPECT_FALSE(reader_.selectDisk(0));
    }
}

TEST_F(ReaderTest, ListsDiskImagesBackToBack) {
    openDisks({diskWith({{0, {sectorAt(0, 1, Bytes(256, 1))}}}, "FIRST"), diskWith({}, "SECOND"),
               diskWith({{3, {sectorAt(3, 1, Bytes(128, 3))}}}, "THIRD")});
    ASSERT_EQ(reader_.diskCount(), 3);
    ASSERT_TRUE(reader_.selectDisk(2));
    EXPECT_STREQ(reader_.diskName(), "THIRD");
    EXPECT_EQ(read(3, 1, 1, 1, 1, 256), Bytes(128, 3));
}

TEST_F(ReaderTest, DiskSizeZeroListsTheSameHeaderUpToSixtyFour) {
    Disk disk = diskWith({{0, {sectorAt(0, 1, Bytes(256, 7))}}}, "LOOP");
    disk.diskSize = 0;
    openDisks({disk});
    ASSERT_EQ(reader_.diskCount(), d88::kMaxDisks);
    ASSERT_TRUE(reader_.selectDisk(63));
    EXPECT_STREQ(reader_.diskName(), "LOOP");
    // A size of 0 leaves no track entry within the disk.
    EXPECT_EQ(read(0, 0, 0, 1, 1, 256), Bytes());
    EXPECT_FALSE(reader_.selectDisk(64));
}

TEST_F(ReaderTest, NegativeDiskSizeEndsTheListing) {
    // The second size leads back to offset 0: followed, the listing would go
    // round the same two headers until it held 64 images.
    Disk first = diskWith({}, "FIRST");
    Disk second = diskWith({}, "SECOND");
    second.diskSize = -688;
    openDisks({first, second});
    EXPECT_EQ(reader_.diskCount(), 2);
}

TEST_F(ReaderTest, ListingEndsWhereADiskOffsetWouldPassTwoGiB) {
    // Disk offsets are 32-bit: a header at 4 GiB - 2 cannot be listed.
    Disk big = diskWith({});
    big.diskSize = INT32_MAX;
    const Bytes header = d88test::buildImage({big});
    const std::string path = scratch_.root() + "/sparse.d88";
    ASSERT_TRUE(d88test::writeSparse(path, {{0, header}, {INT32_MAX, header}, {2LL * INT32_MAX, header}}));
    ASSERT_TRUE(reader_.open(path.c_str()));
    EXPECT_EQ(reader_.diskCount(), 2);
    EXPECT_TRUE(reader_.selectDisk(1));
}

TEST_F(ReaderTest, OpeningAnotherFileListsThatFile) {
    openDisks({diskWith({}), diskWith({})});
    openDisks({diskWith({}, "OTHER")});
    EXPECT_EQ(reader_.diskCount(), 1);
    ASSERT_TRUE(reader_.selectDisk(0));
    EXPECT_STREQ(reader_.diskName(), "OTHER");
}

// --- selecting a disk image ------------------------------------------------

TEST_F(ReaderTest, SelectTakesNameAndMediaType) {
    Disk disk = diskWith({}, std::string("AB\0garbage", 10));
    disk.mediaType = 0xFF;
    selectOnly(disk);
    EXPECT_EQ(reader_.currentDisk(), 0);
    EXPECT_EQ(reader_.mediaType(), 255);
    // The bytes after the first NUL are not taken.
    const char expected[17] = "AB";
    EXPECT_EQ(std::memcmp(reader_.diskName(), expected, 17), 0);
}

TEST_F(ReaderTest, SixteenByteNameIsTakenWholeAndTerminated) {
    // Byte 16, the name's terminator in the header, is set: it is not read.
    Bytes image = d88test::buildImage({diskWith({}, "ABCDEFGHIJKLMNOP")});
    image[16] = 'Q';
    openImage(image);
    ASSERT_TRUE(reader_.selectDisk(0));
    EXPECT_EQ(std::memcmp(reader_.diskName(), "ABCDEFGHIJKLMNOP", 17), 0);
}

TEST_F(ReaderTest, SelectOutOfRangeLeavesNoDiskSelected) {
    Disk disk = diskWith({{0, {sectorAt(0, 1, Bytes(256, 1))}}}, "NAME");
    disk.mediaType = 0x10;
    selectOnly(disk);
    for (const std::int32_t index : {reader_.diskCount(), -1}) {
        EXPECT_FALSE(reader_.selectDisk(index));
        EXPECT_EQ(reader_.currentDisk(), -1);
        EXPECT_EQ(reader_.mediaType(), -1);
        EXPECT_STREQ(reader_.diskName(), "");
        // The failed selection leaves a disk size of 0: no track is present.
        EXPECT_EQ(read(0, 0, 0, 1, 1, 256), Bytes());
    }
}

TEST_F(ReaderTest, SelectFailsWhenTheHeaderWasCutAfterOpen) {
    openDisks({diskWith({}, "FIRST"), diskWith({}, "SECOND")});
    ASSERT_EQ(reader_.diskCount(), 2);
    ASSERT_EQ(::truncate(path_.c_str(), 688 + 100), 0);
    EXPECT_FALSE(reader_.selectDisk(1));
    EXPECT_EQ(reader_.currentDisk(), -1);
    EXPECT_EQ(reader_.mediaType(), -1);
    EXPECT_STREQ(reader_.diskName(), "");
    EXPECT_TRUE(reader_.selectDisk(0));
}

// --- finding a sector ------------------------------------------------------

TEST_F(ReaderTest, FindsSectorsInAnyRecordOrder) {
    selectOnly(diskWith(
        {{5,
          {sectorAt(5, 3, sectorBytes(5, 3)), sectorAt(5, 1, sectorBytes(5, 1)), sectorAt(5, 2, sectorBytes(5, 2))}}}));
    for (int r = 1; r <= 3; ++r) EXPECT_EQ(read(5, 2, 1, r, 1, 256), sectorBytes(5, r));
}

TEST_F(ReaderTest, ReadsAtMostMaxLenAndAtMostTheDataSize) {
    selectOnly(diskWith({{0, {sectorAt(0, 1, sectorBytes(0, 1))}}}));
    const Bytes whole = sectorBytes(0, 1);
    EXPECT_EQ(read(0, 0, 0, 1, 1, 17), Bytes(whole.begin(), whole.begin() + 17));
    EXPECT_EQ(read(0, 0, 0, 1, 1, 1000), whole);
}

TEST_F(ReaderTest, IdentityMustMatchInAllFourBytes) {
    selectOnly(diskWith({{2, {record(1, 0, 1, 1, Bytes(256, 9))}}}));
    EXPECT_EQ(read(2, 1, 0, 1, 1, 256), Bytes(256, 9));
    EXPECT_EQ(read(2, 0, 0, 1, 1, 256), Bytes());  // other C
    EXPECT_EQ(read(2, 1, 1, 1, 1, 256), Bytes());  // other H
    EXPECT_EQ(read(2, 1, 0, 2, 1, 256), Bytes());  // other R
    EXPECT_EQ(read(2, 1, 0, 1, 0, 256), Bytes());  // other N
}

TEST_F(ReaderTest, SectorCountZeroEmptiesTheTrackForReadSectorOnly) {
    Sector first = record(0, 0, 1, 1, Bytes(256, 1));
    Sector second = record(0, 0, 2, 1, Bytes(256, 2));
    first.sectorCount = second.sectorCount = 0;
    selectOnly(diskWith({{0, {first, second}}, {1, {record(0, 1, 1, 1, Bytes(256, 3))}}}));
    EXPECT_EQ(read(0, 0, 0, 1, 1, 256), Bytes());
    EXPECT_EQ(read(0, 0, 0, 2, 1, 256), Bytes());
    // The listing runs on through the next track until its output is full.
    std::uint8_t ids[12];
    ASSERT_EQ(reader_.readTrackIds(0, ids, sizeof ids), 12);
    const std::uint8_t expected[12] = {0, 0, 1, 1, 0, 0, 2, 1, 0, 1, 1, 1};
    EXPECT_EQ(std::memcmp(ids, expected, 12), 0);
}

TEST_F(ReaderTest, WalkEndsAtTheTracksSectorCount) {
    // The header says one record: the next record is not part of the track.
    Sector first = record(0, 0, 1, 1, Bytes(256, 1));
    first.sectorCount = 1;
    selectOnly(diskWith({{0, {first, record(0, 0, 2, 1, Bytes(256, 2))}}}));
    EXPECT_EQ(read(0, 0, 0, 2, 1, 256), Bytes());
    std::uint8_t ids[8];
    EXPECT_EQ(reader_.readTrackIds(0, ids, sizeof ids), 4);
}

TEST_F(ReaderTest, AbsentTracksAndTrackIndicesOutsideTheTableFindNothing) {
    selectOnly(diskWith({{0, {record(0, 0, 1, 1, Bytes(256, 1))}}}));
    for (const int track : {-1, 1, 163, 164, INT32_MAX}) {
        EXPECT_EQ(read(track, 0, 0, 1, 1, 256), Bytes()) << track;
        std::uint8_t ids[4];
        EXPECT_EQ(reader_.readTrackIds(track, ids, 4), 0) << track;
    }
}

TEST_F(ReaderTest, NegativeTrackEntryIsAbsent) {
    // The second disk's entry points back into the first disk's track 0;
    // as a plain sum it would find that sector there.
    const Disk first = diskWith({{0, {record(0, 0, 1, 1, Bytes(256, 1))}}});
    const std::int32_t second = kFirstTrackOffset + kRecord256;
    Disk disk = diskWith({});
    disk.trackOffsets[0] = kFirstTrackOffset - second;
    openDisks({first, disk});
    ASSERT_TRUE(reader_.selectDisk(1));
    EXPECT_EQ(read(0, 0, 0, 1, 1, 256), Bytes());
    std::uint8_t ids[4];
    EXPECT_EQ(reader_.readTrackIds(0, ids, 4), 0);
}

TEST_F(ReaderTest, TrackPositionIsExactBeyondTwoGiB) {
    // Disk offset and track entry add up past 32 bits; the record is read at
    // the true position, never at a wrapped one.
    constexpr std::int32_t kFar = 0x7FFFFF00;
    Disk first = diskWith({});
    first.diskSize = kFar;
    Disk second = diskWith({});
    second.diskSize = INT32_MAX;
    second.trackOffsets[0] = kFar;
    const Bytes rec = d88test::buildImage({diskWith({{0, {record(0, 0, 1, 1, Bytes(256, 5))}}})});
    const std::string path = scratch_.root() + "/sparse.d88";
    ASSERT_TRUE(d88test::writeSparse(path, {{0, d88test::buildImage({first})},
                                            {kFar, d88test::buildImage({second})},
                                            {2LL * kFar, Bytes(rec.begin() + 688, rec.end())}}));
    ASSERT_TRUE(reader_.open(path.c_str()));
    ASSERT_TRUE(reader_.selectDisk(1));
    EXPECT_EQ(read(0, 0, 0, 1, 1, 256), Bytes(256, 5));
}

TEST_F(ReaderTest, DataCutByTheEndOfFileReturnsTheBytesThatArrived) {
    Bytes image =
        d88test::buildImage({diskWith({{0, {sectorAt(0, 1, sectorBytes(0, 1)), sectorAt(0, 2, sectorBytes(0, 2))}}})});
    image.resize(image.size() - 156);  // 100 bytes of sector 2 are left
    openImage(image);
    ASSERT_TRUE(reader_.selectDisk(0));
    const Bytes two = sectorBytes(0, 2);
    EXPECT_EQ(read(0, 0, 0, 2, 1, 256), Bytes(two.begin(), two.begin() + 100));
    // A run counts only the whole sector that is really there.
    Bytes out(512);
    EXPECT_EQ(reader_.readSectors(0, 0, 0, 1, 1, out.data(), 512), 256);
}

TEST_F(ReaderTest, HeaderCutByTheEndOfFileEndsTheWalk) {
    Bytes image =
        d88test::buildImage({diskWith({{0, {sectorAt(0, 1, Bytes(256, 1)), sectorAt(0, 2, Bytes(256, 2))}}})});
    image.resize(image.size() - 256 - 8);
    openImage(image);
    ASSERT_TRUE(reader_.selectDisk(0));
    EXPECT_EQ(read(0, 0, 0, 2, 1, 256), Bytes());
    std::uint8_t ids[8];
    EXPECT_EQ(reader_.readTrackIds(0, ids, 8), 4);
}

TEST_F(ReaderTest, RecordsAcrossTheEdgeOfTheReadersBufferReadWhole) {
    // Records placed where the reader's buffer ends: a header across the
    // edge, and data across the next one; then back to the start.
    constexpr std::size_t kEdge = d88::kStreamBufferSize;
    const Bytes a = sectorBytes(0, 1), b = sectorBytes(1, 1);
    const Bytes recordA = d88test::buildImage({diskWith({{0, {sectorAt(0, 1, a)}}})});
    const Bytes recordB = d88test::buildImage({diskWith({{1, {sectorAt(1, 1, b)}}})});
    Disk disk = diskWith({});
    disk.diskSize = static_cast<std::int32_t>(3 * kEdge);
    disk.trackOffsets[0] = static_cast<std::int32_t>(kEdge - 8);
    disk.trackOffsets[1] = static_cast<std::int32_t>(2 * kEdge - 16 - 100);
    Bytes image = d88test::buildImage({disk});
    image.resize(3 * kEdge, 0);
    std::copy(recordA.begin() + 688, recordA.end(), image.begin() + disk.trackOffsets[0]);
    std::copy(recordB.begin() + 688, recordB.end(), image.begin() + disk.trackOffsets[1]);
    openImage(image);
    ASSERT_TRUE(reader_.selectDisk(0));
    EXPECT_EQ(read(0, 0, 0, 1, 1, 256), a);
    EXPECT_EQ(read(1, 0, 1, 1, 1, 256), b);
    EXPECT_EQ(read(0, 0, 0, 1, 1, 256), a);
    std::uint8_t ids[8];
    ASSERT_EQ(reader_.readTrackIds(1, ids, 8), 4);
    EXPECT_EQ(std::memcmp(ids, "\0\1\1\1", 4), 0);
}

// --- runs of sectors -------------------------------------------------------

class RunTest : public ReaderTest {
protected:
    // Tracks `from` to `to` with sectors 1 to 16 of the known disk's bytes.
    void selectTracks(int from, int to) {
        Disk disk;
        for (int t = from; t <= to; ++t) {
            for (int r = 16; r >= 1; --r) disk.tracks[t].push_back(sectorAt(t, r, sectorBytes(t, r)));
        }
        selectOnly(disk);
        reader_.setSectorRange(1, 16);
    }
    static Bytes expected(std::vector<std::pair<int, int>> sectors) {
        Bytes bytes;
        for (const auto& [t, r] : sectors) {
            const Bytes s = sectorBytes(t, r);
            bytes.insert(bytes.end(), s.begin(), s.end());
        }
        return bytes;
    }
};

TEST_F(RunTest, RunCrossesTracksAndCylinders) {
    selectTracks(46, 48);
    std::vector<std::pair<int, int>> sectors;
    for (int r = 12; r <= 16; ++r) sectors.push_back({46, r});
    for (int r = 1; r <= 16; ++r) sectors.push_back({47, r});
    for (int r = 1; r <= 4; ++r) sectors.push_back({48, r});
    Bytes out(6400);
    ASSERT_EQ(reader_.readSectors(46, 23, 0, 12, 1, out.data(), 6400), 6400);
    EXPECT_EQ(out, expected(sectors));
}

TEST_F(RunTest, RunFollowsTheSectorRange) {
    selectTracks(4, 6);
    reader_.setSectorRange(2, 3);
    Bytes out(1024);
    ASSERT_EQ(reader_.readSectors(4, 2, 0, 3, 1, out.data(), 1024), 1024);
    EXPECT_EQ(out, expected({{4, 3}, {5, 2}, {5, 3}, {6, 2}}));
}

TEST_F(RunTest, LastStepIsCutToTheLength) {
    selectTracks(0, 0);
    Bytes out(300);
    ASSERT_EQ(reader_.readSectors(0, 0, 0, 1, 1, out.data(), 300), 300);
    const Bytes two = expected({{0, 1}, {0, 2}});
    EXPECT_EQ(out, Bytes(two.begin(), two.begin() + 300));
}

TEST_F(RunTest, NothingToReadOrNoFirstSectorGivesZero) {
    selectTracks(0, 0);
    Bytes out(256, 0xEE);
    EXPECT_EQ(reader_.readSectors(0, 0, 0, 1, 1, out.data(), 0), 0);
    EXPECT_EQ(out, Bytes(256, 0xEE));
    EXPECT_EQ(reader_.readSectors(0, 0, 0, 17, 1, out.data(), 256), 0);
    EXPECT_EQ(reader_.readSectors(1, 0, 1, 1, 1, out.data(), 256), 0);
}

TEST_F(RunTest, RunEndsBeforeAMissingOrShortSector) {
    Disk disk = diskWith({{0,
                           {sectorAt(0, 1, Bytes(256, 1)), sectorAt(0, 2, Bytes(256, 2)), sectorAt(0, 3, Bytes(128, 3)),
                            sectorAt(0, 5, Bytes(256, 5))}}});
    selectOnly(disk);
    reader_.setSectorRange(1, 16);
    Bytes out(1024);
    // Sector 3 holds 128 bytes, less than the step of N = 1.
    EXPECT_EQ(reader_.readSectors(0, 0, 0, 1, 1, out.data(), 1024), 512);
    // Sector 4 is missing.
    EXPECT_EQ(reader_.readSectors(0, 0, 0, 5, 1, out.data(), 512), 256);
}

// --- listing a track's identities ------------------------------------------

TEST_F(ReaderTest, TrackIdsListRecordsInFileOrderAsFarAsTheyFit) {
    selectOnly(diskWith(
        {{3, {record(1, 1, 9, 1, Bytes(256)), record(1, 1, 2, 0, Bytes(128)), record(7, 0, 3, 2, Bytes(512))}}}));
    std::uint8_t ids[16] = {};
    ASSERT_EQ(reader_.readTrackIds(3, ids, 16), 12);
    const std::uint8_t expected[12] = {1, 1, 9, 1, 1, 1, 2, 0, 7, 0, 3, 2};
    EXPECT_EQ(std::memcmp(ids, expected, 12), 0);
    // Only whole entries are written.
    EXPECT_EQ(reader_.readTrackIds(3, ids, 7), 4);
}

// --- states ----------------------------------------------------------------

TEST_F(ReaderTest, ClosedReaderReadsNothing) {
    auto expectClosed = [this] {
        std::uint8_t out[256];
        EXPECT_FALSE(reader_.selectDisk(0));
        EXPECT_EQ(reader_.readSector(0, 0, 0, 1, 1, out, 256), 0);
        EXPECT_EQ(reader_.readSectors(0, 0, 0, 1, 1, out, 256), 0);
        EXPECT_EQ(reader_.readTrackIds(0, out, 256), 0);
        EXPECT_EQ(reader_.diskCount(), 0);
        EXPECT_EQ(reader_.currentDisk(), -1);
        EXPECT_EQ(reader_.mediaType(), -1);
    };
    expectClosed();  // as constructed
    selectOnly(diskWith({{0, {sectorAt(0, 1, Bytes(256, 1))}}}));
    EXPECT_TRUE(reader_.open(nullptr));
    expectClosed();
    EXPECT_FALSE(reader_.open((scratch_.root() + "/absent").c_str()));
    expectClosed();
}

TEST_F(ReaderTest, OpenWithoutSelectionReadsWithTheFieldsItHolds) {
    const Disk disk = diskWith({{0, {sectorAt(0, 1, Bytes(256, 4))}}});
    openDisks({disk});
    // Fresh reader: an empty track table.
    EXPECT_EQ(read(0, 0, 0, 1, 1, 256), Bytes());
    // After a close and a new open, the disk selected before still serves.
    ASSERT_TRUE(reader_.selectDisk(0));
    ASSERT_TRUE(reader_.open(nullptr));
    ASSERT_TRUE(reader_.open(path_.c_str()));
    EXPECT_EQ(reader_.currentDisk(), -1);
    EXPECT_EQ(read(0, 0, 0, 1, 1, 256), Bytes(256, 4));
}

}  // namespace
