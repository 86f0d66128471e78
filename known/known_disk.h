// What the parts of d88cut share: the one reader of the input file, the one
// buffer every sector passes through, and the run range of the disk it knows.
#ifndef D88CUT_KNOWN_KNOWN_DISK_H
#define D88CUT_KNOWN_KNOWN_DISK_H

#include <cstdint>

#include "d88/d88_reader.h"

namespace d88cut {

// 340 KiB: far more than the largest block (6,400 bytes) or the gathered
// PSGMUS (16,384 bytes); kept at this size, which every file fits.
constexpr std::int32_t kTransferBufferSize = 348160;

// The known disk has 256-byte sectors (size code 1) numbered 1 to 16.
constexpr std::int32_t kSectorSize = 256;
constexpr std::int32_t kSizeCode = 1;
constexpr std::int32_t kFirstSector = 1;
constexpr std::int32_t kLastSector = 16;

// Constructed before main runs; its destructor, run at exit, closes the
// input file.
extern d88::D88Reader reader;
// Zero at start; receives the boot sector, then the files of the known disk,
// each in a place of its own.
extern std::uint8_t transferBuffer[kTransferBufferSize];

}  // namespace d88cut

#endif
