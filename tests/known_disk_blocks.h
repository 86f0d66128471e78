// What the tests expect of the known disk's block pass: the blocks with
// their places, the sectors each one's run reads, and the PSGMUS slots.
#ifndef D88CUT_TESTS_KNOWN_DISK_BLOCKS_H
#define D88CUT_TESTS_KNOWN_DISK_BLOCKS_H

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "image_builder.h"
#include "known/account.h"

namespace d88test {

struct Block {
    const char* name;
    int track;
    int sector;
    int size;
};

// The fifteen blocks, in the order they are cut.
extern const Block kBlocks[15];

// The (track, sector) pairs a block's run reads, in order: sectors 1 to 16
// a track, on across tracks.
std::vector<std::pair<int, int>> runSectors(const Block& block);
// The tracks whose sector 17 fills PSGMUS's 64 slots, in slot order.
std::vector<int> psgmusTracks();
// The (track, sector) pairs of the file `name`, a block or PSGMUS.
std::vector<std::pair<int, int>> fileSectors(const std::string& name);
// "cutting ... NAME\n".
std::string cuttingLine(const std::string& name);
// A sector of a file that was not found whole, and its bytes found.
struct Gap {
    int track;
    int sector;
    int found;
    bool operator==(const Gap& o) const { return track == o.track && sector == o.sector && found == o.found; }
};
// The gaps of `file` in the account of `disk`, in file order.
std::vector<Gap> gapsOf(const d88cut::DiskAccount& disk, const d88cut::FileAccount& file);

// Every byte of `bytes` inverted: another content, as recognisable.
Bytes inverted(Bytes bytes);

// The record of sector `r` on `track` of a disk the test builds.
Sector& sectorOf(Disk& disk, int track, int r);

// The sixteen files a whole known disk gives, by name, and what the tool
// prints on standard output while it cuts them.
std::map<std::string, Bytes> knownDiskFiles();
std::string knownDiskLines();

}  // namespace d88test

#endif
