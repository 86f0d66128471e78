// The block pass: for a recognised disk, cuts the fifteen blocks of the
// block table and the gathered PSGMUS into raw files in the current
// directory.
#ifndef D88CUT_TOOL_BLOCK_PASS_H
#define D88CUT_TOOL_BLOCK_PASS_H

#include <cstdint>

namespace d88cut {

// Long enough for any path the tool's platforms accept.
constexpr std::int32_t kNameBufferSize = 260;

struct BlockEntry {
    std::int32_t track;   // track index of the block's first sector
    std::int32_t sector;  // its sector number R
    std::int32_t size;    // bytes, a whole number of 256-byte sectors
    char name[kNameBufferSize];  // output file name
};

enum class BlockResult {
    kMissing,       // first sector not found: no line, no file
    kWritten,       // announced and written whole
    kOutputFailed,  // announced, but the file could not be written whole
    kReaderFailed,  // the reader stopped (see its failure): no line, no file
};

// Reads skip + size bytes from sector (c, h, r, n) of `track` on into the
// transfer buffer and writes `size` of them, from offset skip, to `name`.
BlockResult extractBlock(const char* name, std::int32_t track, std::int32_t c,
                         std::int32_t h, std::int32_t r, std::int32_t n,
                         std::int32_t skip, std::int32_t size);

// Runs on the selected disk with the sector range set to 1 to 16. False when
// any output file could not be written whole. It stops where the reader
// fails, and writes nothing of what it was reading then.
bool runBlockPass();

}  // namespace d88cut

#endif
