// The dumps users hold: D88 files as writers with known faults wrote them,
// and the known disk in a raw 2D image, an IMD file, or packed in gzip or zip.
#include <functional>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "image_builder.h"
#include "known_disk_blocks.h"
#include "tool_runner.h"

namespace {

using d88test::Bytes;
using d88test::Disk;
using d88test::Scratch;
using d88test::sectorOf;

TEST(WriterFaults, EachIsReadAsTheDiskItDescribes) {
    const std::int64_t size = d88test::buildImage({d88test::knownDisk()}).size();
    const auto sized = [](std::int64_t field) {
        return [field](Disk& d) { d.diskSize = static_cast<std::int32_t>(field); };
    };
    const auto everySector = [](const std::function<void(d88test::Sector&, std::size_t)>& change) {
        return [change](Disk& d) {
            for (auto& [track, sectors] : d.tracks) {
                for (d88test::Sector& s : sectors) change(s, sectors.size());
            }
        };
    };
    struct Case {
        const char* what;
        int status;
        std::string line;  // a piece of what the cut says; "": nothing
        std::function<void(Disk&)> change;
    };
    const Case cases[] = {
        {"one data-size field 0", 2,
         "disk image 1: the data-size field of 1 record does not lead to the next record, and the size code does; it "
         "was read by the size code (the first: track 44, C 22, H 0, R 11, N 1, data size 0)",
         [](Disk& d) { sectorOf(d, 44, 11).dataSize = 0; }},
        {"every data-size field 0", 2, " records does not lead to the next record",
         everySector([](d88test::Sector& s, std::size_t) { s.dataSize = 0; })},
        {"the size field 0", 2, "disk image 1 gives its size as 0 bytes from offset 0; the file ends at", sized(0)},
        {"the size field a constant", 2, "gives its size as 348848 bytes", sized(348848)},
        {"the size field without the header", 2, "gives its size as " + std::to_string(size - 688) + " bytes",
         sized(size - 688)},
        {"the size field too large", 2, "gives its size as " + std::to_string(size * 100) + " bytes",
         sized(size * 100)},
        {"counts big-endian", 0, "",
         everySector([](d88test::Sector& s, std::size_t n) { s.sectorCount = static_cast<std::uint16_t>(n << 8); })},
        // 16 for every track, those of a 17th sector too.
        {"counts 0x1000", 0, "", everySector([](d88test::Sector& s, std::size_t) { s.sectorCount = 0x1000; })},
        {"unused entries -1", 0, "",
         [](Disk& d) {
             for (int t = 80; t < 164; ++t) d.trackOffsets[t] = -1;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Disk disk = d88test::knownDisk();
        c.change(disk);
        Scratch scratch;
        const d88test::RunResult run = scratch.runOn(d88test::buildImage({disk}));
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_NE(run.err.find(c.line), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), c.line.empty() ? 0 : 1) << run.err;
        EXPECT_EQ(scratch.files(), d88test::knownDiskFiles());
    }
}

TEST(Containers, EachIsCutAsFromAD88AndPutBackInItsOwn) {
    // The IMD file: OPMMUS3's first sector compressed, a sector with a
    // deleted-data mark and one with a data error.
    Disk imdDisk = d88test::knownDisk();
    sectorOf(imdDisk, 78, 4).data = Bytes(256, 0xE5);
    std::map<std::string, Bytes> imdFiles = d88test::knownDiskFiles();
    std::fill_n(imdFiles["OPMMUS3"].begin(), 256, 0xE5);
    const Bytes imd = d88test::buildImd(imdDisk, {{{78, 4}, 2}, {{75, 9}, 3}, {{3, 1}, 5}});
    // Its first track's size code 0xFF: the sizes in a table.
    Bytes sizeTable = d88test::buildImd(d88test::knownDisk());
    sizeTable[std::find(sizeTable.begin(), sizeTable.end(), 0x1A) - sizeTable.begin() + 5] = 0xFF;
    std::map<std::string, Bytes> raw2DFiles = d88test::knownDiskFiles();
    raw2DFiles.erase("PSGMUS");
    // The D88 behind a compressed file's magic number.
    const auto packed = [](Bytes magic) {
        const Bytes d88 = d88test::buildImage({d88test::knownDisk()});
        magic.insert(magic.end(), d88.begin(), d88.end());
        return magic;
    };
    struct Case {
        const char* what;
        Bytes image;
        const char* format;  // the JSON listing's
        int grows;           // bytes a put of OPMMUS3 adds; -1: no put
        std::string line;    // a piece of what the cut says on standard error
        std::map<std::string, Bytes> files = {};
    };
    const Case cases[] = {
        {"a raw 2D image", d88test::buildRaw2D(d88test::knownDisk()), "2d", 0,
         "PSGMUS: not cut: a raw 2D image holds no sector 17, where its slots lie", raw2DFiles},
        {"a raw 2D image of another disk", d88test::buildRaw2D(Disk()), "2d", -1,
         "has the size of a raw 2D image (327680 bytes), but its boot sector does not carry the known disk's "
         "signature; nothing was cut"},
        {"an IMD file", imd, "imd", 255,
         "OPMMUS4: sector (track 75, C 37, H 1, R 9) is recorded with a deleted-data mark", imdFiles},
        {"an IMD file with a size table", sizeTable, "imd", -1,
         "gives each sector's size in a table (size code 0xFF), which d88cut does not read"},
        {"a gzip file", packed({0x1F, 0x8B, 8, 0}), "gzip", -1,
         "is compressed with gzip, not a disk image: unpack it first (gunzip)"},
        {"a zip file", packed({'P', 'K', 3, 4}), "zip", -1,
         "is a zip archive, not a disk image: unpack it first (unzip)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scratch scratch;
        const std::string image = scratch.image(c.image);
        const d88test::RunResult run = scratch.run({"d88cut", "-C", "game", image});
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find(c.line), std::string::npos) << run.err;
        EXPECT_EQ(scratch.files("game"), c.files);
        const d88test::RunResult listed = scratch.run({"d88cut", "--json", image});
        EXPECT_EQ(nlohmann::json::parse(listed.out)["format"], c.format);
        if (c.grows < 0) continue;
        // OPMMUS3 edited goes back into a copy in the same container, and
        // nowhere else; a compressed record it changes grows.
        const Bytes edited = d88test::inverted(c.files.at("OPMMUS3"));
        d88test::writeFile(scratch.work() + "/game/OPMMUS3", edited);
        ASSERT_EQ(scratch.run({"d88cut", "-C", "game", "--put=new", image}).status, 0);
        const Bytes copy = d88test::readFile(scratch.work() + "/new").value();
        EXPECT_EQ(copy.size(), c.image.size() + c.grows);
        scratch.run({"d88cut", "-C", "check", "new"});
        std::map<std::string, Bytes> expected = c.files;
        expected["OPMMUS3"] = edited;
        EXPECT_EQ(scratch.files("check"), expected);
    }
}

}  // namespace
