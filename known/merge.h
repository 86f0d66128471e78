// Several dumps of one disk made into one account: each sector taken from
// the best copy any dump holds, and where dumps' clean copies differ, the
// sector contested and the dumps named. A D88 keeps no CRC bytes: a merge
// can say that dumps agree, never that a disagreement is settled.
#ifndef D88CUT_KNOWN_MERGE_H
#define D88CUT_KNOWN_MERGE_H

#include <cstdint>

#include "known/account.h"

namespace d88cut {

// Makes `merged` from the accounts of `count` dumps of the known disk (at
// most kMaxDumps, each read with Depth::kEvery), dump 1 first. For each
// sector: the clean copy (whole, no error, no deleted mark) most dumps hold,
// ties to the earliest, contested where clean copies differ; with none,
// whole flagged copies, three or more voted byte by byte; with none, the
// longest short copy; with none, zero.
void mergeDumps(const DiskAccount* const* dumps, std::int32_t count, DiskAccount& merged);

// Two dumps whose clean copies differ in more than a quarter of the sectors
// both hold clean: perhaps dumps of different disks or releases. False when
// there is none; else the first such pair (from 1), and the counts.
struct DumpsApart {
    std::int32_t first, second;
    std::int32_t differ, both;
};
bool dumpsApart(const DiskAccount* const* dumps, std::int32_t count, DumpsApart& apart);

}  // namespace d88cut

#endif
