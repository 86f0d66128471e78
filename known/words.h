// The tool's words about a known disk's files: where a file falls short, as
// the listing shows it, and the line a cut says of it; a sector's place and
// its trouble, as pieces of other lines.
#ifndef D88CUT_KNOWN_WORDS_H
#define D88CUT_KNOWN_WORDS_H

#include "known/account.h"
#include "text/messages.h"

namespace d88cut {

// Renders the file's `where` and `said` from what its account holds.
void renderWords(const DiskAccount& disk, FileAccount& file);

// "(track T, C c, H h, R r)": a sector by its track and identity, as a
// piece of a line.
struct SectorPlace {
    const SectorNote& note;
};
void put(LineWriter& line, const SectorPlace& place);

// A flagged sector's trouble in words ("a data CRC error"); `other` holds
// the words for a status without a name.
const char* troubleOf(const SectorNote& sector, char (&other)[32]);

}  // namespace d88cut

#endif
