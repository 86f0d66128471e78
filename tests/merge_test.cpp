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

// A change of sector r of track t of the test disk.
Change at(int track, int r, std::function<void(d88test::Sector&)> change) {
    return [=](Disk& d) { change(sectorOf(d, track, r)); };
}
Change missing(int track, int r) {
    return at(track, r, [](d88test::Sector& s) { s.r = 99; });
}
Change flagged(int track, int r, Bytes data) {
    return at(track, r, [data](d88test::Sector& s) {
        s.data = data;
        s.status = 0xB0;
    });
}

TEST(Merge, EachSectorTakesTheBestCopyAndSaysWhereItCameFrom) {
    const Bytes base = d88test::sectorBytes(79, 2);
    Bytes one = base, two = base, voted = base;
    one[0] = two[0] = voted[0] = 0x11;
    two[1] = 0x22;
    const Bytes inverted = d88test::inverted(d88test::sectorBytes(46, 12));
    Bytes first200 = d88test::sectorBytes(47, 3);
    std::fill(first200.begin() + 200, first200.end(), 0);
    const Change none = [](Disk&) {};
    const Change invert = at(46, 12, [&inverted](d88test::Sector& s) { s.data = inverted; });
    const auto cut = [](std::size_t size) { return at(47, 3, [size](d88test::Sector& s) { s.data.resize(size); }); };
    struct Case {
        const char* what;
        std::vector<std::vector<Change>> images;  // the disks of each image, a change each
        int track, r;                             // the sector looked at
        const char* state;                        // of its file
        int from, status;
        Bytes bytes = {};  // of that sector; empty: the test disk's
    };
    const Case cases[] = {
        {"a gap filled", {{missing(78, 5)}, {none}}, 78, 5, "whole", 2, 0},
        {"flagged, then clean", {{flagged(79, 2, base)}, {none}}, 79, 2, "whole", 2, 0},
        {"clean, then flagged", {{none}, {flagged(79, 2, base)}}, 79, 2, "whole", 1, 0},
        {"two clean copies differ", {{invert}, {none}}, 46, 12, "contested", 1, 2, inverted},
        {"two of three agree", {{invert}, {none}, {none}}, 46, 12, "contested", 2, 2},
        {"three flagged, voted",
         {{flagged(79, 2, base)}, {flagged(79, 2, one)}, {flagged(79, 2, two)}},
         79,
         2,
         "flagged",
         1,
         2,
         voted},
        {"short in each", {{cut(100)}, {cut(200)}}, 47, 3, "partial", 2, 2, first200},
        {"missing in each", {{missing(78, 5)}, {missing(78, 5)}}, 78, 5, "partial", 0, 2, Bytes(256, 0)},
        // The blank image is no dump: the third image is dump 2.
        {"an image without the known disk", {{missing(78, 5)}, {}, {none}}, 78, 5, "whole", 2, 2},
        {"the known disk twice in one file", {{missing(78, 5), none}}, 78, 5, "whole", 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        d88test::Scratch scratch;
        std::vector<std::string> cutArgs = {"d88cut", "--merge", "-C", "out"},
                                 listArgs = {"d88cut", "--merge", "--json"};
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
            cutArgs.push_back(path);
            listArgs.push_back(path);
        }
        const d88test::RunResult cut = scratch.run(cutArgs);
        EXPECT_EQ(cut.status, c.status) << cut.err;
        const nlohmann::json listed = nlohmann::json::parse(scratch.run(listArgs).out);
        // The one file that covers the sector, and its place there.
        std::string looked;
        std::size_t k = 0;
        for (const auto& [name, bytes] : d88test::knownDiskFiles()) {
            const auto sectors = d88test::fileSectors(name);
            const auto found = std::find(sectors.begin(), sectors.end(), std::make_pair(c.track, c.r));
            if (found != sectors.end()) std::tie(looked, k) = std::make_pair(name, found - sectors.begin());
        }
        std::map<std::string, Bytes> expected = d88test::knownDiskFiles();
        Bytes sector = c.bytes.empty() ? d88test::sectorBytes(c.track, c.r) : c.bytes;
        std::copy(sector.begin(), sector.end(), expected[looked].begin() + 256 * k);
        for (const nlohmann::json& file : listed["disks"][0]["files"]) {
            const std::string name = file["name"];
            EXPECT_EQ(file["state"], name == looked ? c.state : "whole") << name;
            for (std::size_t s = 0; s < file["from"].size(); ++s) {
                EXPECT_EQ(file["from"][s], name == looked && s == k ? c.from : 1) << name << " " << s;
            }
        }
        EXPECT_EQ(scratch.files("out"), expected);
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
