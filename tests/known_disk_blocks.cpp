// The known disk's blocks as the tests expect them.
#include "known_disk_blocks.h"

#include <stdexcept>

#include "tool_runner.h"

namespace d88test {

const Block kBlocks[15] = {
    {"IPL2", 44, 11, 1024},    {"IPL3", 3, 1, 4096},      {"OPMDRV", 79, 1, 2048},  {"OPMTBL", 44, 15, 256},
    {"OPMMUS0", 79, 9, 2048},  {"OPMMUS1", 46, 12, 6400}, {"OPMMUS2", 78, 8, 2048}, {"OPMMUS3", 78, 4, 1024},
    {"OPMMUS4", 75, 9, 2816},  {"OPMMUS5", 40, 1, 1792},  {"OPMMUS6", 74, 9, 4096}, {"OPMMUS7", 74, 2, 1792},
    {"OPMMUS8", 72, 13, 5376}, {"PSGDRV", 44, 5, 2560},   {"PSGTBL", 44, 16, 256},
};

std::vector<std::pair<int, int>> runSectors(const Block& block) {
    std::vector<std::pair<int, int>> sectors;
    int track = block.track, sector = block.sector;
    for (int left = block.size; left > 0; left -= 256) {
        sectors.push_back({track, sector});
        if (sector == 16) {
            ++track;
            sector = 1;
        } else {
            ++sector;
        }
    }
    return sectors;
}

std::vector<int> psgmusTracks() {
    std::vector<int> tracks;
    for (int t = 10; t <= 74; ++t) {
        if (t != 56) tracks.push_back(t);
    }
    return tracks;
}

std::vector<std::pair<int, int>> fileSectors(const std::string& name) {
    for (const Block& block : kBlocks) {
        if (block.name == name) return runSectors(block);
    }
    std::vector<std::pair<int, int>> slots;
    for (const int t : psgmusTracks()) slots.push_back({t, 17});
    return slots;
}

Bytes inverted(Bytes bytes) {
    for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(~b);
    return bytes;
}

Sector& sectorOf(Disk& disk, int track, int r) {
    for (Sector& s : disk.tracks[track]) {
        if (s.r == r) return s;
    }
    throw std::out_of_range("no such sector in the test's disk");
}

std::string cuttingLine(const std::string& name) { return "cutting ... " + name + "\n"; }

std::vector<Gap> gapsOf(const d88cut::DiskAccount& disk, const d88cut::FileAccount& file) {
    std::vector<Gap> gaps;
    for (int k = 0; k < file.sectorCount; ++k) {
        const d88cut::SectorNote& note = d88cut::sectorOf(disk, file, k);
        if (note.found < 256) gaps.push_back({note.track, note.r, note.found});
    }
    return gaps;
}

std::map<std::string, Bytes> knownDiskFiles() {
    std::map<std::string, Bytes> files;
    for (const Block& block : kBlocks) {
        Bytes& bytes = files[block.name];
        for (const auto& [track, sector] : runSectors(block)) {
            const Bytes data = sectorBytes(track, sector);
            bytes.insert(bytes.end(), data.begin(), data.end());
        }
    }
    Bytes& psgmus = files["PSGMUS"];
    for (const int track : psgmusTracks()) {
        const Bytes data = sectorBytes(track, 17);
        psgmus.insert(psgmus.end(), data.begin(), data.end());
    }
    return files;
}

std::string knownDiskLines() {
    std::string lines = kRecognised;
    for (const Block& block : kBlocks) lines += cuttingLine(block.name);
    return lines + cuttingLine("PSGMUS");
}

}  // namespace d88test
