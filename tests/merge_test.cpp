// Several dumps of one disk merged: the copy each sector takes, the state it
// leaves, and the dump it came from; and two properties over dumps damaged
// at random.
#include <functional>
#include <memory>
#include <random>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "image_builder.h"
#include "known/merge.h"
#include "known_disk_blocks.h"
#include "tool_runner.h"

namespace {

using d88test::Bytes;
using d88test::Disk;
using d88test::sectorOf;
using Change = std::function<void(Disk&)>;

Change flagged(int track, int r, Bytes data = {}) {
    return [=](Disk& d) {
        sectorOf(d, track, r).status = 0xB0;
        if (!data.empty()) sectorOf(d, track, r).data = data;
    };
}
Change missing(int track, int r) {
    return [=](Disk& d) { sectorOf(d, track, r).r = 99; };
}
Change shortened(int track, int r, std::size_t size) {
    return [=](Disk& d) { sectorOf(d, track, r).data.resize(size); };
}
Change inverted(int track, int r) {
    return [=](Disk& d) { sectorOf(d, track, r).data = d88test::inverted(sectorOf(d, track, r).data); };
}

TEST(Merge, EachSectorTakesTheBestCopyAndSaysWhereItCameFrom) {
    const Bytes base = d88test::sectorBytes(79, 2);
    Bytes one = base, two = base;
    one[0] = two[0] = 0x11;
    two[1] = 0x22;
    Bytes voted = base;
    voted[0] = 0x11;
    Bytes first200 = d88test::sectorBytes(47, 3);
    std::fill(first200.begin() + 200, first200.end(), 0);
    struct Case {
        const char* what;
        std::vector<std::vector<Change>> images;  // the disks of each image, a change each
        const char* file;
        int track, r;  // the sector looked at
        const char* state;
        int from;
        Bytes bytes;  // of that sector; empty: the test disk's
        int status;
    };
    const Change none = [](Disk&) {};
    const Case cases[] = {
        {"a gap filled", {{missing(78, 5)}, {none}}, "OPMMUS3", 78, 5, "whole", 2, {}, 0},
        {"flagged, then clean", {{flagged(79, 2)}, {none}}, "OPMDRV", 79, 2, "whole", 2, {}, 0},
        {"clean, then flagged", {{none}, {flagged(79, 2)}}, "OPMDRV", 79, 2, "whole", 1, {}, 0},
        {"two clean copies differ",
         {{inverted(46, 12)}, {none}},
         "OPMMUS1",
         46,
         12,
         "contested",
         1,
         d88test::inverted(d88test::sectorBytes(46, 12)),
         2},
        {"two of three agree", {{inverted(46, 12)}, {none}, {none}}, "OPMMUS1", 46, 12, "contested", 2, {}, 2},
        {"three flagged, voted",
         {{flagged(79, 2)}, {flagged(79, 2, one)}, {flagged(79, 2, two)}},
         "OPMDRV",
         79,
         2,
         "flagged",
         1,
         voted,
         2},
        {"short in each",
         {{shortened(47, 3, 100)}, {shortened(47, 3, 200)}},
         "OPMMUS1",
         47,
         3,
         "partial",
         2,
         first200,
         2},
        {"missing in each", {{missing(78, 5)}, {missing(78, 5)}}, "OPMMUS3", 78, 5, "partial", 0, Bytes(256, 0), 2},
        // The blank image is no dump: the third image is dump 2.
        {"an image without the known disk", {{missing(78, 5)}, {}, {none}}, "OPMMUS3", 78, 5, "whole", 2, {}, 2},
        {"the known disk twice in one file", {{missing(78, 5), none}}, "OPMMUS3", 78, 5, "whole", 2, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        d88test::Scratch scratch;
        std::vector<std::string> argv = {"d88cut", "--merge", "-C", "out"};
        for (std::size_t i = 0; i < c.images.size(); ++i) {
            std::vector<Disk> disks;
            for (const Change& change : c.images[i]) {
                disks.push_back(d88test::knownDisk());
                change(disks.back());
            }
            // An image of no known disk: one blank disk image.
            if (disks.empty()) disks.emplace_back();
            const std::string path = scratch.root() + "/dump" + std::to_string(i) + ".d88";
            ASSERT_TRUE(d88test::writeFile(path, d88test::buildImage(disks)));
            argv.push_back(path);
        }
        const d88test::RunResult cut = scratch.run(argv);
        EXPECT_EQ(cut.status, c.status) << cut.err;
        std::vector<std::string> list = argv;
        list[2] = "--json";
        list.erase(list.begin() + 3);
        const nlohmann::json listed = nlohmann::json::parse(scratch.run(list).out);
        const auto sectors = d88test::fileSectors(c.file);
        const std::size_t k = std::find(sectors.begin(), sectors.end(), std::make_pair(c.track, c.r)) - sectors.begin();
        std::map<std::string, Bytes> expected = d88test::knownDiskFiles();
        Bytes sector = c.bytes.empty() ? d88test::sectorBytes(c.track, c.r) : c.bytes;
        std::copy(sector.begin(), sector.end(), expected[c.file].begin() + 256 * k);
        for (const nlohmann::json& file : listed["disks"][0]["files"]) {
            const std::string name = file["name"];
            const bool looked = name == c.file;
            EXPECT_EQ(file["state"], looked ? c.state : "whole") << name;
            for (std::size_t s = 0; s < file["from"].size(); ++s) {
                EXPECT_EQ(file["from"][s], looked && s == k ? c.from : 1) << name << " " << s;
            }
        }
        // The files cut are the merge's bytes; a file the merge leaves
        // whole says nothing.
        EXPECT_EQ(scratch.files("out"), expected);
        EXPECT_EQ(cut.err.find("OPMMUS0"), std::string::npos) << cut.err;
    }
}

// A sector's worth for the property: clean whole, flagged whole, else the
// bytes found.
int worth(const d88cut::SectorNote& note) {
    if (note.found == 256) return note.flagged ? 1000 : 2000;
    return note.found;
}

TEST(Merge, NoSectorIsWorseThanTheBestDumpsAndOrderChangesNoState) {
    std::mt19937 random(20261210);
    d88test::Scratch scratch;
    std::vector<std::unique_ptr<d88cut::DiskAccount>> dumps;
    for (int i = 0; i < 3; ++i) dumps.push_back(std::make_unique<d88cut::DiskAccount>());
    auto merged = std::make_unique<d88cut::DiskAccount>();
    auto reversed = std::make_unique<d88cut::DiskAccount>();
    for (int trial = 0; trial < 20; ++trial) {
        for (auto& dump : dumps) {
            Disk disk = d88test::knownDisk();
            for (auto& [track, sectors] : disk.tracks) {
                for (d88test::Sector& s : sectors) {
                    // The boot sector stays whole: every dump is of the known disk.
                    if (track == 0 && s.r == 1) continue;
                    switch (random() % 40) {
                        case 0: s.r = 99; break;
                        case 1: s.data.resize(random() % 256); break;
                        case 2: s.status = 0xB0; break;
                        case 3: s.data[random() % 256] ^= 1; break;
                        default: break;
                    }
                }
            }
            ASSERT_TRUE(d88cut::reader.open(scratch.image(d88test::buildImage({disk})).c_str()));
            d88cut::takeAccount(*dump, 0, d88cut::Depth::kEvery);
        }
        const d88cut::DiskAccount* order[] = {dumps[0].get(), dumps[1].get(), dumps[2].get()};
        const d88cut::DiskAccount* backwards[] = {dumps[2].get(), dumps[1].get(), dumps[0].get()};
        d88cut::mergeDumps(order, 3, *merged);
        d88cut::mergeDumps(backwards, 3, *reversed);
        for (int i = 0; i < 16; ++i) {
            const d88cut::FileAccount& file = merged->files[i];
            EXPECT_EQ(file.state, reversed->files[i].state) << file.name;
            for (int k = 0; k < file.sectorCount; ++k) {
                int best = 0;
                for (const auto& dump : dumps) {
                    if (k < dump->files[i].sectorCount)
                        best = std::max(best, worth(sectorOf(*dump, dump->files[i], k)));
                }
                EXPECT_EQ(worth(sectorOf(*merged, file, k)), best) << file.name << " " << k;
            }
        }
    }
    d88cut::reader.open(nullptr);
}

}  // namespace
