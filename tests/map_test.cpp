// d88cut -l --map: the character of each sector at its column, on damaged
// test disks.
#include <functional>
#include <cstdio>

#include <gtest/gtest.h>

#include "image_builder.h"
#include "known_disk_blocks.h"
#include "tool_runner.h"

namespace {

using d88test::Disk;
using d88test::sectorOf;

// The map's line of a track: its 17 characters.
std::string mapRow(const std::string& listing, int track) {
    char head[8];
    std::snprintf(head, sizeof head, "\n%3d ", track);
    const std::size_t at = listing.find(head);
    return at == std::string::npos ? "" : listing.substr(at + 5, 17);
}

TEST(Map, EachSectorShowsItsStateAtItsColumn) {
    struct Case {
        const char* what;
        std::function<void(Disk&)> change;
        int track, r;
        char shown;
    };
    const Case cases[] = {
        {"whole", [](Disk&) {}, 78, 5, '.'},
        {"missing", [](Disk& d) { sectorOf(d, 78, 5).r = 99; }, 78, 5, '-'},
        {"short", [](Disk& d) { sectorOf(d, 47, 3).data.resize(100); }, 47, 3, 's'},
        {"flagged", [](Disk& d) { sectorOf(d, 79, 2).status = 0xB0; }, 79, 2, 'f'},
        {"no file's", [](Disk&) {}, 0, 2, 'o'},
        {"sector 17 where no file needs it", [](Disk&) {}, 0, 17, ' '},
        // A block not cut: its sectors after the first are read for the map.
        {"after a block's missing first sector", [](Disk& d) { sectorOf(d, 78, 4).r = 99; }, 78, 6, '.'},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Disk disk = d88test::knownDisk();
        c.change(disk);
        d88test::Scratch scratch;
        const std::string listing = scratch.run({"d88cut", "--map", scratch.image(d88test::buildImage({disk}))}).out;
        const std::string row = mapRow(listing, c.track);
        ASSERT_EQ(row.size(), 17u) << listing;
        EXPECT_EQ(row[c.r - 1], c.shown) << row;
        EXPECT_NE(listing.find("  IPL2 "), std::string::npos);
    }
}

}  // namespace
