// The known disk's block table, the places of its files, and the one reader
// and transfer buffer.
#include "known/known_disk.h"

namespace d88cut {

d88::D88Reader reader;
std::uint8_t transferBuffer[kTransferBufferSize];

constexpr BlockEntry kBlockTable[kBlockCount] = {
    {44, 11, 1024, "IPL2"},    {3, 1, 4096, "IPL3"},     {79, 1, 2048, "OPMDRV"},
    {44, 15, 256, "OPMTBL"},   {79, 9, 2048, "OPMMUS0"}, {46, 12, 6400, "OPMMUS1"},
    {78, 8, 2048, "OPMMUS2"},  {78, 4, 1024, "OPMMUS3"}, {75, 9, 2816, "OPMMUS4"},
    {40, 1, 1792, "OPMMUS5"},  {74, 9, 4096, "OPMMUS6"}, {74, 2, 1792, "OPMMUS7"},
    {72, 13, 5376, "OPMMUS8"}, {44, 5, 2560, "PSGDRV"},  {44, 16, 256, "PSGTBL"},
};

namespace {

struct FileTable {
    FilePlace files[kFileCount];
    std::int32_t bytes;
    std::int32_t sectors;
};

constexpr FileTable placeFiles() {
    FileTable table = {};
    for (std::int32_t i = 0; i < kFileCount; ++i) {
        const bool gathered = i == kBlockCount;
        const std::int32_t size = gathered ? kGatherLength : kBlockTable[i].size;
        table.files[i] = {gathered ? "PSGMUS" : kBlockTable[i].name, size, gathered, table.bytes,
                          table.sectors};
        table.bytes += size;
        table.sectors += size / kSectorSize;
    }
    return table;
}

constexpr FileTable kFiles = placeFiles();

constexpr bool blocksAreWholeSectors() {
    for (const BlockEntry& block : kBlockTable) {
        if (block.track <= 0 || block.size <= 0 || block.size % kSectorSize != 0) return false;
    }
    return true;
}
static_assert(blocksAreWholeSectors(), "every block is whole sectors");
static_assert(kFiles.sectors == kFileSectors, "a note for every sector a file covers");
static_assert(kFiles.bytes == kFileBytes, "the files' bytes follow each other");
static_assert(kFileBytes <= kTransferBufferSize, "the sixteen files fit in the transfer buffer");
// 65 tracks less the one passed over: the slots fill exactly what is written.
static_assert(kGatherLastTrack - kGatherFirstTrack == kGatherSlots, "one slot per gathered track");

}  // namespace

const FilePlace& filePlace(std::int32_t file) { return kFiles.files[file]; }

const char* stateWord(FileState state) {
    switch (state) {
        case FileState::kWhole: return "whole";
        case FileState::kFlagged: return "flagged";
        case FileState::kPartial: return "partial";
        case FileState::kContested: return "contested";
        case FileState::kMissing: break;
    }
    return "missing";
}

}  // namespace d88cut
