// Which disk image a run uses, decided here alone for the cut, the listing,
// the put and the page: a disk number or a refusal, from what the run found
// of the disk images it read; and the refusals, worded once.
#ifndef D88CUT_KNOWN_CHOICE_H
#define D88CUT_KNOWN_CHOICE_H

#include <cstdint>

#include "d88/d88_reader.h"
#include "known/account.h"
#include "known/shape.h"

namespace d88cut {

// The known disks among the disk images a run read.
struct Survey {
    std::int32_t distinct = 0;  // disk images read, repeats of a header of size 0 aside
    bool moreDisks = false;     // the file holds more than those read
    std::int32_t knownCount = 0;
    std::int32_t known[d88::kMaxDisks] = {};  // their numbers, from 1, in file order
    bool whole[d88::kMaxDisks] = {};          // all sixteen files read and whole
};

// Starts the survey of an image of this shape.
Survey surveyOf(const ImageShape& shape);
// Notes a disk image read: whether it is the known disk, and with its files
// read, whether they are all whole.
void noteDisk(Survey& survey, const DiskAccount& disk);

enum class Use {
    kCut,   // the disk whose files a run leaves: a later known disk's replace an earlier one's
    kList,  // the same, as a listing would cut
    kPut,   // the one known disk, or the one asked for
    kBest,  // the first known disk whose files are all whole, else the first
};

enum class Refusal {
    kNone,
    kNoSuchDisk,   // --disk=N beyond the disk images read
    kNotKnown,     // --disk=N of another disk
    kNoKnownDisk,  // none of the disk images is the known disk
    kKnownTwice,   // a put with more than one to choose from
};

struct Choice {
    std::int32_t disk = 0;  // from 1; 0 when refused
    Refusal refusal = Refusal::kNone;
};

// `asked` is --disk=N, 0 when not given.
Choice chooseDisk(const Survey& survey, std::int32_t asked, Use use);

// Says why there is no disk to use, once, on standard error. A listing says
// nothing of a disk asked for that is not the known disk: it lists it.
void sayRefusal(const char* image, const Choice& choice, std::int32_t asked, const Survey& survey,
                const ImageShape& shape, Use use);

}  // namespace d88cut

#endif
