// The map of a known disk: one character a sector for sectors 1 to 17 of
// tracks 0 to 79, as d88cut -l --map shows it under the files.
#ifndef D88CUT_KNOWN_DISK_MAP_H
#define D88CUT_KNOWN_DISK_MAP_H

#include <cstdint>

#include "known/account.h"

namespace d88cut {

// A sector a file covers: '.' found whole, 's' short, '-' missing, 'f'
// flagged, 'c' contested (a merge's); 'o' one the track holds that no file
// covers; ' ' neither.
constexpr char kMapWhole = '.';
constexpr char kMapShort = 's';
constexpr char kMapMissing = '-';
constexpr char kMapFlagged = 'f';
constexpr char kMapContested = 'c';
constexpr char kMapOther = 'o';
constexpr char kMapNone = ' ';

// Fills the map of `disk`, the known disk image the reader has selected:
// from its notes, and where a file's sector went unread (a block not cut),
// from a read of it.
void mapAccount(DiskAccount& disk);

// Fills the map of a merge from its notes and its dumps' maps.
void mapMerge(const DiskAccount* const* dumps, std::int32_t count, DiskAccount& merged);

}  // namespace d88cut

#endif
